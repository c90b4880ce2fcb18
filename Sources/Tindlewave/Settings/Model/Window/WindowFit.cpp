#include "Settings/Model/Window/WindowFit.h"

#include <algorithm>
#include <cmath>

namespace tindlewave {

WindowFit WindowFit::target(ContentSize content, const ScreenRect& current, FrameMargins margins,
                            const std::optional<ScreenRect>& available) {
    const double fullWidth = content.width + margins.left + margins.right;
    const double fullHeight = std::ceil(content.height) + margins.top + margins.bottom;
    WindowFit fit;
    fit.scrolls = available && available->height < fullHeight;
    const double height = fit.scrolls ? available->height : fullHeight;
    double x = current.x;
    double y = current.y;
    if (available) {
        if (y + height >= available->bottom()) y = available->bottom() - height;
        y = std::max(y, available->y);
        // Within the area's sides too; on an area narrower than the window its left edge stays.
        x = std::max(std::min(x, available->x + available->width - fullWidth), available->x);
    }
    fit.frame = ScreenRect{x, y, fullWidth, height};
    return fit;
}

}  // namespace tindlewave
