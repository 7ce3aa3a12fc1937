// SPDX-License-Identifier: GPL-3.0-or-later
#include "Text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <stdexcept>

namespace varmio::detail {
namespace {

// What iconv_open fails with; the C library spells it as an integer cast to a pointer.
const iconv_t kNoConverter =
    reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); // NOLINT(performance-no-int-to-ptr)

// One open iconv converter; not shareable between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (Valid()) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return m_cd != kNoConverter; }

    // Converts all of `in`; returns false at the first sequence that does not convert, with `in`
    // advanced to it and the converted part appended to `out`.
    bool Convert(std::string_view& in, std::string& out)
    {
        char* inPtr = const_cast<char*>(in.data()); // iconv's interface; it does not write there
        std::size_t inLeft = in.size();
        bool ok = true;
        while (inLeft > 0) {
            char buffer[256];
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                ok = false;
                break;
            }
        }
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        in.remove_prefix(in.size() - inLeft);
        return ok;
    }

private:
    iconv_t m_cd;
};

// The length of the UTF-8 sequence starting at text[0], or 0 when it is malformed in its length:
// a stray continuation byte, a lead byte that no character starts with, or missing continuation
// bytes. Overlong forms and surrogates are left for the converter to refuse.
std::size_t Utf8SequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (length == 0 || text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

Converter& Windows1250Converter()
{
    thread_local Converter converter("WINDOWS-1250", "UTF-8");
    if (!converter.Valid()) throw std::runtime_error("The system has no Windows-1250 converter");
    return converter;
}

} // namespace

std::size_t AppendWindows1250(std::string& out, std::string_view utf8)
{
    std::size_t unmappable = 0;
    while (!utf8.empty()) {
        // Runs of ASCII are the same bytes in Windows-1250; they need no converter.
        std::size_t ascii = 0;
        while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) ++ascii;
        out.append(utf8.data(), ascii);
        utf8.remove_prefix(ascii);
        if (utf8.empty()) break;

        std::size_t length = Utf8SequenceLength(utf8);
        std::string_view character = utf8.substr(0, length == 0 ? 1 : length);
        utf8.remove_prefix(character.size());
        if (length == 0 || !Windows1250Converter().Convert(character, out)) {
            out += '?';
            ++unmappable;
        }
    }
    return unmappable;
}

std::string CodesetToUtf8(std::string_view text, const char* codeset)
{
    const bool plain = std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
    if (plain || text.empty()) return std::string(text);
    Converter converter("UTF-8", codeset);
    if (!converter.Valid()) return std::string(text);
    std::string out;
    while (!text.empty()) {
        if (!converter.Convert(text, out)) {
            out += "\uFFFD";
            text.remove_prefix(1);
        }
    }
    return out;
}

} // namespace varmio::detail
