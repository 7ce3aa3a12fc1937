// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeDevice.h"

#include "common/DeviceCore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace cport::device {

namespace {

constexpr const char* kOpNames[FakeDevice::kOpCount] = {
    "Open",          "Close",    "SetupComm",           "SetCommState", "SetCommTimeouts", "SetCommMask",
    "WaitCommEvent", "ReadFile", "GetOverlappedResult", "PurgeComm",    "ClearCommError",  "GetCommModemStatus",
    "WriteFile",
};

// True while this thread is inside Feed: a wake from the core then asks the running Feed to go on
// instead of entering it again.
thread_local bool t_feeding = false;

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

std::string Text(const DCB& d)
{
    auto ch = [](char c) { return std::to_string(static_cast<unsigned>(static_cast<unsigned char>(c))); };
    return "SetCommState(BaudRate=" + std::to_string(d.BaudRate) + ", Flags=" + Hex(d.Flags) +
           ", XonLim=" + std::to_string(d.XonLim) + ", XoffLim=" + std::to_string(d.XoffLim) +
           ", ByteSize=" + std::to_string(d.ByteSize) + ", Parity=" + std::to_string(d.Parity) +
           ", StopBits=" + std::to_string(d.StopBits) + ", XonChar=" + ch(d.XonChar) + ", XoffChar=" + ch(d.XoffChar) +
           ", ErrorChar=" + ch(d.ErrorChar) + ", EofChar=" + ch(d.EofChar) + ", EvtChar=" + ch(d.EvtChar) + ")";
}

bool Fail(int error)
{
    SetLastError(error);
    return false;
}

// A device a port owns that forwards every call to a shared fake.
class FakeHandle final : public ISerialDevice {
public:
    explicit FakeHandle(std::shared_ptr<FakeDevice> fake) : m_fake(std::move(fake)) {}
    bool Open(const std::string& name) override { return m_fake->Open(name); }
    bool Close() override { return m_fake->Close(); }
    bool IsOpen() const override { return m_fake->IsOpen(); }
    bool SetupComm(DWORD in, DWORD out) override { return m_fake->SetupComm(in, out); }
    bool SetCommState(const DCB& dcb) override { return m_fake->SetCommState(dcb); }
    bool SetCommTimeouts(const COMMTIMEOUTS& t) override { return m_fake->SetCommTimeouts(t); }
    bool SetCommMask(DWORD mask) override { return m_fake->SetCommMask(mask); }
    bool WaitCommEvent(DWORD& mask, Overlapped& ov) override { return m_fake->WaitCommEvent(mask, ov); }
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& ov) override
    {
        return m_fake->ReadFile(buffer, count, read, ov);
    }
    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& ov) override
    {
        return m_fake->WriteFile(buffer, count, written, ov);
    }
    bool GetOverlappedResult(Overlapped& ov, DWORD& n, bool wait) override
    {
        return m_fake->GetOverlappedResult(ov, n, wait);
    }
    bool PurgeComm(DWORD flags) override { return m_fake->PurgeComm(flags); }
    bool ClearCommError(DWORD& errors, COMSTAT& stat) override { return m_fake->ClearCommError(errors, stat); }
    bool GetCommModemStatus(DWORD& status) override { return m_fake->GetCommModemStatus(status); }

private:
    std::shared_ptr<FakeDevice> m_fake;
};

} // namespace

FakeDevice::FakeDevice()
    : m_core(std::make_unique<DeviceCore>(
          [this] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(m_nowMs.load())); }))
{
    m_core->SetWakeHook([this] { Feed(); });
}

FakeDevice::~FakeDevice() { m_core->AbortAll(); }

DeviceFactory FakeDevice::FactoryFor(std::shared_ptr<FakeDevice> fake)
{
    return [fake = std::move(fake)]() -> std::unique_ptr<ISerialDevice> { return std::make_unique<FakeHandle>(fake); };
}

