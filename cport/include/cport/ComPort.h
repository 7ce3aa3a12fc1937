// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial port object: its settings and events, opening and closing, reading, the event thread
// that waits for line events, and the links through which controls observe a port.
//
// Threads: a port belongs to the thread that creates it, the main thread (the one that drains the
// MainThreadQueue). The constructor, destructor, OpenPort, ClosePort, every setter, the re-apply
// operations, AttachLink/DetachLink and the I/O operations are called there. While the port is open
// with events, its event thread waits on the device and hands each batch of line events over as the
// SyncMethod says: smThreadSync runs the handlers on the main thread while the event thread waits;
// smWindowSync sends one message per event to a sink on the main thread; smNone runs the handlers
// (and so the I/O operations they call) on the event thread. Nothing is locked: under smNone the
// handlers must not race the main thread's use of the port.
//
// Errors: every failure is reported through ReportComError, which calls OnException when it is
// assigned (the operation then goes on and returns a neutral value: 0, an empty set) and otherwise
// throws EComPort.

#include "cport/Device.h"
#include "cport/Errors.h"
#include "cport/Framework.h"
#include "cport/MainThread.h"
#include "cport/Settings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cport {

class TComThread;
class TCustomComPort;
class TCustomIniFile;
class TRegistry;

// ---- Handler types ---------------------------------------------------------------------------------
// The first argument is the object that fires the event; for the port's events and its links' callbacks
// it is the port.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TRxCharEvent = std::function<void(TObject* Sender, std::int32_t Count)>;
using TRxBufEvent = std::function<void(TObject* Sender, const void* Buffer, std::int32_t Count)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;
using TComExceptionEvent =
    std::function<void(TObject* Sender, TComExceptions TComException, const std::string& ComportMessage,
                       std::int64_t WinError, const std::string& WinMessage)>;

// ---- Links -----------------------------------------------------------------------------------------
// A control's callbacks on a port. The control owns the link and registers it with AttachLink; the
// port only refers to it, so the control detaches it before destroying it. A link knows no port.
// Plain data, used on the port's thread (and under smNone also on its event thread).
class TComLink {
public:
    // The port opened (on) or closed (off).
    const TComSignalEvent& OnLinkConn() const { return m_onLinkConn; }
    void SetOnLinkConn(TComSignalEvent handler) { m_onLinkConn = std::move(handler); }
    // The port read received bytes itself (see TCustomComPort::TriggersOnRxChar).
    const TRxBufEvent& OnLinkRxBuf() const { return m_onLinkRxBuf; }
    void SetOnLinkRxBuf(TRxBufEvent handler) { m_onLinkRxBuf = std::move(handler); }
    // A write that carried a copy of its data completed.
    const TRxBufEvent& OnLinkTxBuf() const { return m_onLinkTxBuf; }
    void SetOnLinkTxBuf(TRxBufEvent handler) { m_onLinkTxBuf = std::move(handler); }
    // The output queue ran empty (EV_TXEMPTY).
    const TNotifyEvent& OnLinkTxEmpty() const { return m_onLinkTxEmpty; }
    void SetOnLinkTxEmpty(TNotifyEvent handler) { m_onLinkTxEmpty = std::move(handler); }
    // The event character arrived (EV_RXFLAG).
    const TNotifyEvent& OnLinkRxFlag() const { return m_onLinkRxFlag; }
    void SetOnLinkRxFlag(TNotifyEvent handler) { m_onLinkRxFlag = std::move(handler); }
    // The CTS, DSR and RLSD levels: on each change, after open, and off before close. The CTS level.
    const TComSignalEvent& OnLinkCTS() const { return m_onLinkCTS; }
    void SetOnLinkCTS(TComSignalEvent handler) { m_onLinkCTS = std::move(handler); }
    // The DSR level.
    const TComSignalEvent& OnLinkDSR() const { return m_onLinkDSR; }
    void SetOnLinkDSR(TComSignalEvent handler) { m_onLinkDSR = std::move(handler); }
    // The RLSD (carrier) level.
    const TComSignalEvent& OnLinkRLSD() const { return m_onLinkRLSD; }
    void SetOnLinkRLSD(TComSignalEvent handler) { m_onLinkRLSD = std::move(handler); }
    // The ring indicator came on.
    const TNotifyEvent& OnLinkRing() const { return m_onLinkRing; }
    void SetOnLinkRing(TNotifyEvent handler) { m_onLinkRing = std::move(handler); }
    // Transmit activity: off when the output queue ran empty.
    const TComSignalEvent& OnLinkTx() const { return m_onLinkTx; }
    void SetOnLinkTx(TComSignalEvent handler) { m_onLinkTx = std::move(handler); }
    // Receive activity: on when bytes wait, off when a read left the input queue empty.
    const TComSignalEvent& OnLinkRx() const { return m_onLinkRx; }
    void SetOnLinkRx(TComSignalEvent handler) { m_onLinkRx = std::move(handler); }

private:
    TComSignalEvent m_onLinkConn;
    TRxBufEvent m_onLinkRxBuf;
    TRxBufEvent m_onLinkTxBuf;
    TNotifyEvent m_onLinkTxEmpty;
    TNotifyEvent m_onLinkRxFlag;
    TComSignalEvent m_onLinkCTS;
    TComSignalEvent m_onLinkDSR;
    TComSignalEvent m_onLinkRLSD;
    TNotifyEvent m_onLinkRing;
    TComSignalEvent m_onLinkTx;
    TComSignalEvent m_onLinkRx;
};

