#pragma once

#include <span>

#include "Settings/Model/Window/WindowFit.h"

namespace tindlewave {

// One screen as a popup sees it: its whole area and the part of it that panels leave free.
struct ScreenAreas {
    ScreenRect whole;
    ScreenRect free;
};

// Where a popup of `size` opens for the mark at `mark`: below the mark and centred on it; above it
// where the free area ends below first and there is room above; and moved within the free area of
// the screen that the mark's centre is on, so that all of it (its buttons too) can be reached. A
// mark on none of `screens` takes `fallback`, the free area of the mark's window's screen.
ScreenRect popupFrame(const ScreenRect& mark, ContentSize size,
                      std::span<const ScreenAreas> screens, const ScreenRect& fallback);

}  // namespace tindlewave
