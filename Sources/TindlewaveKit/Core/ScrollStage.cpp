#include "Core/ScrollStage.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tindlewave {

namespace {

// Shift, Control, Option and Command: with any of them down the wheel keeps its own meaning
// (zooming, horizontal scrolling and the like).
constexpr std::uint64_t modifierFlags = 0x1E0000;

// The fixed-point value of an axis, or its integer value when that is 0.
double axisValue(const Event& event, FixedPointField fixed, IntegerField whole) {
    double value = event.fixedPoint(fixed);
    return value != 0 ? value : static_cast<double>(event.integer(whole));
}

}  // namespace

int ScrollStage::steps(double wheelDetents) {
    if (!std::isfinite(wheelDetents)) return 1;
    constexpr double most = std::numeric_limits<int>::max();
    const double magnitude = std::min(std::fabs(wheelDetents), most);
    // Rounded half away from zero without a library call: both the whole part and the fraction
    // left over are exact, and the magnitude is at most the largest int, so the step up cannot
    // overflow.
    int whole = static_cast<int>(magnitude);
    if (magnitude - whole >= 0.5) ++whole;
    return std::max(1, whole);
}

bool ScrollStage::wheel(const Event& event, OriginLookup& origin, TapVerdict& verdict) const {
    if (event.integer(IntegerField::scrollIsContinuous) != 0) return false;
    if (axisValue(event, FixedPointField::scrollFixedDelta2, IntegerField::scrollDelta2) != 0) {
        return false;
    }
    if ((event.flags & modifierFlags) != 0) return false;
    double vertical =
        axisValue(event, FixedPointField::scrollFixedDelta1, IntegerField::scrollDelta1);
    if (vertical == 0) return false;

    const auto& from = origin.get();
    if (!from) return false;
    for (const auto& [sender, settings] : settings_) {
        if (sender != from->sender) continue;
        verdict.become(TapVerdict::Scroll{
            ScrollTick{vertical > 0 ? ScrollTick::Sign::positive : ScrollTick::Sign::negative,
                       steps(from->wheelDetents), settings}});
        return true;
    }
    return false;
}

}  // namespace tindlewave
