// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Storing a port's settings: the ini-file and registry objects the port saves to and loads from, the
// text forms of Boolean and character settings (those of the handshake modes, DTRToText and its
// siblings, are with the other settings texts in Settings.h), and the table of the 29 stored keys that
// the port's SaveToIniSection, LoadFromIniSection, SaveToRegistryKey and LoadFromRegistryKey walk.
//
// Threads: ini-file and registry objects are not synchronised; one thread uses one object at a time.
// The conversions are pure and may run anywhere.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cport/Framework.h"
#include "cport/Registry.h"
#include "cport/Settings.h"

namespace cport {

class TCustomComPort;

// ---- Text conversions of stored settings --------------------------------------------------------------

// "Yes" / "No".
std::string BoolToText(bool value);
// True only for "YES" in any letter case; every other text, the empty one included, is False.
bool TextToBool(std::string_view text);

// Codes 33 to 127 as the character itself; every other code as "#" and the code in decimal ("#13").
std::string CharToText(char value);
// Empty text gives character 0. Text of two or more characters beginning with "#": the rest read by
// TextToInteger, of which the low 8 bits are the code (character 0 when the rest is no integer).
// Any other text: its first character.
char TextToChar(std::string_view text);

// The integer a text spells, read as the runtime's standard conversion reads it: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x" or "0x" (hexadecimal
// spells the 32-bit pattern, so "$FFFFFFFF" is -1). Nothing when the text is empty, holds anything
// else (trailing blanks included) or is out of range.
std::optional<std::int32_t> TextToInteger(std::string_view text);

// ---- Ini files -------------------------------------------------------------------------------------------

// An ini file failed: a write that cannot be stored, a file that cannot be read.
class EIniFileException : public Exception {
public:
    // The message only.
    using Exception::Exception;
};

// Sections of named keys holding text, as a Windows ini file has them: section and key names compared
// without regard to ASCII letter case, values trimmed of surrounding blanks unless quoted.
class TCustomIniFile {
public:
    virtual ~TCustomIniFile() = default;

    // The value of the key, `Default` when the section or key is missing.
    virtual std::string ReadString(const std::string& Section, const std::string& Ident,
                                   const std::string& Default) = 0;
    // Throws EIniFileException when the value cannot be stored.
    virtual void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) = 0;
    // The value read by TextToInteger; `Default` when the key is missing, empty or no integer.
    virtual std::int32_t ReadInteger(const std::string& Section, const std::string& Ident, std::int32_t Default) = 0;
    // Stores the number as decimal text. Throws as WriteString.
    virtual void WriteInteger(const std::string& Section, const std::string& Ident, std::int32_t Value) = 0;
};

// An ini document held in memory (SimpleIni underneath). Text is 8-bit and kept byte for byte.
// A value that would change on the way through the file (surrounding blanks, surrounding quotes) is
// written quoted; a name or value that a line cannot hold (a line break, a NUL, a "]" in a section
// name, a "=" in a key, blanks around a name) is refused with EIniFileException.
class TMemIniFile : public TCustomIniFile {
public:
    // A document parsed from ini text (empty: no sections).
    explicit TMemIniFile(std::string_view text = {});
    ~TMemIniFile() override;
    TMemIniFile(const TMemIniFile&) = delete;
    TMemIniFile& operator=(const TMemIniFile&) = delete;

    // The operations of TCustomIniFile, on the document in memory.
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) override;
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) override;
    std::int32_t ReadInteger(const std::string& Section, const std::string& Ident, std::int32_t Default) override;
    void WriteInteger(const std::string& Section, const std::string& Ident, std::int32_t Value) override;

    // The keys of a section in file order; empty when the section is missing.
    std::vector<std::string> ReadSection(const std::string& Section) const;
    // The whole document as ini text. Replacing it parses the text anew (any bytes are accepted; lines
    // that are neither a section, a key nor a comment are skipped).
    std::string Text() const;
    void SetText(std::string_view text);

protected:
    // Called after each successful write.
    virtual void Changed() {}

private:
    struct Document;
    std::unique_ptr<Document> m_doc;
};

