#pragma once

#include <functional>
#include <new>
#include <optional>
#include <type_traits>

#include "Core/Devices/DeviceIDs.h"
#include "Core/Tap/Event.h"

namespace tindlewave {

// Where an event came from: the event service that produced it and, for a wheel event, the
// wheel's signed vertical value in detents as the HID event reports it.
struct HIDOrigin {
    SenderID sender;
    double wheelDetents = 0;

    bool operator==(const HIDOrigin&) const = default;
};

// Gives the origin of an event, or none when no HID event lies behind it (a posted event, for
// instance). The tap host supplies the real one; tests supply their own.
using EventOrigin = std::function<std::optional<HIDOrigin>(const Event&)>;

// The origin of one event, asked for at most once however many stages want it. An empty origin
// function gives no origin.
class OriginLookup {
  public:
    OriginLookup(const EventOrigin& origin, const Event& event) : origin_(origin), event_(event) {}

    const std::optional<HIDOrigin>& get() {
        if (!asked_) {
            asked_ = true;
            // The answer is made in place: the function's return value becomes `value_` itself.
            // (Assigning it would copy the freshly written value with wider loads than the
            // stores that wrote it, which stalls for longer than the whole lookup takes.)
            if (origin_)
                ::new (static_cast<void*>(&value_)) std::optional<HIDOrigin>(origin_(event_));
        }
        return value_;
    }

  private:
    const EventOrigin& origin_;
    const Event& event_;
    bool asked_ = false;
    std::optional<HIDOrigin> value_;
    static_assert(std::is_trivially_destructible_v<std::optional<HIDOrigin>>,
                  "the origin is replaced in place without being destroyed");
};

}  // namespace tindlewave
