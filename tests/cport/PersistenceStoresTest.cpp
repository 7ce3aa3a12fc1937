// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces settings are stored with: the text forms of stored settings, the integer reading they
// share, ini files in memory and on disk, and the registry key held in memory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cport/CPort.h"
#include "support/TempDir.h"

namespace cport {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// ---- Text forms --------------------------------------------------------------------------------------------

TEST(CharToText, WritesPrintableCodesAsThemselvesAndOthersByNumber)
{
    EXPECT_EQ(CharToText('\r'), "#13");
    EXPECT_EQ(CharToText('\0'), "#0");
    EXPECT_EQ(CharToText(static_cast<char>(200)), "#200");
    EXPECT_EQ(CharToText('A'), "A");
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(CharToText('!'), "!");
    EXPECT_EQ(CharToText('#'), "#");
    EXPECT_EQ(CharToText('\x7F'), "\x7F");
    EXPECT_EQ(CharToText(static_cast<char>(128)), "#128");
    EXPECT_EQ(CharToText(static_cast<char>(255)), "#255");
}

TEST(TextToChar, ReadsTheTextsOfStoredCharacters)
{
    EXPECT_EQ(TextToChar(""), '\0');
    EXPECT_EQ(TextToChar("#"), '#') << "a lone # is the character itself";
    EXPECT_EQ(TextToChar("#65"), 'A');
    EXPECT_EQ(TextToChar("#321"), 'A') << "321 modulo 256 is 65";
    EXPECT_EQ(TextToChar("#1z"), '\0');
    EXPECT_EQ(TextToChar("##"), '\0');
    EXPECT_EQ(TextToChar("#-1"), static_cast<char>(255));
    EXPECT_EQ(TextToChar("#$41"), 'A');
    EXPECT_EQ(TextToChar("#0x41"), 'A');
    EXPECT_EQ(TextToChar("#x41"), 'A');
    EXPECT_EQ(TextToChar("# 65"), 'A') << "leading blanks are allowed";
    EXPECT_EQ(TextToChar("#65 "), '\0') << "trailing blanks are not";
    EXPECT_EQ(TextToChar("#99999999999"), '\0') << "out of range is no integer";
    EXPECT_EQ(TextToChar("AB"), 'A');
    EXPECT_EQ(TextToChar("\xC8x"), '\xC8');
}

TEST(TextToChar, ReadsBackEveryCodeCharToTextWrites)
{
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        EXPECT_EQ(TextToChar(CharToText(c)), c) << code;
    }
}

TEST(TextToBool, IsTrueOnlyForYesInAnyLetterCase)
{
    EXPECT_EQ(BoolToText(true), "Yes");
    EXPECT_EQ(BoolToText(false), "No");
    for (const char* text : {"Yes", "yes", "YES", "yEs"}) EXPECT_TRUE(TextToBool(text)) << text;
    for (const char* text : {"True", "1", "", "No", " Yes", "Yes ", "YESS", "Y"})
        EXPECT_FALSE(TextToBool(text)) << text;
}

TEST(TextToInteger, ReadsDecimalAndHexadecimalAsTheRuntimeDoes)
{
    const std::pair<const char*, std::int32_t> good[] = {
        {"0", 0},
        {"-0", 0},
        {"+5", 5},
        {"   42", 42},
        {"00012", 12},
        {"-17", -17},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", INT32_MAX},
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"0xff", 255},
        {"0XFF", 255},
        {"x10", 16},
        {"X1f", 31},
        {"-$10", -16},
        {" -0x1", -1},
        {"$0000000000000001", 1},
    };
    for (const auto& [text, value] : good) EXPECT_EQ(TextToInteger(text), value) << text;

    const char* bad[] = {"",      " ",     "-",          "+",           "$",          "0x",
                         "x",     "12 ",   "1e3",        "\t5",         "5.0",        "0x-1",
                         "--1",   "+-1",   "2147483648", "-2147483649", "$100000000", "99999999999999999999999",
                         "1,000", "0b101", "$g",         "12a"};
    for (const char* text : bad) EXPECT_EQ(TextToInteger(text), std::nullopt) << text;
}

