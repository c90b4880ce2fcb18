#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Model/Config.h"
#include "Model/EnumText.h"

namespace tindlewave {

// A ready-made device profile: for a known mouse model, or the hyper key on any keyboard.
enum class DevicePreset { mxMaster3, mouse24G, keyboard };

// Texts "mxMaster3", "mouse24G" and "keyboard": the case names, as log lines print them.
std::string_view toText(DevicePreset preset);
template <>
std::optional<DevicePreset> fromText<DevicePreset>(std::string_view text);
template <>
std::span<const DevicePreset> allCases<DevicePreset>();

// The preset's full profile for a device, with that device's match and the user's name for it.
DeviceProfile presetProfile(DevicePreset preset, const DeviceMatch& match, std::string name);

// The presets that fit a new device, a model preset first: at most two.
std::vector<DevicePreset> offeredPresets(const DeviceMatch& match, DeviceKind kind);

// Whether the preset is made for a model and the match is not that model (never for `keyboard`).
bool isForAnotherModel(DevicePreset preset, const DeviceMatch& match);

}  // namespace tindlewave
