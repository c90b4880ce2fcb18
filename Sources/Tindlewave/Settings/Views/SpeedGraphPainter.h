#pragma once

#include "Settings/Model/Scrolling/CurveEditor.h"

class QWidget;

namespace tindlewave {

// Draws the speed graph into `canvas` (the plot inset by the graph's margins): background,
// bands and their labels, grid and tick labels, frame, axis titles, the curve with its dashed
// ends, the hover guide and the points.
void paintSpeedGraph(QWidget& canvas, const CurveGraph& graph, const SpeedCurve& curve,
                     const CurveEditor::Highlight& highlight);

}  // namespace tindlewave
