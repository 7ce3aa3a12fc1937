// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzz input: a stream from a Telnet/Com Port Control server, fed to the client in pieces whose
// size the first byte picks. Besides not crashing, the client must never give more data than it got,
// its outbox must stay in proportion to its input whatever the server asks, and data with every 0xFF
// doubled must come back as it was.

#include "net/ComPortControl.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cport::device::telnet;
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    ComPortClient client;
    client.Start();
    client.TakeOutput();
    std::vector<std::uint8_t> buffer;
    for (std::size_t at = 1; at < size; at += piece) {
        const std::size_t n = std::min(piece, size - at);
        buffer.assign(data + at, data + at + n);
        Require(client.Receive(buffer.data(), n, buffer.data()) <= n);
        Require(client.TakeOutput().size() <= n + 3); // at most one three-byte answer per three-byte request
        Require(client.TakeModemReports().size() <= n);
        client.TakeLineState();
    }

    // The same bytes as data, escaped as a server sends them, come back unchanged.
    std::vector<std::uint8_t> escaped;
    for (std::size_t i = 1; i < size; ++i) {
        escaped.push_back(data[i]);
        if (data[i] == IAC) escaped.push_back(IAC);
    }
    ComPortClient fresh;
    std::vector<std::uint8_t> out(escaped.size());
    const std::size_t got = fresh.Receive(escaped.data(), escaped.size(), out.data());
    Require(got == size - 1 && std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got), data + 1));
    return 0;
}
