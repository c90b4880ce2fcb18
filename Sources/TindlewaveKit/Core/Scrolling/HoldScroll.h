#pragma once

#include <optional>
#include <variant>

#include "Core/Scrolling/HoldScrollPlan.h"
#include "Core/Scrolling/PulseShape.h"

namespace tindlewave {

// One display frame of hold-to-scroll. The first three phases are scroll phases, the last three
// momentum phases.
struct HoldScrollFrame {
    enum class Phase { began, changed, ended, momentumBegan, momentumChanged, momentumEnded };

    double dx = 0;  // points
    double dy = 0;  // points
    Phase phase = Phase::began;

    bool operator==(const HoldScrollFrame&) const = default;
};

// Scrolls the page while a control is held and moved, and lets it coast on after a quick release.
// Movement is gathered between frames and posted once per frame. Time is passed in (seconds of one
// monotonic clock); nothing allocates.
struct HoldScrollAnimator {
    // A coast after the release.
    struct Fling {
        double dx = 0;  // unit direction
        double dy = 0;
        double distance = 0;  // points to coast
        PulseShape shape;
        double start = 0;
        double posted = 0;
        double lastFrame = 0;

        bool operator==(const Fling&) const = default;
    };

    // Let go: the `ended` frame (after any pending movement) is still to be posted.
    struct Releasing {
        std::optional<Fling> fling;
        bool operator==(const Releasing&) const = default;
    };
    struct Gliding {
        Fling fling;
        bool operator==(const Gliding&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    // Held: the page follows the movement.
    struct Following {
        bool operator==(const Following&) const = default;
    };
    using Hold = std::variant<Releasing, Gliding, Idle, Following>;

    struct Movement {
        double dx = 0;
        double dy = 0;
        bool operator==(const Movement&) const = default;
    };
    // The decaying movement history from which the release speed is taken.
    struct Trail {
        double dx = 0;
        double dy = 0;
        double seconds = 0;
        bool operator==(const Trail&) const = default;
    };

    Hold hold = Idle{};
    bool begun = false;  // a frame of the present gesture has been posted
    // An end phase of the previous gesture still to be posted: `ended` or `momentumEnded`.
    std::optional<HoldScrollFrame::Phase> owed;
    std::optional<HoldScrollPlan> plan;
    Movement pending;  // received and not yet posted
    Trail trail;
    double lastMove = 0;  // time of the last movement event

    void receive(const HoldScrollEvent& event, double now);
    std::optional<HoldScrollFrame> frame(double now);
    // Ends at once and gives the one end frame still owed, if any. Movement not yet posted is
    // dropped.
    std::optional<HoldScrollFrame> stop();
    // Whether the host must keep asking for frames: movement or a coast to post, or an end frame
    // owed (including the `ended` frame of a release without a coast).
    bool needsFrames() const;

    bool operator==(const HoldScrollAnimator&) const = default;
};

}  // namespace tindlewave
