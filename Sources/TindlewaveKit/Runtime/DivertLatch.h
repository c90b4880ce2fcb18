#pragma once

#include <optional>
#include <string_view>

#include "Runtime/Stores/Defaults.h"

namespace tindlewave {

struct DeviceMatch;

// The persistent record of devices whose controls were diverted for listening: the user default
// "listenDiverted", an array of the devices' hidutil keyboard-matching texts. It outlives the
// process; a clean shutdown clears it, and a launch undiverts every device it still names.
struct DivertLatch {
    static constexpr std::string_view key = "listenDiverted";

    Defaults& defaults;

    // Adds the device once; a missing or wrongly typed record counts as empty.
    std::optional<DefaultsError> insert(const DeviceMatch& match) const;
    // Whether the record names the device.
    bool contains(const DeviceMatch& match) const;
    // Removes the record.
    std::optional<DefaultsError> clear() const;
};

}  // namespace tindlewave
