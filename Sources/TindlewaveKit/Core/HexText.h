#pragma once

#include <cstdint>
#include <string>

namespace tindlewave {

// "0x" and the upper-case hexadecimal digits of `value`, without leading zeros ("0x46D", "0x0").
std::string hexText(std::uint64_t value);

}  // namespace tindlewave
