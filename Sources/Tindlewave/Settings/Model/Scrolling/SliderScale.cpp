#include "Settings/Model/Scrolling/SliderScale.h"

#include <cmath>

namespace tindlewave {

namespace {
// A logarithmic scale whose lower end is not above 0 is shifted so that the lower end sits at 1.
double shift(const ClosedRange<double>& bounds) {
    return bounds.lo > 0 ? 0 : 1 - bounds.lo;
}
}  // namespace

double SliderScale::value(double position) const {
    const double lo = bounds.lo;
    const double hi = bounds.hi;
    double p = position;
    if (!(p > 0)) p = 0;
    if (p > 1) p = 1;

    double v = 0;
    if (curve == Curve::linear) {
        v = lo + (hi - lo) * p;
    } else {
        const double s = shift(bounds);
        v = (lo + s) * std::pow((hi + s) / (lo + s), p) - s;
    }
    const double q = std::round(v / step);
    // Dividing by the reciprocal gives the same number as the literal (3 / 10 is 0.3, where
    // 3 * 0.1 is 0.30000000000000004).
    v = step < 1 ? q / (1 / step) : q * step;

    if (!(v > lo)) return lo;
    if (v > hi) return hi;
    return v;
}

double SliderScale::position(double value) const {
    const double lo = bounds.lo;
    const double hi = bounds.hi;
    if (!(lo < hi)) return 0;
    double c = value;
    if (!(c > lo)) c = lo;
    if (c > hi) c = hi;
    if (curve == Curve::linear) return (c - lo) / (hi - lo);
    const double s = shift(bounds);
    return std::log((c + s) / (lo + s)) / std::log((hi + s) / (lo + s));
}

}  // namespace tindlewave
