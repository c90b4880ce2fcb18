#pragma once

#include <string_view>

namespace tindlewave {

// The phys prefix of every input device the program makes (the mirrors and its own keyboard and
// pointer): the device registry leaves such devices out and the event system never taps them.
inline constexpr std::string_view ownPhysPrefix = "tindlewave/";

}  // namespace tindlewave
