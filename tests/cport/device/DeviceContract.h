// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The contract every serial device keeps, written once and run against each device: a bounded input
// queue, the event history, "character received" once per arrival, read timeouts with their Win32
// meanings, purge, line errors and removal. DeviceContractTest.cpp holds the behaviours; each device
// takes part through a driver that opens it and plays the far end of its line.
//
// Adding a device (a network device, a Windows device, ...):
//   1. Write a driver: a class derived from DeviceDriver, in a file of its own next to this one
//      (FakeDriver.cpp and PtyDriver.cpp are the models). Its constructor sets up the far end (a pty
//      pair, a server on 127.0.0.1 with a free port, ...); Open makes the device and opens it on that
//      far end; Send, Remove and the clock act on the far end.
//   2. In the same file, instantiate the suite with a factory of the driver:
//          INSTANTIATE_TEST_SUITE_P(Socket, DeviceContractTest,
//                                   ::testing::Values(DriverFactory{"socket", [] {
//                                       return std::make_unique<SocketDriver>(); }}),
//                                   DriverName);
//   3. Add the file to the SOURCES of cport_device_contract_tests in tests/cport/CMakeLists.txt (and
//      the device's library to its LIBS).
// A behaviour the device cannot show at all (a pty has no line errors) is skipped through the driver's
// capability, never weakened: say so with the capability's default (false) and nothing else.
//
// Time: a driver on a real line runs on the wall clock, so the timeout rows are measured; a scripted
// device may run on a clock of the test's own, which WaitFor moves on.
//
// Threads: the tests call the driver and the device from the test's thread only; the device's own
// threads (a reader, a socket's) may complete transfers meanwhile.

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace cport::device::test {

class DeviceDriver {
public:
    virtual ~DeviceDriver() = default;

    // A new device object opened on this driver's far end (fails the test and returns null when it
    // does not open). Called once per test, or again after the first has been closed.
    virtual std::unique_ptr<ISerialDevice> Open() = 0;
    // The far end sends `bytes`; false when it could not. Bytes beyond what the device takes wait on
    // the line (the sender is held back), so Send never loses any; a driver whose far end blocks in
    // that case keeps what it sends in the tests small enough for the line to hold (a few KiB).
    virtual bool Send(std::string_view bytes) = 0;
    // What the far end has received of what the device wrote (data only), once `count` bytes have come
    // or `ms` of wall-clock time have passed.
    virtual std::string Transmitted(std::size_t count, int ms) = 0;
    // The far end of the open device stops taking what the device writes, so that the line fills and
    // stays full, until the next Transmitted; false when this far end cannot be held back.
    virtual bool HoldWrites() { return false; }
    // The device goes away: a USB adapter pulled out, a pty's master closed, a connection lost.
    virtual void Remove() = 0;
    // The error number with which a removed device fails its calls.
    virtual int RemovedError() const = 0;

    // The device's clock in milliseconds (the wall clock, or the test's own).
    virtual std::int64_t NowMs() = 0;
    // Lets up to `ms` of the device's time pass until `event` is set; true when it is set.
    virtual bool WaitFor(const Event& event, int ms) = 0;
    // The timing tolerance of this device: how much later than its due time a timed read may end.
    virtual int LateMs() const { return 0; }

    // Line errors: true when the far end can make the device see CE_* errors, and then makes it.
    virtual bool CanRaiseLineErrors() const { return false; }
    virtual void RaiseLineErrors(DWORD /*errors*/) {}
};

// One device of the suite: its name (the test names' suffix) and how to make its driver.
struct DriverFactory {
    std::string name;
    std::function<std::unique_ptr<DeviceDriver>()> make;
};

// The device's name in test output, instead of the factory's bytes.
inline void PrintTo(const DriverFactory& factory, std::ostream* os) { *os << factory.name; }

inline std::string DriverName(const ::testing::TestParamInfo<DriverFactory>& info) { return info.param.name; }

// The suite's fixture; the behaviours are its TEST_Ps in DeviceContractTest.cpp.
class DeviceContractTest : public ::testing::TestWithParam<DriverFactory> {
protected:
    void SetUp() override;
    void TearDown() override; // closes the device, which aborts what is still pending on the transfers

    // Opens the device as a port does: queue sizes, line settings, timeouts (return at once), mask.
    void OpenAsAPort(DWORD queueSize = 1024, DWORD mask = EV_RXCHAR, const DCB& line = Line(19200));
    // The next line event's mask, or 0 when none came within `ms` of the device's time (the wait then
    // stays pending, and the next call goes on waiting on it).
    DWORD NextEvent(int ms);
    DWORD NextEvent();
    // The bytes waiting in the input queue.
    std::size_t Waiting();
    std::string ReadWaiting();
    // Sends `bytes` and waits until the device holds `total` bytes (the ones sent included), taking the
    // events of their arrival; the events they raised.
    DWORD Queue(const std::string& bytes, std::size_t total);
    DWORD Queue(const std::string& bytes) { return Queue(bytes, bytes.size()); }
    // Receives `count` bytes as a port's event loop does: wait for "character received", read what waits.
    std::string Receive(std::size_t count);
    // Starts a read of `count` bytes on `reader`; true when it completed at once.
    bool StartRead(char* buffer, DWORD count);
    // The bytes of the read on `reader` once it has ended; fails the test when it has not within `ms`.
    std::string EndRead(const char* buffer, int ms);

    std::unique_ptr<DeviceDriver> driver;
    Transfer waiter; // the comm-event wait
    bool waitPending = false;
    Transfer reader; // a read
    std::unique_ptr<ISerialDevice> device;
};

} // namespace cport::device::test
