#include "Settings/Model/KnobDraft.h"

namespace tindlewave {

double KnobDraft::position(const SliderScale& scale, double value) const {
    return draft_ ? *draft_ : scale.position(value);
}

double KnobDraft::shown(const SliderScale& scale, double value) const {
    return draft_ ? scale.value(*draft_) : value;
}

std::optional<double> KnobDraft::moved(double position, const SliderScale& scale, double value) {
    draft_ = position;
    if (dragging_) return std::nullopt;
    return finish(position, scale, value);
}

std::optional<double> KnobDraft::editing(bool began, const SliderScale& scale, double value) {
    // An end without a beginning (reported twice, say) finishes nothing a second time.
    const bool wasDragging = dragging_;
    dragging_ = began;
    if (began || !wasDragging || !draft_) return std::nullopt;
    return finish(*draft_, scale, value);
}

std::optional<double> KnobDraft::finish(double position, const SliderScale& scale, double value) {
    const double v = scale.value(position);
    if (v == value) {
        draft_.reset();
        return std::nullopt;
    }
    return v;
}

}  // namespace tindlewave
