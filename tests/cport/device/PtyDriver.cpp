// SPDX-License-Identifier: GPL-3.0-or-later
// The system device in the device contract, on a pseudo-terminal pair: the device opens the slave,
// the driver writes on the master what a serial line would deliver, and closing the master is the
// adapter being pulled out. Time is the wall clock.

#include "DeviceContract.h"
#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace cport::device::test {
namespace {

using varmio::test::PtyPair;

class PtyDriver final : public DeviceDriver {
public:
    std::unique_ptr<ISerialDevice> Open() override
    {
        auto device = CreateSystemDevice();
        if (!device->Open(m_pty.SlavePath())) {
            ADD_FAILURE() << "the pty did not open: " << std::strerror(GetLastError());
            return nullptr;
        }
        return device;
    }
    bool Send(std::string_view bytes) override { return m_pty.Write(bytes); }
    std::string Transmitted(std::size_t count, int ms) override
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_pty.Master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(m_pty.Master(), buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    bool HoldWrites() override { return true; } // the master is read only by Transmitted
    void Remove() override { m_pty.CloseMaster(); }
    int RemovedError() const override { return ENODEV; }

    std::int64_t NowMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    bool WaitFor(const Event& event, int ms) override { return event.Wait(ms); }
    // Two cores shared by several builds, and the sanitizers: a timed read may end this much late.
    int LateMs() const override { return 250; }

private:
    PtyPair m_pty;
};

INSTANTIATE_TEST_SUITE_P(Pty, DeviceContractTest,
                         ::testing::Values(DriverFactory{"pty", [] { return std::make_unique<PtyDriver>(); }}),
                         DriverName);

} // namespace
} // namespace cport::device::test
