// SPDX-License-Identifier: GPL-3.0-or-later
// The port's traffic with the open device: reading, writing, the input queue count, modem lines, line
// errors, aborting transfers, and the asynchronous operation records that transfers go through.

#include "cport/ComPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cport {

void NewAsyncRecord(PAsyncIo& Record) { Record = std::make_unique<TAsyncIo>(); }

void FreeAsyncRecord(PAsyncIo& Record) { Record.reset(); }

TComExceptions AsyncFailureCode(const TAsyncIo& Record)
{
    return Record.Direction == ioWrite ? CE_WriteFailed : CE_ReadFailed;
}

device::ISerialDevice& TCustomComPort::Device()
{
    if (m_deviceHandle) return *m_deviceHandle;
    if (!m_closedDevice) m_closedDevice = MakeDevice();
    return *m_closedDevice;
}

std::int32_t TCustomComPort::BytesWaiting()
{
    DWORD errors = 0;
    device::COMSTAT stat;
    if (!Device().ClearCommError(errors, stat)) {
        ReportComError(ComErrorCode(CE_ClearComFailed), device::GetLastError());
        return 0;
    }
    return static_cast<std::int32_t>(stat.cbInQue);
}

TModemSignals TCustomComPort::ModemSignals()
{
    DWORD status = 0;
    if (!Device().GetCommModemStatus(status)) {
        ReportComError(ComErrorCode(CE_ModemStatFailed), device::GetLastError());
        return {};
    }
    return ModemStatusToSignals(status);
}

TComErrors TCustomComPort::TakeLineErrors()
{
    DWORD errors = 0;
    device::COMSTAT stat;
    if (!Device().ClearCommError(errors, stat)) {
        ReportComError(ComErrorCode(CE_ClearComFailed), device::GetLastError());
        return {};
    }
    return LineErrorsToErrors(errors, m_parity->Check());
}

bool TCustomComPort::StartRead(void* buffer, std::int32_t count, const PAsyncIo& record, std::int32_t& done)
{
    done = 0;
    if (!record) {
        ReportComError(ComErrorCode(CE_InvalidAsync), 0);
        return false;
    }
    record->Direction = ioRead;
    record->Requested = count;
    if (!m_deviceHandle) {
        // A negative number: no operating-system error, so only an OnException handler sees it.
        ReportComError(ComErrorCode(CEPortNotOpen), -24);
        return false;
    }
    DWORD read = 0;
    const DWORD wanted = count > 0 ? static_cast<DWORD>(count) : 0;
    if (!m_deviceHandle->ReadFile(buffer, wanted, read, record->Overlapped)) {
        const int error = device::GetLastError();
        if (error != device::kErrorIoPending) {
            ReportComError(ComErrorCode(CE_ReadFailed), error);
            return false;
        }
    }
    done = static_cast<std::int32_t>(read);
    return true;
}

std::int32_t TCustomComPort::BeginRead(void* Buffer, std::int32_t Count, const PAsyncIo& Record)
{
    std::int32_t done = 0;
    StartRead(Buffer, Count, Record, done);
    return done;
}

std::int32_t TCustomComPort::CompleteAsync(const PAsyncIo& Record)
{
    if (!Record) {
        ReportComError(ComErrorCode(CE_InvalidAsync), 0);
        return 0;
    }
    DWORD transferred = 0;
    if (!Record->Event.Wait() || !Device().GetOverlappedResult(Record->Overlapped, transferred, false)) {
        ReportComError(ComErrorCode(AsyncFailureCode(*Record)), device::GetLastError());
        return 0;
    }
    if (Record->Direction == ioRead) {
        if (BytesWaiting() == 0) SignalLinks(lnRx, false);
    } else {
        if (Record->TxCopy) {
            TxBufferToLinks(Record->TxCopy.get(), std::min(static_cast<std::int32_t>(transferred), Record->TxCopySize));
            Record->TxCopy.reset();
            Record->TxCopySize = 0;
        }
        // A write whose timeouts ran out before every byte went completes as a success with the
        // count that went, as on Win32: the caller learns it from the result, not from an error.
    }
    return static_cast<std::int32_t>(transferred);
}

std::int32_t TCustomComPort::ReadData(void* Buffer, std::int32_t Count)
{
    PAsyncIo record; // freed on every path, the exceptional ones included
    NewAsyncRecord(record);
    std::int32_t done = 0;
    // A read that did not start (a failure a handler took) has nothing to wait for.
    if (StartRead(Buffer, Count, record, done)) done = CompleteAsync(record);
    FreeAsyncRecord(record);
    return done;
}

bool TCustomComPort::TxBufLinked() const
{
    return std::any_of(m_linkList.begin(), m_linkList.end(),
                       [](const TComLink* link) { return static_cast<bool>(link->OnLinkTxBuf()); });
}

bool TCustomComPort::StartWrite(const void* buffer, std::int32_t count, const PAsyncIo& record, std::int32_t& done)
{
    done = 0;
    if (!record) {
        ReportComError(ComErrorCode(CE_InvalidAsync), 0);
        return false;
    }
    record->Direction = ioWrite;
    record->Requested = std::max(count, 0);
    record->TxCopy.reset();
    record->TxCopySize = 0;
    if (!m_deviceHandle) {
        ReportComError(ComErrorCode(CEPortNotOpen), -24);
        return false;
    }
    if (record->Requested > 0 && TxBufLinked()) {
        // The caller may reuse its buffer once the write is done; the links get the bytes after that.
        record->TxCopy = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(record->Requested));
        std::memcpy(record->TxCopy.get(), buffer, static_cast<std::size_t>(record->Requested));
        record->TxCopySize = record->Requested;
    }
    if (record->Requested > 0) SignalLinks(lnTx, true);
    DWORD written = 0;
    if (!m_deviceHandle->WriteFile(buffer, static_cast<DWORD>(record->Requested), written, record->Overlapped)) {
        const int error = device::GetLastError();
        if (error != device::kErrorIoPending) {
            record->TxCopy.reset();
            record->TxCopySize = 0;
            ReportComError(ComErrorCode(CE_WriteFailed), error);
            return false;
        }
    }
    done = static_cast<std::int32_t>(written);
    return true;
}

std::int32_t TCustomComPort::WriteDataAsync(const void* Buffer, std::int32_t Count, const PAsyncIo& Record)
{
    std::int32_t done = 0;
    StartWrite(Buffer, Count, Record, done);
    return done;
}

std::int32_t TCustomComPort::WriteStrAsync(const std::string& Text, const PAsyncIo& Record)
{
    return WriteDataAsync(Text.data(), static_cast<std::int32_t>(Text.size()), Record);
}

std::int32_t TCustomComPort::WriteData(const void* Buffer, std::int32_t Count)
{
    PAsyncIo record; // freed on every path, the exceptional ones included
    NewAsyncRecord(record);
    std::int32_t done = 0;
    if (StartWrite(Buffer, Count, record, done)) done = CompleteAsync(record);
    FreeAsyncRecord(record);
    return done;
}

std::int32_t TCustomComPort::WriteStr(const std::string& Text)
{
    return WriteData(Text.data(), static_cast<std::int32_t>(Text.size()));
}

void TCustomComPort::CancelAllIO()
{
    if (!Device().PurgeComm(device::PURGE_TXABORT | device::PURGE_RXABORT))
        ReportComError(ComErrorCode(CE_PurgeFailed), device::GetLastError());
}

} // namespace cport
