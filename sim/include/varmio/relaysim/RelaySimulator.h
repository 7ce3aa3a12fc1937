// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay simulator: a pseudo-terminal that behaves like a relay's serial port (or a raw TCP bridge
// in front of one). It sends the
// built-in conversation or replays a capture, paced like the bus or as fast as the reader takes it.
//
// Nothing is sent until a program has opened the device, so the first byte is not lost; when the
// last reader closes, sending pauses (the pacing clock with it) until a reader opens the device again.
// A single replay ends once the reader has read its last byte.
//
// Embedding: construct, publish DevicePath(), then Start() to run on a thread of its own and Stop()
// to end it; or call Run() on a thread of yours and RequestStop() from any other. Stopping is prompt
// (an eventfd wakes every wait). The only timed wait is the pacing clock.
//
// Threads: Run() or Start() once, on one thread. RequestStop(), State(), WaitForState(), BytesSent()
// and Error() from any thread; Stop() and the destructor from the thread that called Start(), or,
// after Run(), once it has returned. OnStateChange runs on the thread that runs the simulator.

#include "varmio/relaysim/ByteSource.h"
#include "varmio/relaysim/Pacer.h"
#include "varmio/relaysim/RelayLine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace varmio::relaysim {

struct RelayOptions {
    std::optional<std::string> ReplayFile; // none: the built-in conversation
    bool Loop = false;                     // replay over and over
    double Speed = 1.0;                    // pacing factor, or Pacer::kUnpaced
    std::string LinkPath;                  // a symbolic link to the device, when not empty
    bool ForceLink = false;                // an existing symbolic link at LinkPath is replaced
    std::optional<std::uint16_t> TcpPort;  // serve as a raw TCP bridge on 127.0.0.1 (0: a free port)
                                           // instead of a pseudo-terminal; no link then
    std::uint64_t Seed = 1;                // the conversation's seed
    std::chrono::seconds StartTimeOfDay = std::chrono::hours(12); // the conversation's clock
};

enum class RelayState : std::uint8_t {
    Idle,             // constructed, not running
    WaitingForReader, // nothing sent yet, no program has the device open
    Sending,
    Paused,   // the last reader closed the device
    Draining, // all sent; waiting for the reader to read the rest
    Finished, // a single replay fully read
    Stopped,  // stopped on request
    Failed,   // ended by an error; see Error()
};

class RelaySimulator {
public:
    using TStateChangeEvent = std::function<void(RelaySimulator* Sender, RelayState State)>;

    // Makes the device (and the link) or the TCP bridge, and loads the capture. Throws CaptureError for
    // an unusable capture, std::invalid_argument for a bad speed or a link with a bridge,
    // std::system_error when the device, link, bridge or stop signal cannot be made.
    explicit RelaySimulator(const RelayOptions& options);
    // Constructs around a byte source of the caller's (for embedding and tests); `options` gives the
    // speed and link, its replay, loop and seed fields are not used.
    RelaySimulator(std::unique_ptr<IByteSource> source, const RelayOptions& options);
    ~RelaySimulator();
    RelaySimulator(const RelaySimulator&) = delete;
    RelaySimulator& operator=(const RelaySimulator&) = delete;

    // The device's path, or the bridge's port name (socket://127.0.0.1:PORT).
    const std::string& DevicePath() const { return m_device->DevicePath(); }

    // Runs until a single replay has been read to its end (Finished) or a stop is requested
    // (Stopped). Throws std::system_error when the device fails (the state is then Failed).
    RelayState Run();
    // Runs on a thread of its own; errors are kept for Error().
    void Start();
    // Asks Run() to end as soon as it can. Async-signal-safe: only writes to an eventfd.
    void RequestStop() noexcept;
    // RequestStop() and waits for the thread of Start() to end.
    void Stop();

    RelayState State() const { return m_state.load(); }
    // Waits until the state is `wanted` (and its OnStateChange handler has run); false when the
    // timeout passed or the run ended in another state.
    bool WaitForState(RelayState wanted, std::chrono::milliseconds timeout) const;
    // Bytes the device has taken so far.
    std::uint64_t BytesSent() const { return m_bytesSent.load(); }
    std::exception_ptr Error() const;

    // Called on the running thread after each change of state. Set it only while not running.
    const TStateChangeEvent& OnStateChange() const { return m_onStateChange; }
    void SetOnStateChange(TStateChangeEvent handler) { m_onStateChange = std::move(handler); }

private:
    enum class Wake : std::uint8_t { Stop, Notice, Writable, Timeout };

    RelayState RunStream();
    bool AwaitReader(RelayState waitingState);
    bool Drain();
    Wake WaitFor(bool writable, std::optional<Pacer::Clock::time_point> deadline);
    void SetState(RelayState state);

    std::unique_ptr<IByteSource> m_source;
    Pacer m_pacer;
    std::unique_ptr<RelayLine> m_device;
    int m_stopSignal = -1; // eventfd

    std::atomic<RelayState> m_state{RelayState::Idle};
    std::atomic<std::uint64_t> m_bytesSent{0};
    mutable std::mutex m_mutex; // guards m_error and m_notifiedState
    mutable std::condition_variable m_stateChanged;
    RelayState m_notifiedState = RelayState::Idle; // the state as WaitForState sees it
    std::exception_ptr m_error;
    TStateChangeEvent m_onStateChange;
    std::jthread m_thread;
};

} // namespace varmio::relaysim
