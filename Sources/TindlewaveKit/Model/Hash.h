#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <variant>

namespace tindlewave {

// Mixes the hash of one more part into a running hash.
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <class T>
std::size_t hashOf(const T& value) {
    return std::hash<T>{}(value);
}

// The hash of a variant whose alternatives are all hashable: the case, then its payload.
template <class... Cases>
std::size_t hashVariant(const std::variant<Cases...>& value) {
    std::size_t seed = value.index();
    std::visit([&seed](const auto& payload) { hashCombine(seed, hashOf(payload)); }, value);
    return seed;
}

}  // namespace tindlewave
