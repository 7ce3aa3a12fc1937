// SPDX-License-Identifier: GPL-3.0-or-later
#include "LogSession.h"

#include <algorithm>
#include <utility>

namespace varmio::logger {
namespace {

constexpr auto kTimerInterval = std::chrono::seconds(1);

std::size_t ListIndex(StatusList list) { return list == StatusList::Master ? 0 : 1; }

constexpr std::string_view kDateTimeSeparator = "; ";

} // namespace

std::string TimestampProblem(std::string_view text)
{
    const auto control = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    };
    if (std::any_of(text.begin(), text.end(), control)) return "holds a control character";
    const std::size_t separator = text.find(kDateTimeSeparator);
    if (separator == std::string_view::npos || std::count(text.begin(), text.end(), ';') != 1)
        return "must be a date and a time separated by \"; \", with no other \";\"";
    return {};
}

LogSession::LogSession(const LogOptions& options, Regional regional, LogFiles files, LineSink* echo, Clock clock)
    : m_all(options.All), m_fixedTime(options.Timestamp.has_value()), m_regional(std::move(regional)),
      m_clock(std::move(clock)), m_records(std::move(files.Records)), m_raw(std::move(files.Raw)), m_echo(echo),
      m_output(options.Output), m_keepDecoded(options.KeepDecodedLines), m_monitor(*this, m_regional)
{
    if (m_fixedTime) {
        m_dateTimeText = *options.Timestamp;
    } else {
        // Unlike the window, which shows nothing until its timer first ticks, the logger reads the
        // clock at once: a replay is over long before the first second, and every line needs its time.
        m_dateTimeText = m_regional.DateTimeText(m_clock.Local());
        m_nextTick = m_clock.Steady() + kTimerInterval;
    }
    // The standard series only: the picture shows what the window's chart of a saved log shows (a
    // legend of every decoded ID would leave no room for the captions).
    if (options.KeepTrends) m_trends = std::make_unique<TrendStore>();
    if (m_records && m_records->Fresh()) m_records->WriteLine(CsvHeader);
    // After the monitor's own work on the frame: its raw and record lines are in the files first.
    m_monitor.SetOnFrame([this](const Frame& frame) { OnFrame(frame); });
    if (m_echo == nullptr) return;
    if (m_output == OutputFormat::Records) m_echo->Line(CsvHeader);
    else m_echoDecoded = true;
}

void LogSession::OnFrame(const Frame& frame)
{
    if (m_echoDecoded) EchoDecoded(frame);
    if (m_trends) m_trends->AddFrame(frame, m_receiveTime);
    if (m_onFrame) m_onFrame(frame);
}

void LogSession::EchoDecoded(const Frame& frame)
{
    const std::string line = m_output == OutputFormat::Json
                                 ? FrameJsonLine(frame, m_dateTimeText)
                                 : DecodedLine(frame, m_dateTimeText, m_regional.DecimalSeparator);
    if (m_keepDecoded) m_echo->KeptLine(line);
    else m_echo->Line(line);
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
    if (m_trends) m_receiveTime = std::chrono::time_point_cast<std::chrono::milliseconds>(m_clock.Wall());
    for (const std::uint8_t byte : bytes) m_monitor.ProcessFrameByte(byte);
}

void LogSession::Finish()
{
    if (m_records) m_records->Close();
    if (m_raw) m_raw->Close();
    if (m_echo && m_output != OutputFormat::Json) m_echo->Last("Frames: " + std::to_string(m_monitor.FrameCount()));
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
    if (m_echo && m_output == OutputFormat::Records) m_echo->Line(line);
}

} // namespace varmio::logger