// An ini file on disk, read when constructed (a missing file is an empty one) and written back after
// every write, through a temporary file renamed over it so that a failed write never leaves a
// half-written file. Throws EIniFileException "Unable to read <file>" when an existing file cannot be
// read, and "Unable to write to <file>" when a write cannot be saved.
class TIniFile : public TMemIniFile {
public:
    // Reads the file (see above).
    explicit TIniFile(std::string FileName);
    const std::string& FileName() const { return m_fileName; } // the file's path

protected:
    void Changed() override;

private:
    std::string m_fileName;
};

// ---- Registry ----------------------------------------------------------------------------------------------

// Raised by the registry access layer; the message names the value.
class ERegistryException : public Exception {
public:
    // The message only.
    using Exception::Exception;
};

// A registry object whose current key the caller has opened: named text and integer values.
class TRegistry {
public:
    virtual ~TRegistry() = default;

    // Stores `Value` as REG_SZ with its terminating NUL. Throws ERegistryException
    // "Failed to set data for '<name>'" when the value cannot be written.
    virtual void WriteString(const std::string& Name, const std::string& Value) = 0;
    // Stores `Value` as REG_DWORD (4 bytes). Throws as WriteString.
    virtual void WriteInteger(const std::string& Name, std::int32_t Value) = 0;
    // The text of a REG_SZ or REG_EXPAND_SZ value, up to its first NUL; empty text when the value is
    // missing or empty. Throws ERegistryException "Invalid data type for '<name>'" for another type.
    virtual std::string ReadString(const std::string& Name) = 0;
    // The number of a REG_DWORD value. Throws ERegistryException "Failed to get data for '<name>'"
    // when the value is missing or longer than 4 bytes, "Invalid data type for '<name>'" when it is
    // not REG_DWORD.
    virtual std::int32_t ReadInteger(const std::string& Name) = 0;
};

// An open registry key held in memory: typed values, names compared without regard to ASCII letter
// case (as the registry does), kept in the order in which they were first created.
class TMemoryRegistry : public TRegistry {
public:
    void WriteString(const std::string& Name, const std::string& Value) override;
    void WriteInteger(const std::string& Name, std::int32_t Value) override;
    std::string ReadString(const std::string& Name) override;
    std::int32_t ReadInteger(const std::string& Name) override;

    // A key opened without write access: every write fails with "Failed to set data for '<name>'".
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool ReadOnly() const { return m_readOnly; }

    // Raw access, as a registry editor has it: any type, any bytes. PutValue replaces a value of the
    // same name where it stands.
    void PutValue(TRegistryValue value);
    // The value of that name, null when there is none.
    const TRegistryValue* FindValue(std::string_view name) const;
    // Removes the value of that name; false when there was none.
    bool DeleteValue(std::string_view name);
    // Every value, in the order they were first stored.
    const std::vector<TRegistryValue>& Values() const { return m_values; }

private:
    std::vector<TRegistryValue>::iterator Find(std::string_view name);
    void Store(TRegistryValue value);

    std::vector<TRegistryValue> m_values;
    bool m_readOnly = false;
};

// ---- The stored keys ---------------------------------------------------------------------------------------

// Whether a stored key holds text or an integer.
enum TStoredKeyKind : std::uint8_t { skText, skInteger };

// One stored key: its name, its group, and how it reads from and writes to the port. A text key uses
// Text/SetText; an integer key uses Integer/SetInteger. Setting goes through the port setting's own
// setter, so an open port is reconfigured at once.
struct TStoredKey {
    const char* Name;                                             // the key's name in the ini section or registry key
    TStoredProp Group;                                            // the StoredProps group that selects it
    TStoredKeyKind Kind;                                          // text or integer
    std::string (*Text)(const TCustomComPort& port);              // a text key's value on the port
    void (*SetText)(TCustomComPort& port, std::string_view text); // sets a text key's value on the port
    std::int32_t (*Integer)(const TCustomComPort& port);          // an integer key's value on the port
    void (*SetInteger)(TCustomComPort& port, std::int32_t value); // sets an integer key's value on the port
    // The key is saved and loaded only while this holds; null: always.
    bool (*Handled)(const TCustomComPort& port);
    // The default of an integer key missing from an ini section; nothing: the setting's current value.
    std::optional<std::int32_t> IniDefault;
};

// The number of stored keys.
inline constexpr std::size_t kStoredKeyCount = 29;
// In the order in which every operation handles them: spBasic, spOthers, spParity, spBuffer,
// spTimeouts, spFlowControl, and within a group as listed.
extern const std::array<TStoredKey, kStoredKeyCount> StoredKeys;

} // namespace cport
