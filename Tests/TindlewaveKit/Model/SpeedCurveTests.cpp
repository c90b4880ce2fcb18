#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Model/SpeedCurve.h"

namespace tindlewave {
namespace {

using Point = SpeedCurve::Point;
using Problem = SpeedCurve::Problem;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(SpeedCurveProblem, ReportsTheFirstProblemWithItsPointAndField) {
    EXPECT_EQ(SpeedCurve::problem({}),
              (Problem{std::nullopt, std::nullopt, "needs at least 2 points"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}}),
              (Problem{std::nullopt, std::nullopt, "needs at least 2 points"}));
    EXPECT_EQ(SpeedCurve::problem({{0.5, 40}, {5, 250}}),
              (Problem{0, "stepsPerSecond", "must be between 1 and 150"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {5, 40000}}),
              (Problem{1, "pointsPerSecond", "must be between 10 and 30000"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {1, 50}}),
              (Problem{1, "stepsPerSecond", "must be more than the point before"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {5, 30}}),
              (Problem{1, "pointsPerSecond", "must be at least the point before"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {5, 40}}), std::nullopt);
}

TEST(SpeedCurveProblem, ChecksInOrderPointByPoint) {
    // A range fault of point 1 comes before the order fault of the same point...
    EXPECT_EQ(SpeedCurve::problem({{5, 40}, {200, 30}}),
              (Problem{1, "stepsPerSecond", "must be between 1 and 150"}));
    // ...the speed's range before the rate's order...
    EXPECT_EQ(SpeedCurve::problem({{5, 40}, {5, 5}}),
              (Problem{1, "pointsPerSecond", "must be between 10 and 30000"}));
    // ...and an earlier point's fault before a later one's.
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {5, 30}, {0, 0}}),
              (Problem{1, "pointsPerSecond", "must be at least the point before"}));
}

TEST(SpeedCurveProblem, RangeEndsAreInsideAndNaNIsOutside) {
    EXPECT_EQ(SpeedCurve::problem({{1, 10}, {150, 30000}}), std::nullopt);
    EXPECT_EQ(SpeedCurve::problem({{nan, 40}, {5, 250}}),
              (Problem{0, "stepsPerSecond", "must be between 1 and 150"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {5, nan}}),
              (Problem{1, "pointsPerSecond", "must be between 10 and 30000"}));
    EXPECT_EQ(SpeedCurve::problem({{1, 40}, {inf, 250}}),
              (Problem{1, "stepsPerSecond", "must be between 1 and 150"}));
}

TEST(SpeedCurveMake, KeepsValidPointsAndRefusesOthers) {
    auto made = SpeedCurve::make({{1, 40}, {5, 40}});
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(made->points(), (std::vector<Point>{{1, 40}, {5, 40}}));
    EXPECT_EQ(made->slowest(), 1);

    auto refused = SpeedCurve::make({{1, 40}});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "needs at least 2 points");
}

TEST(SpeedCurveDefault, IsTheDocumentedCurve) {
    const SpeedCurve& curve = SpeedCurve::defaults();
    EXPECT_EQ(curve.points(),
              (std::vector<Point>{{1, 40}, {5, 250}, {15, 900}, {40, 2800}, {120, 9000}}));
    EXPECT_EQ(&curve, &SpeedCurve::defaults());
    EXPECT_EQ(SpeedCurve::problem(curve.points()), std::nullopt);
}

TEST(SpeedCurveInterpolation, IsLogLogBetweenPointsAndFlatAtTheEnds) {
    const SpeedCurve& curve = SpeedCurve::defaults();
    EXPECT_EQ(curve.pointsPerSecond(0.5), 40);
    EXPECT_EQ(curve.pointsPerSecond(-3), 40);
    EXPECT_EQ(curve.pointsPerSecond(120), 9000);
    EXPECT_EQ(curve.pointsPerSecond(150), 9000);
    EXPECT_EQ(curve.pointsPerSecond(inf), 9000);
    EXPECT_DOUBLE_EQ(curve.pointsPerSecond(10),
                     250 * std::pow(900.0 / 250.0, std::log(2.0) / std::log(3.0)));
    for (const Point& point : curve.points()) {
        EXPECT_DOUBLE_EQ(curve.pointsPerSecond(point.stepsPerSecond), point.pointsPerSecond);
    }
}

// The curve keeps each span's log of rates and ratio of speeds from when it was made: what it
// reads must be what reading the points themselves gives, exactly.
TEST(SpeedCurveInterpolation, KeptSpansReadAsThePointsDo) {
    const std::vector<SpeedCurve> curves{
        SpeedCurve::defaults(), SpeedCurve::fromLegacy(40, 2, std::nullopt, 0.4),
        SpeedCurve::fromLegacy(10, 1, SpeedCurve::LegacyAcceleration{4, 40, 3}, 0),
        *SpeedCurve::make({{1, 10}, {1.5, 10}, {150, 30000}})};
    for (const SpeedCurve& original : curves) {
        const SpeedCurve curve = original;  // a copy reads as the curve it was copied from
        const std::vector<Point>& points = curve.points();
        // The speed read from the points alone, with nothing kept.
        auto fromPoints = [&](double rate) {
            if (!(rate > points.front().stepsPerSecond)) return points.front().pointsPerSecond;
            for (std::size_t k = 1; k < points.size(); ++k) {
                const Point& a = points[k - 1];
                const Point& b = points[k];
                if (!(b.stepsPerSecond > rate)) continue;
                const double t =
                    std::log(rate / a.stepsPerSecond) / std::log(b.stepsPerSecond / a.stepsPerSecond);
                return a.pointsPerSecond * std::pow(b.pointsPerSecond / a.pointsPerSecond, t);
            }
            return points.back().pointsPerSecond;
        };
        for (double rate = 0.5; rate < 160; rate *= 1.01) {
            const double expected = fromPoints(rate);
            ASSERT_EQ(curve.pointsPerSecond(rate), expected) << rate;
        }
    }
}

