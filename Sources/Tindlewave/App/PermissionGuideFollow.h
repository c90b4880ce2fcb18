#pragma once

#include <optional>
#include <variant>

#include "Settings/Model/Window/WindowFit.h"

namespace tindlewave {

// A point in top-left screen coordinates.
struct ScreenPoint {
    double x = 0;
    double y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// Where the permission guide's card goes under a window (top-left screen coordinates): centred
// 10 points below it; inside its bottom edge (16 points up) when that would leave the screen's
// available area; kept 8 points inside the area's sides and top.
struct GuidePlacement {
    // `screen` is the available area of the screen the window is on (the window itself when it
    // is on none).
    static ScreenPoint under(const ScreenRect& window, const ScreenRect& screen, double width,
                             double height);
    // The largest card that stands wholly inside `screen` (an available area) wherever `under`
    // puts it there.
    static ContentSize room(const ScreenRect& screen);
};

// One step of the card's follow loop, run every 0.15 s.
struct GuideFollow {
    static constexpr double interval = 0.15;
    static constexpr double patience = 5;  // seconds the desktop's settings may take to appear

    struct Input {
        double elapsed = 0;  // seconds since the card was asked for
        bool granted = false;
        bool settingsRunning = false;
        // The settings application's window while it is frontmost.
        std::optional<ScreenRect> settingsWindow{};
        // Where the card stands while the desktop has no settings application whose window it
        // could follow: centred near the bottom of this area (the primary screen's available one).
        ScreenRect fallback{};
    };
    struct Close {
        bool operator==(const Close&) const = default;
    };
    struct Show {
        ScreenPoint at;
        bool operator==(const Show&) const = default;
    };
    struct Hide {
        bool operator==(const Hide&) const = default;
    };
    using Output = std::variant<Close, Show, Hide>;

    // `width` and `height` are the card's size.
    static Output step(const Input& input, double width, double height);
};

}  // namespace tindlewave
