#pragma once

#include <optional>

namespace tindlewave {

// Window geometry in screen points, origin at the top left, y growing downwards (the toolkit's
// coordinates). A frame is the window's outer rectangle, decoration included.
struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double bottom() const { return y + height; }
    bool operator==(const ScreenRect&) const = default;
};

struct ContentSize {
    double width = 0;
    double height = 0;

    bool operator==(const ContentSize&) const = default;
};

// What the window manager adds around the content (zero where there is none).
struct FrameMargins {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;

    bool operator==(const FrameMargins&) const = default;
};

// The settings window's frame for a page of a given size: the content height is rounded up to a
// whole point; the left and top edges stay where they are; a window taller than the screen's
// available area is capped to it and its page scrolls; a window whose bottom would leave the
// available area is moved up until its bottom sits on the area's bottom, and one whose top or
// sides would leave it is moved in (on an area narrower than the window, to its left edge).
struct WindowFit {
    ScreenRect frame;
    bool scrolls = false;

    // `available` is the screen's area free of panels; none means unbounded.
    static WindowFit target(ContentSize content, const ScreenRect& current, FrameMargins margins,
                            const std::optional<ScreenRect>& available);

    bool operator==(const WindowFit&) const = default;
};

}  // namespace tindlewave
