// The port's traffic with the open device: reading, the input queue count, modem lines, line errors,
// aborting transfers, and the asynchronous operation records that reads go through.

#include "cport/ComPort.h"

namespace cport {

void NewAsyncRecord(PAsyncIo& Record)
{
    Record = std::make_unique<TAsyncIo>();
}

void FreeAsyncRecord(PAsyncIo& Record)
{
    Record.reset();
}

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
    } else if (Record->TxCopy) {
        TxBufferToLinks(Record->TxCopy.get(), Record->TxCopySize);
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

void TCustomComPort::CancelAllIO()
{
    if (!Device().PurgeComm(device::PURGE_TXABORT | device::PURGE_RXABORT))
        ReportComError(ComErrorCode(CE_PurgeFailed), device::GetLastError());
}

} // namespace cport
