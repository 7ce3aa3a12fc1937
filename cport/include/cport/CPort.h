#pragma once
// The serial port component: everything a user of the port includes.

#include "cport/Errors.h"
#include "cport/Framework.h"
#include "cport/Set.h"
#include "cport/Settings.h"
