#include "Core/Devices/DeviceIDs.h"

namespace tindlewave {

std::string toText(DeviceInstanceID id) {
    return "#" + std::to_string(id.rawValue);
}

}  // namespace tindlewave
