#pragma once

// Configurations and devices the engine's tests share.

#include <utility>
#include <vector>

#include "Model/Config.h"
#include "Model/Rule.h"
#include "Platform/Simulated/Devices/SimulatedDevice.h"

namespace tindlewave::testkit {

inline const DeviceMatch masterMatch = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
inline const DeviceMatch keyboardMatch = DeviceMatch::device(VendorID{0x05AC}, ProductID{0x024F});
inline const DeviceMatch plainMouseMatch = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});

inline Action shortcut(std::uint16_t key, Modifiers modifiers = Modifiers::command) {
    return Action::shortcut(Chord{KeyCode{key}, modifiers});
}

inline DeviceProfile profile(DeviceMatch match, std::string name, std::vector<Rule> rules = {},
                             std::optional<DeviceKind> kind = std::nullopt) {
    DeviceProfile profile{std::move(match), std::move(name), kind};
    if (!rules.empty()) profile.rules = std::move(rules);
    return profile;
}

// The recorded MX Master 3 with a click on its back button.
inline DeviceProfile masterProfile() {
    return profile(masterMatch, "MX Master 3",
                   {Rule{Control::hidpp(CID{0x53}), Trigger::click(), shortcut(0x7B)}});
}

// An external keyboard whose Caps Lock is the hyper key.
inline DeviceProfile hyperKeyboardProfile() {
    DeviceProfile keyboard = profile(keyboardMatch, "Keyboard", {}, DeviceKind::keyboard);
    keyboard.hyper = true;
    return keyboard;
}
inline SimulatedDevice hyperKeyboard(std::uint32_t location = 0x100) {
    return SimulatedDevice::externalKeyboard(0x05AC, 0x024F, "Keyboard", location);
}

// A plain mouse whose button 4 sends a shortcut through the event tap.
inline DeviceProfile plainMouseProfile() {
    return profile(plainMouseMatch, "Plain Mouse",
                   {Rule{Control::button(4), Trigger::click(), shortcut(0x7C)}});
}
inline SimulatedDevice plainMouse(std::uint32_t location = 0x200) {
    return SimulatedDevice::plainMouse(0x1234, 0x0001, "Plain Mouse", location);
}

inline Config configWith(std::vector<DeviceProfile> devices) {
    Config config = Config::empty();
    config.devices = std::move(devices);
    return config;
}

}  // namespace tindlewave::testkit
