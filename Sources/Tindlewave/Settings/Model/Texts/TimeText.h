#pragma once

#include <functional>
#include <string>

#include "Model/Date.h"

namespace tindlewave {

// Writes a date as the user reads it: the views pass the locale's short time of day, tests a
// fixed form.
using TimeText = std::function<std::string(Date)>;

}  // namespace tindlewave
