#pragma once

#include <string>

#include "Model/Rule.h"

namespace tindlewave {

// Which world the program's texts speak of: the simulated desktop (whose texts point at the
// settings panes of the system the program was first designed for) or this Linux computer's own
// devices, where those texts would send the user nowhere. Set once at start, before any text is
// shown; read from any thread. The configuration file keeps its own words either way.
enum class WorldTexts { simulated, linuxDevices };

void setWorldTexts(WorldTexts texts);
WorldTexts worldTexts();

// A system action's name in the Do picker and the action log ("Mission Control", or "Overview"
// over Linux devices).
std::string systemActionName(SystemAction action);

}  // namespace tindlewave
