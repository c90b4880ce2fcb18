#include "Settings/Model/Window/WindowFitMachine.h"

namespace tindlewave {

bool WindowFitMachine::requestFit(bool windowVisible) {
    if (pending_ || !windowVisible) return false;
    pending_ = true;
    return true;
}

WindowFitMachine::Step WindowFitMachine::fit(bool animated, const ScreenRect& current,
                                             const ScreenRect& target) {
    pending_ = false;
    if (animated && current != target) {
        if (heading_ == target) return Step::none;
        heading_ = target;
        return Step::animate;
    }
    heading_.reset();
    return Step::jump;
}

bool WindowFitMachine::animationEnded(const ScreenRect& frame) {
    if (heading_ != frame) return false;
    heading_.reset();
    return true;
}

}  // namespace tindlewave
