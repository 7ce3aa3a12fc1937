// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ChildProcess.h"

#include "support/TempDir.h"

#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varmio::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool Readable(int fd, Clock::time_point deadline)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, MillisecondsLeft(deadline)) == 1;
}

// Where a standard stream of the child goes: a pipe (empty name), the test's own stream ("-") or a file.
void Redirect(posix_spawn_file_actions_t& actions, int stream, const std::string& file, int pipeEnd)
{
    if (file.empty()) posix_spawn_file_actions_adddup2(&actions, pipeEnd, stream);
    else if (file != "-")
        posix_spawn_file_actions_addopen(&actions, stream, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> args, ChildOptions options)
    : m_options(std::move(options))
{
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    if (m_options.cLocale) env.emplace_back("LC_ALL=C");
    for (char** e = environ; *e != nullptr; ++e) {
        if (!m_options.cLocale || std::string(*e).rfind("LC_ALL=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if ((m_options.outFile.empty() && ::pipe2(out, O_CLOEXEC) != 0) ||
        (m_options.errFile.empty() && ::pipe2(err, O_CLOEXEC) != 0))
        throw std::runtime_error("no pipe for a child process");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, m_options.input.c_str(), O_RDONLY, 0);
    Redirect(actions, 1, m_options.outFile, out[1]);
    Redirect(actions, 2, m_options.errFile, err[1]);
    const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {out[1], err[1]}) {
        if (fd >= 0) ::close(fd);
    }
    m_out = out[0];
    m_err = err[0];
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_out, m_err}) {
        if (fd >= 0) ::close(fd);
    }
}

void ChildProcess::Signal(int signal) const
{
    if (m_pid > 0) ::kill(m_pid, signal);
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds patience)
{
    const auto deadline = Clock::now() + patience;
    std::string line;
    char c = 0;
    while (m_out >= 0 && Readable(m_out, deadline) && ::read(m_out, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

std::string ChildProcess::ReadAll(int fd, std::chrono::milliseconds patience)
{
    const auto deadline = Clock::now() + patience;
    std::string text;
    char block[4096];
    ssize_t n = 0;
    while (fd >= 0 && Readable(fd, deadline) && (n = ::read(fd, block, sizeof block)) > 0)
        text.append(block, static_cast<std::size_t>(n));
    return text;
}

std::string ChildProcess::ReadOut(std::chrono::milliseconds patience) { return ReadAll(m_out, patience); }
std::string ChildProcess::ReadErr(std::chrono::milliseconds patience) { return ReadAll(m_err, patience); }

int ChildProcess::Wait(std::chrono::milliseconds patience)
{
    if (m_pid <= 0) return m_exitCode;
    // A pidfd becomes readable when the child ends, so the deadline needs no polling loop.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const bool ended = ::poll(&p, 1, static_cast<int>(patience.count())) == 1;
        ::close(pidfd);
        if (!ended) return -1;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, 0) != m_pid) return -1;
    m_pid = -1;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_exitCode;
}

ChildResult ChildProcess::Finish(std::chrono::milliseconds patience)
{
    ChildResult result;
    const auto deadline = Clock::now() + patience;
    // Pipes are drained first: a child blocked on a full pipe would never end.
    if (m_options.outFile.empty()) result.out = ReadOut(patience);
    if (m_options.errFile.empty()) result.err = ReadErr(std::chrono::milliseconds(MillisecondsLeft(deadline)));
    result.exitCode = Wait(std::chrono::milliseconds(MillisecondsLeft(deadline)));
    if (!m_options.outFile.empty() && m_options.outFile != "-") result.out = ReadFile(m_options.outFile);
    if (!m_options.errFile.empty() && m_options.errFile != "-") result.err = ReadFile(m_options.errFile);
    return result;
}

} // namespace varmio::test
