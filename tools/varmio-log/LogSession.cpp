#include "LogSession.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace varmio::logger {
namespace {

constexpr auto kTimerInterval = std::chrono::seconds(1);

std::size_t ListIndex(StatusList list) { return list == StatusList::Master ? 0 : 1; }

} // namespace

LogSession::LogSession(const LogOptions& options, Regional regional, std::FILE* out, Clock clock)
    : m_all(options.All),
      m_fixedTime(options.Timestamp.has_value()),
      m_regional(std::move(regional)),
      m_out(out),
      m_clock(std::move(clock)),
      m_monitor(*this, m_regional)
{
    if (m_fixedTime) {
        m_dateTimeText = *options.Timestamp;
    } else {
        // Unlike the window, which shows nothing until its timer first ticks, the logger reads the
        // clock at once: a replay is over long before the first second, and every line needs its time.
        m_dateTimeText = m_regional.DateTimeText(m_clock.Local());
        m_nextTick = m_clock.Steady() + kTimerInterval;
    }
    if (!options.RecordsPath.empty()) m_records = std::make_unique<LogFileWriter>(options.RecordsPath);
    if (!options.RawPath.empty()) m_raw = std::make_unique<LogFileWriter>(options.RawPath);
    if (m_records) m_records->WriteLine(CsvHeader);
    WriteOut(CsvHeader);
    FlushOut();
}

void LogSession::Tick()
{
    if (m_fixedTime) return;
    const auto now = m_clock.Steady();
    if (now < m_nextTick) return;
    // Like the window's timer: ticks on a one-second beat, each showing one reading of the clock;
    // ticks missed while busy are not made up one by one.
    while (m_nextTick <= now) m_nextTick += kTimerInterval;
    m_dateTimeText = m_regional.DateTimeText(m_clock.Local());
}

void LogSession::Feed(std::span<const std::uint8_t> bytes)
{
    Tick();
    for (const std::uint8_t byte : bytes) m_monitor.ProcessFrameByte(byte);
    FlushOut();
}

void LogSession::Finish()
{
    if (m_records) m_records->Close();
    if (m_raw) m_raw->Close();
    WriteOut("Frames: " + std::to_string(m_monitor.FrameCount()));
    FlushOut();
}

std::size_t LogSession::Unmappable() const
{
    return (m_records ? m_records->Unmappable() : 0) + (m_raw ? m_raw->Unmappable() : 0);
}

bool LogSession::IsChecked(StatusList list, int item) const
{
    return m_checks.at(ListIndex(list)).at(static_cast<std::size_t>(item));
}

void LogSession::SetChecked(StatusList list, int item, bool checked)
{
    m_checks.at(ListIndex(list)).at(static_cast<std::size_t>(item)) = checked;
}

void LogSession::AppendRawLog(std::string_view line)
{
    if (m_raw) m_raw->WriteLine(line);
}

void LogSession::AppendRecordLog(std::string_view line)
{
    if (m_records) m_records->WriteLine(line);
    WriteOut(line);
}

void LogSession::WriteOut(std::string_view line)
{
    if (m_out == nullptr) return;
    if (std::fwrite(line.data(), 1, line.size(), m_out) != line.size() || std::fputc('\n', m_out) == EOF) {
        throw FileError(std::string("cannot write standard output: ") + std::strerror(errno));
    }
}

void LogSession::FlushOut()
{
    if (m_out != nullptr && std::fflush(m_out) != 0) {
        throw FileError(std::string("cannot write standard output: ") + std::strerror(errno));
    }
}

} // namespace varmio::logger
