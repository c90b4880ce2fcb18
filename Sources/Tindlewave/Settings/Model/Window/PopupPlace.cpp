#include "Settings/Model/Window/PopupPlace.h"

#include <algorithm>

namespace tindlewave {

ScreenRect popupFrame(const ScreenRect& mark, ContentSize size,
                      std::span<const ScreenAreas> screens, const ScreenRect& fallback) {
    const double centreX = mark.x + mark.width / 2;
    const double centreY = mark.y + mark.height / 2;
    const ScreenRect* area = &fallback;
    for (const ScreenAreas& screen : screens) {
        const ScreenRect& whole = screen.whole;
        if (centreX >= whole.x && centreX < whole.x + whole.width && centreY >= whole.y &&
            centreY < whole.bottom()) {
            area = &screen.free;
            break;
        }
    }
    double x = centreX - size.width / 2;
    double y = mark.bottom();
    if (y + size.height > area->bottom() && mark.y - size.height >= area->y)
        y = mark.y - size.height;
    x = std::clamp(x, area->x, std::max(area->x, area->x + area->width - size.width));
    y = std::clamp(y, area->y, std::max(area->y, area->bottom() - size.height));
    return {x, y, size.width, size.height};
}

}  // namespace tindlewave
