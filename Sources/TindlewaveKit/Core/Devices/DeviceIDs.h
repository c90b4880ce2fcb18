#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <string>

namespace tindlewave {

// The id of one connection of a physical device. The roster hands them out once per appearance,
// starting at 1, and never reuses one during a run. Printed as "#" and the decimal number.
struct DeviceInstanceID {
    std::uint64_t rawValue = 0;

    bool operator==(const DeviceInstanceID&) const = default;
    auto operator<=>(const DeviceInstanceID&) const = default;
};

// The registry id of an event service under a device. Events from the device carry the same
// number as their sender id, which is how the event tap tells devices apart.
struct SenderID {
    std::uint64_t rawValue = 0;

    bool operator==(const SenderID&) const = default;
    auto operator<=>(const SenderID&) const = default;
};

// "#12".
std::string toText(DeviceInstanceID id);

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::DeviceInstanceID> {
    std::size_t operator()(tindlewave::DeviceInstanceID id) const noexcept {
        return std::hash<std::uint64_t>{}(id.rawValue);
    }
};

template <>
struct std::hash<tindlewave::SenderID> {
    std::size_t operator()(tindlewave::SenderID id) const noexcept {
        return std::hash<std::uint64_t>{}(id.rawValue);
    }
};