// Selects a link callback in the port's notice routines.
enum TLinkNotice : std::uint8_t { lnConn, lnCTS, lnDSR, lnRLSD, lnRing, lnRx, lnTx, lnTxEmpty, lnRxFlag };

// ---- Asynchronous operation records ----------------------------------------------------------------
// Which way a record's transfer goes.
enum TIoDirection : std::uint8_t { ioWrite, ioRead };

// One transfer's record: the overlapped state and its own event (manual-reset, created set). One record
// serves one transfer at a time, and must outlive it (complete it, or cancel it and collect the
// completion, before freeing the record).
struct TAsyncIo {
    TAsyncIo() { Overlapped.hEvent = &Event; }
    TAsyncIo(const TAsyncIo&) = delete;
    TAsyncIo& operator=(const TAsyncIo&) = delete;

    device::Event Event{true};              // the transfer's event, set when it has completed
    device::Overlapped Overlapped;          // the transfer's state, its event being Event
    TIoDirection Direction = ioRead;        // set by the operation that starts a transfer
    std::unique_ptr<std::uint8_t[]> TxCopy; // a private copy of data being written
    std::int32_t TxCopySize = 0;            // the bytes in TxCopy
    std::int32_t Requested = 0;             // the bytes the transfer was started for
};
// The caller's reference to a record; empty means "no record".
using PAsyncIo = std::unique_ptr<TAsyncIo>;

// Creates a record into `Record`. Throws std::system_error when no event object can be had.
void NewAsyncRecord(PAsyncIo& Record);
// Releases the record and empties `Record`.
void FreeAsyncRecord(PAsyncIo& Record);
// The error kind for a failed transfer of this record: CE_WriteFailed or CE_ReadFailed.
TComExceptions AsyncFailureCode(const TAsyncIo& Record);

