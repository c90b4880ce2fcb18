#include "Settings/Views/SpeedGraphPainter.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>

#include "Settings/Views/LocaleTexts.h"

namespace tindlewave {

namespace {
QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

QFont scaled(const QFont& base, double factor) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    return font;
}
}  // namespace

void paintSpeedGraph(QWidget& canvas, const CurveGraph& graph, const SpeedCurve& curve,
                     const CurveEditor::Highlight& highlight) {
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(CurveGraph::marginLeft, CurveGraph::marginTop);
    const double w = graph.width;
    const double h = graph.height;
    const QColor secondary = withAlpha(canvas.palette().color(QPalette::WindowText), 0.6);
    const QColor accent = canvas.palette().color(QPalette::Highlight);
    const QFont caption = scaled(canvas.font(), 0.9);
    const QFont caption2 = scaled(canvas.font(), 0.8);
    const auto numbers = localNumbers();
    const QRectF plot(0, 0, w, h);

    painter.fillRect(plot, withAlpha(secondary, 0.04));

    painter.setFont(caption2);
    const QFontMetricsF small(caption2);
    for (const CurveBand& band : CurveGraph::bands()) {
        const double left = graph.x(band.rates.lo);
        const double right = graph.x(band.rates.hi);
        painter.fillRect(QRectF(left, 0, right - left, h), withAlpha(accent, 0.09));
        const QString label = QString::fromUtf8(band.label.data(), qsizetype(band.label.size()));
        const double half = small.horizontalAdvance(label) / 2;
        const double centre = std::min(w - half, std::max((left + right) / 2, half));
        painter.setPen(secondary);
        painter.drawText(QPointF(centre - half, -4 - small.descent()), label);
    }

    const QPen grid(withAlpha(secondary, 0.18), 1);
    for (double tick : CurveGraph::rateTicks()) {
        const double x = graph.x(tick);
        painter.setPen(grid);
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
        const QString text = QString::fromStdString(CurveGraph::number(tick, numbers));
        painter.setPen(secondary);
        painter.drawText(QPointF(x - small.horizontalAdvance(text) / 2, h + 4 + small.ascent()),
                         text);
    }
    for (double tick : CurveGraph::speedTicks()) {
        const double y = graph.y(tick);
        painter.setPen(grid);
        painter.drawLine(QPointF(0, y), QPointF(w, y));
        const QString text = QString::fromStdString(CurveGraph::number(tick, numbers));
        painter.setPen(secondary);
        painter.drawText(
            QPointF(-6 - small.horizontalAdvance(text), y + (small.ascent() - small.descent()) / 2),
            text);
    }

    painter.setPen(QPen(withAlpha(secondary, 0.35), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    painter.setFont(caption);
    painter.setPen(secondary);
    const QFontMetricsF titles(caption);
    const QString across = "Spin speed, steps per second";
    painter.drawText(
        QPointF(w / 2 - titles.horizontalAdvance(across) / 2, h + 22 + titles.ascent()), across);
    {
        painter.save();
        painter.translate(-50, h / 2);
        painter.rotate(-90);
        const QString up = "Scroll speed, points per second";
        painter.drawText(
            QPointF(-titles.horizontalAdvance(up) / 2, (titles.ascent() - titles.descent()) / 2),
            up);
        painter.restore();
    }

    const auto& points = curve.points();
    std::vector<QPointF> at;
    for (const auto& point : points) {
        const PlotPoint p = graph.position(point);
        at.emplace_back(p.x, p.y);
    }
    QPen dashed(withAlpha(accent, 0.6), 2);
    dashed.setDashPattern({2, 2});  // in pen widths: 4 on, 4 off
    painter.setPen(dashed);
    painter.drawLine(QPointF(0, at.front().y()), at.front());
    painter.drawLine(at.back(), QPointF(w, at.back().y()));
    painter.setPen(QPen(accent, 2));
    painter.drawPolyline(at.data(), int(at.size()));

    if (highlight.guideRate) {
        const double x = graph.x(*highlight.guideRate);
        QPen guide(withAlpha(secondary, 0.5), 1);
        guide.setDashPattern({2, 3});
        painter.setPen(guide);
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(QPointF(x, graph.y(curve.pointsPerSecond(*highlight.guideRate))), 3, 3);
    }

    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(accent);
    for (std::size_t i = 0; i < at.size(); ++i) {
        const double radius = highlight.point == i ? 7 : 5;
        painter.drawEllipse(at[i], radius, radius);
    }
}

}  // namespace tindlewave
