#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Model/Config.h"
#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Scrolling/SliderScale.h"

namespace tindlewave {

// What the Scrolling page reads from a device row and the edits its controls make.
namespace ScrollingRules {

// The device's smooth-scrolling settings; none while smooth scrolling is off (or no profile).
std::optional<SmoothScroll> smooth(const SettingsDevice& device);
// The device's hold-to-scroll settings, else the defaults.
HoldToScroll hold(const SettingsDevice& device);
// The names of the controls whose rules scroll, in rule order (repeats kept).
std::vector<std::string> scrollButtons(const SettingsDevice& device);
// The hold-to-scroll group's explanation; `join` joins names as the user's language does.
std::string holdExplanation(
    const std::vector<std::string>& names,
    const std::function<std::string(const std::vector<std::string>&)>& join);
// "Reset to Defaults" does something: smooth scrolling is on with other settings than the
// defaults.
bool canReset(const std::optional<SmoothScroll>& smooth);

// The scale of a glide knob and of the hold-to-scroll speed.
SliderScale knobScale(SmoothKnob knob);
SliderScale holdSpeedScale();

// Hold-to-scroll edits carry all three fields: the two the control leaves are taken from `hold`.
SettingsEdit holdSpeed(const DeviceMatch& match, HoldToScroll hold, double speed);
SettingsEdit holdDirection(const DeviceMatch& match, HoldToScroll hold,
                           HoldScrollDirection direction);
SettingsEdit holdMomentum(const DeviceMatch& match, HoldToScroll hold, bool momentum);

}  // namespace ScrollingRules

}  // namespace tindlewave
