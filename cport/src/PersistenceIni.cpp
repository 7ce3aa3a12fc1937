// SPDX-License-Identifier: GPL-3.0-or-later
// Ini files: a SimpleIni document with the reading rules of Windows ini files, in memory or on disk.

// Text is 8-bit and kept as it is: no wide-character converter is needed. The templates are
// instantiated here (this is the one file that uses them), so no SimpleIni library is linked.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>

#include "AsciiCase.h"
#include "cport/Persistence.h"

namespace cport {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool HasSurroundingBlanks(std::string_view text)
{
    return !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()));
}

bool IsQuoted(std::string_view text)
{
    return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front();
}

// A value as the file holds it: quoted when reading would otherwise change it (blanks around it are
// trimmed, a surrounding pair of quotes is removed).
std::string ToFileValue(const std::string& value)
{
    if (HasSurroundingBlanks(value) || IsQuoted(value)) return '"' + value + '"';
    return value;
}

std::string FromFileValue(std::string_view value)
{
    if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
    return std::string(value);
}

constexpr std::string_view kUtf8Signature = "\xEF\xBB\xBF";

} // namespace

struct TMemIniFile::Document {
    Document() : Ini(/*a_bIsUtf8=*/false, /*a_bMultiKey=*/true, /*a_bMultiLine=*/false)
    {
        // Quotes are handled here, so that the text between them is kept exactly.
        Ini.SetQuotes(false);
        Ini.SetSpaces(false);
    }
    CSimpleIniA Ini; // multi-key, so that of duplicate keys the first one is read, as Windows does

    void Load(std::string_view text)
    {
        Ini.Reset();
        if (text.starts_with(kUtf8Signature)) text.remove_prefix(kUtf8Signature.size());
        if (text.empty()) return;
        if (Ini.LoadData(text.data(), text.size()) == SI_NOMEM) throw std::bad_alloc();
    }
};

TMemIniFile::TMemIniFile(std::string_view text) : m_doc(std::make_unique<Document>()) { m_doc->Load(text); }

TMemIniFile::~TMemIniFile() = default;

std::string TMemIniFile::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default)
{
    const char* value = m_doc->Ini.GetValue(Section.c_str(), Ident.c_str(), nullptr);
    return value ? FromFileValue(value) : Default;
}

void TMemIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value)
{
    if (HasLineBreakOrNul(Section) || HasSurroundingBlanks(Section) || Section.find(']') != std::string::npos)
        throw EIniFileException("Invalid ini section name '" + Section + "'");
    if (Ident.empty() || HasLineBreakOrNul(Ident) || HasSurroundingBlanks(Ident) ||
        Ident.find('=') != std::string::npos || Ident.front() == '[' || Ident.front() == ';' || Ident.front() == '#')
        throw EIniFileException("Invalid ini key name '" + Ident + "'");
    if (HasLineBreakOrNul(Value)) throw EIniFileException("Ini value of '" + Ident + "' holds a line break");

    CSimpleIniA& ini = m_doc->Ini;
    const char* old = ini.GetValue(Section.c_str(), Ident.c_str(), nullptr);
    const std::optional<std::string> previous = old ? std::optional<std::string>(old) : std::nullopt;
    if (ini.SetValue(Section.c_str(), Ident.c_str(), ToFileValue(Value).c_str(), nullptr, true) == SI_NOMEM)
        throw std::bad_alloc();
    try {
        Changed();
    } catch (...) {
        // The document keeps what the file holds.
        if (previous) ini.SetValue(Section.c_str(), Ident.c_str(), previous->c_str(), nullptr, true);
        else ini.Delete(Section.c_str(), Ident.c_str(), true);
        throw;
    }
}

std::int32_t TMemIniFile::ReadInteger(const std::string& Section, const std::string& Ident, std::int32_t Default)
{
    const char* value = m_doc->Ini.GetValue(Section.c_str(), Ident.c_str(), nullptr);
    if (!value) return Default;
    return TextToInteger(FromFileValue(value)).value_or(Default);
}

void TMemIniFile::WriteInteger(const std::string& Section, const std::string& Ident, std::int32_t Value)
{
    WriteString(Section, Ident, std::to_string(Value));
}

std::vector<std::string> TMemIniFile::ReadSection(const std::string& Section) const
{
    CSimpleIniA::TNamesDepend keys;
    m_doc->Ini.GetAllKeys(Section.c_str(), keys);
    keys.sort(CSimpleIniA::Entry::LoadOrder());
    std::vector<std::string> names;
    for (const CSimpleIniA::Entry& key : keys) {
        // A key written twice in the file is one key, the first one.
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& name) { return EqualIgnoringAsciiCase(name, key.pItem); });
        if (!seen) names.emplace_back(key.pItem);
    }
    return names;
}

std::string TMemIniFile::Text() const
{
    std::string text;
    if (m_doc->Ini.Save(text) == SI_NOMEM) throw std::bad_alloc();
    return text;
}

void TMemIniFile::SetText(std::string_view text) { m_doc->Load(text); }

// ---- On disk ------------------------------------------------------------------------------------------

namespace {

std::string ReadWholeFile(const std::string& fileName)
{
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {}; // a missing file is an empty one
        throw EIniFileException("Unable to read " + fileName);
    }
    std::string text;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode); // not a folder, a pipe or a device
    char chunk[4096];
    while (ok) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0) break;
        else if (errno != EINTR) ok = false;
    }
    close(fd);
    if (!ok) throw EIniFileException("Unable to read " + fileName);
    return text;
}

// Writes `text` beside the file and renames it over the file: readers see the old or the new file,
// never a part of one. The file keeps its permissions.
void ReplaceFile(const std::string& fileName, const std::string& text)
{
    const std::string temporary = fileName + ".tmp";
    struct stat st {};
    const mode_t mode = stat(fileName.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) throw EIniFileException("Unable to write to " + fileName);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed || chmod(temporary.c_str(), mode) != 0 ||
        std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw EIniFileException("Unable to write to " + fileName);
    }
}

} // namespace

TIniFile::TIniFile(std::string FileName) : TMemIniFile(ReadWholeFile(FileName)), m_fileName(std::move(FileName)) {}

void TIniFile::Changed() { ReplaceFile(m_fileName, Text()); }

} // namespace cport
