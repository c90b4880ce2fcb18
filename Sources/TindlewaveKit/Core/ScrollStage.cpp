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
    double rounded = std::round(std::min(std::fabs(wheelDetents), most));
    return std::max(1, static_cast<int>(rounded));
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
    auto settings = settings_.find(from->sender);
    if (settings == settings_.end()) return false;

    verdict.become(TapVerdict::Scroll{
        ScrollTick{vertical > 0 ? ScrollTick::Sign::positive : ScrollTick::Sign::negative,
                   steps(from->wheelDetents), settings->second}});
    return true;
}

}  // namespace tindlewave
