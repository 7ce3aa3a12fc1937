// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program of ours run as a child process, for the tests of the command-line tools. Standard input
// comes from a file; standard output and error go to files (for programs that write much before the
// test reads) or to pipes the test reads with deadlines. The destructor kills and reaps a child still
// running.

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace varmio::test {

struct ChildOptions {
    std::string input = "/dev/null"; // the file standard input reads
    std::string outFile;             // empty: standard output on a pipe; "-": the test's own
    std::string errFile;             // empty: standard error on a pipe; "-": the test's own
    bool cLocale = false;            // LC_ALL=C in the child's environment
};

// How a child ended and what it wrote.
struct ChildResult {
    int exitCode = -1; // 128 + the signal when a signal ended it; -1 when it did not end in time
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    static constexpr std::chrono::milliseconds kPatience{60'000};

    // Starts `program` (a path) with `args`. Throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string& program, std::vector<std::string> args, ChildOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;

    // The next line of standard output (piped), without its line end; what came before the end of
    // the output or the deadline when no line end comes.
    std::string ReadLine(std::chrono::milliseconds patience = kPatience);
    // The rest of standard output or error (piped), until the child closes it or the deadline passes.
    std::string ReadOut(std::chrono::milliseconds patience = kPatience);
    std::string ReadErr(std::chrono::milliseconds patience = kPatience);

    // Waits for the child to end: its exit code, 128 + the signal that ended it, or -1 when it is
    // still running at the deadline.
    int Wait(std::chrono::milliseconds patience = kPatience);
    // Waits, then gathers what it wrote (from the files or the rest of the pipes).
    ChildResult Finish(std::chrono::milliseconds patience = kPatience);

private:
    std::string ReadAll(int fd, std::chrono::milliseconds patience);

    ChildOptions m_options;
    pid_t m_pid = -1;
    int m_exitCode = -1;
    int m_out = -1;
    int m_err = -1;
};

} // namespace varmio::test
