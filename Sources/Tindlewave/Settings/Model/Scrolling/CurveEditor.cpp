#include "Settings/Model/Scrolling/CurveEditor.h"

namespace tindlewave {

void CurveEditor::setCurve(const SpeedCurve& curve) {
    if (curve == curve_) return;
    curve_ = curve;
    draft_.reset();
}

void CurveEditor::refused(const SpeedCurve& curve) {
    if (!drag_ && draft_ == curve) draft_.reset();
}

void CurveEditor::dragChanged(PlotPoint start, PlotPoint location, const CurveGraph& graph,
                              bool editable) {
    if (!editable) return;
    if (!drag_) {
        const SpeedCurve& base = shown();
        const auto index = graph.pointIndex(start, base, CurveGraph::radius);
        if (!index) return;
        drag_ = Drag{*index, base};
    }
    pointer_ = location;
    draft_ = CurveGraph::dragging(drag_->base, drag_->index,
                                  {graph.rate(location.x), graph.speed(location.y)});
}

std::optional<SpeedCurve> CurveEditor::dragEnded() {
    const bool dragged = drag_.has_value();
    drag_.reset();
    if (!dragged || !draft_) return std::nullopt;
    if (*draft_ == curve_) {
        draft_.reset();
        return std::nullopt;
    }
    return draft_;
}

std::optional<SpeedCurve> CurveEditor::doubleClick(PlotPoint location, const CurveGraph& graph,
                                                   bool editable) {
    if (!editable) return std::nullopt;
    const SpeedCurve& base = shown();
    const auto index = graph.pointIndex(location, base, CurveGraph::radius);
    auto result = index ? CurveGraph::removing(base, *index)
                        : CurveGraph::adding(base, graph.rate(location.x));
    if (!result) return std::nullopt;
    draft_ = std::move(result);
    return draft_;
}

std::string CurveEditor::caption(const CurveGraph& graph, const NumberFormat& numbers) const {
    const SpeedCurve& curve = shown();
    if (drag_ && drag_->index < curve.points().size())
        return CurveGraph::readout(curve, curve.points()[drag_->index].stepsPerSecond, numbers);
    if (pointer_ && graph.contains(*pointer_)) {
        if (auto index = graph.pointIndex(*pointer_, curve, CurveGraph::radius))
            return CurveGraph::readout(curve, curve.points()[*index].stepsPerSecond, numbers);
        return CurveGraph::readout(curve, graph.rate(pointer_->x), numbers);
    }
    return CurveGraph::singleStep(curve, numbers);
}

CurveEditor::Highlight CurveEditor::highlight(const CurveGraph& graph) const {
    if (drag_) return {drag_->index, std::nullopt};
    if (!pointer_) return {};
    if (auto index = graph.pointIndex(*pointer_, shown(), CurveGraph::radius))
        return {index, std::nullopt};
    if (graph.contains(*pointer_)) return {std::nullopt, graph.rate(pointer_->x)};
    return {};
}

}  // namespace tindlewave
