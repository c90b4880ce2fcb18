#include "Settings/Views/SpeedGraph.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/LocaleTexts.h"
#include "Settings/Views/SpeedGraphPainter.h"

namespace tindlewave {

// The plot itself: painted, following the pointer, taking drags and double-clicks.
class SpeedGraph::Canvas final : public QWidget {
  public:
    explicit Canvas(SpeedGraph& owner) : owner_(owner) {
        setMouseTracking(true);
        setFixedHeight(int(CurveGraph::canvasHeight));
        setMinimumWidth(200);
        setAccessibleName("Scroll speed for each spin speed");
    }

    CurveGraph graph() const { return CurveGraph::inCanvas(width(), height()); }

  protected:
    void paintEvent(QPaintEvent*) override {
        paintSpeedGraph(*this, graph(), owner_.editor_.shown(), owner_.editor_.highlight(graph()));
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        start_ = event->position();
        dragging_ = false;
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        const PlotPoint location = plot(event->position());
        if (start_ && (event->buttons() & Qt::LeftButton)) {
            const QPointF moved = event->position() - *start_;
            if (dragging_ || std::hypot(moved.x(), moved.y()) >= 1) {
                dragging_ = true;
                owner_.editor_.dragChanged(plot(*start_), location, graph(), owner_.editable_);
            }
        }
        owner_.editor_.hover(location);
        owner_.changed();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !start_) return;
        start_.reset();
        if (!dragging_) return;
        dragging_ = false;
        const auto committed = owner_.editor_.dragEnded();
        owner_.changed();
        owner_.commit(committed);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        const auto committed =
            owner_.editor_.doubleClick(plot(event->position()), graph(), owner_.editable_);
        owner_.changed();
        owner_.commit(committed);
    }

    void leaveEvent(QEvent*) override {
        owner_.editor_.left();
        owner_.changed();
    }

    void resizeEvent(QResizeEvent*) override { owner_.changed(); }

  private:
    static PlotPoint plot(QPointF at) {
        return {at.x() - CurveGraph::marginLeft, at.y() - CurveGraph::marginTop};
    }

    SpeedGraph& owner_;
    std::optional<QPointF> start_;
    bool dragging_ = false;
};

SpeedGraph::SpeedGraph(SpeedCurve curve, Commit commit, QWidget* parent)
    : QWidget(parent), editor_(std::move(curve)), commit_(std::move(commit)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    canvas_ = new Canvas(*this);
    caption_ = new QLabel;
    caption_->setTextFormat(Qt::PlainText);
    dimText(caption_);
    auto* hint = new QLabel(
        "Drag a point to change it. Double-click the line to add a point, or a point to remove "
        "it.");
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    QFont small = hint->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    hint->setFont(small);
    dimText(hint);
    column->addWidget(canvas_);
    column->addWidget(caption_);
    column->addWidget(hint);
    changed();
}

QWidget* SpeedGraph::canvas() const {
    return canvas_;
}

CurveGraph SpeedGraph::graph() const {
    return canvas_->graph();
}

void SpeedGraph::commit(const std::optional<SpeedCurve>& curve) {
    if (!curve || !commit_) return;
    commit_(*curve, [graph = QPointer<SpeedGraph>(this), curve = *curve] {
        if (!graph) return;
        graph->editor_.refused(curve);
        graph->changed();
    });
}

void SpeedGraph::setCurve(const SpeedCurve& curve) {
    editor_.setCurve(curve);
    changed();
}

void SpeedGraph::setEditable(bool editable) {
    if (editable == editable_) return;
    editable_ = editable;
    if (editable) {
        setGraphicsEffect(nullptr);
    } else {
        auto* effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(0.45);
        setGraphicsEffect(effect);
    }
}

void SpeedGraph::changed() {
    const auto numbers = localNumbers();
    caption_->setText(QString::fromStdString(editor_.caption(graph(), numbers)));
    canvas_->setAccessibleDescription(
        QString::fromStdString(CurveGraph::pointList(editor_.shown(), numbers)));
    canvas_->update();
}

}  // namespace tindlewave
