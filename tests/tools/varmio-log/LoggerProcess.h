#pragma once
// varmio-log run as a child process with LC_ALL=C, its output and errors caught in files.

#include "TempDir.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace varmio::test {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Starts the logger with LC_ALL=C, standard input from `input` (a path), output and errors to files.
class LoggerProcess {
public:
    LoggerProcess(const TempDir& dir, std::vector<std::string> args, const std::string& input = "/dev/null")
        : m_outPath(dir / "stdout"), m_errPath(dir / "stderr")
    {
        args.insert(args.begin(), VARMIO_LOG_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> env = {"LC_ALL=C"};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string(*e).rfind("LC_ALL=", 0) != 0) env.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start the logger");
    }
    ~LoggerProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    LoggerProcess(const LoggerProcess&) = delete;
    LoggerProcess& operator=(const LoggerProcess&) = delete;

    Result Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        Result r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = ReadFile(m_outPath);
        r.err = ReadFile(m_errPath);
        return r;
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    std::string m_outPath;
    std::string m_errPath;
};

} // namespace varmio::test
