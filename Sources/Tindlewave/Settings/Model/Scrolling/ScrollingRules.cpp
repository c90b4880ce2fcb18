#include "Settings/Model/Scrolling/ScrollingRules.h"

#include "Settings/Model/Texts/Labels.h"

namespace tindlewave::ScrollingRules {

std::optional<SmoothScroll> smooth(const SettingsDevice& device) {
    if (!device.profile || !device.profile->scrolling) return std::nullopt;
    return device.profile->scrolling->smooth;
}

HoldToScroll hold(const SettingsDevice& device) {
    if (device.profile && device.profile->scrolling && device.profile->scrolling->holdToScroll)
        return *device.profile->scrolling->holdToScroll;
    return HoldToScroll::defaults();
}

std::vector<std::string> scrollButtons(const SettingsDevice& device) {
    std::vector<std::string> names;
    if (!device.profile || !device.profile->rules) return names;
    for (const Rule& rule : *device.profile->rules)
        if (rule.action == Action::scroll()) names.push_back(Labels::control(rule.control));
    return names;
}

std::string holdExplanation(
    const std::vector<std::string>& names,
    const std::function<std::string(const std::vector<std::string>&)>& join) {
    if (names.empty())
        return "No button scrolls yet. On the Buttons tab, pick Hold and move, then Scroll, for "
               "any button.";
    return "Buttons that scroll: " + join(names) + ". Change them on the Buttons tab.";
}

bool canReset(const std::optional<SmoothScroll>& smooth) {
    return !smooth || !(*smooth == SmoothScroll::defaults());
}

SliderScale knobScale(SmoothKnob knob) {
    switch (knob) {
        case SmoothKnob::duration:
            return {SmoothScroll::durationRange, 1, SliderScale::Curve::logarithmic};
        case SmoothKnob::brake:
            return {SmoothScroll::brakeRange, 0.1, SliderScale::Curve::logarithmic};
        case SmoothKnob::easeIn:
            return {SmoothScroll::easeInRange, 10, SliderScale::Curve::linear};
    }
    return {};
}

SliderScale holdSpeedScale() {
    return {HoldToScroll::speedRange, 0.05, SliderScale::Curve::logarithmic};
}

SettingsEdit holdSpeed(const DeviceMatch& match, HoldToScroll hold, double speed) {
    hold.speed = speed;
    return SettingsEdit::holdToScroll(match, hold);
}

SettingsEdit holdDirection(const DeviceMatch& match, HoldToScroll hold,
                           HoldScrollDirection direction) {
    hold.direction = direction;
    return SettingsEdit::holdToScroll(match, hold);
}

SettingsEdit holdMomentum(const DeviceMatch& match, HoldToScroll hold, bool momentum) {
    hold.momentum = momentum;
    return SettingsEdit::holdToScroll(match, hold);
}

}  // namespace tindlewave::ScrollingRules
