// SPDX-License-Identifier: GPL-3.0-or-later
// The user's list of network relays in the configuration file: what is read, what is added, what the
// file keeps besides, and a file that cannot be written.

#include "support/TempDir.h"
#include "varmio/NetRelays.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace varmio {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(NetRelays, TheConfigurationFileFollowsXdgConfigHome)
{
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = before ? before : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserConfigPath(), "/cfg/varmio/varmio.ini");
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored, as the standard says
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(UserConfigPath(), "/home/u/.config/varmio/varmio.ini");
    if (before) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", home.c_str(), 1);
}

TEST(NetRelays, ValidNamesAreReadInOrderAndAddedOnesKeepTheRestOfTheFile)
{
    TempDir dir;
    const std::string file = dir / "sub/varmio.ini";
    std::filesystem::create_directories(dir / "sub");
    std::ofstream(file) << "[Window]\nPort=COM3\n[NetRelays]\nRelay1=socket://a:1\nRelay2=not a relay\n"
                           "Relay3=rfc2217://[::1]:2217\nRelay4=socket://a:1\n";
    NetRelayList list(file);
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"socket://a:1", "rfc2217://[::1]:2217"}));

    list.Add("socket://b:2");
    list.Add("socket://a:1"); // listed already: nothing written
    EXPECT_EQ(list.Names().back(), "socket://b:2");
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("Port=COM3"), std::string::npos) << text;
    EXPECT_NE(text.find("Relay2=not a relay"), std::string::npos) << "a hand-written line is left alone";
    EXPECT_NE(text.find("Relay5=socket://b:2"), std::string::npos) << text;
    EXPECT_EQ(NetRelayList(file).Names().size(), 3u);

    EXPECT_TRUE(NetRelayList(dir / "missing/varmio.ini").Names().empty());
    NetRelayList fresh(dir / "new/folder/varmio.ini");
    fresh.Add("socket://c:3");
    EXPECT_EQ(NetRelayList(dir / "new/folder/varmio.ini").Names(), std::vector<std::string>{"socket://c:3"});
}

TEST(NetRelays, AFileThatCannotBeWrittenIsNamedAndTheRelayStaysListed)
{
    TempDir dir;
    std::ofstream(dir / "blocker") << "a file where the folder should be";
    NetRelayList list(dir / "blocker/varmio.ini");
    try {
        list.Add("socket://a:1");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "blocker/varmio.ini"), std::string::npos) << e.what();
    }
    EXPECT_EQ(list.Names(), std::vector<std::string>{"socket://a:1"});
}

} // namespace
} // namespace varmio
