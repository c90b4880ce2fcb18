#pragma once

#include <optional>

#include "Core/Devices/DeviceIDs.h"
#include "Core/Tap/Event.h"

namespace tindlewave {

// Where an event came from: the event service that produced it and, for a wheel event, the
// wheel's signed vertical value in detents as the HID event reports it. The event system hands
// it to a tap with the event; an event the program (or anyone) posted has none.
struct HIDOrigin {
    SenderID sender;
    double wheelDetents = 0;

    bool operator==(const HIDOrigin&) const = default;
};

}  // namespace tindlewave
