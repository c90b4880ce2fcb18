#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Model/Range.h"
#include "Model/Result.h"

namespace tindlewave {

// How fast smooth scrolling moves for a given spin rate of the wheel: a few points (rate in wheel
// notches per second, speed in points per second), read between them on log-log scales.
class SpeedCurve {
  public:
    struct Point {
        double stepsPerSecond = 0;   // wheel notches per second
        double pointsPerSecond = 0;  // scroll speed

        bool operator==(const Point&) const = default;
    };

    // Why a list of points is no curve: the point and field concerned, when there is one.
    struct Problem {
        std::optional<int> index;
        std::optional<std::string> key;  // "stepsPerSecond" or "pointsPerSecond"
        std::string message;

        bool operator==(const Problem&) const = default;
    };

    // The acceleration of the older settings: the speed grows from `from` to `to` notches per
    // second up to `max` times.
    struct LegacyAcceleration {
        double from = 0;
        double to = 0;
        double max = 0;

        bool operator==(const LegacyAcceleration&) const = default;
    };

    static constexpr ClosedRange<double> stepsPerSecondRange{1, 150};
    static constexpr ClosedRange<double> pointsPerSecondRange{10, 30000};

    // The first problem of the points, in the order: count, then point by point its rate range,
    // speed range, rate rising, speed not falling.
    static std::optional<Problem> problem(const std::vector<Point>& points);
    // A curve of these points, or the first problem with them.
    static Result<SpeedCurve, Problem> make(std::vector<Point> points);
    // The curve that the older settings describe: a base speed, a boost of slow spins that fades
    // over the glide time (in seconds) and an optional acceleration. Always a valid curve: every
    // speed is finite and within pointsPerSecondRange.
    static SpeedCurve fromLegacy(double speed, double startBoost,
                                 std::optional<LegacyAcceleration> acceleration, double glide);
    // The default curve: 40 points per notch at 1 notch per second, 75 at 120.
    static const SpeedCurve& defaults();

    // Copies share the points (they never change once made), so copying a curve, and with it a
    // device's smooth-scroll settings, allocates nothing. Moving copies too: a curve is never
    // left without points.
    SpeedCurve(const SpeedCurve&) = default;
    SpeedCurve& operator=(const SpeedCurve&) = default;

    const std::vector<Point>& points() const { return shape_->points; }
    // The rate of the first point.
    double slowest() const { return shape_->points.front().stepsPerSecond; }
    // The speed at a rate, held flat below the first point (and for NaN) and above the last.
    double pointsPerSecond(double rate) const;
    // Points per notch at a rate; rates below the slowest (and NaN) count as the slowest.
    double distancePerStep(double rate) const;

    bool operator==(const SpeedCurve& other) const {
        return shape_ == other.shape_ || shape_->points == other.shape_->points;
    }

  private:
    // The points and, for each span between two of them, what reading the speed there needs
    // of them alone (worked out once: every wheel notch of a smooth scroll reads the curve).
    struct Shape {
        struct Span {
            double logRates = 0;     // log(b.stepsPerSecond / a.stepsPerSecond)
            double speedRatio = 0;   // b.pointsPerSecond / a.pointsPerSecond
        };
        std::vector<Point> points;
        std::vector<Span> spans;  // spans[k - 1] lies between points[k - 1] and points[k]
    };

    explicit SpeedCurve(std::vector<Point> points);

    std::shared_ptr<const Shape> shape_;
};

}  // namespace tindlewave
