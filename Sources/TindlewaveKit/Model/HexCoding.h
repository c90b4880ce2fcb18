#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindlewave {

// "0x" and upper-case hexadecimal, padded with zeros to at least `digits` digits and never cut:
// the ids' text form ("0x046D", "0xC3", "0x1A0") and, with the default, the bare form of log lines
// and hidutil texts ("0x46D", "0x0").
std::string hexText(std::uint64_t value, int digits = 1);

// Reads "0x" or "0X" followed by a non-empty run of hexadecimal digits of either case (leading
// zeros allowed) whose value fits in 16 bits. ASCII only: no sign, no spaces, nothing else.
std::optional<std::uint16_t> readHex(std::string_view text);

// For the id types, which carry their own `digits`.
template <class Id>
requires requires {
    Id::digits;
}
std::string hexText(Id id) {
    return hexText(id.rawValue, Id::digits);
}
template <class Id>
std::optional<Id> readHexId(std::string_view text) {
    if (auto raw = readHex(text)) return Id{*raw};
    return std::nullopt;
}

}  // namespace tindlewave