// ---- The port --------------------------------------------------------------------------------------
// The scheduling priority of an event thread, as a Win32 thread has them.
enum TThreadPriority : std::uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Deriving: the overridable operations (the device-handle operations, ConfigureDevice, the Fire* hooks,
// the Apply* operations) run during open and close. The base destructor closes an open port too, but by
// then the derived part is gone and its overrides no longer run: a derived class that overrides any of
// them closes the port in its own destructor (`~MyPort() override { ClosePort(); }`, or catch there as
// the base destructor does). An override of CreateDeviceHandle makes its device with MakeDevice (or its
// own), opens it and stores it with SetDeviceHandle; one of ReleaseDeviceHandle closes DeviceHandle()
// and clears it with SetDeviceHandle(nullptr).
class TCustomComPort : public TComponent, public TComSettingsOwner {
public:
    // `deviceFactory` makes the device object of each open (the system's serial device by default;
    // tests give a fake).
    explicit TCustomComPort(device::DeviceFactory deviceFactory = {});
    // Closes the port if it is open (firing its close events), then tells the components that asked
    // for a removal notice. A close that fails here goes to the application's exception handler; the
    // event thread is stopped and the device released all the same.
    ~TCustomComPort() override;
    const char* ClassName() const override { return "TCustomComPort"; }

    // ---- Stored settings (Persistence.h)
    // Write the settings of the groups in StoredProps, key by key, to the caller's open registry key or
    // to the ini section named after the port (Name()). The loads read them back in the same order and
    // apply each at once through its setter, so an open port is reconfigured key by key and reopened
    // when "Port" changes. A missing ini key leaves its setting; a missing registry integer is an
    // error. An error stops the operation at its key (ERegistryException or EIniFileException from the
    // store, EComPort from a setter); the keys before it stay written or applied.
    virtual void SaveToRegistryKey(TRegistry& Registry) const;
    // The same, to the ini section named after the port.
    virtual void SaveToIniSection(TCustomIniFile& IniFile) const;
    // Reads the settings back from the open registry key and applies them.
    virtual void LoadFromRegistryKey(TRegistry& Registry);
    // Reads the settings back from the ini section named after the port and applies them.
    virtual void LoadFromIniSection(TCustomIniFile& IniFile);

    // ---- Opening and closing
    // Fires OnBeforeOpen, opens and configures the device, starts the event thread (when Events is not
    // empty), tells the links, fires OnAfterOpen and reports the CTS, DSR and RLSD levels. Does nothing
    // when open or designed. Throws EComPort (code 1 when the device does not open, 7-9 when it refuses
    // a setting, in which case the device is released again); handlers' exceptions propagate.
    void OpenPort();
    // Reports the signals off, fires OnBeforeClose, aborts pending transfers, stops the event thread
    // (serving its hand-overs while it waits), closes the device, tells the links, fires OnAfterClose.
    // Does nothing when closed, designed or already closing. Throws EComPort code 5 when the abort
    // fails (the port stays open). A handler may close its own port on any route; under smNone, where
    // it runs on the event thread, the close does not wait for that thread, which ends once the
    // handler returns (the destructor waits for it at the latest). A handler must not destroy its port.
    void ClosePort();

    // ---- Properties
    // Open or not; writing true opens the port (OpenPort), false closes it (ClosePort). While loading, the value is
    // kept and the port opens once loading has ended.
    bool Connected() const { return m_connected; }
    void SetConnected(bool value);
    // The line speed; brCustom uses CustomBaudRate. An open port takes a change at once (CE_SetStateFailed when the
    // device refuses it).
    TBaudRate BaudRate() const { return m_line.BaudRate; }
    void SetBaudRate(TBaudRate value);
    // The speed in bits per second when BaudRate is brCustom.
    std::int32_t CustomBaudRate() const { return m_line.CustomBaudRate; }
    void SetCustomBaudRate(std::int32_t value);
    // The device's name: "ttyUSB0" or "pts/3" (looked up under /dev), a path, or "COM12" on Windows. Changing it
    // on an open port reopens the port on the new device; the comparison is case-sensitive.
    const std::string& Port() const { return m_port; }
    void SetPort(const std::string& value);
    // Parity bits, checking and replacing; an open port takes a change at once.
    TComParity& Parity() { return *m_parity; }
    const TComParity& Parity() const { return *m_parity; }
    void SetParity(const TComParity& value);
    // The stop bits; an open port takes a change at once.
    TStopBits StopBits() const { return m_line.StopBits; }
    void SetStopBits(TStopBits value);
    // The data bits; an open port takes a change at once.
    TDataBits DataBits() const { return m_line.DataBits; }
    void SetDataBits(TDataBits value);
    // Whether received NUL bytes are dropped.
    bool DiscardNull() const { return m_line.DiscardNull; }
    void SetDiscardNull(bool value);
    // The character whose arrival fires OnRxFlag.
    char EventChar() const { return m_line.EventChar; }
    void SetEventChar(char value);
    // The line events the event thread waits for; a change takes effect at the next open.
    TComEvents Events() const { return m_events; }
    void SetEvents(TComEvents value) { m_events = value; }
    // The sizes of the input and output queues; an open port takes a change at once.
    TComBuffer& Buffer() { return *m_buffer; }
    const TComBuffer& Buffer() const { return *m_buffer; }
    void SetBuffer(const TComBuffer& value);
    // Hardware and software flow control; an open port takes a change at once.
    TComFlowControl& FlowControl() { return *m_flowControl; }
    const TComFlowControl& FlowControl() const { return *m_flowControl; }
    void SetFlowControl(const TComFlowControl& value);
    // The read and write timeouts; an open port takes a change at once (CE_TimeoutsFailed when refused).
    TComTimeouts& Timeouts() { return *m_timeouts; }
    const TComTimeouts& Timeouts() const { return *m_timeouts; }
    void SetTimeouts(const TComTimeouts& value);
    // The groups of settings the Save and Load operations handle.
    TStoredProps StoredProps() const { return m_storedProps; }
    void SetStoredProps(TStoredProps value) { m_storedProps = value; }
    // True when received bytes are announced to OnRxChar (the handler reads them); false when the port
    // reads them itself and hands them to OnRxBuf and the links. Reads false while a link watches
    // received data (RxBufLinked); setting it then reports CE_HasLink.
    bool TriggersOnRxChar() const { return m_triggersOnRxChar && !m_rxBufLinked; }
    void SetTriggersOnRxChar(bool value);
    // Refused (CE_ConnChangeProp) while the port is open.
    TSyncMethod SyncMethod() const { return m_syncMethod; }
    void SetSyncMethod(TSyncMethod value);
    // Stored only; no operation uses it.
    std::uint32_t CodePage() const { return m_codePage; }
    void SetCodePage(std::uint32_t value) { m_codePage = value; }
    // The event thread's priority; the thread runs at normal priority.
    TThreadPriority ThreadPriority() const { return m_threadPriority; }

    // ---- Events
    // The port has opened (before the line levels are reported).
    const TNotifyEvent& OnAfterOpen() const { return m_onAfterOpen; }
    void SetOnAfterOpen(TNotifyEvent handler) { m_onAfterOpen = std::move(handler); }
    // The port has closed.
    const TNotifyEvent& OnAfterClose() const { return m_onAfterClose; }
    void SetOnAfterClose(TNotifyEvent handler) { m_onAfterClose = std::move(handler); }
    // The port is about to open.
    const TNotifyEvent& OnBeforeOpen() const { return m_onBeforeOpen; }
    void SetOnBeforeOpen(TNotifyEvent handler) { m_onBeforeOpen = std::move(handler); }
    // The port is about to close (after the signals were reported off).
    const TNotifyEvent& OnBeforeClose() const { return m_onBeforeClose; }
    void SetOnBeforeClose(TNotifyEvent handler) { m_onBeforeClose = std::move(handler); }
    // Count: the bytes waiting in the input queue, at least 1; the handler is expected to read them.
    const TRxCharEvent& OnRxChar() const { return m_onRxChar; }
    void SetOnRxChar(TRxCharEvent handler) { m_onRxChar = std::move(handler); }
    // Received bytes the port read itself (TriggersOnRxChar false): the buffer and its count.
    const TRxBufEvent& OnRxBuf() const { return m_onRxBuf; }
    void SetOnRxBuf(TRxBufEvent handler) { m_onRxBuf = std::move(handler); }
    // The output queue ran empty: what was written has gone out (EV_TXEMPTY, when Events has evTxEmpty).
    const TNotifyEvent& OnTxEmpty() const { return m_onTxEmpty; }
    void SetOnTxEmpty(TNotifyEvent handler) { m_onTxEmpty = std::move(handler); }
    // A break was received.
    const TNotifyEvent& OnBreak() const { return m_onBreak; }
    void SetOnBreak(TNotifyEvent handler) { m_onBreak = std::move(handler); }
    // The ring indicator came on.
    const TNotifyEvent& OnRing() const { return m_onRing; }
    void SetOnRing(TNotifyEvent handler) { m_onRing = std::move(handler); }
    // CTS changed: its new level (also after open, and off before close).
    const TComSignalEvent& OnCTSChange() const { return m_onCTSChange; }
    void SetOnCTSChange(TComSignalEvent handler) { m_onCTSChange = std::move(handler); }
    // DSR changed: its new level (also after open, and off before close).
    const TComSignalEvent& OnDSRChange() const { return m_onDSRChange; }
    void SetOnDSRChange(TComSignalEvent handler) { m_onDSRChange = std::move(handler); }
    // RLSD (carrier) changed: its new level (also after open, and off before close).
    const TComSignalEvent& OnRLSDChange() const { return m_onRLSDChange; }
    void SetOnRLSDChange(TComSignalEvent handler) { m_onRLSDChange = std::move(handler); }
    // The event character (EventChar) was received.
    const TNotifyEvent& OnRxFlag() const { return m_onRxFlag; }
    void SetOnRxFlag(TNotifyEvent handler) { m_onRxFlag = std::move(handler); }
    // Line errors were detected: the errors, taken from the device.
    const TComErrorEvent& OnError() const { return m_onError; }
    void SetOnError(TComErrorEvent handler) { m_onError = std::move(handler); }
    // The input queue is 80 % full.
    const TNotifyEvent& OnRx80Full() const { return m_onRx80Full; }
    void SetOnRx80Full(TNotifyEvent handler) { m_onRx80Full = std::move(handler); }
    // Every error the port reports, instead of an EComPort being thrown: the kind, its message, the system's error
    // number and its text.
    const TComExceptionEvent& OnException() const { return m_onException; }
    void SetOnException(TComExceptionEvent handler) { m_onException = std::move(handler); }

    // ---- Reading and line state (valid while open; see the class comment for threads)
    // Bytes waiting in the driver's input queue (CE_ClearComFailed). Clears the driver's pending line
    // errors as a side effect, as the device call does.
    std::int32_t BytesWaiting();
    // The modem input lines that are on (CE_ModemStatFailed).
    TModemSignals ModemSignals();
    // The pending line errors, which reading clears (CE_ClearComFailed); a parity error counts only
    // while Parity().Check() is on.
    TComErrors TakeLineErrors();
    // Starts a read of up to `Count` bytes into `Buffer` with `Record`; returns the bytes read when it
    // completed at once, else 0 (CE_InvalidAsync without a record, CEPortNotOpen when closed,
    // CE_ReadFailed). `Buffer` and the record stay alive until the read is completed.
    std::int32_t BeginRead(void* Buffer, std::int32_t Count, const PAsyncIo& Record);
    // Waits for the record's transfer to end and returns the bytes transferred (CE_InvalidAsync,
    // CE_ReadFailed or CE_WriteFailed); then tells the links (receive activity off when a read left
    // the input queue empty).
    std::int32_t CompleteAsync(const PAsyncIo& Record);
    // Reads up to `Count` bytes into `Buffer`, waiting as the timeouts say (with the default timeouts
    // it returns at once with what is waiting, possibly 0). Returns the bytes read.
    std::int32_t ReadData(void* Buffer, std::int32_t Count);
    // Writes `Count` bytes from `Buffer`, waiting within the write timeouts (Timeouts().WriteTotalMultiplier
    // per byte plus WriteTotalConstant, in milliseconds; both 0: until all are sent). Returns the bytes
    // written, fewer when the timeouts ran out first (that is no error, as on Win32). A failure reports
    // CE_WriteFailed with the system's error.
    // While a link watches transmitted data (OnLinkTxBuf) the bytes are copied and handed to the links
    // once written; the links' transmit signal goes on as the write starts.
    std::int32_t WriteData(const void* Buffer, std::int32_t Count);
    std::int32_t WriteStr(const std::string& Text); // the bytes of `Text`, as WriteData writes them
    // Start a write with `Record`; return the bytes written when it completed at once, else 0 (then
    // CompleteAsync waits for it and reports as WriteData does). `Buffer` (`Text`) and the record stay
    // alive until the write is completed (CE_InvalidAsync without a record, CEPortNotOpen when closed).
    std::int32_t WriteDataAsync(const void* Buffer, std::int32_t Count, const PAsyncIo& Record);
    std::int32_t WriteStrAsync(const std::string& Text, const PAsyncIo& Record); // `Text` as WriteDataAsync
    // Aborts every outstanding read and write (CE_PurgeFailed); the queues keep their contents.
    void CancelAllIO();

    // ---- Links
    // Registers a link (CE_RegFailed when it is already registered, or null).
    void AttachLink(TComLink* Link);
    // Unregisters a link (CE_RegFailed when it is not registered).
    void DetachLink(TComLink* Link);
    // Some registered link had OnLinkRxBuf assigned when it was last attached or detached.
    bool RxBufLinked() const { return m_rxBufLinked; }

    // ---- Errors
    // Reports error `Code` (1..24) with the operating-system error `WinError` (> 0 when there is one):
    // calls OnException when assigned and returns, otherwise throws EComPort.
    void ReportComError(int Code, std::int64_t WinError);

    // ---- Device
    // The open device, or null while the port is closed.
    device::ISerialDevice* DeviceHandle() const { return m_deviceHandle.get(); }
    // The event thread of the last open is running.
    bool EventThreadRunning() const { return m_eventThreadRunning; }
    // Used at the next open; an empty factory means the system's serial device.
    void SetDeviceFactory(device::DeviceFactory factory) { m_deviceFactory = std::move(factory); }

    // ---- Re-applying settings to the open device (no-ops while closed, designed or loading)
    void ApplyLineSettings() override;    // CE_SetStateFailed
    void ApplyTimeoutSettings() override; // CE_TimeoutsFailed
    void ApplyBufferSizes() override;     // CE_SetupComFailed

protected:
    // Opens the device named by Port into DeviceHandle (CE_OpenFailed when it does not open).
    virtual void CreateDeviceHandle();
    // Closes DeviceHandle; when the close fails the handle stays.
    virtual void ReleaseDeviceHandle();
    // Buffer sizes, line settings, timeouts, in this order.
    virtual void ConfigureDevice();
    // A new, unopened device of the port's factory (the system's serial device by default).
    std::unique_ptr<device::ISerialDevice> MakeDevice() const;
    // Stores the open device as DeviceHandle, replacing (and so destroying) the one held; null clears
    // it. For CreateDeviceHandle and ReleaseDeviceHandle overrides, while no event thread runs.
    void SetDeviceHandle(std::unique_ptr<device::ISerialDevice> device) { m_deviceHandle = std::move(device); }

    // Event hooks: each calls its handler when one is assigned.
    virtual void FireAfterClose();
    virtual void FireAfterOpen();                                   // OnAfterOpen
    virtual void FireBeforeClose();                                 // OnBeforeClose
    virtual void FireBeforeOpen();                                  // OnBeforeOpen
    virtual void FireRxChar(std::int32_t Count);                    // OnRxChar
    virtual void FireRxBuf(const void* Buffer, std::int32_t Count); // OnRxBuf
    virtual void FireTxEmpty();                                     // OnTxEmpty
    virtual void FireBreak();                                       // OnBreak
    virtual void FireRing();                                        // OnRing
    virtual void FireRxFlag();                                      // OnRxFlag
    virtual void FireCTSChange(bool OnOff);                         // OnCTSChange
    virtual void FireDSRChange(bool OnOff);                         // OnDSRChange
    virtual void FireError(TComErrors Errors);                      // OnError
    virtual void FireRLSDChange(bool OnOff);                        // OnRLSDChange
    virtual void FireRx80Full();                                    // OnRx80Full

    // Load completion: a port whose stored Connected was true opens now; a failed open goes to the
    // application's exception handler and leaves the port closed.
    void Loaded() override;
    // A form that failed part way may have stored Connected without opening anything: the port is
    // left as open as its device is (closed, after a load at construction).
    void LoadFailed() noexcept override;

    // ---- Event dispatch: one operation per line event, and the open/close notices
    void HandleRxChar();  // received bytes: OnRxChar, or read and handed to OnRxBuf and the links; receive activity on
    void HandleTxEmpty(); // transmit activity off, the links' empty notice, OnTxEmpty
    void HandleBreak();   // OnBreak
    void HandleRing();    // the links' ring notice, OnRing
    void HandleCTSChange();   // CTS read, then the links and OnCTSChange
    void HandleDSRChange();   // DSR read, then the links and OnDSRChange
    void HandleRLSDChange();  // RLSD read, then the links and OnRLSDChange
    void HandleError();       // the line errors taken, then OnError
    void HandleRxFlag();      // the links' event-character notice, OnRxFlag
    void HandleRx80Full();    // OnRx80Full
    void HandleBeforeOpen();  // OnBeforeOpen
    void HandleAfterOpen();   // the links told the port is open, OnAfterOpen
    void HandleBeforeClose(); // OnBeforeClose
    void HandleAfterClose();  // the links told the port is closed, OnAfterClose
    // After open (true): reads and reports each of CTS, DSR, RLSD. Before close (false): tells the
    // links all three are off, then fires the three signal hooks with false.
    void ReportSignals(bool OnOff);
    // Calls the level callback `Notice` selects on every link that has it.
    void SignalLinks(TLinkNotice Notice, bool OnOff);
    // Calls the pulse callback `Notice` selects on every link that has it.
    void PulseLinks(TLinkNotice Notice);
    // Hands bytes that were written to every link's OnLinkTxBuf.
    void TxBufferToLinks(const void* Buffer, std::int32_t Count);

    // Runs the operations of `events` in hand-over order: error, rx-char, tx-empty, break, ring, CTS,
    // DSR, rx-flag, RLSD, rx-80%-full. A batch ends early when a handler closed the port.
    void RunEventHandlers(TComEvents events);
    // The procedure of the smWindowSync sink: message WM_USER + 1 carries one event's device flag.
    std::intptr_t NotifyWindowProc(const TMessage& Message);

    // How one line event is handed over: its event, its device flag, its handling operation.
    struct TEventRoute {
        TComEvent Event;                  // the event of Events
        DWORD Flag;                       // the device's event-mask bit, also the sink message's wParam
        void (TCustomComPort::*Handle)(); // the operation that handles it
    };
    static const std::array<TEventRoute, 10> kEventRoutes;                     // in hand-over order
    static constexpr std::uint32_t kEventMessage = TNotifyWindow::WM_USER + 1; // the smWindowSync sink's message

private:
    friend class TComThread;

    bool Designing() const { return ComponentState().Contains(csDesigning); }
    bool Loading() const { return ComponentState().Contains(csLoading); }
    bool CanApply() const { return m_connected && !Designing() && !Loading(); }
    // The device the I/O operations talk to: the open one, or a never-opened one whose calls fail
    // with the device layer's own error for a handle that is not open.
    device::ISerialDevice& Device();
    // Starts a read; false when it did not start (a failure a handler took).
    bool StartRead(void* buffer, std::int32_t count, const PAsyncIo& record, std::int32_t& done);
    // Starts a write; false when it did not start (a failure a handler took).
    bool StartWrite(const void* buffer, std::int32_t count, const PAsyncIo& record, std::int32_t& done);
    bool TxBufLinked() const;
    void StopEventThread() noexcept;
    // Forgets the event threads retired by a close from their own handler once they have ended; with
    // `waitForAll` (the destructor) waits for the others too, except the calling one.
    void ReapRetiredThreads(bool waitForAll) noexcept;

    // Device and event thread
    device::DeviceFactory m_deviceFactory;
    std::unique_ptr<device::ISerialDevice> m_deviceHandle; // null: the invalid handle
    std::unique_ptr<device::ISerialDevice> m_closedDevice;
    std::unique_ptr<TComThread> m_portThread;
    std::vector<std::unique_ptr<TComThread>> m_retiredThreads; // closed by their own handler; ending
    bool m_eventThreadRunning = false;
    std::unique_ptr<TNotifyWindow> m_notifyWindow;
    std::vector<TComLink*> m_linkList;
    bool m_rxBufLinked = false;
    TThreadPriority m_threadPriority = tpNormal;
    std::atomic<bool> m_closing{false}; // read by the event thread: a loop that ends while closing ends as asked
    // Lets a report posted by an ended event thread find out whether the port still exists.
    std::shared_ptr<const bool> m_lifeToken = std::make_shared<const bool>(true);

    // Properties
    bool m_connected = false;
    TLineFields m_line;
    std::string m_port = "COM1";
    std::unique_ptr<TComParity> m_parity;
    std::unique_ptr<TComFlowControl> m_flowControl;
    std::unique_ptr<TComTimeouts> m_timeouts;
    std::unique_ptr<TComBuffer> m_buffer;
    TComEvents m_events{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full};
    TStoredProps m_storedProps{spBasic};
    bool m_triggersOnRxChar = true;
    TSyncMethod m_syncMethod = smThreadSync;
    std::uint32_t m_codePage = 0;

    // Handlers
    TNotifyEvent m_onAfterOpen;
    TNotifyEvent m_onAfterClose;
    TNotifyEvent m_onBeforeOpen;
    TNotifyEvent m_onBeforeClose;
    TRxCharEvent m_onRxChar;
    TRxBufEvent m_onRxBuf;
    TNotifyEvent m_onTxEmpty;
    TNotifyEvent m_onBreak;
    TNotifyEvent m_onRing;
    TComSignalEvent m_onCTSChange;
    TComSignalEvent m_onDSRChange;
    TComSignalEvent m_onRLSDChange;
    TNotifyEvent m_onRxFlag;
    TComErrorEvent m_onError;
    TNotifyEvent m_onRx80Full;
    TComExceptionEvent m_onException;
};

// The port as forms hold it: the same class, every property published.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    const char* ClassName() const override { return "TComPort"; }
};

} // namespace cport
