#pragma once

#include <vector>

#include "Model/Config.h"
#include "Settings/Model/Edits/ProfileSource.h"
#include "Settings/Model/Devices/SettingsDevice.h"

namespace tindlewave {

// What the Set up button of a new device offers: the suggested choice, then the others in its
// menu. There is always a choice: a mouse can start blank, a keyboard with the hyper key.
struct SetupChoices {
    ProfileSource suggested;
    std::vector<ProfileSource> others;

    // The presets for the device's model and kind, then blank for a mouse, then copies of the
    // configured devices of the same kind that are neither blank nor a preset's own profile.
    static SetupChoices make(const SettingsDevice& device, const Config& config);

    bool operator==(const SetupChoices&) const = default;
};

}  // namespace tindlewave
