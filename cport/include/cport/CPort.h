// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial port component: everything a user of the port includes.

#include "cport/ComPort.h"
#include "cport/Enumeration.h"
#include "cport/Errors.h"
#include "cport/Framework.h"
#include "cport/MainThread.h"
#include "cport/NetPort.h"
#include "cport/Persistence.h"
#include "cport/Registry.h"
#include "cport/Set.h"
#include "cport/Settings.h"
