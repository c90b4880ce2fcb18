#pragma once

#include "Model/Range.h"

namespace tindlewave {

// How a slider's positions, 0 to 1, map onto a knob's values: a range, the spacing of the values
// the knob can take, and a linear or logarithmic curve.
struct SliderScale {
    enum class Curve { linear, logarithmic };

    ClosedRange<double> bounds{0, 1};
    double step = 1;  // greater than 0
    Curve curve = Curve::linear;

    // The knob value at a position: the position clamped to 0...1 (NaN counts as 0), mapped,
    // rounded to a whole number of steps (halves away from zero) and clamped to the bounds.
    double value(double position) const;
    // The position of a value, 0 to 1; 0 for an empty or reversed range (and for NaN).
    double position(double value) const;

    bool operator==(const SliderScale&) const = default;
};

}  // namespace tindlewave
