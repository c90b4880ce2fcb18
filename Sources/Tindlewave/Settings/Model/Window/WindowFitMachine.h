#pragma once

#include <optional>

#include "Settings/Model/Window/WindowFit.h"

namespace tindlewave {

// When the settings window refits to its page, without the toolkit: at most one fit pending at a
// time (any number of size changes before it runs lead to one fit), and an animation towards a
// frame is not restarted by a second fit to the same frame. States: idle → pending (a fit asked
// for) → animating (heading for a frame) → idle. The window performs the steps it returns.
class WindowFitMachine {
  public:
    enum class Step {
        none,     // the window is already heading for that frame: nothing to do
        animate,  // animate the frame to the target; show the page when animationEnded says so
        jump,     // set the frame at once and show the page
    };

    // A fit was asked for. True when the caller must arm its one-shot fit (idle before, and the
    // window visible); false when one is already pending or the window is hidden (a hidden
    // window is fitted when shown).
    bool requestFit(bool windowVisible);
    bool isPending() const { return pending_; }
    // The pending fit found nothing to fit (no window or no measured page yet).
    void skipped() { pending_ = false; }

    // The fit runs now (the pending one, or a direct one): decides how to reach `target`.
    Step fit(bool animated, const ScreenRect& current, const ScreenRect& target);
    // An animation towards `frame` finished: true when the page is to be shown, that is when no
    // newer animation has replaced it.
    bool animationEnded(const ScreenRect& frame);

    const std::optional<ScreenRect>& heading() const { return heading_; }

    // A page whose subject changed must be hidden until the window has grown to its new height.
    static bool hidesBeforeGrowing(bool replaced, bool windowVisible, double currentHeight,
                                   double targetHeight) {
        return replaced && windowVisible && currentHeight < targetHeight;
    }

  private:
    bool pending_ = false;
    std::optional<ScreenRect> heading_;
};

}  // namespace tindlewave
