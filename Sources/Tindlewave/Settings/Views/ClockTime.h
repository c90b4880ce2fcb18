#pragma once

#include <string>

#include "Model/Date.h"

namespace tindlewave {

// The program's one way of writing a date as its time of day alone, in the locale's short time
// format and the local time zone. These are the `TimeText`s the views hand to the model.

// "2:05 PM": the menu, the status cards, the General page.
std::string clockTime(Date date);
// "2:05:09 PM": the log, whose lines come seconds apart (the short format with seconds added
// where it has none).
std::string clockTimeWithSeconds(Date date);

}  // namespace tindlewave
