#include "Settings/Model/Scrolling/CurveGraph.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tindlewave {

namespace {
constexpr double maxRate = 150;
constexpr double minSpeed = 10;
constexpr double speedSpan = 3000;  // 30000 / 10

// Clamped to lo...hi; NaN gives lo.
double clamped(double value, double lo, double hi) {
    if (!(value > lo)) return lo;
    return value > hi ? hi : value;
}

std::optional<SpeedCurve> curveOf(std::vector<SpeedCurve::Point> points) {
    auto made = SpeedCurve::make(std::move(points));
    if (!made) return std::nullopt;
    return std::move(made).value();
}

// The speed clamped between the speeds of the points around `index` in `points` (10 and 30000
// at the ends); the lower limit wins over the upper one.
double between(double speed, const std::vector<SpeedCurve::Point>& points, std::size_t before,
               std::optional<std::size_t> after) {
    double lower =
        before > 0 ? points[before - 1].pointsPerSecond : SpeedCurve::pointsPerSecondRange.lo;
    double upper = after ? points[*after].pointsPerSecond : SpeedCurve::pointsPerSecondRange.hi;
    return std::min(std::max(speed, lower), upper);
}
}  // namespace

std::span<const CurveBand> CurveGraph::bands() {
    static const std::array<CurveBand, 4> list{{
        {"slow 4\u201312", {4, 12}},
        {"medium 15\u201317", {15, 17}},
        {"fast ~36", {33, 40}},
        {"flick ~120", {110, 150}},
    }};
    return list;
}

std::span<const double> CurveGraph::rateTicks() {
    static constexpr std::array<double, 8> ticks{1, 2, 5, 10, 20, 50, 100, 150};
    return ticks;
}

std::span<const double> CurveGraph::speedTicks() {
    static constexpr std::array<double, 4> ticks{10, 100, 1000, 10000};
    return ticks;
}

CurveGraph CurveGraph::inCanvas(double canvasWidth, double canvasHeight) {
    return {std::max(0.0, canvasWidth - marginLeft - marginRight),
            std::max(0.0, canvasHeight - marginTop - marginBottom)};
}

double CurveGraph::x(double rate) const {
    return width * std::log(rate) / std::log(maxRate);
}

double CurveGraph::y(double speed) const {
    return height * (1 - std::log(speed / minSpeed) / std::log(speedSpan));
}

PlotPoint CurveGraph::position(const SpeedCurve::Point& point) const {
    return {x(point.stepsPerSecond), y(point.pointsPerSecond)};
}

double CurveGraph::rate(double atX) const {
    return std::pow(maxRate, clamped(atX / width, 0, 1));
}

double CurveGraph::speed(double atY) const {
    return minSpeed * std::pow(speedSpan, clamped(1 - atY / height, 0, 1));
}

bool CurveGraph::contains(PlotPoint location) const {
    return 0 <= location.x && location.x < width && 0 <= location.y && location.y < height;
}

std::optional<std::size_t> CurveGraph::pointIndex(PlotPoint near, const SpeedCurve& curve,
                                                  double pickRadius) const {
    std::optional<std::size_t> best;
    double bestDistance = 0;
    const auto& points = curve.points();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PlotPoint at = position(points[i]);
        const double distance = std::hypot(at.x - near.x, at.y - near.y);
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    if (best && bestDistance <= pickRadius) return best;
    return std::nullopt;
}

double CurveGraph::roundedRate(double rate) {
    return rate < 10 ? std::round(rate * 10) / 10 : std::round(rate);
}

double CurveGraph::roundedSpeed(double speed) {
    if (speed < 100) return std::round(speed);
    const double m = std::pow(10, std::floor(std::log10(speed)) - 2);
    return m * std::round(speed / m);
}

SpeedCurve CurveGraph::dragging(const SpeedCurve& curve, std::size_t point, SpeedCurve::Point to) {
    std::vector<SpeedCurve::Point> points = curve.points();
    if (point >= points.size()) return curve;
    const bool last = point + 1 == points.size();
    const double lower = point > 0 ? points[point - 1].stepsPerSecond * neighbourRatio
                                   : SpeedCurve::stepsPerSecondRange.lo;
    const double upper = last ? SpeedCurve::stepsPerSecondRange.hi
                              : points[point + 1].stepsPerSecond / neighbourRatio;
    double rate = points[point].stepsPerSecond;
    if (lower <= upper) rate = roundedRate(clamped(to.stepsPerSecond, lower, upper));
    const double speed = between(roundedSpeed(to.pointsPerSecond), points, point,
                                 last ? std::nullopt : std::optional(point + 1));
    points[point] = {rate, speed};
    auto moved = curveOf(std::move(points));
    return moved ? *moved : curve;
}

std::optional<SpeedCurve> CurveGraph::adding(const SpeedCurve& curve, double rate) {
    const double at = roundedRate(
        clamped(rate, SpeedCurve::stepsPerSecondRange.lo, SpeedCurve::stepsPerSecondRange.hi));
    std::vector<SpeedCurve::Point> points = curve.points();
    if (points.size() >= maxPoints) return std::nullopt;
    for (const auto& point : points) {
        const double ratio =
            std::max(at, point.stepsPerSecond) / std::min(at, point.stepsPerSecond);
        if (ratio < neighbourRatio) return std::nullopt;
    }
    const auto place =
        std::find_if(points.begin(), points.end(),
                     [&](const SpeedCurve::Point& point) { return point.stepsPerSecond > at; });
    const auto index = static_cast<std::size_t>(place - points.begin());
    const double speed = between(roundedSpeed(curve.pointsPerSecond(at)), points, index,
                                 index < points.size() ? std::optional(index) : std::nullopt);
    points.insert(place, {at, speed});
    return curveOf(std::move(points));
}

std::optional<SpeedCurve> CurveGraph::removing(const SpeedCurve& curve, std::size_t point) {
    std::vector<SpeedCurve::Point> points = curve.points();
    if (point >= points.size()) return std::nullopt;
    points.erase(points.begin() + static_cast<std::ptrdiff_t>(point));
    return curveOf(std::move(points));
}

std::string CurveGraph::number(double value, const NumberFormat& numbers) {
    const bool fraction = value < 10 && value != std::floor(value);
    return fraction ? numbers.fixed(value, 1, 1) : numbers.fixed(value, 0, 0);
}

std::string CurveGraph::readout(const SpeedCurve& curve, double rate, const NumberFormat& numbers) {
    return "at " + rateText(rate, numbers) +
           " steps/s: " + number(curve.pointsPerSecond(rate), numbers) + " pt/s, " +
           number(curve.distancePerStep(rate), numbers) + " pt per step";
}

std::string CurveGraph::singleStep(const SpeedCurve& curve, const NumberFormat& numbers) {
    return "A single step from rest scrolls " +
           number(curve.distancePerStep(curve.slowest()), numbers) +
           " pt. Point at the graph to read it.";
}

std::string CurveGraph::pointList(const SpeedCurve& curve, const NumberFormat& numbers) {
    std::string text;
    for (const auto& point : curve.points()) {
        if (!text.empty()) text += ", ";
        text += rateText(point.stepsPerSecond, numbers) +
                " steps/s: " + number(point.pointsPerSecond, numbers) + " pt/s";
    }
    return text;
}

}  // namespace tindlewave
