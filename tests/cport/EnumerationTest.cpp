// SPDX-License-Identifier: GPL-3.0-or-later
// Listing the installed serial ports: the listing rules over a scripted key, the Linux sysfs source on
// a made-up sysfs tree and on this machine, and the virtual ports a program publishes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cwctype>
#include <locale>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "SysfsSerialDevices.h"
#include "cport/Enumeration.h"
#include "support/TempDir.h"

namespace cport {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

TRegistryValue Serial(const std::string& data)
{
    static int counter = 0;
    return TRegistryValue::Text("\\Device\\Serial" + std::to_string(counter++), data);
}

// Plays a registry key of published serial devices: its values, a missing key, an error or an
// exception at some index; it counts the keys that are open.
class ScriptedSource : public TSerialDeviceSource {
public:
    std::optional<std::vector<TRegistryValue>> Values = std::vector<TRegistryValue>{};
    std::optional<std::uint32_t> FailAt;
    long FailWith = kErrorAccessDenied;
    bool ThrowAtFailure = false;
    int OpenKeys = 0;

    std::unique_ptr<TSerialDeviceKey> OpenKey() override
    {
        if (!Values) return nullptr;
        return std::make_unique<Key>(*this);
    }

private:
    class Key : public TSerialDeviceKey {
    public:
        explicit Key(ScriptedSource& source) : m_source(source), m_values(*source.Values) { ++m_source.OpenKeys; }
        ~Key() override { --m_source.OpenKeys; }
        long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                       std::uint8_t* data, std::uint32_t& dataSize) override
        {
            EXPECT_EQ(nameSize, 256u);
            EXPECT_EQ(dataSize, 256u);
            if (m_source.FailAt == index) {
                if (m_source.ThrowAtFailure) throw std::runtime_error("device map unreadable");
                return m_source.FailWith;
            }
            return m_values.EnumValue(index, name, nameSize, type, data, dataSize);
        }

    private:
        ScriptedSource& m_source;
        TValueListKey m_values;
    };
};

std::vector<std::string> ListFrom(ScriptedSource& source, std::vector<std::string> list = {})
{
    ListSerialPorts(list, source);
    EXPECT_EQ(source.OpenKeys, 0) << "the key is closed after listing";
    return list;
}

