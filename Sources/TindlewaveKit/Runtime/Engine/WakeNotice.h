#pragma once

namespace tindlewave {

// The system woke from sleep. Devices may have lost their settings meanwhile.
struct WakeNotice {
    bool operator==(const WakeNotice&) const = default;
};

}  // namespace tindlewave
