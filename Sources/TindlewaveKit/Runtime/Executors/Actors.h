#pragma once

#include <string_view>

namespace tindlewave {

// The program's bundle identifier: the log subsystem and the prefix of its thread names.
inline constexpr std::string_view bundleIdentifier = "app.tindlewave";

}  // namespace tindlewave
