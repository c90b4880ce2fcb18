#include "Settings/Model/Scrolling/SlowRollStutter.h"

#include <algorithm>
#include <cmath>

#include "Settings/Model/Scrolling/CurveGraph.h"
#include "Settings/Model/Texts/KnobUnit.h"

namespace tindlewave {

double SlowRollStutter::slowRoll() {
    static const double rate = CurveGraph::bands().front().rates.lo;
    return rate;
}

std::optional<SlowRollStutter> SlowRollStutter::of(const std::optional<SmoothScroll>& smooth) {
    if (!smooth) return std::nullopt;
    const double glide = smooth->duration / 10 + smooth->easeIn / 1000;
    const double limit = 1 / slowRoll();
    if (!(glide < limit - 1e-9)) return std::nullopt;  // NaN settings warn about nothing
    const double needed = std::ceil((limit - smooth->easeIn / 1000) * 10 - 1e-9);
    return SlowRollStutter{glide, std::min(needed, SmoothScroll::durationRange.hi)};
}

std::string SlowRollStutter::detail(const NumberFormat& numbers) const {
    return "Each wheel step glides for " + format(KnobUnit::tenthsOfASecond, glide * 10, numbers) +
           ", so when you roll slower than about " + numbers.fixed(1 / glide, 0, 0) +
           " steps a second the page lurches on each step and stops before the next. Set Glide "
           "after you stop to " +
           format(KnobUnit::tenthsOfASecond, smoothDuration, numbers) +
           " or more. A longer ease into each step does not help.";
}

}  // namespace tindlewave
