#include "Settings/Model/Devices/SetupChoices.h"

#include <algorithm>

namespace tindlewave {

SetupChoices SetupChoices::make(const SettingsDevice& device, const Config& config) {
    const std::vector<DevicePreset> presets = offeredPresets(device.match, device.kind);
    std::vector<ProfileSource> list;
    for (DevicePreset preset : presets) list.push_back(ProfileSource::preset(preset));
    if (device.kind == DeviceKind::mouse) list.push_back(ProfileSource::blank());
    for (const DeviceProfile& profile : config.devices) {
        if (SettingsDevice::profileKind(profile) != device.kind) continue;
        if (profile == DeviceProfile{profile.match, profile.name}) continue;
        const bool isPreset = std::ranges::any_of(presets, [&](DevicePreset preset) {
            return profile == presetProfile(preset, profile.match, profile.name);
        });
        if (!isPreset) list.push_back(ProfileSource::copy(profile.match));
    }
    // Never empty: a mouse has blank and a keyboard the keyboard preset.
    SetupChoices choices{list.front(), {}};
    choices.others.assign(list.begin() + 1, list.end());
    return choices;
}

}  // namespace tindlewave
