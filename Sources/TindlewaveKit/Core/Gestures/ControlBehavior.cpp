#include "Core/Gestures/ControlBehavior.h"

#include <map>

namespace tindlewave {

namespace {

// Points per unit of movement: one raw count is 0.4 points.
constexpr double pointsPerCount = 0.4;

// The gesture distance in the unit of the movement. The setting is in raw counts, so for counts
// it is the setting itself, exactly: a movement of exactly that many counts reaches it.
double gestureDistance(const DeviceProfile& profile, MovementUnit movement) {
    const auto setting = static_cast<double>(
        profile.gestures ? profile.gestures->distance : GestureSettings::defaults().distance);
    return movement == MovementUnit::counts ? setting : setting * pointsPerCount;
}

}  // namespace

ControlBehavior ControlBehavior::fromRules(std::span<const Rule> rules,
                                           const DeviceProfile& profile, MovementUnit movement) {
    std::map<Direction, Action> swipes;
    std::optional<Action> click;
    bool holdScroll = false;
    std::optional<KeyHold> keyHold;
    for (const Rule& rule : rules) {
        if (const auto* holdMove = as<Trigger::HoldMove>(rule.trigger)) {
            if (holdMove->direction) {
                swipes.insert_or_assign(*holdMove->direction, rule.action);
            } else {
                holdScroll = is<Action::Scroll>(rule.action);
            }
        } else if (is<Trigger::Click>(rule.trigger)) {
            click = rule.action;
        } else if (is<Trigger::Hold>(rule.trigger)) {
            keyHold = KeyHold::fromAction(rule.action);
        }
    }

    if (keyHold) return hold(std::move(*keyHold));

    const double distance = gestureDistance(profile, movement);
    if (!holdScroll) {
        if (swipes.empty()) return click ? press(std::move(*click)) : native();
        const GestureFire fire =
            profile.gestures ? profile.gestures->fire : GestureSettings::defaults().fire;
        return gesture({distance, std::move(click), GestureMoves::swipes(std::move(swipes), fire)});
    }

    const ScrollSettings* scrolling = profile.scrolling ? &*profile.scrolling : nullptr;
    const HoldToScroll settings =
        scrolling && scrolling->holdToScroll ? *scrolling->holdToScroll : HoldToScroll::defaults();
    const SmoothScroll& glide =
        scrolling && scrolling->smooth ? *scrolling->smooth : SmoothScroll::defaults();
    const double pointsPerUnit = movement == MovementUnit::counts ? pointsPerCount : 1.0;
    return gesture({distance, std::move(click),
                    GestureMoves::scroll(HoldScrollPlan(settings, glide, pointsPerUnit))});
}

}  // namespace tindlewave
