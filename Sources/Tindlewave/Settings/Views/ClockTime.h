#pragma once

#include <string>

#include "Model/Date.h"

namespace tindlewave {

// A date as its time of day alone, in the locale's short time format ("2:05 PM").
std::string clockTime(Date date);

}  // namespace tindlewave
