// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted fake device in the device contract: the script is the far end, and time is the test's.

#include "DeviceContract.h"
#include "FakeDevice.h"

#include <cerrno>
#include <chrono>

namespace cport::device::test {
namespace {

class FakeDriver final : public DeviceDriver {
public:
    std::unique_ptr<ISerialDevice> Open() override
    {
        auto device = FakeDevice::FactoryFor(m_fake)();
        if (!device->Open("COM1")) {
            ADD_FAILURE() << "the fake did not open: " << GetLastError();
            return nullptr;
        }
        return device;
    }
    bool Send(std::string_view bytes) override
    {
        m_fake->Receive(bytes);
        return true;
    }
    std::string Transmitted(std::size_t, int) override // written at once, or when the hold ends
    {
        m_fake->HoldWrites(false);
        return m_fake->Transmitted();
    }
    bool HoldWrites() override
    {
        m_fake->HoldWrites(true);
        return true;
    }
    void Remove() override { m_fake->Remove(ENODEV); }
    int RemovedError() const override { return ENODEV; }

    std::int64_t NowMs() override { return m_nowMs; }
    // The fake's clock moves a millisecond at a time while the event stays clear. Each step also gives
    // the test's other threads (a sender) a real millisecond, so that their bytes are not outrun.
    bool WaitFor(const Event& event, int ms) override
    {
        for (int step = 0;; ++step) {
            if (event.Wait(step == 0 ? 0 : 1)) return true;
            if (step >= ms) return false;
            m_fake->AdvanceTime(std::chrono::milliseconds(1));
            ++m_nowMs;
        }
    }

    bool CanRaiseLineErrors() const override { return true; }
    void RaiseLineErrors(DWORD errors) override { m_fake->AddLineErrors(errors); }

private:
    std::shared_ptr<FakeDevice> m_fake = std::make_shared<FakeDevice>();
    std::int64_t m_nowMs = 0;
};

INSTANTIATE_TEST_SUITE_P(Fake, DeviceContractTest,
                         ::testing::Values(DriverFactory{"fake", [] { return std::make_unique<FakeDriver>(); }}),
                         DriverName);

} // namespace
} // namespace cport::device::test
