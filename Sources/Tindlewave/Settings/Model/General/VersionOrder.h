#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tindlewave {

// Dotted version numbers ("1.10.2"), compared part by part as numbers; missing parts count as 0.
struct VersionOrder {
    // The parts of a version, or none when it is not one or more numbers joined by dots (a leading
    // "v" is allowed).
    static std::optional<std::vector<unsigned long>> parts(std::string_view version);
    // Whether `candidate` is a later version than `current`; false when either is not a version.
    static bool isNewer(std::string_view candidate, std::string_view current);
};

}  // namespace tindlewave
