#pragma once

#include <algorithm>
#include <cmath>

namespace tindlewave {

struct SmoothScroll;

// The fixed shape of one scroll pulse: the speed rises along 3u² − 2u³ over the ease-in to its
// peak, then falls as (1 − v)^brake over the decay. `share` is the part of the pulse's distance
// covered after some time: 0 at the start, exactly 1 from easeIn + decay on.
struct PulseShape {
    double easeIn = 0;  // seconds of ease-in
    double decay = 0;   // seconds of decay
    double brake = 0;   // decay exponent parameter
    double peak = 0;    // peak share per second

    // The shape of smooth-scrolling settings: ease-in in milliseconds, duration in tenths of a
    // second.
    static PulseShape of(const SmoothScroll& settings);
    static PulseShape make(double easeIn, double decay, double brake) {
        return {easeIn, decay, brake, 1.0 / (decay / (brake + 1.0) + easeIn * 0.5)};
    }

    double share(double after) const { return sampler().share(after); }

    // The share at `after` within the ease-in (0 < after < easeIn).
    double easeInShare(double after) const {
        const double u = after / easeIn;
        return easeIn * peak * (u * u * u - 0.5 * u * u * u * u);
    }
    // 1 − v at `after` past the ease-in, where v is the part of the decay gone by: 0 when done.
    // A shape without decay is done at the end of its ease-in.
    double decayRest(double after) const {
        return 1.0 - (decay > 0 ? std::min((after - easeIn) / decay, 1.0) : 1.0);
    }
    // A whole brake + 1 up to this (the default, and every whole step of the settings) is raised
    // by multiplying, which agrees with pow to a few units in the last place at a fraction of its
    // cost: a glide evaluates this for every live pulse on every frame.
    static constexpr int maxWholeExponent = 16;
    // x^n for 1 <= n by squaring.
    static double wholePower(double x, int n) {
        double result = 1.0;
        for (;;) {
            if (n & 1) result *= x;
            n >>= 1;
            if (n == 0) return result;
            x *= x;
        }
    }
    // The share in the decay, from `powered` = decayRest^(brake + 1).
    double decayShare(double powered) const {
        return peak * (easeIn * 0.5 + (decay / (brake + 1.0)) * (1.0 - powered));
    }

    // The shape's values that every pulse of a frame shares, worked out once for the frame: a
    // glide evaluates the share of each of its live pulses (dozens) on every frame. Each share is
    // made of the same operations on the same values as easeInShare, decayRest and decayShare.
    struct Sampler {
        double easeIn = 0;
        double easeInPeak = 0;  // easeIn * peak
        double decay = 0;
        double peak = 0;
        double halfEaseIn = 0;  // easeIn * 0.5
        double decaySpan = 0;   // decay / (brake + 1)
        double exponent = 0;    // brake + 1
        int whole = 0;          // the exponent when whole and at most maxWholeExponent, else 0

        double share(double after) const {
            if (!(after > 0)) return 0;
            if (after < easeIn) {
                const double u = after / easeIn;
                return easeInPeak * (u * u * u - 0.5 * u * u * u * u);
            }
            const double rest = 1.0 - (decay > 0 ? std::min((after - easeIn) / decay, 1.0) : 1.0);
            if (rest <= 0) return 1.0;
            const double powered = whole != 0 ? wholePower(rest, whole) : std::pow(rest, exponent);
            return peak * (halfEaseIn + decaySpan * (1.0 - powered));
        }
    };
    Sampler sampler() const {
        const double e = brake + 1.0;
        int n = 0;
        if (e >= 1.0 && e <= maxWholeExponent && static_cast<int>(e) == e) n = static_cast<int>(e);
        return {easeIn, easeIn * peak, decay, peak, easeIn * 0.5, decay / (brake + 1.0), e, n};
    }

    bool operator==(const PulseShape&) const = default;
};

}  // namespace tindlewave
