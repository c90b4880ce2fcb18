#pragma once

#include <optional>
#include <vector>

#include "Settings/Model/Scrolling/SliderScale.h"

namespace tindlewave {

// A knob's pending slider position and the rules of its gestures: a drag commits once, when it
// ends; a click or a key step commits at once; a gesture that ends on the value the knob will
// hold (the last one committed while it is on its way, else the stored one) commits nothing. The
// position stays where the user left it until the last value committed is stored, or until the
// stored value changes to one that is not on its way: key steps faster than a save come back as
// older values on the way, which leave the slider where it is, while any other value (the file
// mended or edited, a reset) means the commits still waiting were refused or overtaken, and they
// are given up. A commit the store refused is given up as soon as the refusal is known: with
// nothing else on its way, the slider goes back to the stored value.
class KnobDraft {
  public:
    const std::optional<double>& draft() const { return draft_; }
    bool dragging() const { return dragging_; }
    // The last value committed, until it is stored or given up.
    std::optional<double> pending() const {
        return onTheWay_.empty() ? std::nullopt : std::optional<double>(onTheWay_.back());
    }

    // The slider's position: the draft, else the stored value's.
    double position(const SliderScale& scale, double value) const;
    // The value the row writes: the draft's, else the stored one.
    double shown(const SliderScale& scale, double value) const;

    // The slider moved to `position`; the value to commit, when a click or key step moved it.
    std::optional<double> moved(double position, const SliderScale& scale, double value);
    // Editing began or ended; the value to commit when a drag ended off the stored value. An
    // end while no drag is under way does nothing.
    std::optional<double> editing(bool began, const SliderScale& scale, double value);
    // The stored value is `value` (`changed` from the one before): the slider goes back to it
    // when it is the value last committed, or when it changed to a value not on its way (which
    // gives up every commit still waiting). A drag under way keeps its position, which its end
    // commits.
    void stored(double value, bool changed);
    // The store refused the commit of `value` (the oldest one of that value on its way): the
    // slider goes back to the stored value unless a later commit is still on its way or a drag
    // is under way.
    void refused(double value);

  private:
    std::optional<double> finish(double position, const SliderScale& scale, double value);

    std::optional<double> draft_;
    // The values committed and not yet stored, oldest first.
    std::vector<double> onTheWay_;
    bool dragging_ = false;
};

}  // namespace tindlewave
