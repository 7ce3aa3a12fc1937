// SPDX-License-Identifier: GPL-3.0-or-later
// The device a port opens: the one place where the port name picks the kind of device. Until the
// first open, and between opens, it stands for the device that would open the last name given; a
// closed device of any kind answers every call as a closed device does.

#include "common/DeviceKinds.h"

#include "cport/NetPort.h"

namespace cport::device {

namespace {

class NamedDevice final : public ISerialDevice {
public:
    bool Open(const std::string& name) override
    {
        const bool net = IsNetPortName(name);
        if (!m_device->IsOpen() && net != m_net) {
            m_device = net ? CreateNetDevice() : CreateSerialDevice();
            m_net = net;
        }
        return m_device->Open(name);
    }
    bool Close() override { return m_device->Close(); }
    bool IsOpen() const override { return m_device->IsOpen(); }
    bool SetupComm(DWORD inQueue, DWORD outQueue) override { return m_device->SetupComm(inQueue, outQueue); }
    bool SetCommState(const DCB& dcb) override { return m_device->SetCommState(dcb); }
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override { return m_device->SetCommTimeouts(timeouts); }
    bool SetCommMask(DWORD mask) override { return m_device->SetCommMask(mask); }
    bool WaitCommEvent(DWORD& mask, Overlapped& overlapped) override
    {
        return m_device->WaitCommEvent(mask, overlapped);
    }
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped) override
    {
        return m_device->ReadFile(buffer, count, read, overlapped);
    }
    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped) override
    {
        return m_device->WriteFile(buffer, count, written, overlapped);
    }
    bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait) override
    {
        return m_device->GetOverlappedResult(overlapped, transferred, wait);
    }
    bool PurgeComm(DWORD flags) override { return m_device->PurgeComm(flags); }
    bool ClearCommError(DWORD& errors, COMSTAT& stat) override { return m_device->ClearCommError(errors, stat); }
    bool GetCommModemStatus(DWORD& status) override { return m_device->GetCommModemStatus(status); }

private:
    std::unique_ptr<ISerialDevice> m_device = CreateSerialDevice();
    bool m_net = false;
};

} // namespace

std::unique_ptr<ISerialDevice> CreateSystemDevice() { return std::make_unique<NamedDevice>(); }

} // namespace cport::device
