// The stand-ins for the system and the window that the native tests drive
// the commands with.
#pragma once

#include "fake_services.h"
#include "fake_window.h"
