// Costs of the smooth-scroll and hold-to-scroll animators, which run inside the event path: a
// wheel tick in the event tap's callback, a frame on every display refresh.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Core/Scrolling/HoldScroll.h"
#include "Core/Scrolling/ScrollAnimator.h"
#include "Core/Scrolling/WholePoints.h"

namespace tindlewave {
namespace {

const ScrollTick& upTick() {
    static const ScrollTick tick{ScrollTick::Sign::positive, 1, SmoothScroll::defaults()};
    return tick;
}

// An animator with `count` live pulses, none of them complete before `frameTime`.
std::unique_ptr<ScrollAnimator> withPulses(int count, double& frameTime) {
    auto animator = std::make_unique<ScrollAnimator>();
    const double spacing = 0.2 / count;
    for (int i = 0; i < count; ++i) animator->tick(upTick(), i * spacing);
    frameTime = 0.25;
    return animator;
}

// One tick, at 50 notches per second. Past 512 pulses a tick adds to the newest pulse.
void BM_Tick(benchmark::State& state) {
    auto animator = std::make_unique<ScrollAnimator>();
    double t = 0;
    for (auto _ : state) {
        animator->tick(upTick(), t += 0.02);
        benchmark::DoNotOptimize(animator->pulses.size());
    }
}
BENCHMARK(BM_Tick);

// One frame over `range(0)` live pulses, always at the same instant so the work stays the same.
void BM_Frame(benchmark::State& state) {
    double t = 0;
    auto animator = withPulses(static_cast<int>(state.range(0)), t);
    for (auto _ : state) benchmark::DoNotOptimize(animator->frame(t));
    state.counters["pulses"] = static_cast<double>(animator->pulses.size());
}
BENCHMARK(BM_Frame)->Arg(1)->Arg(32)->Arg(512);

// The power a frame takes for a brake between whole steps: one std::pow per live pulse, summed, on
// the same numbers as the frame of BM_Frame raises to the power. A whole brake (BM_Frame's, the
// default) multiplies instead, so its whole frame runs below this.
void BM_PowFloor(benchmark::State& state) {
    double t = 0;
    const auto animator = withPulses(static_cast<int>(state.range(0)), t);
    std::vector<double> bases;
    for (std::size_t i = 0; i < animator->pulses.size(); ++i) {
        bases.push_back(animator->shape.decayRest(t - animator->pulses[i].start));
    }
    // A run-time exponent, as a setting is.
    volatile double setting = animator->shape.brake + 1;
    const double exponent = setting;
    for (auto _ : state) {
        double sum = 0;
        for (double base : bases) sum += std::pow(base, exponent);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PowFloor)->Arg(1)->Arg(32)->Arg(512);

// A small deterministic generator for the simulated bursts.
struct Lcg {
    std::uint64_t state = 0x2545F4914F6CDD1DULL;
    double next() {  // in [0, 1)
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(state >> 11) * (1.0 / 9007199254740992.0);
    }
};

// A minute of wheel use: bursts of 0.2–1.2 s at 20–200 notches per second, sometimes reversed,
// with pauses of 0.1–2 s; frames at 120 Hz while the animator needs them, each turned into whole
// points as the host does. Reported as CPU time per simulated second.
void BM_SimulatedMinute(benchmark::State& state) {
    struct Step {
        double at;
        enum { frame, up, down } kind;
    };
    std::vector<Step> steps;
    {
        Lcg random;
        std::vector<Step> ticks;
        for (double t = 0; t < 60; t += 0.1 + 1.9 * random.next()) {
            const double rate = 20 + 180 * random.next();
            const double end = t + 0.2 + random.next();
            const auto kind = random.next() < 0.2 ? Step::down : Step::up;
            for (; t < end; t += 1 / rate) ticks.push_back({t, kind});
        }
        std::size_t i = 0;
        for (int frame = 0; frame < 60 * 120; ++frame) {
            const double at = frame / 120.0;
            for (; i < ticks.size() && ticks[i].at < at; ++i) steps.push_back(ticks[i]);
            steps.push_back({at, Step::frame});
        }
    }
    const ScrollTick down{ScrollTick::Sign::negative, 1, SmoothScroll::defaults()};

    auto animator = std::make_unique<ScrollAnimator>();
    WholePoints whole;
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (const Step& step : steps) {
            if (step.kind != Step::frame) {
                animator->tick(step.kind == Step::down ? down : upTick(), step.at);
            } else if (animator->needsFrames()) {
                if (auto frame = animator->frame(step.at)) {
                    sum += whole.take(frame->points, frame->phase == ScrollFrame::Phase::began);
                }
            }
        }
        animator->stop();
        benchmark::DoNotOptimize(sum);
    }
    // CPU seconds per simulated second (x100: percent of one core).
    state.counters["cpu_per_sim_second"] =
        benchmark::Counter(60.0 * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SimulatedMinute)->Unit(benchmark::kMicrosecond);

// One second of hold-to-scroll: movement at 1 kHz, frames at 120 Hz, then a fling and its coast.
void BM_HoldScrollSecond(benchmark::State& state) {
    const HoldScrollEvent began = HoldScrollEvent::began(
        HoldScrollPlan(HoldToScroll::defaults(), SmoothScroll::defaults(), 1.0));
    HoldScrollAnimator animator;
    WholePoints dx;
    WholePoints dy;
    for (auto _ : state) {
        std::int64_t sum = 0;
        double nextFrame = 1.0 / 120;
        animator.receive(began, 0.0);
        const auto post = [&](double t) {
            if (auto frame = animator.frame(t)) {
                const bool restart = frame->phase == HoldScrollFrame::Phase::began;
                sum += dx.take(frame->dx, restart) + dy.take(frame->dy, restart);
            }
        };
        for (int ms = 1; ms <= 1000; ++ms) {
            const double t = ms / 1000.0;
            animator.receive(HoldScrollEvent::moved(0.3, 2.0), t);
            if (t >= nextFrame) {
                post(t);
                nextFrame += 1.0 / 120;
            }
        }
        animator.receive(HoldScrollEvent::ended(), 1.0);
        for (double t = nextFrame; animator.needsFrames(); t += 1.0 / 120) post(t);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_HoldScrollSecond)->Unit(benchmark::kMicrosecond);

// receive(moved) alone.
void BM_HoldScrollMoved(benchmark::State& state) {
    HoldScrollAnimator animator;
    animator.receive(HoldScrollEvent::began(HoldScrollPlan(1.0, Glide{0.4, 2})), 0.0);
    double t = 0;
    for (auto _ : state) {
        animator.receive(HoldScrollEvent::moved(0.3, 2.0), t += 0.001);
        benchmark::DoNotOptimize(animator.pending);
    }
}
BENCHMARK(BM_HoldScrollMoved);

}  // namespace
}  // namespace tindlewave
