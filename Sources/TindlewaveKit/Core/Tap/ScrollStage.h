#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "Core/Devices/DeviceIDs.h"
#include "Core/Tap/Event.h"
#include "Core/Tap/HIDOrigin.h"
#include "Core/Tap/TapVerdict.h"
#include "Model/Config.h"

namespace tindlewave {

// Turns a plain vertical wheel notch of a device with smooth scrolling into a scroll tick for the
// animator. Trackpad and high-resolution scrolling, horizontal scrolling and scrolling with a
// modifier held pass untouched.
class ScrollStage {
  public:
    ScrollStage() = default;
    explicit ScrollStage(const std::map<SenderID, SmoothScroll>& settings)
        : settings_(settings.begin(), settings.end()) {}

    // Whether the stage decides the event, with its answer in `verdict`; false lets it pass.
    // A scroll verdict's tick refers to this stage's settings: it stays valid until the stage is
    // replaced or destroyed (the tap host feeds it to the animator before it takes new rules).
    bool process(EventType type, const Event& event, const std::optional<HIDOrigin>& origin,
                 TapVerdict& verdict) const {
        if (type != EventType::scrollWheel || settings_.empty()) return false;
        return wheel(event, origin, verdict);
    }

    // The smoothed event services with their settings, ordered by sender.
    const std::vector<std::pair<SenderID, SmoothScroll>>& settings() const { return settings_; }

    // The notches of a wheel event from its detents: the magnitude rounded half away from zero,
    // at least 1. A value that is not finite counts as 1; a huge one is capped.
    static int steps(double wheelDetents) {
        constexpr double most = std::numeric_limits<int>::max();
        const double magnitude = std::fabs(wheelDetents);
        // One comparison keeps out what is not finite (a NaN compares false) and what is huge.
        if (!(magnitude < most)) [[unlikely]]
            return std::isfinite(wheelDetents) ? std::numeric_limits<int>::max() : 1;
        // Rounded half away from zero without a library call: both the whole part and the
        // fraction left over are exact, and the magnitude is below the largest int, so the step
        // up cannot overflow.
        int whole = static_cast<int>(magnitude);
        if (magnitude - whole >= 0.5) ++whole;
        return std::max(1, whole);
    }

  private:
    // Shift, Control, Option and Command: with any of them down the wheel keeps its own meaning
    // (zooming, horizontal scrolling and the like).
    static constexpr std::uint64_t modifierFlags = 0x1E0000;

    // The fixed-point value of an axis, or its integer value when that is 0.
    static double axisValue(const Event& event, FixedPointField fixed, IntegerField whole) {
        double value = event.fixedPoint(fixed);
        return value != 0 ? value : static_cast<double>(event.integer(whole));
    }

    // Kept in the header: it runs for every wheel event, and inlined into the dispatcher it
    // writes the verdict knowing that it still holds the pass it began with.
    bool wheel(const Event& event, const std::optional<HIDOrigin>& from,
               TapVerdict& verdict) const {
        if (event.integer(IntegerField::scrollIsContinuous) != 0) return false;
        // Any horizontal movement: the fixed-point value, or the integer one when that is 0, is
        // not 0 (a non-zero integer never converts to 0).
        if (event.fixedPoint(FixedPointField::scrollFixedDelta2) != 0 ||
            event.integer(IntegerField::scrollDelta2) != 0) {
            return false;
        }
        if ((event.flags & modifierFlags) != 0) return false;
        const double vertical =
            axisValue(event, FixedPointField::scrollFixedDelta1, IntegerField::scrollDelta1);
        if (vertical == 0) return false;
        const auto sign = vertical > 0 ? ScrollTick::Sign::positive : ScrollTick::Sign::negative;

        if (!from) return false;
        for (const auto& [sender, settings] : settings_) {
            if (sender != from->sender) continue;
            verdict.become(
                TapVerdict::Scroll{ScrollTick{sign, steps(from->wheelDetents), settings}});
            return true;
        }
        return false;
    }

    // A flat copy of the rules' settings: there are a handful of smoothed devices at most, and a
    // scan of them is cheaper than a tree walk for every wheel event.
    std::vector<std::pair<SenderID, SmoothScroll>> settings_;
};

}  // namespace tindlewave