const char* FakeDevice::OpName(Op op) { return kOpNames[op]; }

// ---- ISerialDevice --------------------------------------------------------------------------------------

bool FakeDevice::Open(const std::string& name)
{
    if (!Begin(opOpen, "Open(" + name + ")", false)) return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_open) return Fail(EBUSY);
        if (name.empty()) return Fail(ENOENT);
    }
    m_core->Reset(); // never under m_mutex: the core calls back into us holding its own lock
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_name = name;
        m_dcb = {};
        m_timeouts = {};
        m_inQueue = m_outQueue = 0;
    }
    Feed();
    return true;
}

bool FakeDevice::Close()
{
    if (!Begin(opClose, "Close()")) return false;
    m_core->AbortAll();
    AbortHeldWrites();
    std::lock_guard lock(m_mutex);
    m_open = false;
    return true;
}

bool FakeDevice::IsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool FakeDevice::SetupComm(DWORD inQueue, DWORD outQueue)
{
    if (!Begin(opSetupComm, "SetupComm(" + std::to_string(inQueue) + ", " + std::to_string(outQueue) + ")")) {
        return false;
    }
    if (!m_core->SetQueueSize(inQueue)) return false;
    std::lock_guard lock(m_mutex);
    m_inQueue = inQueue;
    m_outQueue = outQueue;
    return true;
}

bool FakeDevice::SetCommState(const DCB& dcb)
{
    if (!Begin(opSetCommState, Text(dcb))) return false;
    if (Removed()) return false;
    if (const int error = CheckDcb(dcb)) return Fail(error);
    m_core->SetReceiveRules(ReceiveRulesOf(dcb));
    std::lock_guard lock(m_mutex);
    m_dcb = dcb;
    return true;
}

bool FakeDevice::SetCommTimeouts(const COMMTIMEOUTS& t)
{
    const std::string text =
        "SetCommTimeouts(" + std::to_string(t.ReadIntervalTimeout) + ", " +
        std::to_string(t.ReadTotalTimeoutMultiplier) + ", " + std::to_string(t.ReadTotalTimeoutConstant) + ", " +
        std::to_string(t.WriteTotalTimeoutMultiplier) + ", " + std::to_string(t.WriteTotalTimeoutConstant) + ")";
    if (!Begin(opSetCommTimeouts, text)) return false;
    if (!m_core->SetTimeouts(t)) return false;
    std::lock_guard lock(m_mutex);
    m_timeouts = t;
    return true;
}

bool FakeDevice::SetCommMask(DWORD mask)
{
    if (!Begin(opSetCommMask, "SetCommMask(" + Hex(mask) + ")")) return false;
    return m_core->SetMask(mask);
}

bool FakeDevice::WaitCommEvent(DWORD& mask, Overlapped& overlapped)
{
    if (!Begin(opWaitCommEvent, "WaitCommEvent()")) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    Feed();
    return m_core->WaitCommEvent(mask, overlapped);
}

bool FakeDevice::ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped)
{
    read = 0;
    if (!Begin(opReadFile, "ReadFile(" + std::to_string(count) + ")")) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    Feed();
    return m_core->ReadFile(buffer, count, read, overlapped);
}

bool FakeDevice::WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped)
{
    written = 0;
    if (!Begin(opWriteFile, "WriteFile(" + std::to_string(count) + ")") || Removed()) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    if (!overlapped.hEvent || (!buffer && count > 0)) return Fail(EINVAL);
    // A held write is marked pending before it is listed, so that whoever completes it finds it so.
    m_core->BeginTransfer(overlapped);
    {
        std::lock_guard lock(m_mutex);
        if (m_holdWrites) {
            m_heldWrites.push_back({&overlapped, buffer, count});
            return Fail(kErrorIoPending);
        }
        written = static_cast<DWORD>(std::min<std::size_t>(count, m_writeLimit));
        m_transmitted.append(static_cast<const char*>(buffer), written);
    }
    m_core->CompleteTransfer(overlapped, written, 0);
    if (written == count) m_core->RaiseEvents(EV_TXEMPTY);
    return true;
}

