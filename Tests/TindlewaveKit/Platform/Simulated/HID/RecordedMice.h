#pragma once

#include <cstdlib>
#include <string>

namespace tindlewave::testing {

// The folder of recorded real mice: $TW_DEVICES_DIR when set, else the project's own Data/devices
// (the build gives the tests its path).
inline std::string recordedMiceFolder() {
    if (const char* folder = std::getenv("TW_DEVICES_DIR"); folder != nullptr && *folder != 0) {
        return folder;
    }
    return TW_DATA_ROOT "/devices";
}

}  // namespace tindlewave::testing