TEST(SpeedCurveInterpolation, DistancePerStep) {
    const SpeedCurve& curve = SpeedCurve::defaults();
    EXPECT_EQ(curve.distancePerStep(0), 40);  // the rate is raised to the slowest
    EXPECT_EQ(curve.distancePerStep(1), 40);
    EXPECT_DOUBLE_EQ(curve.distancePerStep(120), 75);
}

TEST(SpeedCurveInterpolation, NaNRateTakesTheFirstSpeed) {
    const SpeedCurve& curve = SpeedCurve::defaults();
    EXPECT_EQ(curve.pointsPerSecond(nan), 40);
    EXPECT_EQ(curve.distancePerStep(nan), 40);
    EXPECT_TRUE(std::isfinite(curve.distancePerStep(inf)));
}

TEST(SpeedCurveConverter, BuildsTheCurveOfTheOlderSettings) {
    const SpeedCurve curve = SpeedCurve::fromLegacy(40, 2, std::nullopt, 0.4);
    const std::vector<double> rates{1, 2.5, 5, 15, 40, 150};
    ASSERT_EQ(curve.points().size(), rates.size());
    for (std::size_t i = 0; i < rates.size(); ++i) {
        const double s = rates[i];
        EXPECT_EQ(curve.points()[i].stepsPerSecond, s);
        const double boost = std::min(1 / (0.4 * s), 1.0) + 1;
        EXPECT_DOUBLE_EQ(curve.points()[i].pointsPerSecond, std::min(40 * s * boost, 30000.0));
    }
    EXPECT_EQ(curve.points()[0].pointsPerSecond, 80);
}

TEST(SpeedCurveConverter, AccelerationRampsBetweenItsRates) {
    const SpeedCurve curve =
        SpeedCurve::fromLegacy(10, 1, SpeedCurve::LegacyAcceleration{4, 40, 3}, 0);
    std::vector<double> rates;
    for (const Point& point : curve.points()) rates.push_back(point.stepsPerSecond);
    EXPECT_EQ(rates, (std::vector<double>{1, 4, 5, 15, 40, 150}));
    EXPECT_EQ(curve.points()[0].pointsPerSecond, 10);  // factor 1 below `from`
    EXPECT_DOUBLE_EQ(curve.points()[3].pointsPerSecond, 10 * 15 * (2 * 11.0 / 36 + 1));
    EXPECT_EQ(curve.points()[4].pointsPerSecond, 10 * 40 * 3);  // full factor from `to` on

    // `from` at or above `to` is a step at `from`; rates outside 1...150 are dropped.
    const SpeedCurve step =
        SpeedCurve::fromLegacy(10, 1, SpeedCurve::LegacyAcceleration{20, 500, 2}, 0);
    EXPECT_EQ(step.points().size(), 6u);
    const SpeedCurve flip =
        SpeedCurve::fromLegacy(10, 1, SpeedCurve::LegacyAcceleration{20, 10, 2}, 0);
    EXPECT_EQ(flip.points()[2].pointsPerSecond, 10 * 10);  // rate 10 is below `from`
    EXPECT_EQ(flip.points()[4].pointsPerSecond, 10 * 20 * 2);
}

TEST(SpeedCurveConverter, StaysFiniteAndValidOnExtremeInputs) {
    using Acceleration = SpeedCurve::LegacyAcceleration;
    const std::vector<SpeedCurve> curves{
        SpeedCurve::fromLegacy(1e308, 0, std::nullopt, 0),  // inf × 0 at the fast end
        SpeedCurve::fromLegacy(1e308, 2, std::nullopt, 0.4),
        SpeedCurve::fromLegacy(inf, 0, std::nullopt, 0),
        SpeedCurve::fromLegacy(nan, 2, std::nullopt, 0.4),
        SpeedCurve::fromLegacy(40, nan, std::nullopt, nan),
        SpeedCurve::fromLegacy(40, 2, std::nullopt, -1),
        SpeedCurve::fromLegacy(-40, 2, std::nullopt, 0.4),
        SpeedCurve::fromLegacy(40, 2, Acceleration{nan, nan, nan}, 0.4),
        SpeedCurve::fromLegacy(40, 2, Acceleration{-inf, inf, inf}, 0.4),
        SpeedCurve::fromLegacy(40, 2, Acceleration{1, 150, -inf}, 0.4),
    };
    for (const SpeedCurve& curve : curves) {
        EXPECT_EQ(SpeedCurve::problem(curve.points()), std::nullopt);
        for (const Point& point : curve.points()) {
            EXPECT_TRUE(std::isfinite(point.pointsPerSecond));
        }
    }
    // A NaN keeps the speed of the point before.
    const SpeedCurve zeroBoost = curves[0];
    EXPECT_EQ(zeroBoost.points().back().pointsPerSecond,
              zeroBoost.points()[zeroBoost.points().size() - 2].pointsPerSecond);
    // A huge speed ends at the top of the range.
    EXPECT_EQ(curves[1].points().front().pointsPerSecond, 30000);
}

}  // namespace
}  // namespace tindlewave
