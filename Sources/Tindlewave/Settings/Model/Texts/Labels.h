#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Model/Config.h"
#include "Model/EngineStatus.h"
#include "Model/Rule.h"
#include "Settings/Model/Edits/ProfileSource.h"

namespace tindlewave {

// The words and symbols the settings pages show for controls, triggers, keys, chords and devices,
// and the sentences under rules and set-up choices.
namespace Labels {

// Names of HID++ controls by id, and of plain mouse buttons by number (0 is the left button).
const std::unordered_map<std::uint16_t, std::string_view>& controlNames();
const std::unordered_map<std::int64_t, std::string_view>& buttonNames();

// "Left Control", "Right Command", ... ("Left Ctrl", "Right Super" over Linux devices: the
// modifier texts are the world's, Runtime/Worlds/WorldTexts.h).
std::string modifierName(HeldModifier modifier);
// The symbol of the modifier the key stands for: ⌃, ⌥, ⇧ or ⌘ (Ctrl, Alt, Shift or Super over
// Linux devices).
std::string modifierSymbol(HeldModifier modifier);

// "Gesture button", "Button 0x1A", "Forward button", "Button 5", "Sends Caps Lock", "Thumb wheel".
std::string control(const Control& control);
// "Click", "Hold", "Scroll", "Hold and move", "Hold, move up", ...
std::string trigger(const Trigger& trigger);
// A key name as a word in sentences: "Left Arrow", "F5", "Caps Lock".
std::string key(std::string_view name);
// The symbols of the modifiers in the set, in the order ⌃⌥⇧⌘ (Ctrl, Alt, Shift, Super over
// Linux devices).
std::vector<std::string> modifierSymbols(Modifiers modifiers);
// A shortcut as the keys read it: "⇧⌘S", "⌥↩", "⌃Space" ("Shift+Super+S", "Alt+↩" over Linux
// devices).
std::string chord(const Chord& chord);
// The sentence under a rule that holds keys; none for an action that holds nothing.
std::optional<std::string> heldKeys(const Action& action);
// The sentence under a hold-to-scroll rule.
std::string holdToScroll(const Control& control, bool hasClickRule);
// Why listening for a press on the device stopped.
std::string listenEnded(ListenEnd end, std::string_view device);
// The generic modifiers of a keyboard event's flag word; every other flag is dropped.
Modifiers modifiers(std::uint64_t flags);
// "Built-in keyboard", or "Vendor 0x046D, product 0xB023".
std::string match(const DeviceMatch& match);
// The title of a set-up choice: "MX Master 3 preset", "Same as Desk mouse", "Nothing yet", ...
std::string setUpItem(const ProfileSource& source, const Config& config);
// The help line of a set-up choice.
std::string setUpHelp(const ProfileSource& source, const Config& config);

}  // namespace Labels

}  // namespace tindlewave
