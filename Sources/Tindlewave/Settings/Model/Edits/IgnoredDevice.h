#pragma once

#include <string>

#include "Model/Config.h"

namespace tindlewave {

// One entry of the configuration's ignored list, with the name the settings window shows for it.
struct IgnoredDevice {
    DeviceMatch match;
    std::string name;

    bool operator==(const IgnoredDevice&) const = default;
};

}  // namespace tindlewave
