#include "Core/Scrolling/HoldScrollPlan.h"

#include "Model/Config.h"

namespace tindlewave {

HoldScrollPlan::HoldScrollPlan(const HoldToScroll& settings, const SmoothScroll& glide,
                               double pointsPerUnit) {
    const double points = settings.speed * pointsPerUnit;
    gain = settings.direction == HoldScrollDirection::wheel ? -points : points;
    if (settings.momentum) {
        // The duration is kept in tenths of a second.
        momentum = Glide{glide.durationSeconds(), glide.brake};
    }
}

}  // namespace tindlewave
