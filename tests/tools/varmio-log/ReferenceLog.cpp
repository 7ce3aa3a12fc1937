// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReferenceLog.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace varmio::reference {
namespace {

// Unicode of the bytes 0x80..0xFF of Windows-1250; 0 where the byte has no character.
constexpr std::uint16_t kHighHalf[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// Header columns, written out one by one.
const char* const kColumns[] = {
    "Date",
    "Time",
    "Lcd",
    "Pt",
    "Tuv",
    "Ntc",
    "Modul",
    "STuv",
    "PtPozadavek",
    "Venku",
    "Topen\u00ED Ena",
    "TUV Ena",
    "Chl Ena",
    "Ven Komp",
    "T2Ch Ena",
    "Chyba",
    "Topen\u00ED On",
    "TUV On",
    "Plamen On",
    "Chla On",
    "T2Ch\u00A8On",
    "Diag On",
};

struct Decoded {
    int column;  // 0..7 in the record
    int msgType; // the only type it is taken from
    bool twosComplement;
};

const std::map<int, Decoded> kDecodedIds = {
    {24, {0, 1, false}}, {1, {1, 1, false}},  {26, {2, 4, false}}, {25, {3, 4, false}},
    {17, {4, 4, false}}, {56, {5, 1, false}}, {16, {6, 1, false}}, {27, {7, 4, true}},
};

// Tenths of v / 256 (or of (v - 65536) / 256), nearest, ties toward zero.
long Tenths(long v, bool twosComplement)
{
    const bool negative = twosComplement && v > 32767;
    const long m = negative ? 65536 - v : v;
    const long scaled = 10 * m;
    long k = scaled / 256;
    if (scaled % 256 > 128) ++k; // exactly 128 is a tie: stay toward zero
    return negative ? -k : k;
}

std::string NumberText(long tenths)
{
    char text[32];
    const long a = std::labs(tenths);
    if (a % 10 == 0) std::snprintf(text, sizeof text, "%ld", tenths / 10);
    else std::snprintf(text, sizeof text, "%s%ld.%ld", tenths < 0 ? "-" : "", a / 10, a % 10);
    return text;
}

} // namespace

std::string Cp1250(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code = c;
        std::size_t n = 1;
        if (c >= 0xF0) {
            code = c & 0x07;
            n = 4;
        } else if (c >= 0xE0) {
            code = c & 0x0F;
            n = 3;
        } else if (c >= 0xC0) {
            code = c & 0x1F;
            n = 2;
        }
        for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k) code = code << 6 | (utf8[i + k] & 0x3F);
        i += n;
        if (code < 0x80) {
            out += static_cast<char>(code);
            continue;
        }
        char byte = '?';
        for (int b = 0; b < 128; ++b) {
            if (kHighHalf[b] == code) byte = static_cast<char>(0x80 + b);
        }
        out += byte;
    }
    return out;
}

Logs Replay(const std::vector<std::uint8_t>& input, const std::string& stamp, bool all)
{
    Logs logs;
    std::string header;
    for (const char* column : kColumns) header += (header.empty() ? "" : ";") + std::string(column);
    logs.Records = Cp1250(header) + "\r\n";
    logs.Stdout = header + "\n";

    std::array<long, 8> tenths{};
    unsigned master = 0; // the high byte of the last master status
    unsigned slave = 0;  // the low byte of the last slave status
    std::string previous;

    int syncRun = 0;
    int fieldCount = -1; // -1: looking for sync bytes
    std::uint8_t fields[4] = {};
    for (const std::uint8_t b : input) {
        if (fieldCount < 0) {
            syncRun = b == 0x35 ? syncRun + 1 : 0;
            if (syncRun == 3) fieldCount = 0;
            continue;
        }
        fields[fieldCount++] = b;
        if (fieldCount < 4) continue;
        fieldCount = -1;
        syncRun = 0;

        const int type = fields[0];
        const int id = fields[1];
        const long value = fields[2] * 256L + fields[3];
        logs.Raw += Cp1250(stamp + "  [Type: " + std::to_string(type) + "]  [" + std::to_string(id) +
                           "] :" + std::to_string(value)) +
                    "\r\n";

        if (id == 0 && type == 0) master = static_cast<unsigned>(value >> 8) & 0x7F;
        if (id == 0 && type == 4) slave = static_cast<unsigned>(value) & 0x7F;
        const auto decoded = kDecodedIds.find(id);
        if (decoded != kDecodedIds.end() && decoded->second.msgType == type) {
            tenths[decoded->second.column] = Tenths(value, decoded->second.twosComplement);
        }

        std::vector<std::string> record;
        record.reserve(tenths.size() + 12);
        for (long t : tenths) record.push_back(NumberText(t));
        for (int bit = 0; bit < 5; ++bit) record.push_back((master >> bit) & 1 ? "1" : "0");
        for (int bit = 0; bit < 7; ++bit) record.push_back((slave >> bit) & 1 ? (bit == 3 ? "10" : "1") : "0");
        std::string text;
        for (const std::string& field : record) {
            if (!text.empty()) text += "; ";
            text += field;
        }

        if (all || text != previous) {
            const std::string line = stamp + "; " + text;
            logs.Records += Cp1250(line) + "\r\n";
            logs.Stdout += line + "\n";
        }
        previous = text;
        ++logs.Frames;
    }
    logs.Stdout += "Frames: " + std::to_string(logs.Frames) + "\n";
    return logs;
}

} // namespace varmio::reference
