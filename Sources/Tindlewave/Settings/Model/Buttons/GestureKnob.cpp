#include "Settings/Model/Buttons/GestureKnob.h"

#include <cmath>

namespace tindlewave::GestureKnob {

namespace {
constexpr ClosedRange<std::int64_t> range = GestureSettings::distanceRange;
}

SliderScale scale() {
    return {{double(range.lo), double(range.hi)}, 10, SliderScale::Curve::logarithmic};
}

SettingsEdit distance(const DeviceMatch& match, double value) {
    std::int64_t counts = range.lo;
    if (value >= double(range.hi))
        counts = range.hi;
    else if (value > double(range.lo))
        counts = static_cast<std::int64_t>(std::trunc(value));
    return SettingsEdit::gestureDistance(match, counts);
}

}  // namespace tindlewave::GestureKnob
