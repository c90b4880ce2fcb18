#pragma once

#include <string>

#include "Model/Date.h"

namespace tindlewave {

// A date in words relative to `now`, in English only: "now", "5 seconds ago", "1 minute ago",
// "yesterday", "last week", "in 3 days", "next month"… The largest whole unit is used (a month
// counts as 30 days, a year as 365); the previous or next day, week, month and year are named.
std::string relativeDateText(Date date, Date now);

}  // namespace tindlewave
