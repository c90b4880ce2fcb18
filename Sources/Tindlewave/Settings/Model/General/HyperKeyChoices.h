#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model/Keys.h"
#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"

namespace tindlewave {

// What the Hyper Key page offers and sends, as plain values.
namespace HyperKeyChoices {

// The keys offered for the hyper key: Caps Lock, then F1 to F12 (a name the key table does not
// know is left out). Built once.
const std::vector<HIDUsage>& keys();
// The picker's items: the offered keys, then `current` when it is not among them, so a key set in
// the file by hand stays selectable.
std::vector<HIDUsage> offered(HIDUsage current);
// An item's text: the key's word ("Caps Lock", "F5"), or its usage number for a key without a name.
std::string keyLabel(HIDUsage usage);

// A keyboard's status line under its toggle.
std::string detail(const SettingsDevice& keyboard);
// Whether the keyboard's toggle shows on: it has a profile whose hyper-key switch is on.
bool isOn(const SettingsDevice& keyboard);
// What turning the keyboard's toggle sends: a new keyboard is set up with the keyboard preset
// whatever the new value; a configured one gets its hyper-key switch.
SettingsEdit toggled(const SettingsDevice& keyboard, bool on);

// The page's fixed texts, in the world's modifier names: the four modifiers as the "While held"
// row shows them, the Key row's and the While-held row's explanations, how it works, and the
// caveat below it (none over Linux devices, where the hyper key works below the display server,
// password fields included).
struct PageTexts {
    std::string heldSymbols;
    std::string keyHelp;
    std::string whileHeldHelp;
    std::string howItWorks;
    std::optional<std::string> caveat;
};
PageTexts pageTexts();

}  // namespace HyperKeyChoices

}  // namespace tindlewave
