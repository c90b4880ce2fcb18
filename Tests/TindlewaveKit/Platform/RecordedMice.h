#pragma once

#include <cstdlib>
#include <string>

namespace tindlewave::testing {

// The folder of recorded real mice: $TW_DEVICES_DIR when set, else the shared folder that sits
// beside the repository.
inline std::string recordedMiceFolder() {
    if (const char* folder = std::getenv("TW_DEVICES_DIR"); folder != nullptr && *folder != 0) {
        return folder;
    }
    return TW_SOURCE_ROOT "/../shared/devices";
}

}  // namespace tindlewave::testing
