#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace tindlewave::testkit {

// A 20-byte long report given by its first bytes; the rest are zero.
using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<std::uint8_t> head) {
    Bytes out(20, 0);
    std::copy(head.begin(), head.end(), out.begin());
    return out;
}

inline std::array<std::uint8_t, 20> report(std::initializer_list<std::uint8_t> head) {
    std::array<std::uint8_t, 20> out{};
    std::copy(head.begin(), head.end(), out.begin());
    return out;
}

}  // namespace tindlewave::testkit
