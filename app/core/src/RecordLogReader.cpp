// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/RecordLogReader.h"

#include "Text.h"
#include "varmio/RecordLog.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <vector>

namespace varmio {
namespace {

constexpr std::string_view kSeparator = "; ";
constexpr std::size_t kRecordFields = 20;
constexpr std::size_t kValueFields = 8;
constexpr std::size_t kShownTextLength = 80;

// The record's status fields (9 to 20) that are series, by their place among the twelve.
struct StateField {
    std::size_t Field;
    StandardSeries Series;
};
constexpr std::array<StateField, 3> kStateFields{{{6, tsHeating}, {7, tsHotWater}, {8, tsFlame}}};
constexpr std::size_t kFlameField = 8; // written "10" when set

// The conversions of a strftime format, composites spelt out, flags and modifiers dropped:
// "%-d.%-m.%Y" gives "dmY".
std::string Conversions(std::string_view format)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        while (i < format.size() && std::strchr("-_0^#EO", format[i]) != nullptr) ++i;
        if (i >= format.size()) break;
        switch (format[i]) {
        case 'D': out += "mdy"; break;
        case 'F': out += "Ymd"; break;
        case 'T': out += "HMS"; break;
        case 'R': out += "HM"; break;
        case 'r': out += "IMSp"; break;
        default: out += format[i]; break;
        }
    }
    return out;
}

// The runs of digits in `text`, as numbers; nullopt when there are more than `most`.
std::optional<std::vector<int>> Numbers(std::string_view text, std::size_t most)
{
    std::vector<int> numbers;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        long long n = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            n = std::min(n * 10 + (text[i] - '0'), 1'000'000LL);
        if (numbers.size() == most) return std::nullopt;
        numbers.push_back(static_cast<int>(n));
    }
    return numbers;
}

bool ParseDate(std::string_view text, const Regional& regional, std::tm& tm)
{
    const std::string conversions = Conversions(regional.ShortDateFormat);
    const auto numbers = Numbers(text, conversions.size());
    if (!numbers || numbers->size() != conversions.size()) return false;
    int day = -1, month = -1, year = -1;
    for (std::size_t i = 0; i < conversions.size(); ++i) {
        const int n = (*numbers)[i];
        switch (conversions[i]) {
        case 'd':
        case 'e': day = n; break;
        case 'm': month = n; break;
        case 'Y': year = n; break;
        case 'y': year = n < 69 ? 2000 + n : 1900 + n; break; // as the C library reads two digits
        default: return false;                                // month names, weekdays, ...: not a numeric date
        }
    }
    if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1900) return false;
    tm.tm_mday = day;
    tm.tm_mon = month - 1;
    tm.tm_year = year - 1900;
    return regional.FormatShortDate(tm) == text;
}

bool ParseTime(std::string_view text, const Regional& regional, std::tm& tm)
{
    const std::string conversions = Conversions(regional.LongTimeFormat);
    std::size_t numeric = 0;
    for (const char c : conversions) numeric += c != 'p' && c != 'P';
    const auto numbers = Numbers(text, numeric);
    if (!numbers || numbers->size() != numeric) return false;
    int hour = -1, minute = 0, second = 0;
    bool twelveHour = false;
    std::size_t next = 0;
    for (const char c : conversions) {
        if (c == 'p' || c == 'P') continue;
        const int n = (*numbers)[next++];
        switch (c) {
        case 'H':
        case 'k': hour = n; break;
        case 'I':
        case 'l':
            hour = n % 12;
            twelveHour = true;
            break;
        case 'M': minute = n; break;
        case 'S': second = n; break;
        default: return false;
        }
    }
    if (hour < 0 || hour > 23 || minute > 59 || second > 60) return false;
    tm.tm_min = minute;
    tm.tm_sec = second;
    // A 12-hour clock: the morning or the afternoon, whichever is written back as the text.
    for (const int candidate : {hour, hour + 12}) {
        tm.tm_hour = candidate;
        if (regional.FormatLongTime(tm) == text) return true;
        if (!twelveHour) break;
    }
    return false;
}

// "45", "45,5", "-0.2": k in k / 10, the decimal separator being any of `separators`.
std::optional<std::int32_t> ParseTenths(std::string_view text, const std::vector<std::string>& separators)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    std::int64_t whole = 0;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 9) {
        whole = whole * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    std::int64_t tenths = whole * 10;
    if (!text.empty()) {
        const auto separator = std::find_if(separators.begin(), separators.end(), [text](const std::string& s) {
            return text.size() == s.size() + 1 && text.starts_with(s);
        });
        const char digit = text.back();
        if (separator == separators.end() || digit < '0' || digit > '9') return std::nullopt;
        tenths += digit - '0';
    }
    return static_cast<std::int32_t>(negative ? -tenths : tenths);
}

std::vector<std::string_view> Split(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t at = line.find(kSeparator);
        if (at == std::string_view::npos) break;
        fields.push_back(line.substr(0, at));
        line.remove_prefix(at + kSeparator.size());
    }
    fields.push_back(line);
    return fields;
}

struct Record {
    std::array<std::int32_t, kValueFields> Tenths{};
    std::array<bool, kStateFields.size()> States{};
};

