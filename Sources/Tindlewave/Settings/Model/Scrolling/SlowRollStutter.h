#pragma once

#include <optional>
#include <string>

#include "Model/Config.h"
#include "Settings/Model/Texts/NumberFormat.h"

namespace tindlewave {

// Why slow wheel rolls would stutter with the present glide settings, and the glide duration
// that would stop it.
struct SlowRollStutter {
    double glide = 0;           // seconds one wheel step keeps the page moving
    double smoothDuration = 0;  // tenths of a second: the glide duration to set

    // The lowest wheel rate the settings must cover, in steps per second: the lower end of the
    // speed graph's slowest band.
    static double slowRoll();

    // The warning for these settings: none while smooth scrolling is off or one wheel step glides
    // for at least 1 / slowRoll seconds. The duration to set is the smallest whole number of
    // tenths that reaches that with the present ease-in, at most 20.
    static std::optional<SlowRollStutter> of(const std::optional<SmoothScroll>& smooth);

    // The explanation in the warning's popup.
    std::string detail(const NumberFormat& numbers) const;

    bool operator==(const SlowRollStutter&) const = default;
};

}  // namespace tindlewave
