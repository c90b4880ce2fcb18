#include "Settings/Model/Scrolling/KnobDraft.h"

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

void KnobDraft::stored(double value, bool changed) {
    if (pending_) {
        if (value != *pending_) return;
        pending_.reset();
    } else if (!changed) {
        return;
    }
    if (!dragging_) draft_.reset();
}

std::optional<double> KnobDraft::finish(double position, const SliderScale& scale, double value) {
    const double v = scale.value(position);
    if (v == pending_.value_or(value)) {
        if (!pending_) draft_.reset();
        return std::nullopt;
    }
    pending_ = v;
    return v;
}

}  // namespace tindlewave
