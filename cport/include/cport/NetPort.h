// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Port names of serial lines reached over the network, in the URL form serial libraries share:
//   socket://HOST:PORT    a raw TCP serial bridge (bytes in, bytes out, line settings fixed at the bridge)
//   rfc2217://HOST:PORT   Telnet with the Com Port Control option (the line settings travel to the server)
// HOST is an IPv4 address, a host name, or an IPv6 address in brackets ([::1]); PORT is 1 to 65535.
// A port whose name has such a form opens the network device instead of a serial device.
//
// Threads: free functions without state; callable from any thread.

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace cport {

// How a network port talks to its bridge: raw bytes (socket://) or Telnet with Com Port Control (rfc2217://).
enum TNetPortKind : std::uint8_t { npRaw, npRfc2217 };

// A network port name taken apart.
struct TNetPortAddress {
    TNetPortKind Kind = npRaw; // the scheme
    std::string Host;          // without the brackets of an IPv6 address
    std::uint16_t Port = 0;    // the TCP port
    friend bool operator==(const TNetPortAddress&, const TNetPortAddress&) = default;
};

// True when `name` starts with a URL scheme ("letters://"): the name is meant as a network port,
// valid or not, and never names a serial device.
bool IsNetPortName(std::string_view name);

// The address a network port name gives, or nothing when the name is not a valid one; `problem` then
// receives a sentence that says what is wrong, for the user.
std::optional<TNetPortAddress> ParseNetPortName(std::string_view name, std::string* problem = nullptr);

// The port name of an address (brackets around an IPv6 host).
std::string NetPortName(const TNetPortAddress& address);

// Whether the bridge a network port name gives can be reached: looks the host up and connects to it as
// opening the port does (with the same timeout), then closes the connection at once. Returns 0, or the
// error number the open would fail with (EINVAL for a name that is not a valid network port name).
// It blocks for as long as the lookup and the connection take (seconds for a host that does not
// answer), so a window runs it on a thread of its own; a stop requested through `stop` ends the wait
// for the connection at once with ECANCELED (a name lookup under way runs to its end first).
int ProbeNetPort(std::string_view name, const std::stop_token& stop = {});

} // namespace cport
