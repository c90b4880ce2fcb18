#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindlewave {

// One component of a path into the configuration file: a key, or a list position.
struct PathKey {
    std::string stringValue;               // the key, or the position's decimal digits
    std::optional<std::int64_t> intValue;  // set for a list position

    PathKey(std::string key) : stringValue(std::move(key)) {}
    PathKey(std::string_view key) : stringValue(key) {}
    PathKey(const char* key) : stringValue(key) {}
    template <std::integral I>
    PathKey(I position)
        : stringValue(std::to_string(position)), intValue(static_cast<std::int64_t>(position)) {}

    bool operator==(const PathKey&) const = default;
};

// A configuration error: where in the file (keys joined by ".", positions as "[n]", empty for the
// whole file) and what is wrong, in plain words.
struct ConfigError {
    std::string path;
    std::string message;

    // "path: message", or the message alone when the path is empty.
    std::string description() const;

    // The text of a path: [devices, 0, rules, 2, when] gives "devices[0].rules[2].when".
    // (Not named `path`: that is the field.)
    static std::string renderPath(const std::vector<PathKey>& components);

    bool operator==(const ConfigError&) const = default;
};

}  // namespace tindlewave