void FakeDevice::SetWriteLimit(std::size_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_writeLimit = bytes;
}

void FakeDevice::HoldWrites(bool hold)
{
    std::vector<HeldWrite> released;
    std::vector<DWORD> written;
    {
        std::lock_guard lock(m_mutex);
        m_holdWrites = hold;
        if (hold) return;
        released.swap(m_heldWrites);
        for (const HeldWrite& w : released) {
            written.push_back(static_cast<DWORD>(std::min<std::size_t>(w.count, m_writeLimit)));
            m_transmitted.append(static_cast<const char*>(w.buffer), written.back());
        }
    }
    for (std::size_t i = 0; i < released.size(); ++i) m_core->CompleteTransfer(*released[i].overlapped, written[i], 0);
    if (!released.empty() && written.back() == released.back().count) m_core->RaiseEvents(EV_TXEMPTY);
}

void FakeDevice::AbortHeldWrites()
{
    std::vector<HeldWrite> aborted;
    {
        std::lock_guard lock(m_mutex);
        aborted.swap(m_heldWrites);
    }
    for (const HeldWrite& w : aborted) m_core->CompleteTransfer(*w.overlapped, 0, kErrorOperationAborted);
}

std::string FakeDevice::Transmitted() const
{
    std::lock_guard lock(m_mutex);
    return m_transmitted;
}

bool FakeDevice::GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait)
{
    if (!Begin(opGetOverlappedResult, std::string("GetOverlappedResult(") + (wait ? "true" : "false") + ")")) {
        return false;
    }
    return m_core->GetOverlappedResult(overlapped, transferred, wait);
}

bool FakeDevice::PurgeComm(DWORD flags)
{
    if (!Begin(opPurgeComm, "PurgeComm(" + Hex(flags) + ")")) return false;
    if ((flags & PURGE_TXABORT) && (flags & ~DeviceCore::kValidPurgeFlags) == 0) AbortHeldWrites();
    // What the line still holds goes with the queue, as a flush of the driver does.
    return m_core->Purge(flags, [this] {
        std::lock_guard lock(m_mutex);
        m_line.clear();
    });
}

bool FakeDevice::ClearCommError(DWORD& errors, COMSTAT& stat)
{
    if (!Begin(opClearCommError, "ClearCommError()")) return false;
    Feed();
    DWORD inQueue = 0;
    if (!m_core->ClearCommError(errors, inQueue)) return false;
    stat = COMSTAT{0, inQueue, 0};
    return true;
}

bool FakeDevice::GetCommModemStatus(DWORD& status)
{
    if (!Begin(opGetCommModemStatus, "GetCommModemStatus()")) return false;
    if (Removed()) return false;
    std::lock_guard lock(m_mutex);
    status = m_modem;
    return true;
}

// ---- The script ---------------------------------------------------------------------------------------

void FakeDevice::FailCall(Op op, int error, int times)
{
    std::lock_guard lock(m_mutex);
    m_failError[op] = error;
    m_failTimes[op] = times;
}

void FakeDevice::ClearFailures()
{
    std::lock_guard lock(m_mutex);
    std::fill(std::begin(m_failTimes), std::end(m_failTimes), 0);
}

void FakeDevice::Receive(std::string_view bytes) { Receive(bytes.data(), bytes.size()); }

void FakeDevice::Receive(const void* data, std::size_t size)
{
    {
        std::lock_guard lock(m_mutex);
        // With DSR sensitivity on, bytes that arrive while DSR is off are ignored.
        if (m_open && (m_dcb.Flags & fDsrSensitivity) && !(m_modem & MS_DSR_ON)) return;
        m_line.append(static_cast<const char*>(data), size);
    }
    Feed();
}

