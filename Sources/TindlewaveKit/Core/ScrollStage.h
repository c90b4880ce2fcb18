#pragma once

#include <map>
#include <utility>
#include <vector>

#include "Core/DeviceIDs.h"
#include "Core/Event.h"
#include "Core/HIDOrigin.h"
#include "Core/TapVerdict.h"
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
    bool process(EventType type, const Event& event, OriginLookup& origin,
                 TapVerdict& verdict) const {
        if (type != EventType::scrollWheel || settings_.empty()) return false;
        return wheel(event, origin, verdict);
    }

    // The smoothed event services with their settings, ordered by sender.
    const std::vector<std::pair<SenderID, SmoothScroll>>& settings() const { return settings_; }

    // The notches of a wheel event from its detents: the magnitude rounded half away from zero,
    // at least 1. A value that is not finite counts as 1; a huge one is capped.
    static int steps(double wheelDetents);

  private:
    bool wheel(const Event& event, OriginLookup& origin, TapVerdict& verdict) const;

    // A flat copy of the rules' settings: there are a handful of smoothed devices at most, and a
    // scan of them is cheaper than a tree walk for every wheel event.
    std::vector<std::pair<SenderID, SmoothScroll>> settings_;
};

}  // namespace tindlewave