// The 20 record fields, or nullopt when any is not what the record log writes there.
std::optional<Record> ParseRecord(std::span<const std::string_view> fields, const std::vector<std::string>& separators)
{
    Record record;
    for (std::size_t i = 0; i < kValueFields; ++i) {
        const auto tenths = ParseTenths(fields[i], separators);
        if (!tenths) return std::nullopt;
        record.Tenths[i] = *tenths;
    }
    for (std::size_t i = 0; i < kRecordFields - kValueFields; ++i) {
        const std::string_view field = fields[kValueFields + i];
        const std::string_view set = i == kFlameField ? "10" : "1";
        if (field != "0" && field != set) return std::nullopt;
    }
    for (std::size_t i = 0; i < kStateFields.size(); ++i)
        record.States[i] = fields[kValueFields + kStateFields[i].Field] != "0";
    return record;
}

std::string Shown(std::string_view utf8)
{
    if (utf8.size() <= kShownTextLength) return std::string(utf8);
    std::size_t cut = kShownTextLength;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut; // not inside a character
    return std::string(utf8.substr(0, cut)) + "…";
}

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::optional<std::tm> ParseLogDateTime(std::string_view date, std::string_view time, const Regional& regional)
{
    std::tm tm{};
    if (!ParseDate(date, regional, tm) || !ParseTime(time, regional, tm)) return std::nullopt;
    const int day = tm.tm_mday;
    tm.tm_isdst = -1;
    std::tm normalised = tm;
    if (mktime(&normalised) == static_cast<std::time_t>(-1) || normalised.tm_mday != day) return std::nullopt; // 31.2.
    return normalised;
}

RecordLogReport ReadRecordLog(const std::string& path, TrendStore& store, const Regional& regional)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RecordLogError("Soubor „" + path + "“ nelze otevřít: " + std::strerror(errno) + ".");

    // The formats a log may have been written in: the reader's own, the C locale's, the Czech ones.
    std::vector<Regional> formats{regional, Regional{}};
    Regional czech;
    czech.DecimalSeparator = ",";
    czech.ShortDateFormat = "%-d.%-m.%Y";
    czech.LongTimeFormat = "%H:%M:%S";
    formats.push_back(czech);
    std::vector<std::string> separators{regional.DecimalSeparator, ",", "."};
    const std::string header = ToWindows1250(CsvHeader);

    RecordLogReport report;
    std::size_t lineNumber = 0;
    std::size_t format = 0; // the one that read the last date
    std::string lastDate;
    std::tm lastDay{};
    std::vector<Record> undated; // logged before the clock's first tick: they take the next time
    std::string line;
    std::string utf8;
    const auto store11 = [&store](const Record& record, TrendTime when) {
        for (std::size_t i = 0; i < kValueFields; ++i) store.AddValue(i, record.Tenths[i], when);
        for (std::size_t i = 0; i < kStateFields.size(); ++i)
            store.AddValue(kStateFields[i].Series, record.States[i] ? 1 : 0, when);
    };

    while (std::getline(file, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line == header) continue;
        const bool ascii =
            std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        utf8 = ascii ? line : detail::CodesetToUtf8(line, "WINDOWS-1250");

        std::optional<Record> record;
        std::optional<TrendTime> when;
        const std::vector<std::string_view> fields = Split(utf8);
        if (fields.size() >= kRecordFields + 1 && line.find('\0') == std::string::npos) {
            record = ParseRecord(std::span(fields).last(kRecordFields), separators);
            // Before the record: the date-time box's text, "date; time", or nothing before its first tick.
            const std::size_t prefix = fields.size() - kRecordFields;
            if (record && prefix == 2) {
                const std::string_view date = fields[0];
                const std::string_view time = fields[1];
                for (std::size_t k = 0; k < formats.size() && !when; ++k) {
                    const Regional& candidate = formats[(format + k) % formats.size()];
                    std::tm tm{};
                    // The date changes once a day: read it again only when its text does.
                    if (date == lastDate && k == 0) tm = lastDay;
                    else if (!ParseDate(date, candidate, tm)) continue;
                    if (!ParseTime(time, candidate, tm)) continue;
                    const int day = tm.tm_mday;
                    tm.tm_isdst = -1;
                    const std::time_t t = mktime(&tm);
                    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day) continue;
                    when = TrendTime(std::chrono::seconds(t));
                    format = (format + k) % formats.size();
                    if (date != lastDate) {
                        lastDate = std::string(date);
                        lastDay = tm;
                    }
                }
                if (!when) record.reset();
            } else if (record && !(prefix == 1 && fields[0].empty())) {
                record.reset();
            }
        }

        if (!record) {
            if (report.Records == 0 && undated.empty()) {
                throw RecordLogError("Soubor „" + FileName(path) + "“ není uložený záznam: řádek " +
                                     std::to_string(lineNumber) + " nelze přečíst („" + Shown(utf8) + "“).");
            }
            if (report.Skipped++ == 0) {
                report.FirstSkipped = lineNumber;
                report.FirstSkippedText = Shown(utf8);
            }
            continue;
        }
        if (!when) {
            undated.push_back(*record);
            continue;
        }
        for (const Record& early : undated) store11(early, *when);
        report.Records += undated.size() + 1;
        undated.clear();
        store11(*record, *when);
    }
    if (file.bad()) throw RecordLogError("Soubor „" + path + "“ nelze přečíst: " + std::strerror(errno) + ".");
    if (lineNumber == 0) throw RecordLogError("Soubor „" + FileName(path) + "“ je prázdný, není to uložený záznam.");
    if (!undated.empty()) {
        // Lines without a time stamp at the very end: they happened after the last one that has one.
        if (report.Records == 0)
            throw RecordLogError("Soubor „" + FileName(path) + "“ nemá u žádného záznamu datum a čas.");
        for (const Record& late : undated) store11(late, store.LastTime());
        report.Records += undated.size();
    }
    return report;
}

} // namespace varmio
