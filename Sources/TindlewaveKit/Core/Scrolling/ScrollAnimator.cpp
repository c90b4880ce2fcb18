#include "Core/Scrolling/ScrollAnimator.h"

#include <algorithm>

namespace tindlewave {

namespace {

// The glide never creeps slower than this many points per second once its newest pulse has eased
// in, so its tail ends in reasonable time.
constexpr double floorSpeed = 60.0;
// What is left of a glide below this is nothing.
constexpr double leftover = 1e-9;

}  // namespace

double SpinRate::record(int steps, double at, double slowest) {
    if (last) {
        const double i = (at - *last) / steps;
        if (i < 1.0 / slowest) {
            // Notches timed before the last one count as the fastest spin measured.
            const double clamped = std::max(i, 0.001);
            interval = interval ? *interval + (clamped - *interval) * 0.5 : clamped;
            last = at;
            return 1.0 / *interval;
        }
    }
    interval.reset();
    last = at;
    return slowest;
}

bool ScrollAnimator::Pulses::operator==(const Pulses& other) const {
    if (count_ != other.count_) return false;
    for (std::size_t i = 0; i < count_; ++i) {
        if (!((*this)[i] == other[i])) return false;
    }
    return true;
}

ScrollAnimator::ScrollAnimator() : shape(PulseShape::of(SmoothScroll::defaults())) {}

void ScrollAnimator::tick(const ScrollTick& tick, double now) {
    const bool same = tick.sign == sign;
    if (std::holds_alternative<Idle>(gesture)) {
        restart(tick, now);
        gesture = Gliding{false};
    } else if (const auto* gliding = std::get_if<Gliding>(&gesture)) {
        if (same) {
            add(tick, now);
        } else {
            const bool began = gliding->began;
            restart(tick, now);
            // A begun glide is ended by the next frame before the new one starts.
            gesture = began ? Gesture{Ending{true}} : Gesture{Gliding{false}};
        }
    } else if (std::get<Ending>(gesture).next && same) {
        add(tick, now);
    } else {
        restart(tick, now);
        gesture = Ending{true};
    }
}

void ScrollAnimator::restart(const ScrollTick& tick, double now) {
    if (tick.sign != sign) rate = SpinRate{};
    sign = tick.sign;
    shape = PulseShape::of(tick.settings);
    pulses.clear();
    finished = 0;
    posted = 0;
    lastFrame = now;
    add(tick, now);
}

void ScrollAnimator::add(const ScrollTick& tick, double now) {
    const SpeedCurve& curve = tick.settings.get().curve;
    const double slowest = curve.slowest();
    // A tick always carries at least one notch; fewer would make a negative or empty pulse.
    const int steps = std::max(tick.steps, 1);
    const double r = std::max(rate.record(steps, now, slowest), slowest);
    const double distance = curve.pointsPerSecond(r) / r * steps;
    if (pulses.full()) {
        pulses.newest().distance += distance;
    } else {
        pulses.push(Pulse{now, distance});
    }
}

std::optional<ScrollFrame> ScrollAnimator::frame(double now) {
    if (std::holds_alternative<Idle>(gesture)) return std::nullopt;
    if (const auto* ending = std::get_if<Ending>(&gesture)) {
        gesture = ending->next ? Gesture{Gliding{false}} : Gesture{Idle{}};
        return ScrollFrame{0, ScrollFrame::Phase::ended};
    }
    const bool began = std::get<Gliding>(gesture).began;

    const double length = shape.easeIn + shape.decay;
    while (!pulses.empty() && now - pulses[0].start >= length) {
        finished += pulses[0].distance;
        pulses.popOldest();
    }

    double total = finished;
    double target = finished;
    const PulseShape::Sampler sampler = shape.sampler();
    for (std::size_t i = 0, n = pulses.size(); i < n; ++i) {
        const Pulse& pulse = pulses[i];
        total += pulse.distance;
        target += pulse.distance * sampler.share(now - pulse.start);
    }

    // While the newest pulse eases in there is no floor speed.
    const bool easing = !pulses.empty() && now - pulses.newest().start < shape.easeIn;
    const double minimum = easing ? 0.0 : (now - lastFrame) * floorSpeed;
    const double step = std::min(std::max(std::max(target - posted, minimum), 0.0), total - posted);
    posted += step;
    lastFrame = now;

    if (total - posted < leftover) {
        pulses.clear();
        gesture = Ending{false};
    } else if (step == 0) {
        return std::nullopt;
    } else {
        gesture = Gliding{true};
    }
    const double points = sign == ScrollTick::Sign::negative ? -step : step;
    return ScrollFrame{points, began ? ScrollFrame::Phase::changed : ScrollFrame::Phase::began};
}

std::optional<ScrollFrame> ScrollAnimator::stop() {
    std::optional<ScrollFrame> end;
    const auto* gliding = std::get_if<Gliding>(&gesture);
    if (std::holds_alternative<Ending>(gesture) || (gliding && gliding->began)) {
        end = ScrollFrame{0, ScrollFrame::Phase::ended};
    }
    gesture = Idle{};
    pulses.clear();
    return end;
}

}  // namespace tindlewave
