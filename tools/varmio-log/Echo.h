// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the logger shows its record lines besides the files: standard output, fed by a writer thread
// from a bounded queue. The files are the record; the echo never holds them up. When the reader of
// standard output falls behind and the queue is full, lines are dropped and counted instead.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace varmio::logger {

// Takes the lines the logger shows (UTF-8, without line ends).
class LineSink {
public:
    virtual ~LineSink() = default;
    // A line that may be dropped when the sink cannot keep up. Never blocks.
    virtual void Line(std::string_view line) = 0;
    // A line that is never dropped (the decoded output of a replay, which is the product): the one
    // who feeds it waits for room instead (StdoutEcho::WaitForRoom). Never blocks.
    virtual void KeptLine(std::string_view line) = 0;
    // The summary at the end: never dropped.
    virtual void Last(std::string_view line) = 0;
};

// Threads: Line, Last, Drain, Dropped and the destructor on one thread (the logger's); the writer
// thread is its own.
class StdoutEcho final : public LineSink {
public:
    static constexpr std::size_t kDefaultCapacity = 1024 * 1024; // bytes of text waiting

    // Starts the writer thread on `fd` (not taken over). Throws std::system_error when it cannot.
    explicit StdoutEcho(int fd, std::size_t capacity = kDefaultCapacity);
    // Without a finished Drain, abandons what is still queued: a writer stuck on a reader that never
    // reads is left to the end of the process rather than waited for.
    ~StdoutEcho() override;
    StdoutEcho(const StdoutEcho&) = delete;
    StdoutEcho& operator=(const StdoutEcho&) = delete;

    void Line(std::string_view line) override;
    void KeptLine(std::string_view line) override;
    void Last(std::string_view line) override;

    // Waits until the text queued fits the capacity again, the writer has failed, or `cancelFd`
    // turns readable (a stop signal). Returns false when cancelled. Lets a replay keep pace with the
    // reader of standard output without dropping lines or queuing without bound.
    bool WaitForRoom(int cancelFd);

    // Waits until everything queued is written, or until `cancelFd` turns readable (a further stop
    // signal); the lines still queued then count as dropped. Returns whether all was written.
    bool Drain(int cancelFd);

    // Lines dropped because the reader did not keep up.
    std::uint64_t Dropped() const;
    // The error number of a write that failed (the reader went away, say), 0 when none did; lines
    // given after it are discarded and not counted as dropped.
    int Error() const;

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::string> queue;
        std::size_t queuedBytes = 0;
        std::uint64_t dropped = 0;
        int error = 0;
        bool closing = false;
        bool finished = false;
        int doneFd = -1; // eventfd, written once the writer has ended
        int roomFd = -1; // eventfd, written when the queue fits again while someone waits for room
        bool waitingForRoom = false;

        Shared();
        ~Shared();
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;
    };
    static void Write(const std::shared_ptr<Shared>& shared, int fd);
    void Queue(std::string_view line, bool mayDrop);

    std::shared_ptr<Shared> m_shared;
    std::size_t m_capacity;
    std::thread m_writer; // detached instead of joined when abandoned, so not a jthread
};

} // namespace varmio::logger
