#include "Model/SpeedCurve.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace tindlewave {
namespace {

std::string betweenMessage(ClosedRange<double> range) {
    return fmt::format("must be between {:g} and {:g}", range.lo, range.hi);
}

}  // namespace

std::optional<SpeedCurve::Problem> SpeedCurve::problem(const std::vector<Point>& points) {
    if (points.size() < 2) return Problem{std::nullopt, std::nullopt, "needs at least 2 points"};
    for (std::size_t i = 0; i < points.size(); ++i) {
        const int index = static_cast<int>(i);
        const Point& point = points[i];
        if (!stepsPerSecondRange.contains(point.stepsPerSecond)) {
            return Problem{index, "stepsPerSecond", betweenMessage(stepsPerSecondRange)};
        }
        if (!pointsPerSecondRange.contains(point.pointsPerSecond)) {
            return Problem{index, "pointsPerSecond", betweenMessage(pointsPerSecondRange)};
        }
        if (i == 0) continue;
        const Point& before = points[i - 1];
        if (!(point.stepsPerSecond > before.stepsPerSecond)) {
            return Problem{index, "stepsPerSecond", "must be more than the point before"};
        }
        if (point.pointsPerSecond < before.pointsPerSecond) {
            return Problem{index, "pointsPerSecond", "must be at least the point before"};
        }
    }
    return std::nullopt;
}

Result<SpeedCurve, SpeedCurve::Problem> SpeedCurve::make(std::vector<Point> points) {
    if (auto found = problem(points)) return *found;
    return SpeedCurve(std::move(points));
}

const SpeedCurve& SpeedCurve::defaults() {
    static const SpeedCurve curve({{1, 40}, {5, 250}, {15, 900}, {40, 2800}, {120, 9000}});
    return curve;
}

SpeedCurve::SpeedCurve(std::vector<Point> points) {
    auto shape = std::make_shared<Shape>();
    shape->spans.reserve(points.empty() ? 0 : points.size() - 1);
    for (std::size_t k = 1; k < points.size(); ++k) {
        const Point& a = points[k - 1];
        const Point& b = points[k];
        shape->spans.push_back({std::log(b.stepsPerSecond / a.stepsPerSecond),
                                b.pointsPerSecond / a.pointsPerSecond});
    }
    shape->points = std::move(points);
    shape_ = std::move(shape);
}

double SpeedCurve::pointsPerSecond(double rate) const {
    const std::vector<Point>& points = shape_->points;
    const Point& first = points.front();
    // Written so that NaN also takes the first speed.
    if (!(rate > first.stepsPerSecond)) return first.pointsPerSecond;
    for (std::size_t k = 1; k < points.size(); ++k) {
        const Point& b = points[k];
        if (b.stepsPerSecond > rate) {
            const Point& a = points[k - 1];
            const Shape::Span& span = shape_->spans[k - 1];
            const double t = std::log(rate / a.stepsPerSecond) / span.logRates;
            return a.pointsPerSecond * std::pow(span.speedRatio, t);
        }
    }
    return points.back().pointsPerSecond;
}

double SpeedCurve::distancePerStep(double rate) const {
    const double r = rate >= slowest() ? rate : slowest();
    return pointsPerSecond(r) / r;
}

SpeedCurve SpeedCurve::fromLegacy(double speed, double startBoost,
                                  std::optional<LegacyAcceleration> acceleration, double glide) {
    std::vector<double> rates{1, 5, 15, 40, 150};
    if (acceleration) {
        rates.push_back(acceleration->from);
        rates.push_back(acceleration->to);
    }
    if (startBoost > 1 && glide > 0) rates.push_back(1 / glide);
    std::erase_if(rates, [](double s) { return !stepsPerSecondRange.contains(s); });
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());

    std::vector<Point> points;
    double previous = pointsPerSecondRange.lo;
    for (double s : rates) {
        double factor = 1;
        if (acceleration) {
            const auto [from, to, max] = *acceleration;
            double ramp;
            if (from < to) {
                ramp = std::clamp((s - from) / (to - from), 0.0, 1.0);
            } else {
                ramp = s >= from ? 1 : 0;
            }
            factor = (max - 1) * ramp + 1;
        }
        const double boost = (startBoost - 1) * std::min(1 / (glide * s), 1.0) + 1;
        double v = factor * speed * s * boost;
        // A NaN (for example an infinite speed times a boost of 0) keeps the point before's speed;
        // infinities end at the range's ends through the two limits below.
        if (std::isnan(v)) v = previous;
        v = std::min(std::max(v, previous), pointsPerSecondRange.hi);
        previous = v;
        points.push_back({s, v});
    }
    return SpeedCurve(std::move(points));
}

}  // namespace tindlewave
