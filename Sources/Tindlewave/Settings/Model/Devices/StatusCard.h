#pragma once

#include <string>

namespace tindlewave {

// A device's connection and apply state in words.
struct StatusCard {
    std::string title;
    std::string detail;
    bool connected = false;

    bool operator==(const StatusCard&) const = default;
};

}  // namespace tindlewave
