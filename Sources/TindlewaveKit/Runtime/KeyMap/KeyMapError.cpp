#include "Runtime/KeyMap/KeyMapError.h"

namespace tindlewave {

std::string KeyMapError::description() const {
    if (const auto* failed = as<HidutilFailed>(*this)) {
        return "hidutil exited " + std::to_string(failed->status) + ": " + failed->output;
    }
    if (is<NoServiceMatched>(*this)) return "no keyboard service matched";
    if (is<ServiceLagsDevice>(*this)) return "keyboard service not ready";
    if (const auto* device = as<DeviceFailed>(*this)) return device->reason;
    return "hidutil timed out";
}

}  // namespace tindlewave
