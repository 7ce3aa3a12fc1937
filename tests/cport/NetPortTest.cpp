// SPDX-License-Identifier: GPL-3.0-or-later
// Network port names: which names mean the network, what they give, and what is said when one is wrong.

#include "cport/NetPort.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

TEST(NetPortName, UrlsGiveKindHostAndPortAndComposeBack)
{
    const struct {
        const char* name;
        TNetPortAddress address;
        const char* composed;
    } cases[] = {
        {"socket://192.168.1.20:4001", {npRaw, "192.168.1.20", 4001}, "socket://192.168.1.20:4001"},
        {"rfc2217://boiler-box.local:2217", {npRfc2217, "boiler-box.local", 2217}, "rfc2217://boiler-box.local:2217"},
        {"RFC2217://[::1]:65535", {npRfc2217, "::1", 65535}, "rfc2217://[::1]:65535"},
        {"socket://[fe80::1%eth0]:1", {npRaw, "fe80::1%eth0", 1}, "socket://[fe80::1%eth0]:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(IsNetPortName(c.name));
        const std::optional<TNetPortAddress> address = ParseNetPortName(c.name);
        ASSERT_TRUE(address);
        EXPECT_EQ(*address, c.address);
        EXPECT_EQ(NetPortName(*address), c.composed);
    }
}

TEST(NetPortName, SerialNamesAreNotNetworkNames)
{
    for (const char* name : {"ttyUSB0", "/dev/ttyS0", "COM3", "", "./a://b", "1x://host:1"}) {
        EXPECT_FALSE(IsNetPortName(name)) << name;
    }
}

TEST(NetPortName, WrongNamesAreRefusedWithWhatIsWrong)
{
    const struct {
        const char* name;
        const char* says;
    } cases[] = {
        {"tcp://host:1", "unknown kind of network port \"tcp\""},
        {"socket://host", "port number is missing"},
        {"socket://host:", "\"\" is not a TCP port number"},
        {"socket://host:0", "\"0\" is not a TCP port number (1 to 65535)"},
        {"socket://host:65536", "\"65536\""},
        {"socket://host:+80", "\"+80\""},
        {"socket://host:80/path", "\"80/path\""},
        {"socket://::1:80", "an IPv6 address goes in brackets"},
        {"socket://[::1:80", "lacks its \"]\""},
        {"socket://[::1]", "port number is missing"},
        {"socket://[host]:80", "\"host\" is not an IPv6 address"},
        {"socket://:80", "\"\" is not a host name or address"},
        {"socket://bad host:80", "\"bad host\" is not a host name"},
        {"socket://a..b:80", "\"a..b\""},
    };
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_FALSE(ParseNetPortName(c.name, &problem)) << c.name;
        EXPECT_NE(problem.find(c.says), std::string::npos) << c.name << ": " << problem;
        EXPECT_NE(problem.find("socket://HOST:PORT or rfc2217://HOST:PORT"), std::string::npos) << problem;
    }
}

} // namespace
} // namespace cport
