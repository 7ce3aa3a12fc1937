// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port-bound controls and their Qt glue: everything a Qt program of the port component includes.

#include "cport/CPort.h"
#include "cportctl/ComComboBox.h"
#include "cportctl/ComLed.h"
#include "cportctl/ComSelect.h"
#include "cportctl/QtMainThread.h"
#include "cportctl/Strings.h"
