#pragma once

#include <cstdint>

#include "Core/Tap/Event.h"

namespace tindlewave {

// The event types that each stage of the tap pipeline looks at. The event tap is created with
// their union, tapMask; nothing else reaches the pipeline.
struct TapStageMasks {
    static constexpr std::uint64_t buttonTypes =
        eventMaskBit(EventType::rightMouseDown) | eventMaskBit(EventType::rightMouseUp) |
        eventMaskBit(EventType::rightMouseDragged) | eventMaskBit(EventType::otherMouseDown) |
        eventMaskBit(EventType::otherMouseUp) | eventMaskBit(EventType::otherMouseDragged);
    static constexpr std::uint64_t keyTypes =
        eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::keyUp);

    static constexpr std::uint64_t learn = buttonTypes | keyTypes;
    static constexpr std::uint64_t carriers = keyTypes;
    static constexpr std::uint64_t scroll = eventMaskBit(EventType::scrollWheel);
    static constexpr std::uint64_t buttons = buttonTypes;
};

inline constexpr std::uint64_t tapMask =
    TapStageMasks::learn | TapStageMasks::carriers | TapStageMasks::scroll | TapStageMasks::buttons;

}  // namespace tindlewave
