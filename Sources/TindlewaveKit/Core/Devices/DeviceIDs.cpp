#include "Core/Devices/DeviceIDs.h"

namespace tindlewave {

std::string toText(DeviceInstanceID id) {
    std::string text(1, '#');
    return text += std::to_string(id.rawValue);
}

}  // namespace tindlewave
