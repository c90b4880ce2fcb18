#include "App/PermissionGuideFollow.h"

#include <algorithm>

namespace tindlewave {

ScreenPoint GuidePlacement::under(const ScreenRect& window, const ScreenRect& screen, double width,
                                  double height) {
    double x = window.x + window.width / 2 - width / 2;
    double y = window.bottom() + 10;
    if (y + height > screen.bottom()) y = window.bottom() - 16 - height;
    x = std::max(x, screen.x + 8);
    x = std::min(x, screen.x + screen.width - width - 8);
    y = std::max(y, screen.y + 8);
    return {x, y};
}

ContentSize GuidePlacement::room(const ScreenRect& screen) {
    // 8 points at each side, 8 above and 16 below (inside the area's bottom edge).
    return {std::max(0.0, screen.width - 16), std::max(0.0, screen.height - 24)};
}

GuideFollow::Output GuideFollow::step(const Input& input, double width, double height) {
    if (input.granted) return Close{};
    if (!input.settingsRunning && input.elapsed > patience) return Close{};
    if (input.settingsWindow) return Show{GuidePlacement::under(*input.settingsWindow, input.fallback, width, height)};
    // No settings application here: the card waits at its fixed place until it closes.
    if (!input.settingsRunning) return Show{GuidePlacement::under(input.fallback, input.fallback, width, height)};
    return Hide{};
}

}  // namespace tindlewave
