#pragma once

#include <QWidget>
#include <functional>

#include "Settings/Model/Scrolling/CurveEditor.h"

class QLabel;

namespace tindlewave {

// The editor of a speed curve: the curve on its log-log plot with the spin-rate bands, a readout
// under it and a hint. A point can be dragged, and a double-click adds or removes one; each
// finished edit goes to `commit` once. It is never disabled the Qt way (a disabled widget gets no
// pointer events, and the readout must follow the pointer): while not editable it is drawn at
// 45 % and ignores drags and double-clicks. With each curve comes what to call when it is refused:
// the graph then shows the curve in force again.
class SpeedGraph final : public QWidget {
  public:
    using Refused = std::function<void()>;
    using Commit = std::function<void(const SpeedCurve& curve, Refused refused)>;

    SpeedGraph(SpeedCurve curve, Commit commit, QWidget* parent = nullptr);

    // The curve in force; a changed one ends the edited copy.
    void setCurve(const SpeedCurve& curve);
    void setEditable(bool editable);
    bool isEditable() const { return editable_; }

    const CurveEditor& editor() const { return editor_; }
    QWidget* canvas() const;
    QLabel* caption() const { return caption_; }
    // The plot as measured now.
    CurveGraph graph() const;

  private:
    class Canvas;
    friend class Canvas;

    void changed();
    void commit(const std::optional<SpeedCurve>& curve);

    CurveEditor editor_;
    Commit commit_;
    bool editable_ = true;
    Canvas* canvas_;
    QLabel* caption_;
};

}  // namespace tindlewave
