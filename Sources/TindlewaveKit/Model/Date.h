#pragma once

#include <chrono>

namespace tindlewave {

// A wall-clock instant as the status records carry it. Dates compare as exact instants.
using Date = std::chrono::system_clock::time_point;

}  // namespace tindlewave
