#pragma once

#include <QMarginsF>
#include <QRectF>
#include <QString>
#include <vector>

#include "Settings/Model/Scrolling/CurveEditor.h"

class QFont;
class QWidget;

namespace tindlewave {

// One text around the plot: where it stands in the canvas (for the vertical title, the rectangle
// it covers once turned), and whether it is an axis title (the larger of the graph's two fonts).
struct GraphText {
    QString text;
    QRectF rect;
    bool title = false;
    bool vertical = false;
};

// The room the graph's texts take around the plot in a widget of that font: the graph's usual
// margins (CurveGraph), or more on a side whose texts need it.
QMarginsF speedGraphMargins(const QFont& font);
// The band labels, the tick labels and the axis titles around a plot with these margins, in the
// canvas's coordinates, as they are painted.
std::vector<GraphText> speedGraphTexts(const QFont& font, const CurveGraph& graph,
                                       const QMarginsF& margins);

// Draws the speed graph into `canvas` (the plot inset by `margins`): background, bands and their
// labels, grid and tick labels, frame, axis titles, the curve with its dashed ends, the hover
// guide and the points.
void paintSpeedGraph(QWidget& canvas, const CurveGraph& graph, const QMarginsF& margins,
                     const SpeedCurve& curve, const CurveEditor::Highlight& highlight);

}  // namespace tindlewave