// ---- Ini files in memory -------------------------------------------------------------------------------

TEST(TMemIniFile, ReadsKeysAsAWindowsIniFileHasThem)
{
    TMemIniFile ini("; a comment\n"
                    "[ComPort1]\n"
                    "Port = COM4  \n"
                    "baudrate=19200\n"
                    "Empty=\n"
                    "Quoted=\"  two blanks  \"\n"
                    "Single='x'\n"
                    "Port=COM9\n"
                    "[Other]\n"
                    "Port=COM7\n");
    EXPECT_EQ(ini.ReadString("ComPort1", "Port", "dflt"), "COM4")
        << "blanks around a value are trimmed; the first of two keys counts";
    EXPECT_EQ(ini.ReadString("COMPORT1", "BaudRate", "dflt"), "19200") << "names ignore letter case";
    EXPECT_EQ(ini.ReadString("ComPort1", "Empty", "dflt"), "") << "an empty value is not a missing one";
    EXPECT_EQ(ini.ReadString("ComPort1", "Quoted", "dflt"), "  two blanks  ");
    EXPECT_EQ(ini.ReadString("ComPort1", "Single", "dflt"), "x");
    EXPECT_EQ(ini.ReadString("ComPort1", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Nowhere", "Port", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Other", "Port", "dflt"), "COM7");
    EXPECT_THAT(ini.ReadSection("ComPort1"), ElementsAre("Port", "baudrate", "Empty", "Quoted", "Single"));
}

TEST(TMemIniFile, ReadsIntegersWithTheirDefaultForAnythingElse)
{
    TMemIniFile ini("[S]\nDec=-5\nHex=0x10\nDollar=$20\nWord=abc\nHuge=99999999999\nEmpty=\nBlank= 7 \n");
    EXPECT_EQ(ini.ReadInteger("S", "Dec", 1), -5);
    EXPECT_EQ(ini.ReadInteger("S", "Hex", 1), 16);
    EXPECT_EQ(ini.ReadInteger("S", "Dollar", 1), 32);
    EXPECT_EQ(ini.ReadInteger("S", "Word", 1), 1);
    EXPECT_EQ(ini.ReadInteger("S", "Huge", 1), 1);
    EXPECT_EQ(ini.ReadInteger("S", "Empty", 1), 1);
    EXPECT_EQ(ini.ReadInteger("S", "Blank", 1), 7) << "the value is trimmed before it is read";
    EXPECT_EQ(ini.ReadInteger("S", "Missing", 1), 1);
}

TEST(TMemIniFile, WritesValuesThatReadBackUnchanged)
{
    TMemIniFile ini;
    const std::string values[] = {"COM4", "",   "  lead", "trail  ", "\"quoted\"",      "'single'",
                                  "#13",  ";x", "a=b",    "[x]",     "\xC8\xE8\xFF\x01"};
    for (std::size_t i = 0; i < std::size(values); ++i)
        ini.WriteString("ComPort1", "Key" + std::to_string(i), values[i]);
    ini.WriteInteger("ComPort1", "Number", -2147483647 - 1);

    TMemIniFile reread(ini.Text());
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(reread.ReadString("ComPort1", "Key" + std::to_string(i), "missing"), values[i]) << i;
    EXPECT_EQ(reread.ReadInteger("ComPort1", "Number", 0), INT32_MIN);
    EXPECT_THAT(ini.Text(), HasSubstr("Number=-2147483648\n")) << "integers are stored as decimal text";
}

TEST(TMemIniFile, ReplacesAKeyWhereItStands)
{
    TMemIniFile ini("[S]\nA=1\nB=2\nb=3\nC=4\n");
    ini.WriteString("s", "B", "new");
    EXPECT_EQ(ini.ReadString("S", "b", ""), "new");
    EXPECT_THAT(ini.ReadSection("S"), ElementsAre("A", "B", "C")) << "the duplicate is gone, the order kept";
}

