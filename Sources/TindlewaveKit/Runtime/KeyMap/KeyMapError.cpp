#include "Runtime/KeyMap/KeyMapError.h"

namespace tindlewave {

std::string KeyMapError::description() const {
    if (const auto* failed = as<HidutilFailed>()) {
        return "hidutil exited " + std::to_string(failed->status) + ": " + failed->output;
    }
    if (is<NoServiceMatched>()) return "no keyboard service matched";
    if (is<ServiceLagsDevice>()) return "keyboard service not ready";
    if (const auto* device = as<DeviceFailed>()) return device->reason;
    return "hidutil timed out";
}

}  // namespace tindlewave
