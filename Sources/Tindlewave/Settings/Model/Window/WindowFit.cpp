#include "Settings/Model/Window/WindowFit.h"

#include <cmath>

namespace tindlewave {

WindowFit WindowFit::target(ContentSize content, const ScreenRect& current, FrameMargins margins,
                            const std::optional<ScreenRect>& available) {
    const double fullWidth = content.width + margins.left + margins.right;
    const double fullHeight = std::ceil(content.height) + margins.top + margins.bottom;
    WindowFit fit;
    fit.scrolls = available && available->height < fullHeight;
    const double height = fit.scrolls ? available->height : fullHeight;
    double y = current.y;
    if (available && y + height >= available->bottom()) y = available->bottom() - height;
    fit.frame = ScreenRect{current.x, y, fullWidth, height};
    return fit;
}

}  // namespace tindlewave
