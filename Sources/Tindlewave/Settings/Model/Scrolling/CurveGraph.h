#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Model/Range.h"
#include "Model/SpeedCurve.h"
#include "Settings/Model/Texts/NumberFormat.h"

namespace tindlewave {

// A location in the plot's coordinates: origin at the plot's top-left corner, y down.
struct PlotPoint {
    double x = 0;
    double y = 0;
    bool operator==(const PlotPoint&) const = default;
};

// A shaded band of typical wheel spin rates.
struct CurveBand {
    std::string_view label;
    ClosedRange<double> rates;
};

// The speed graph without a view: the plot's size, its log-log geometry, the hit test, the rules
// for dragging, adding and removing points, and its texts. Rates (wheel steps per second) run
// from 1 at the left edge to 150 at the right; speeds (points per second) from 10 at the bottom to
// 30000 at the top.
struct CurveGraph {
    double width = 0;
    double height = 0;

    // The canvas is this high; the plot sits inside it with these margins.
    static constexpr double canvasHeight = 300;
    static constexpr double marginLeft = 64, marginTop = 24, marginRight = 16, marginBottom = 42;
    // The graph's pick radius, the least ratio between neighbouring rates, the most points.
    static constexpr double radius = 10;
    static constexpr double neighbourRatio = 1.08;
    static constexpr std::size_t maxPoints = 10;

    static std::span<const CurveBand> bands();
    static std::span<const double> rateTicks();
    static std::span<const double> speedTicks();

    // The plot inside a canvas of that size.
    static CurveGraph inCanvas(double canvasWidth, double canvasHeight);

    double x(double rate) const;
    double y(double speed) const;
    PlotPoint position(const SpeedCurve::Point& point) const;
    // The inverse maps; locations outside the plot give the nearest edge's value.
    double rate(double x) const;
    double speed(double y) const;
    // Inside the plot rectangle (the far edges excluded).
    bool contains(PlotPoint location) const;

    // The index of the point nearest the location when it is within `radius`; the earlier point
    // on a tie.
    std::optional<std::size_t> pointIndex(PlotPoint near, const SpeedCurve& curve,
                                          double radius) const;

    // The curve with one point moved towards `to`: its rate kept a ratio of 1.08 from each
    // neighbour and rounded, its speed rounded and kept between its neighbours'. The curve as
    // given when the point does not exist or the result is no valid curve.
    static SpeedCurve dragging(const SpeedCurve& curve, std::size_t point, SpeedCurve::Point to);
    // The curve with a point on it at that rate; none at 10 points, or within a ratio of 1.08 of
    // a point.
    static std::optional<SpeedCurve> adding(const SpeedCurve& curve, double rate);
    // The curve without the point; none when fewer than two would be left.
    static std::optional<SpeedCurve> removing(const SpeedCurve& curve, std::size_t point);

    // One fraction digit below 10 when not whole, else none: "2.5", "5", "37", "1,230".
    static std::string number(double value, const NumberFormat& numbers);
    static std::string rateText(double rate, const NumberFormat& numbers) {
        return number(rate, numbers);
    }
    // "at 5 steps/s: 250 pt/s, 50 pt per step".
    static std::string readout(const SpeedCurve& curve, double rate, const NumberFormat& numbers);
    // The caption while nothing is pointed at.
    static std::string singleStep(const SpeedCurve& curve, const NumberFormat& numbers);
    // The points for assistive technologies: "1 steps/s: 40 pt/s, 5 steps/s: 250 pt/s".
    static std::string pointList(const SpeedCurve& curve, const NumberFormat& numbers);
    // Rates round to a tenth below 10, else to a whole number; speeds to a whole number below
    // 100, else to three significant digits.
    static double roundedRate(double rate);
    static double roundedSpeed(double speed);
};

}  // namespace tindlewave