TEST(TMemIniFile, RefusesNamesAndValuesALineCannotHold)
{
    TMemIniFile ini("[S]\nK=old\n");
    EXPECT_THROW(ini.WriteString("S", "K", "two\nlines"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", "K", "cr\r"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", "K", std::string("nul\0", 4)), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", "K=1", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", "", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", " K", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", ";K", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S]", "K", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S\n[T", "K", "v"), EIniFileException);
    EXPECT_EQ(ini.Text(), "[S]\nK=old\n") << "nothing was written";
}

TEST(TMemIniFile, SkipsGarbageAndKeepsReadingTheKeysAroundIt)
{
    const std::string text = std::string("\xEF\xBB\xBF") + // UTF-8 signature of an editor
                             "garbage line\n[ComPort1\n=no key\n[Bytes]\n\x01\x02\xFF=\xFE\n" +
                             "[ComPort1]\r\nBaudRate=115200\r\n" + std::string("\0\0", 2) + "After=nul\n";
    TMemIniFile ini(text);
    EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", ""), "115200");
    EXPECT_EQ(ini.ReadString("Bytes", "\x01\x02\xFF", ""), "\xFE") << "8-bit bytes are kept";
    EXPECT_EQ(ini.ReadString("ComPort1", "After", "not read"), "not read") << "a NUL ends the text";
}

// ---- Ini files on disk ---------------------------------------------------------------------------------

class TIniFileOnDisk : public ::testing::Test {
protected:
    // A test may take the folder's write permission away; it is given back so that the folder goes.
    void TearDown() override { std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all); }
    std::string FileText() const { return varmio::test::ReadFile(m_file); }

    varmio::test::TempDir m_temp;
    const std::filesystem::path& m_dir = m_temp.Path();
    std::string m_file = m_temp / "port.ini";
};

TEST_F(TIniFileOnDisk, AMissingFileIsEmptyAndEachWriteReachesTheFileAtOnce)
{
    TIniFile ini(m_file);
    EXPECT_EQ(ini.ReadString("ComPort1", "Port", "dflt"), "dflt");
    EXPECT_FALSE(std::filesystem::exists(m_file)) << "reading creates nothing";

    ini.WriteString("ComPort1", "Port", "COM4");
    EXPECT_EQ(FileText(), "[ComPort1]\nPort=COM4\n");
    ini.WriteInteger("ComPort1", "Buffer.InputSize", 4096);
    EXPECT_EQ(FileText(), "[ComPort1]\nPort=COM4\nBuffer.InputSize=4096\n");

    TIniFile reopened(m_file);
    EXPECT_EQ(reopened.ReadInteger("comport1", "buffer.inputsize", 0), 4096);
}

