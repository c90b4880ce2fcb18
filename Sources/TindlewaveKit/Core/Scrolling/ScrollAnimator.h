#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

#include "Core/Scrolling/PulseShape.h"
#include "Model/Config.h"

namespace tindlewave {

// One wheel event of a device with smooth scrolling.
//
// The tick refers to the device's settings rather than holding a copy: copying them would copy
// the speed curve's shared points (a reference count changed twice per wheel event). A tick is
// fed to the animator at once, which reads the settings during `tick` and keeps nothing of them,
// so the settings need only outlive that call; the tap pipeline's ticks refer to its scroll
// stage's settings, which last until the pipeline takes new rules. A temporary cannot be bound.
struct ScrollTick {
    enum class Sign { positive, negative };

    Sign sign = Sign::positive;                           // the direction of the wheel event
    int steps = 1;                                        // notches in the event, at least 1
    std::reference_wrapper<const SmoothScroll> settings;  // the device's smooth-scrolling settings

    // Equal when direction, notches and the settings' values are equal.
    bool operator==(const ScrollTick& other) const {
        return sign == other.sign && steps == other.steps && settings.get() == other.settings.get();
    }
};

// The spin rate of the wheel, smoothed over the notches.
struct SpinRate {
    std::optional<double> last;      // time of the last notch
    std::optional<double> interval;  // smoothed seconds per notch

    // Records `steps` notches at `at` and gives the rate in notches per second. Notches slower
    // than `slowest` per second start the measurement afresh and give `slowest`.
    double record(int steps, double at, double slowest);

    bool operator==(const SpinRate&) const = default;
};

// One display frame's smooth scroll. The phase values are those of the scroll-phase field of a
// posted scroll event.
struct ScrollFrame {
    enum class Phase : std::int32_t { began = 1, changed = 2, ended = 4 };

    double points = 0;  // signed points to scroll in this frame
    Phase phase = Phase::began;

    bool operator==(const ScrollFrame&) const = default;
};

// Turns wheel notches into glides. Each notch becomes a pulse whose length comes from the speed
// curve at the present spin rate; pulses overlap and add up, and a change of direction starts a
// new glide. Time is passed in (seconds of one monotonic clock). A tick or a frame never
// allocates: the pulses live in a fixed ring inside the animator, which stays a copyable value.
struct ScrollAnimator {
    static constexpr std::size_t maxPulses = 512;

    struct Gliding {
        bool began = false;  // the glide has posted its first frame
        bool operator==(const Gliding&) const = default;
    };
    // The next frame posts the end of the present glide; `next`: a new glide follows at once.
    struct Ending {
        bool next = false;
        bool operator==(const Ending&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    using Gesture = std::variant<Gliding, Ending, Idle>;

    struct Pulse {
        double start = 0;     // seconds
        double distance = 0;  // points, never negative
        bool operator==(const Pulse&) const = default;
    };

    // The live pulses, oldest first, in a ring of fixed capacity.
    class Pulses {
      public:
        std::size_t size() const { return count_; }
        bool empty() const { return count_ == 0; }
        bool full() const { return count_ == maxPulses; }
        const Pulse& operator[](std::size_t i) const { return slots_[(head_ + i) % maxPulses]; }
        Pulse& newest() { return slots_[(head_ + count_ - 1) % maxPulses]; }
        const Pulse& newest() const { return slots_[(head_ + count_ - 1) % maxPulses]; }
        void push(Pulse pulse) { slots_[(head_ + count_++) % maxPulses] = pulse; }
        void popOldest() {
            head_ = (head_ + 1) % maxPulses;
            --count_;
        }
        void clear() { head_ = count_ = 0; }

        bool operator==(const Pulses& other) const;

      private:
        std::array<Pulse, maxPulses> slots_{};
        std::size_t head_ = 0;
        std::size_t count_ = 0;
    };

    Gesture gesture = Idle{};
    ScrollTick::Sign sign = ScrollTick::Sign::positive;  // the direction of the present glide
    PulseShape shape;
    Pulses pulses;
    SpinRate rate;
    double finished = 0;   // points of pulses already complete and folded away
    double posted = 0;     // points handed out in this glide
    double lastFrame = 0;  // time of the last frame or restart

    // Idle, with the shape of the default smooth-scrolling settings.
    ScrollAnimator();

    void tick(const ScrollTick& tick, double now);
    std::optional<ScrollFrame> frame(double now);
    // Ends at once: the end frame when the glide has posted a frame, else none. Points not yet
    // posted are dropped.
    std::optional<ScrollFrame> stop();
    // Whether the host must keep asking for frames.
    bool needsFrames() const { return !std::holds_alternative<Idle>(gesture); }

    bool operator==(const ScrollAnimator&) const = default;

  private:
    void restart(const ScrollTick& tick, double now);
    void add(const ScrollTick& tick, double now);
};

}  // namespace tindlewave
