#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "Model/Date.h"

namespace tindlewave::testing {

// A date on the first day of the clock's epoch, at hours:minutes.
inline Date at(int hours, int minutes) {
    return Date{std::chrono::hours(hours) + std::chrono::minutes(minutes)};
}

// A fixed time text for tests: "14:05".
inline std::string clockText(Date date) {
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(date.time_since_epoch()).count();
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(minutes / 60 % 24),
                  static_cast<int>(minutes % 60));
    return text;
}

}  // namespace tindlewave::testing
