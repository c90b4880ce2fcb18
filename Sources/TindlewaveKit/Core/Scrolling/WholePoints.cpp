#include "Core/Scrolling/WholePoints.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tindlewave {

std::int32_t WholePoints::take(double points, bool restart) {
    if (restart) {
        exact = 0;
        posted = 0;
    }
    // A share that is no number (NaN or infinite) is dropped: added in, it would stop every later
    // share of the gesture from coming out, or make every later frame scroll the most it can.
    if (std::isfinite(points)) exact += points;
    // std::round rounds halves away from zero.
    double due = std::round(exact) - posted;
    if (std::isnan(due)) return 0;
    due = std::clamp(due, double(std::numeric_limits<std::int32_t>::min()),
                     double(std::numeric_limits<std::int32_t>::max()));
    posted += due;
    return static_cast<std::int32_t>(due);
}

}  // namespace tindlewave
