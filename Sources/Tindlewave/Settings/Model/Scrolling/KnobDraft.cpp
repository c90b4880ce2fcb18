#include "Settings/Model/Scrolling/KnobDraft.h"

#include <algorithm>

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
    const auto stored = std::find(onTheWay_.begin(), onTheWay_.end(), value);
    if (stored != onTheWay_.end()) {
        // A commit came back: it and those before it are done; a later one keeps the slider.
        const bool last = stored + 1 == onTheWay_.end();
        onTheWay_.erase(onTheWay_.begin(), stored + 1);
        if (!last) return;
    } else if (changed) {
        // Not one of ours: what is still on its way was refused or overtaken.
        onTheWay_.clear();
    } else {
        return;
    }
    if (!dragging_) draft_.reset();
}

void KnobDraft::refused(double value) {
    const auto refused = std::find(onTheWay_.begin(), onTheWay_.end(), value);
    if (refused == onTheWay_.end()) return;
    onTheWay_.erase(refused);
    if (onTheWay_.empty() && !dragging_) draft_.reset();
}

std::optional<double> KnobDraft::finish(double position, const SliderScale& scale, double value) {
    const double v = scale.value(position);
    if (v == pending().value_or(value)) {
        if (onTheWay_.empty()) draft_.reset();
        return std::nullopt;
    }
    onTheWay_.push_back(v);
    return v;
}

}  // namespace tindlewave
