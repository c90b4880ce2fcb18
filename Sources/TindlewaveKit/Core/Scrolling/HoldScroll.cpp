#include "Core/Scrolling/HoldScroll.h"

#include <algorithm>
#include <cmath>

namespace tindlewave {

namespace {

constexpr double trailTimeConstant = 0.04;  // seconds
constexpr double flingSpeed = 150.0;        // points per second: slower releases do not coast
constexpr double floorSpeed = 60.0;         // points per second: a coast never creeps slower
constexpr double leftover = 1e-9;           // points

using Phase = HoldScrollFrame::Phase;

}  // namespace

void HoldScrollAnimator::receive(const HoldScrollEvent& event, double now) {
    if (const auto* began = as<HoldScrollEvent::Began>(event)) {
        if (begun) {
            if (std::holds_alternative<Following>(hold) ||
                std::holds_alternative<Releasing>(hold)) {
                owed = Phase::ended;
            } else if (std::holds_alternative<Gliding>(hold)) {
                owed = Phase::momentumEnded;
            }
        }
        plan = began->plan;
        hold = Following{};
        begun = false;
        pending = {};
        trail = {};
        lastMove = now;
        return;
    }
    if (!std::holds_alternative<Following>(hold)) return;

    if (const auto* moved = as<HoldScrollEvent::Moved>(event)) {
        pending.dx += moved->dx;
        pending.dy += moved->dy;
        const double dt = std::max(now - lastMove, 0.0);
        const double k = std::exp(-dt / trailTimeConstant);
        trail = {trail.dx * k + moved->dx, trail.dy * k + moved->dy, trail.seconds * k + dt};
        lastMove = now;
        return;
    }

    // Ended.
    if (!begun && pending == Movement{}) {
        hold = Idle{};  // nothing was ever scrolled
        return;
    }
    std::optional<Fling> fling;
    if (plan && plan->momentum) {
        const Glide& glide = *plan->momentum;
        const double dt = std::max(now - lastMove, 0.0);
        const double k = std::exp(-dt / trailTimeConstant);
        const double seconds = dt + trail.seconds * k;
        if (seconds > 0) {
            const double vx = trail.dx * k / seconds;
            const double vy = trail.dy * k / seconds;
            const double speed = std::hypot(vx, vy);
            if (speed >= flingSpeed && std::isfinite(speed)) {
                Fling f;
                f.dx = vx / speed;
                f.dy = vy / speed;
                f.distance = speed * glide.seconds / (glide.brake + 1.0);
                f.shape = PulseShape::make(0.0, glide.seconds, glide.brake);
                fling = f;
            }
        }
    }
    hold = Releasing{fling};
}

std::optional<HoldScrollFrame> HoldScrollAnimator::frame(double now) {
    if (owed) {
        const Phase phase = *owed;
        owed.reset();
        return HoldScrollFrame{0, 0, phase};
    }
    const auto postPending = [this]() -> std::optional<HoldScrollFrame> {
        if (pending == Movement{}) return std::nullopt;
        HoldScrollFrame out{pending.dx, pending.dy, begun ? Phase::changed : Phase::began};
        pending = {};
        begun = true;
        return out;
    };

    if (std::holds_alternative<Following>(hold)) return postPending();

    if (auto* releasing = std::get_if<Releasing>(&hold)) {
        if (auto moved = postPending()) return moved;  // the end follows on a later frame
        begun = false;
        if (releasing->fling) {
            Fling f = *releasing->fling;
            f.start = now;
            f.lastFrame = now;
            hold = Gliding{f};
        } else {
            hold = Idle{};
        }
        return HoldScrollFrame{0, 0, Phase::ended};
    }

    if (auto* gliding = std::get_if<Gliding>(&hold)) {
        Fling& f = gliding->fling;
        double step = f.shape.share(now - f.start) * f.distance - f.posted;
        step = std::max(step, (now - f.lastFrame) * floorSpeed);
        step = std::min(std::max(step, 0.0), f.distance - f.posted);
        const HoldScrollFrame out{step * f.dx, step * f.dy,
                                  begun ? Phase::momentumChanged : Phase::momentumBegan};
        begun = true;
        if (f.distance - (f.posted + step) < leftover) {
            hold = Idle{};
            begun = false;
            owed = Phase::momentumEnded;
        } else {
            f.posted += step;
            f.lastFrame = now;
        }
        return out;
    }
    return std::nullopt;  // idle
}

std::optional<HoldScrollFrame> HoldScrollAnimator::stop() {
    std::optional<HoldScrollFrame> end;
    if (owed) {
        end = HoldScrollFrame{0, 0, *owed};
    } else if (begun) {
        if (std::holds_alternative<Gliding>(hold)) {
            end = HoldScrollFrame{0, 0, Phase::momentumEnded};
        } else if (!std::holds_alternative<Idle>(hold)) {
            end = HoldScrollFrame{0, 0, Phase::ended};
        }
    }
    hold = Idle{};
    begun = false;
    owed.reset();
    pending = {};
    return end;
}

bool HoldScrollAnimator::needsFrames() const {
    if (owed) return true;
    if (std::holds_alternative<Releasing>(hold) || std::holds_alternative<Gliding>(hold)) {
        return true;
    }
    return std::holds_alternative<Following>(hold) && pending != Movement{};
}

}  // namespace tindlewave
