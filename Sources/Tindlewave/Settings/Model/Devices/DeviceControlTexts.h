#pragma once

#include <string>

#include "Settings/Model/Edits/ProfileSource.h"
#include "Settings/Model/Devices/SettingsDevice.h"

namespace tindlewave {

// The title of a new device's set-up button, by the suggested source.
std::string setUpButtonTitle(const ProfileSource& suggested);
// A mouse as the mouse picker lists it: its name, with " (New)" while it is not set up.
std::string mousePopupLabel(const SettingsDevice& mouse);

}  // namespace tindlewave