TEST(ListSerialPorts, SortsWithoutNumericOrdering)
{
    ScriptedSource source;
    source.Values = {Serial("COM3"), Serial("COM1"), Serial("COM10"), Serial("COM2")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM1", "COM10", "COM2", "COM3"));
}

TEST(ListSerialPorts, KeepsDuplicates)
{
    ScriptedSource source;
    source.Values = {Serial("COM4"), Serial("COM1"), Serial("COM4")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM1", "COM4", "COM4"));
}

TEST(ListSerialPorts, IgnoresLetterCaseInTheOrder)
{
    ScriptedSource source;
    source.Values = {Serial("com5"), Serial("COM4"), Serial("Com6")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM4", "com5", "Com6"));

    // Names equal but for letter case keep the order in which they were read.
    source.Values = {Serial("com7"), Serial("COM7")};
    EXPECT_THAT(ListFrom(source), ElementsAre("com7", "COM7"));
    source.Values = {Serial("COM7"), Serial("com7")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM7", "com7"));
}

TEST(ListSerialPorts, ReplacesTheWholeListOnSuccess)
{
    ScriptedSource source;
    source.Values = {Serial("COM2")};
    EXPECT_THAT(ListFrom(source, {"COM9", "old entry"}), ElementsAre("COM2"));

    source.Values = std::vector<TRegistryValue>{};
    EXPECT_THAT(ListFrom(source, {"COM9"}), IsEmpty()) << "an empty key empties the list";
}

TEST(ListSerialPorts, LeavesTheListAsItWasWhenTheKeyIsMissing)
{
    ScriptedSource source;
    source.Values = std::nullopt;
    EXPECT_THAT(ListFrom(source, {"COM1"}), ElementsAre("COM1"));
}

TEST(ListSerialPorts, OversizedDataEndsTheListing)
{
    ScriptedSource source;
    source.Values = {Serial("COM5"), Serial("COM3"), Serial(std::string(256, 'X')), Serial("COM1")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM3", "COM5"));

    // 255 characters and the NUL fill the 256-byte buffer exactly and are listed.
    const std::string longest(255, 'Y');
    source.Values = {Serial("COM5"), Serial(longest), Serial("COM1")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM1", "COM5", longest));
}

TEST(ListSerialPorts, OversizedValueNameEndsTheListing)
{
    ScriptedSource source;
    source.Values = {Serial("COM2"), TRegistryValue::Text(std::string(256, 'N'), "COM1"), Serial("COM3")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM2"));

    source.Values = {Serial("COM2"), TRegistryValue::Text(std::string(255, 'N'), "COM1"), Serial("COM3")};
    EXPECT_THAT(ListFrom(source), ElementsAre("COM1", "COM2", "COM3"));
}

TEST(ListSerialPorts, AnErrorPartWayReturnsWhatWasReadSorted)
{
    ScriptedSource source;
    source.Values = {Serial("COM8"), Serial("COM6"), Serial("COM7")};
    source.FailAt = 2;
    EXPECT_THAT(ListFrom(source, {"before"}), ElementsAre("COM6", "COM8"));

    source.FailAt = 0;
    EXPECT_THAT(ListFrom(source, {"before"}), IsEmpty()) << "the key opened, so the list is replaced";
}

TEST(ListSerialPorts, ListsNonTextDataLessItsLastByte)
{
    ScriptedSource source;
    source.Values = {
        TRegistryValue{"binary", kRegBinary, {'C', 'O', 'M', '9', '!'}},
        TRegistryValue::Integer("number", 0x00333231), // "123" and a zero byte
        TRegistryValue{"unterminated", kRegSz, {'C', 'O', 'M', '1', '2'}},
        TRegistryValue{"empty", kRegSz, {}},
        TRegistryValue{"nul only", kRegSz, {0}},
    };
    EXPECT_THAT(ListFrom(source), ElementsAre("", "", "123", "COM1", "COM9"));
}

TEST(ListSerialPorts, ClosesTheKeyAndKeepsTheListWhenReadingThrows)
{
    ScriptedSource source;
    source.Values = {Serial("COM1"), Serial("COM2")};
    source.FailAt = 1;
    source.ThrowAtFailure = true;
    std::vector<std::string> list{"kept"};
    EXPECT_THROW(ListSerialPorts(list, source), std::runtime_error);
    EXPECT_EQ(source.OpenKeys, 0);
    EXPECT_THAT(list, ElementsAre("kept"));
}

TEST(ListSerialPorts, SortsWindows1250LettersByTheLocale)
{
    std::locale user;
    try {
        user = std::locale("");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "the environment names no locale the system knows";
    }
    if (std::tolower(L'\u0160', user) != L'\u0161') GTEST_SKIP() << "the user's locale has no case for S with caron";

    // "\x8A" and "\x9A" are the capital and small S with caron in Windows-1250 (in Latin-1 they would
    // be two control codes). Ordered by code, the capital would come first; without regard to case
    // the digit after it decides.
    ScriptedSource source;
    source.Values = {Serial("\x8A"
                            "2"),
                     Serial("\x9A"
                            "1"),
                     Serial("a")};
    EXPECT_THAT(ListFrom(source), ElementsAre("a",
                                              "\x9A"
                                              "1",
                                              "\x8A"
                                              "2"));
}

// ---- Virtual ports -----------------------------------------------------------------------------------

// Withdraws every publication a test made, so tests do not leak names into each other.
class VirtualPortsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::string& name : VirtualPorts())
            while (WithdrawVirtualPort(name)) {
            }
    }
};

TEST_F(VirtualPortsTest, PublicationsAreCountedAndListedOnce)
{
    PublishVirtualPort("/dev/pts/7");
    PublishVirtualPort("demo-relay");
    PublishVirtualPort("/dev/pts/7");
    EXPECT_THAT(VirtualPorts(), ElementsAre("/dev/pts/7", "demo-relay"));

    EXPECT_TRUE(WithdrawVirtualPort("/dev/pts/7"));
    EXPECT_THAT(VirtualPorts(), ElementsAre("/dev/pts/7", "demo-relay")) << "still published once";
    EXPECT_TRUE(WithdrawVirtualPort("/dev/pts/7"));
    EXPECT_THAT(VirtualPorts(), ElementsAre("demo-relay"));
    EXPECT_FALSE(WithdrawVirtualPort("/dev/pts/7"));
    EXPECT_FALSE(WithdrawVirtualPort("DEMO-RELAY")) << "names are compared exactly";
}

TEST_F(VirtualPortsTest, RefusesNamesThatCouldNotBeListed)
{
    EXPECT_THROW(PublishVirtualPort(""), std::invalid_argument);
    EXPECT_THROW(PublishVirtualPort(std::string("pts\0x", 5)), std::invalid_argument);
    EXPECT_THROW(PublishVirtualPort(std::string(256, 'p')), std::invalid_argument);
    EXPECT_NO_THROW(PublishVirtualPort(std::string(255, 'p')));
    EXPECT_THAT(VirtualPorts(), ElementsAre(std::string(255, 'p')));
}

// ---- The Linux source on a made-up sysfs tree ----------------------------------------------------------

class SysfsTree : public VirtualPortsTest {
protected:
    // A tty class entry; `parent` gives it a device link, `type` a serial-core type attribute.
    void AddTty(const std::string& name, bool parent, std::optional<std::string> type = std::nullopt)
    {
        const std::filesystem::path devices = m_root / "devices" / name;
        std::filesystem::create_directories(devices);
        if (parent) {
            std::filesystem::create_directories(m_root / "devices" / (name + "-parent"));
            std::filesystem::create_directory_symlink("../" + name + "-parent", devices / "device");
        }
        if (type) std::ofstream(devices / "type") << *type << '\n';
        std::filesystem::create_directories(m_root / "class" / "tty");
        std::filesystem::create_directory_symlink(devices, m_root / "class" / "tty" / name);
    }

    std::vector<std::string> List(std::vector<std::string> list = {})
    {
        const std::unique_ptr<TSerialDeviceSource> source = CreateSysfsSerialDeviceSource(m_root.string());
        ListSerialPorts(list, *source);
        return list;
    }

    varmio::test::TempDir m_temp;
    const std::filesystem::path& m_root = m_temp.Path();
};

TEST_F(SysfsTree, ListsHardwareTtysAndLeavesOutSlotsWithoutAUart)
{
    AddTty("ttyS0", true, "4"); // 16550A
    AddTty("ttyS1", true, "0"); // slot without a UART
    AddTty("ttyS2", true, "0");
    AddTty("ttyAMA0", true, "83"); // on-board UART of another driver
    AddTty("ttyUSB0", true);       // USB serial adapters have no serial-core type
    AddTty("ttyACM0", true);
    AddTty("rfcomm0", false); // bound Bluetooth RFCOMM, not yet connected
    AddTty("tty1", false);    // virtual console
    AddTty("console", false);
    AddTty("ptmx", false);
    AddTty("ttyS3", true, "garbage"); // unreadable type: listed, as the device is there

    EXPECT_THAT(*SysfsSerialTtyNames(m_root.string()),
                UnorderedElementsAre("ttyS0", "ttyAMA0", "ttyUSB0", "ttyACM0", "rfcomm0", "ttyS3"));
    EXPECT_THAT(List(), ElementsAre("rfcomm0", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS3", "ttyUSB0"));
}

TEST_F(SysfsTree, AppendsThePublishedVirtualPorts)
{
    AddTty("ttyUSB1", true);
    PublishVirtualPort("/dev/pts/3");
    PublishVirtualPort("ttyUSB1"); // a name published twice by different parties stays twice
    EXPECT_THAT(List(), ElementsAre("/dev/pts/3", "ttyUSB1", "ttyUSB1"));
}

TEST_F(SysfsTree, AMissingTtyClassLeavesTheListUnlessVirtualPortsArePublished)
{
    EXPECT_EQ(SysfsSerialTtyNames(m_root.string()), std::nullopt);
    EXPECT_THAT(List({"COM1"}), ElementsAre("COM1"));

    PublishVirtualPort("demo");
    EXPECT_THAT(List({"COM1"}), ElementsAre("demo"));
}

TEST_F(SysfsTree, AnEmptyTtyClassGivesAnEmptyList)
{
    std::filesystem::create_directories(m_root / "class" / "tty");
    EXPECT_THAT(List({"COM1"}), IsEmpty());
}

// ---- This machine ------------------------------------------------------------------------------------

bool IsCharacterDevice(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

TEST(ListSerialPortsOnThisMachine, HoldsTheRealSerialDevicesAndNoPhantomSlots)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory("/sys/class/tty", ec)) GTEST_SKIP() << "no sysfs tty class here";

    std::vector<std::string> list;
    ListSerialPorts(list);

    for (const std::string& name : list) {
        EXPECT_TRUE(fs::exists("/sys/class/tty/" + name + "/device") || name.starts_with("rfcomm")) << name;
        std::ifstream type("/sys/class/tty/" + name + "/type");
        std::string text;
        if (type >> text) {
            EXPECT_NE(text, "0") << name << " is a slot without a UART";
        }
        if (fs::exists("/dev/" + name)) {
            EXPECT_TRUE(IsCharacterDevice("/dev/" + name)) << name;
        }
    }
    // Every USB serial adapter and CDC-ACM modem the kernel knows is listed.
    for (const fs::directory_entry& tty : fs::directory_iterator("/sys/class/tty")) {
        const std::string name = tty.path().filename().string();
        if (name.starts_with("ttyUSB") || name.starts_with("ttyACM")) {
            EXPECT_THAT(list, ::testing::Contains(name));
        }
        if (name.starts_with("tty") && name.size() > 3 && std::isdigit(static_cast<unsigned char>(name[3]))) {
            EXPECT_THAT(list, ::testing::Not(::testing::Contains(name))) << "virtual consoles are not serial ports";
        }
    }
}

} // namespace
} // namespace cport
