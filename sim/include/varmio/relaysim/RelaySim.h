// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay simulator library (target varmio_relaysim): everything behind the varmio-relay-sim
// program, for programs that run the simulator inside themselves.

#include "varmio/relaysim/ByteSource.h"
#include "varmio/relaysim/CaptureReplay.h"
#include "varmio/relaysim/Conversation.h"
#include "varmio/relaysim/Pacer.h"
#include "varmio/relaysim/Packet.h"
#include "varmio/relaysim/PseudoTerminal.h"
#include "varmio/relaysim/RelayLine.h"
#include "varmio/relaysim/RelaySimulator.h"
#include "varmio/relaysim/TcpBridge.h"
