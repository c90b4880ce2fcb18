#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "Model/Config.h"
#include "Model/EnumText.h"

namespace tindlewave {

// One of the three numbers of the smooth-scrolling settings that the Scrolling page offers as a
// knob. Texts "duration", "brake" and "easeIn", the names of the fields they set.
enum class SmoothKnob { duration, brake, easeIn };

std::string_view toText(SmoothKnob knob);
template <>
std::optional<SmoothKnob> fromText<SmoothKnob>(std::string_view text);
template <>
std::span<const SmoothKnob> allCases<SmoothKnob>();

// The field of the settings that the knob sets.
double& knobField(SmoothScroll& smooth, SmoothKnob knob);
double knobValue(const SmoothScroll& smooth, SmoothKnob knob);

}  // namespace tindlewave
