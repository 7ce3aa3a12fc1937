// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reaching a network port's bridge: the name lookup and the TCP connection with its timeout, shared by
// the network device's open and ProbeNetPort (cport/NetPort.h).
//
// Threads: any thread; no state.

#include "cport/NetPort.h"

#include <chrono>
#include <stop_token>

namespace cport::device {

// How long a connection to a bridge may take, all addresses of the host together.
inline constexpr std::chrono::seconds kConnectTimeout{5};

// The milliseconds left until `deadline`, as poll() takes them (0 once it has passed, at most a minute).
int Remaining(std::chrono::steady_clock::time_point deadline);

// Connects a non-blocking TCP socket to the first address of `address` that answers within
// kConnectTimeout and stores it in `fd`; returns 0, or the error number (ENXIO for a host that does
// not resolve, ECONNREFUSED, ETIMEDOUT, ...). A stop requested through `stop` ends the wait for the
// connection at once with ECANCELED; the name lookup itself runs to its end.
int ConnectTcp(const TNetPortAddress& address, int& fd, const std::stop_token& stop = {});

} // namespace cport::device
