#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "Model/SpeedCurve.h"
#include "Settings/Model/Scrolling/CurveGraph.h"

namespace tindlewave {

// The speed graph's edit state: the curve in force, the edited curve shown in its place, the
// point being dragged with the curve as it was when the drag began, and the pointer. Edits hand
// back the curve to commit; the editor never writes anything itself. Locations are in plot
// coordinates.
class CurveEditor {
  public:
    struct Drag {
        std::size_t index = 0;
        SpeedCurve base;
        bool operator==(const Drag&) const = default;
    };
    // What the drawing marks: a highlighted point, or the hover guide at a rate.
    struct Highlight {
        std::optional<std::size_t> point;
        std::optional<double> guideRate;
        bool operator==(const Highlight&) const = default;
    };

    explicit CurveEditor(SpeedCurve curve) : curve_(std::move(curve)) {}

    const SpeedCurve& curve() const { return curve_; }
    const std::optional<SpeedCurve>& draft() const { return draft_; }
    const std::optional<Drag>& drag() const { return drag_; }
    const std::optional<PlotPoint>& pointer() const { return pointer_; }
    // The draft while there is one, else the curve in force.
    const SpeedCurve& shown() const { return draft_ ? *draft_ : curve_; }

    // A new curve in force (the committed one coming back, a reset, another device) ends the draft.
    void setCurve(const SpeedCurve& curve);
    // The store refused `curve`, a committed one: the draft showing it ends (not a later one, nor
    // a drag under way), and the curve in force is shown again.
    void refused(const SpeedCurve& curve);

    // A drag that began at `start` is now at `location`. It takes the point within the graph's
    // radius of the start (trying again on every change while none is near) and moves it from the
    // curve shown when the drag began. Nothing happens while not editable.
    void dragChanged(PlotPoint start, PlotPoint location, const CurveGraph& graph, bool editable);
    // The drag ended (also while not editable): the curve to commit, when it changed anything.
    std::optional<SpeedCurve> dragEnded();
    // A double-click removes the point under it, else adds a point at its rate; the curve to
    // commit, none when nothing changed or while not editable.
    std::optional<SpeedCurve> doubleClick(PlotPoint location, const CurveGraph& graph,
                                          bool editable);
    void hover(PlotPoint location) { pointer_ = location; }
    void left() { pointer_.reset(); }

    // The text under the plot: the readout of the dragged or pointed-at point or rate, else the
    // single step's distance.
    std::string caption(const CurveGraph& graph, const NumberFormat& numbers) const;
    Highlight highlight(const CurveGraph& graph) const;

  private:
    SpeedCurve curve_;
    std::optional<SpeedCurve> draft_;
    std::optional<Drag> drag_;
    std::optional<PlotPoint> pointer_;
};

}  // namespace tindlewave
