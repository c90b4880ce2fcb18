#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Modifiers as the user sees them. The simulated world shows the quoted symbols and words
// (⌃ Control, ⌥ Option, ⇧ Shift, ⌘ Command); over Linux devices the names Linux keyboards and
// desktops use: Ctrl, Alt, Shift and Super (the program's Command is the Super key, its Option
// is Alt). Always in the order Control, Option, Shift, Command. The settings file keeps its own
// words (`ctrl`, `option`, `shift`, `cmd`).

// Each modifier of the set as a key cap shows it: "⌃", "⌘", or "Ctrl", "Super".
std::vector<std::string> modifierSymbols(Modifiers modifiers);
// One modifier in words: "Control", "Option", "Shift", "Command", or "Ctrl", "Alt", "Shift",
// "Super". Empty unless `modifier` is exactly one of the four.
std::string modifierName(Modifiers modifier);
// The modifiers of the set in words, joined by "+": "Shift+Command", or "Shift+Super" over Linux
// devices; empty for none.
std::string modifierNames(Modifiers modifiers);
// The generic modifiers of a keyboard event's flag word (side-specific and other bits dropped).
Modifiers modifiersOfFlags(std::uint64_t flags);
// A modifier key with its side: "Left Command", "Right Option", or "Left Super", "Right Alt".
std::string modifierKeyName(HeldModifier modifier);
// A shortcut of the modifiers and a key, the key as the caller shows it: "⇧⌘4", or
// "Shift+Super+4" over Linux devices (modifiers only, without the "+" after them, when `key`
// is empty).
std::string shortcutText(Modifiers modifiers, std::string_view key);

}  // namespace tindlewave