TEST_F(TIniFileOnDisk, KeepsTheFilesPermissionsAndItsOtherSections)
{
    std::ofstream(m_file) << "[Other]\nKey=1\n";
    std::filesystem::permissions(m_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    TIniFile ini(m_file);
    ini.WriteString("ComPort1", "Port", "COM4");
    TIniFile reopened(m_file);
    EXPECT_EQ(reopened.ReadString("Other", "Key", ""), "1");
    EXPECT_EQ(reopened.ReadString("ComPort1", "Port", ""), "COM4");
    EXPECT_EQ(std::filesystem::status(m_file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(std::filesystem::exists(m_file + ".tmp"));
}

TEST_F(TIniFileOnDisk, AWriteThatCannotBeSavedFailsAndChangesNothing)
{
    const std::string nowhere = (m_dir / "missing-folder" / "port.ini").string();
    TIniFile ini(nowhere);
    try {
        ini.WriteString("ComPort1", "Port", "COM4");
        FAIL() << "the write cannot reach a missing folder";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + nowhere);
    }
    EXPECT_EQ(ini.ReadString("ComPort1", "Port", "dflt"), "dflt") << "the document keeps what the file holds";
}

TEST_F(TIniFileOnDisk, AFileThatCannotBeReadIsReported)
{
    try {
        TIniFile ini(m_dir.string());
        FAIL() << "a folder is no ini file";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to read " + m_dir.string());
    }
    std::ofstream(m_file) << "[ComPort1]\nPort=COM4\n";
    std::filesystem::permissions(m_file, std::filesystem::perms::none);
    if (std::ifstream(m_file)) return; // this user reads files whatever their permissions
    EXPECT_THROW(TIniFile{m_file}, EIniFileException);
}

// ---- The registry key in memory -------------------------------------------------------------------------

std::string RegistryError(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "no error";
}

TEST(TMemoryRegistry, StoresTextAsRegSzAndIntegersAsRegDword)
{
    TMemoryRegistry key;
    key.WriteString("Port", "COM4");
    key.WriteInteger("Buffer.InputSize", -2);
    EXPECT_EQ(*key.FindValue("Port"), (TRegistryValue{"Port", kRegSz, {'C', 'O', 'M', '4', 0}}));
    EXPECT_EQ(*key.FindValue("Buffer.InputSize"),
              (TRegistryValue{"Buffer.InputSize", kRegDword, {0xFE, 0xFF, 0xFF, 0xFF}}));
    EXPECT_EQ(key.ReadString("port"), "COM4");
    EXPECT_EQ(key.ReadInteger("BUFFER.INPUTSIZE"), -2);

    key.WriteString("PORT", "COM5");
    ASSERT_EQ(key.Values().size(), 2u);
    EXPECT_EQ(key.Values()[0].Name, "PORT");
    EXPECT_EQ(key.ReadString("Port"), "COM5");
}

TEST(TMemoryRegistry, ReadsTextAsTheRegistryAccessLayerDoes)
{
    TMemoryRegistry key;
    key.PutValue({"Expand", kRegExpandSz, {'a', 'b', 0}});
    key.PutValue({"Nul", kRegSz, {'a', 0, 'b', 0}});
    key.PutValue({"Unterminated", kRegSz, {'a', 'b'}});
    key.PutValue({"EmptyBinary", kRegBinary, {}});
    key.PutValue({"Binary", kRegBinary, {'a', 0}});
    key.WriteInteger("Number", 1);

    EXPECT_EQ(key.ReadString("Missing"), "");
    EXPECT_EQ(key.ReadString("Expand"), "ab");
    EXPECT_EQ(key.ReadString("Nul"), "a");
    EXPECT_EQ(key.ReadString("Unterminated"), "ab");
    EXPECT_EQ(key.ReadString("EmptyBinary"), "") << "an empty value reads as empty text, whatever its type";
    EXPECT_EQ(RegistryError([&] { key.ReadString("Binary"); }), "Invalid data type for 'Binary'");
    EXPECT_EQ(RegistryError([&] { key.ReadString("Number"); }), "Invalid data type for 'Number'");
}

TEST(TMemoryRegistry, ReadsIntegersOnlyFromDwordValues)
{
    TMemoryRegistry key;
    key.WriteString("Text", "5");
    key.PutValue({"Long", kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}});
    key.PutValue({"Short", kRegDword, {0x34, 0x12}});
    key.PutValue({"Binary", kRegBinary, {1, 0, 0, 0}});

    EXPECT_EQ(RegistryError([&] { key.ReadInteger("Buffer.OutputSize"); }),
              "Failed to get data for 'Buffer.OutputSize'");
    EXPECT_EQ(RegistryError([&] { key.ReadInteger("Long"); }), "Failed to get data for 'Long'");
    EXPECT_EQ(RegistryError([&] { key.ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(RegistryError([&] { key.ReadInteger("Binary"); }), "Invalid data type for 'Binary'");
    EXPECT_EQ(key.ReadInteger("Short"), 0x1234);
}

TEST(TMemoryRegistry, AKeyWithoutWriteAccessRefusesEveryWrite)
{
    TMemoryRegistry key;
    key.WriteString("Port", "COM1");
    key.SetReadOnly(true);
    EXPECT_EQ(RegistryError([&] { key.WriteString("Port", "COM2"); }), "Failed to set data for 'Port'");
    EXPECT_EQ(RegistryError([&] { key.WriteInteger("CustomBaudRate", 1); }), "Failed to set data for 'CustomBaudRate'");
    EXPECT_EQ(key.ReadString("Port"), "COM1");
    EXPECT_EQ(key.FindValue("CustomBaudRate"), nullptr);
}

} // namespace
} // namespace cport