void FakeDevice::SetModemStatus(DWORD status)
{
    DWORD events = 0;
    {
        std::lock_guard lock(m_mutex);
        events = ModemChangeEvents(m_modem, status);
        m_modem = status;
    }
    if (events) m_core->RaiseEvents(events);
}

void FakeDevice::RaiseEvents(DWORD events) { m_core->RaiseEvents(events); }

void FakeDevice::AddLineErrors(DWORD errors) { m_core->AddErrors(errors); }

void FakeDevice::Remove(int error) { m_core->Remove(error); }

void FakeDevice::AdvanceTime(std::chrono::milliseconds by)
{
    m_nowMs.fetch_add(by.count());
    m_core->ExpireDeadlines();
}

// ---- The record ---------------------------------------------------------------------------------------

std::vector<FakeDevice::Call> FakeDevice::Calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> FakeDevice::CallLog() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> log;
    for (const Call& call : m_calls) log.push_back(call.text);
    return log;
}

std::vector<std::string> FakeDevice::CallLog(std::initializer_list<Op> only) const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> log;
    for (const Call& call : m_calls) {
        if (std::find(only.begin(), only.end(), call.op) != only.end()) log.push_back(call.text);
    }
    return log;
}

int FakeDevice::CallCount(Op op) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(), [op](const Call& c) { return c.op == op; }));
}

void FakeDevice::ClearCalls()
{
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

std::string FakeDevice::OpenName() const
{
    std::lock_guard lock(m_mutex);
    return m_name;
}

DCB FakeDevice::CommState() const
{
    std::lock_guard lock(m_mutex);
    return m_dcb;
}

COMMTIMEOUTS FakeDevice::CommTimeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

DWORD FakeDevice::CommMask() const { return m_core->Mask(); }

DWORD FakeDevice::InQueueSize() const
{
    std::lock_guard lock(m_mutex);
    return m_inQueue;
}

DWORD FakeDevice::OutQueueSize() const
{
    std::lock_guard lock(m_mutex);
    return m_outQueue;
}

std::size_t FakeDevice::BytesQueued() const { return m_core->Count(); }

std::size_t FakeDevice::BytesOnLine() const
{
    std::lock_guard lock(m_mutex);
    return m_line.size();
}

bool FakeDevice::HasPendingWait() const { return m_core->HasPendingWait(); }

std::size_t FakeDevice::PendingReads() const { return m_core->PendingReads(); }

// ---- Internals ------------------------------------------------------------------------------------------

bool FakeDevice::Begin(Op op, std::string text, bool needsOpen)
{
    std::lock_guard lock(m_mutex);
    m_calls.push_back(Call{op, std::move(text)});
    if (m_failTimes[op] != 0) {
        if (m_failTimes[op] > 0) --m_failTimes[op];
        return Fail(m_failError[op]);
    }
    if (needsOpen && !m_open) return Fail(EBADF);
    return true;
}

bool FakeDevice::Removed() const
{
    const int error = m_core->RemovedError();
    return error != 0 && !Fail(error);
}

void FakeDevice::Feed()
{
    if (t_feeding) {
        m_feedAgain = true; // a wake from inside our own Append: the loop below goes round again
        return;
    }
    constexpr std::size_t kChunk = 64 * 1024;
    t_feeding = true;
    std::lock_guard feeding(m_feedMutex);
    for (;;) {
        m_feedAgain = false;
        std::string chunk;
        {
            std::lock_guard lock(m_mutex);
            if (!m_open || m_line.empty()) break;
            chunk = m_line.substr(0, kChunk);
        }
        // A full queue takes nothing and arranges a wake for when room appears.
        const std::size_t taken = m_core->Append(chunk.data(), chunk.size());
        {
            std::lock_guard lock(m_mutex);
            m_line.erase(0, taken);
        }
        if (taken == 0 && !m_feedAgain) break;
    }
    t_feeding = false;
}

} // namespace cport::device
