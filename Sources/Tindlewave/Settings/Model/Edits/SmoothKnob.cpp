#include "Settings/Model/Edits/SmoothKnob.h"

#include <array>

#include "Model/EnumTextTable.h"

namespace tindlewave {

std::string_view toText(SmoothKnob knob) {
    switch (knob) {
        case SmoothKnob::duration:
            return "duration";
        case SmoothKnob::brake:
            return "brake";
        case SmoothKnob::easeIn:
            return "easeIn";
    }
    return "";
}

template <>
std::span<const SmoothKnob> allCases<SmoothKnob>() {
    static constexpr std::array cases{SmoothKnob::duration, SmoothKnob::brake, SmoothKnob::easeIn};
    return cases;
}

template <>
std::optional<SmoothKnob> fromText<SmoothKnob>(std::string_view text) {
    return caseWithText(allCases<SmoothKnob>(), text);
}

double& knobField(SmoothScroll& smooth, SmoothKnob knob) {
    switch (knob) {
        case SmoothKnob::duration:
            return smooth.duration;
        case SmoothKnob::brake:
            return smooth.brake;
        case SmoothKnob::easeIn:
            break;
    }
    return smooth.easeIn;
}

double knobValue(const SmoothScroll& smooth, SmoothKnob knob) {
    switch (knob) {
        case SmoothKnob::duration:
            return smooth.duration;
        case SmoothKnob::brake:
            return smooth.brake;
        case SmoothKnob::easeIn:
            break;
    }
    return smooth.easeIn;
}

}  // namespace tindlewave
