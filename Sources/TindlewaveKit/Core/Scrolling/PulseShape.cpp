#include "Core/Scrolling/PulseShape.h"

#include "Model/Config.h"

namespace tindlewave {

PulseShape PulseShape::of(const SmoothScroll& settings) {
    return make(settings.easeIn / 1000.0, settings.durationSeconds(), settings.brake);
}

}  // namespace tindlewave
