// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/NetPort.h"

#include "AsciiCase.h"

#include <array>
#include <charconv>
#include <initializer_list>

namespace cport {

namespace {

constexpr std::string_view kSchemeEnd = "://";

struct Scheme {
    std::string_view name;
    TNetPortKind kind;
};
constexpr std::array<Scheme, 2> kSchemes{{{"socket", npRaw}, {"rfc2217", npRfc2217}}};

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A host name or an IPv4 address: letters, digits, '-' and '.'; no empty label.
bool IsHostName(std::string_view host)
{
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
        return false;
    for (const char c : host)
        if (!IsAlpha(c) && !IsDigit(c) && c != '-' && c != '.') return false;
    return true;
}

// The inside of an IPv6 literal's brackets: hex digits, ':' and '.', with at least one ':'; a zone
// ("%eth0") may follow. Whether it is a valid address the resolver decides.
bool IsIpv6Text(std::string_view host)
{
    const std::string_view address = host.substr(0, host.find('%'));
    if (address.find(':') == std::string_view::npos) return false;
    for (const char c : address)
        if (!IsDigit(c) && !((c | 0x20) >= 'a' && (c | 0x20) <= 'f') && c != ':' && c != '.') return false;
    return address.size() < host.size() ? host.size() > address.size() + 1 : true;
}

// The sentence about a wrong name, built by appending its pieces (past GCC 12's false overlap warning
// on prepending to a temporary at -O3).
std::optional<TNetPortAddress> Refuse(std::string* problem, std::initializer_list<std::string_view> pieces)
{
    if (problem) {
        problem->clear();
        for (const std::string_view piece : pieces) problem->append(piece);
        problem->append(" (socket://HOST:PORT or rfc2217://HOST:PORT, an IPv6 host in brackets)");
    }
    return std::nullopt;
}

} // namespace

bool IsNetPortName(std::string_view name)
{
    const std::size_t end = name.find(kSchemeEnd);
    if (end == std::string_view::npos || end == 0 || !IsAlpha(name.front())) return false;
    for (const char c : name.substr(0, end))
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

std::optional<TNetPortAddress> ParseNetPortName(std::string_view name, std::string* problem)
{
    if (!IsNetPortName(name)) return Refuse(problem, {"\"", name, "\"", " is not a network port name"});

    TNetPortAddress address;
    const std::size_t schemeEnd = name.find(kSchemeEnd);
    const std::string_view scheme = name.substr(0, schemeEnd);
    bool known = false;
    for (const Scheme& s : kSchemes) {
        if (EqualIgnoringAsciiCase(scheme, s.name)) {
            address.Kind = s.kind;
            known = true;
        }
    }
    if (!known) return Refuse(problem, {"\"", name, "\"", ": unknown kind of network port \"", scheme, "\""});

    const std::string_view rest = name.substr(schemeEnd + kSchemeEnd.size());
    std::string_view host;
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return Refuse(problem, {"\"", name, "\"", ": the IPv6 address lacks its \"]\""});
        host = rest.substr(1, close - 1);
        if (!IsIpv6Text(host)) return Refuse(problem, {"\"", name, "\"", ": \"", host, "\" is not an IPv6 address"});
        if (rest.size() == close + 1 || rest[close + 1] != ':')
            return Refuse(problem, {"\"", name, "\"", ": the TCP port number is missing"});
        portText = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return Refuse(problem, {"\"", name, "\"", ": the TCP port number is missing"});
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return Refuse(problem, {"\"", name, "\"", ": an IPv6 address goes in brackets"});
        if (!IsHostName(host))
            return Refuse(problem, {"\"", name, "\"", ": \"", host, "\" is not a host name or address"});
    }
    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    const bool digitsOnly = !portText.empty() && IsDigit(portText.front());
    if (!digitsOnly || error != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535)
        return Refuse(problem, {"\"", name, "\"", ": \"", portText, "\" is not a TCP port number (1 to 65535)"});
    address.Host = std::string(host);
    address.Port = static_cast<std::uint16_t>(port);
    return address;
}

std::string NetPortName(const TNetPortAddress& address)
{
    const std::string host = address.Host.find(':') != std::string::npos ? "[" + address.Host + "]" : address.Host;
    return std::string(kSchemes[address.Kind].name) + "://" + host + ":" + std::to_string(address.Port);
}

} // namespace cport
