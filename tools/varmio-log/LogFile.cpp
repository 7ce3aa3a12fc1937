// SPDX-License-Identifier: GPL-3.0-or-later
#include "LogFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace varmio::logger {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The path a file really has: symbolic links in its last component followed, so that a link to a
// file not there yet creates that file, and one we created can be removed again by its own name.
std::string FollowLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof target) return path; // not a link
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) next.insert(0, path, 0, slash + 1);
        }
        path = std::move(next);
    }
    return path;
}

std::string CreateMessage(const std::string& path, int error)
{
    std::string fullPath = path;
    std::error_code ec;
    if (auto absolute = std::filesystem::absolute(path, ec); !ec) fullPath = absolute.lexically_normal().string();
    return "Cannot create file " + Quoted(fullPath) + ". " + std::strerror(error);
}

// Files whose bytes a second writer would spoil; writing a terminal or /dev/null twice harms nothing.
bool Comparable(const struct stat& info) { return !S_ISCHR(info.st_mode); }

bool SameFile(const struct stat& a, const struct stat& b)
{
    return Comparable(a) && Comparable(b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One output on its way to being opened.
struct Opening {
    const char* option;
    std::string path; // as given; "-" is standard output
    std::string real; // with links followed
    int fd = -1;
    bool created = false;
    struct stat info {};

    bool IsStdout() const { return path == "-"; }
    std::string Named() const { return IsStdout() ? "standard output" : path; }
    std::string Described() const
    {
        return std::string(option) + (IsStdout() ? " - (standard output)" : " " + Quoted(path));
    }

    void Open(bool append)
    {
        if (IsStdout()) {
            fd = STDOUT_FILENO;
        } else {
            real = FollowLinks(path);
            // Not blocking while opening: a named pipe without a reader is an error, not a wait that no
            // stop signal could end.
            const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (append ? O_APPEND : 0);
            // Created only when it is not there: an existing file is opened as it is, truncated later.
            fd = ::open(real.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) created = true;
            else if (errno == EEXIST) fd = ::open(real.c_str(), flags);
            if (fd < 0) throw FileError(CreateMessage(path, errno));
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        }
        if (::fstat(fd, &info) != 0) throw FileError(Named() + ": " + std::strerror(errno));
    }
    // Undoes Open: the file is left as it was found, or not there when it was not.
    void Abandon()
    {
        if (fd < 0 || IsStdout()) return;
        ::close(std::exchange(fd, -1));
        if (created) ::unlink(real.c_str());
    }
};

void CheckClashes(const std::vector<Opening*>& outputs, const std::vector<InputFile>& inputs, bool echo)
{
    struct stat out {};
    const bool echoInfo = echo && ::fstat(STDOUT_FILENO, &out) == 0;
    for (const InputFile& input : inputs) {
        // The echo appended to the file being read would be read again, without end.
        if (echoInfo && SameFile(out, input.Info))
            throw OutputClash("standard output is the same file as " + input.Name +
                              ": it would be written over; nothing was written");
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Opening& output = *outputs[i];
        for (const InputFile& input : inputs) {
            if (SameFile(output.info, input.Info))
                throw OutputClash(output.Described() + " is the same file as " + input.Name +
                                  ": it would be written over; nothing was written");
        }
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if (SameFile(output.info, outputs[j]->info))
                throw OutputClash(output.Described() + " and " + outputs[j]->Described() +
                                  " are the same file: the two logs would be spliced; nothing was written");
        }
        if (echoInfo && !output.IsStdout() && SameFile(output.info, out))
            throw OutputClash(output.Described() + " is standard output as well, which shows the record lines "
                                                   "(--quiet turns that off); nothing was written");
    }
}

} // namespace

LogFile::LogFile(std::string name, int fd, bool owned, bool regular, std::size_t complete, bool fresh)
    : m_name(std::move(name)), m_fd(fd), m_owned(owned), m_regular(regular), m_fresh(fresh), m_complete(complete)
{
}

LogFile::~LogFile()
{
    if (m_owned && m_fd >= 0) ::close(m_fd);
}

void LogFile::Fail(int error)
{
    m_failed = true;
    // Half a line would glue itself to whatever is written next, by this logger or another.
    if (m_regular) {
        while (::ftruncate(m_fd, static_cast<off_t>(m_complete)) != 0 && errno == EINTR) {
        }
    }
    throw FileError(m_name + ": " + std::strerror(error));
}

void LogFile::WriteLine(std::string_view utf8Line)
{
    if (m_fd < 0 || m_failed) throw FileError(m_name + ": " + std::strerror(EBADF));
    std::size_t unmappable = 0;
    m_buffer = ToWindows1250(utf8Line, &unmappable);
    m_buffer += "\r\n";
    m_unmappable += unmappable;
    std::string_view rest = m_buffer;
    while (!rest.empty()) {
        const ssize_t written = ::write(m_fd, rest.data(), rest.size());
        if (written > 0) {
            rest.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || errno != EINTR) {
            Fail(written == 0 ? ENOSPC : errno);
        }
    }
    m_complete += m_buffer.size();
}

void LogFile::Close()
{
    if (m_fd < 0) return;
    const int fd = std::exchange(m_fd, -1);
    if (m_owned && ::close(fd) != 0 && errno != EINTR) throw FileError(m_name + ": " + std::strerror(errno));
}

LogFiles OpenLogFiles(const OutputRequest& request, const std::vector<InputFile>& inputs)
{
    Opening records{"--records", request.RecordsPath, {}, -1, false, {}};
    Opening raw{"--raw", request.RawPath, {}, -1, false, {}};
    std::vector<Opening*> outputs;
    if (!records.path.empty()) outputs.push_back(&records);
    if (!raw.path.empty()) outputs.push_back(&raw);

    try {
        for (Opening* output : outputs) output->Open(request.Append);
        CheckClashes(outputs, inputs, request.EchoToStdout);
    } catch (...) {
        for (Opening* output : outputs) output->Abandon();
        throw;
    }

    // Everything is open and nothing clashes: only now is an existing file replaced.
    LogFiles files;
    for (Opening* output : outputs) {
        const bool regular = S_ISREG(output->info.st_mode);
        std::size_t complete = 0;
        if (regular && output->IsStdout()) {
            // Standard output may already hold text (a shell's >>): ours begins where it stands.
            const off_t at = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
            const bool appending = (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0;
            complete = static_cast<std::size_t>(appending ? output->info.st_size : std::max<off_t>(at, 0));
        } else if (regular && request.Append) {
            complete = static_cast<std::size_t>(output->info.st_size);
        } else if (regular && !output->created && ::ftruncate(output->fd, 0) != 0) {
            const int error = errno;
            for (Opening* other : outputs) other->Abandon();
            throw FileError(output->Named() + ": " + std::strerror(error));
        }
        // Continued only when asked to and something is there to continue; an empty file gets a header.
        const bool fresh = !request.Append || !regular || output->info.st_size == 0;
        auto file =
            std::make_unique<LogFile>(output->Named(), output->fd, !output->IsStdout(), regular, complete, fresh);
        output->fd = -1; // the file owns it now
        (output == &records ? files.Records : files.Raw) = std::move(file);
    }
    return files;
}

} // namespace varmio::logger
