#pragma once
// The port-bound controls and their Qt glue: everything a Qt program of the port component includes.

#include "cport/CPort.h"
#include "cportctl/QtMainThread.h"
