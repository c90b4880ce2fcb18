#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tindlewave {

// For the .cpp files that define enumeration texts: the case whose text (by `toText`) is exactly
// `text`, searching the given cases.
template <class E>
std::optional<E> caseWithText(std::span<const E> cases, std::string_view text) {
    for (E value : cases) {
        if (toText(value) == text) return value;
    }
    return std::nullopt;
}

}  // namespace tindlewave
