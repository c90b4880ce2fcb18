#include "Settings/Views/SpeedGraphPainter.h"

#include <QPainter>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <span>

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

constexpr double tickGap = 4;   // between the plot and the labels above and below it
constexpr double labelGap = 6;  // between a speed label and the plot
constexpr double titleGap = 4;  // between the tick labels and an axis title
constexpr double bandGap = 6;   // between two band labels
constexpr double edge = 2;      // left free at the canvas's edges
constexpr const char* speedTitle = "Scroll speed, points per second";

// The graph's two fonts: the labels' and the axis titles'.
struct Fonts {
    explicit Fonts(const QFont& base) : small(scaled(base, 0.8)), title(scaled(base, 0.9)) {}
    QFont small;
    QFont title;
    QFontMetricsF labels{small};
    QFontMetricsF titles{title};
};

QString qString(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

double widest(const QFontMetricsF& metrics, std::span<const double> ticks) {
    const auto numbers = localNumbers();
    double width = 0;
    for (double tick : ticks)
        width = std::max(width, metrics.horizontalAdvance(QString::fromStdString(CurveGraph::number(tick, numbers))));
    return width;
}

// How far below the plot the rate axis's title has its top, and how far left of the plot the
// speed axis's title has its middle: clear of the tick labels.
double rateTitleTop(const Fonts& fonts) {
    return std::max(22.0, tickGap + fonts.labels.height() + titleGap);
}
double speedTitleMiddle(const Fonts& fonts) {
    return std::max(50.0, labelGap + widest(fonts.labels, CurveGraph::speedTicks()) + titleGap +
                              fonts.titles.height() / 2);
}

// A line of text whose baseline starts at `at`.
GraphText line(const QString& text, const QFontMetricsF& metrics, QPointF at, bool title) {
    return {text, QRectF(at.x(), at.y() - metrics.ascent(), metrics.horizontalAdvance(text), metrics.height()),
            title};
}

// The texts in the plot's coordinates.
std::vector<GraphText> textsAroundPlot(const Fonts& fonts, const CurveGraph& graph) {
    const double w = graph.width;
    const double h = graph.height;
    const auto numbers = localNumbers();
    std::vector<GraphText> texts;

    // Each band's label above its middle, within the plot's width; one that would run into the
    // next moves left (from the last one back).
    std::vector<GraphText> bands;
    for (const CurveBand& band : CurveGraph::bands()) {
        const QString label = qString(band.label);
        const double width = fonts.labels.horizontalAdvance(label);
        const double middle = (graph.x(band.rates.lo) + graph.x(band.rates.hi)) / 2;
        const double left = std::clamp(middle - width / 2, 0.0, std::max(0.0, w - width));
        bands.push_back(line(label, fonts.labels, {left, -tickGap - fonts.labels.descent()}, false));
    }
    double limit = w;
    for (auto band = bands.rbegin(); band != bands.rend(); ++band) {
        if (band->rect.right() > limit) band->rect.moveRight(limit);
        limit = band->rect.left() - bandGap;
    }
    texts.insert(texts.end(), bands.begin(), bands.end());

    for (double tick : CurveGraph::rateTicks()) {
        const QString text = QString::fromStdString(CurveGraph::number(tick, numbers));
        const double x = graph.x(tick) - fonts.labels.horizontalAdvance(text) / 2;
        texts.push_back(line(text, fonts.labels, {x, h + tickGap + fonts.labels.ascent()}, false));
    }
    for (double tick : CurveGraph::speedTicks()) {
        const QString text = QString::fromStdString(CurveGraph::number(tick, numbers));
        const double x = -labelGap - fonts.labels.horizontalAdvance(text);
        const double baseline = graph.y(tick) + (fonts.labels.ascent() - fonts.labels.descent()) / 2;
        texts.push_back(line(text, fonts.labels, {x, baseline}, false));
    }

    const QString across = "Spin speed, steps per second";
    texts.push_back(line(across, fonts.titles,
                         {w / 2 - fonts.titles.horizontalAdvance(across) / 2,
                          h + rateTitleTop(fonts) + fonts.titles.ascent()},
                         true));
    const QString up = speedTitle;
    const double length = fonts.titles.horizontalAdvance(up);
    const double thickness = fonts.titles.height();
    texts.push_back({up,
                     QRectF(-speedTitleMiddle(fonts) - thickness / 2, h / 2 - length / 2, thickness, length),
                     true, true});
    return texts;
}
}  // namespace

QMarginsF speedGraphMargins(const QFont& font) {
    const Fonts fonts(font);
    const double widestRate = widest(fonts.labels, CurveGraph::rateTicks());
    // The speed axis's title stands across the plot's middle, and may be longer than the plot.
    const double plotHeight = CurveGraph::canvasHeight - CurveGraph::marginTop - CurveGraph::marginBottom;
    const double beyond = (fonts.titles.horizontalAdvance(speedTitle) - plotHeight) / 2 + edge;
    return {std::max(CurveGraph::marginLeft, speedTitleMiddle(fonts) + fonts.titles.height() / 2 + edge),
            std::max({CurveGraph::marginTop, tickGap + fonts.labels.height() + edge, beyond}),
            // The last rate's label stands centred on the plot's right edge.
            std::max(CurveGraph::marginRight, widestRate / 2 + edge),
            std::max({CurveGraph::marginBottom, rateTitleTop(fonts) + fonts.titles.height() + edge, beyond})};
}

std::vector<GraphText> speedGraphTexts(const QFont& font, const CurveGraph& graph, const QMarginsF& margins) {
    auto texts = textsAroundPlot(Fonts(font), graph);
    for (GraphText& text : texts) text.rect.translate(margins.left(), margins.top());
    return texts;
}

void paintSpeedGraph(QWidget& canvas, const CurveGraph& graph, const QMarginsF& margins,
                     const SpeedCurve& curve, const CurveEditor::Highlight& highlight) {
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(margins.left(), margins.top());
    const double w = graph.width;
    const double h = graph.height;
    const QColor secondary = withAlpha(canvas.palette().color(QPalette::WindowText), 0.6);
    const QColor accent = canvas.palette().color(QPalette::Highlight);
    const Fonts fonts(canvas.font());
    const QRectF plot(0, 0, w, h);

    painter.fillRect(plot, withAlpha(secondary, 0.04));
    for (const CurveBand& band : CurveGraph::bands()) {
        const double left = graph.x(band.rates.lo);
        painter.fillRect(QRectF(left, 0, graph.x(band.rates.hi) - left, h), withAlpha(accent, 0.09));
    }
    painter.setPen(QPen(withAlpha(secondary, 0.18), 1));
    for (double tick : CurveGraph::rateTicks()) painter.drawLine(QPointF(graph.x(tick), 0), QPointF(graph.x(tick), h));
    for (double tick : CurveGraph::speedTicks()) painter.drawLine(QPointF(0, graph.y(tick)), QPointF(w, graph.y(tick)));
    painter.setPen(QPen(withAlpha(secondary, 0.35), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    painter.setPen(secondary);
    for (const GraphText& text : textsAroundPlot(fonts, graph)) {
        const QFontMetricsF& metrics = text.title ? fonts.titles : fonts.labels;
        painter.setFont(text.title ? fonts.title : fonts.small);
        if (!text.vertical) {
            painter.drawText(QPointF(text.rect.left(), text.rect.top() + metrics.ascent()), text.text);
            continue;
        }
        painter.save();
        painter.translate(text.rect.center());
        painter.rotate(-90);
        painter.drawText(QPointF(-text.rect.height() / 2, (metrics.ascent() - metrics.descent()) / 2), text.text);
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
