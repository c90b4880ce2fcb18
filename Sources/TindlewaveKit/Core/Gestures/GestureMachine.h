#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "Core/Gestures/GesturePlan.h"
#include "Core/Scrolling/HoldScrollPlan.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// The hold-and-move machine both input paths share. While a control is held its movement is
// summed; past the plan's distance it fires one swipe in the dominant direction or turns into
// hold-to-scroll; a release before the distance is a click. One input in, at most one output out.
struct GestureMachine {
    struct Tracking {  // held; movement below, or (on release) past, the distance
        SharedGesturePlan plan;
        double sx = 0;
        double sy = 0;
        double distance = plan->distance;  // the plan's, beside the sums every move reads

        bool operator==(const Tracking&) const = default;
    };
    struct Scrolling {  // hold-to-scroll under way
        HoldScrollPlan plan;
        bool operator==(const Scrolling&) const = default;
    };
    struct Idle {  // no control held
        bool operator==(const Idle&) const = default;
    };
    struct Consumed {  // a swipe fired, or had nothing to fire: the rest of this hold does nothing
        bool operator==(const Consumed&) const = default;
    };
    using State = std::variant<Tracking, Scrolling, Idle, Consumed>;

    struct Input {
        struct Press {
            SharedGesturePlan plan;
            bool operator==(const Press&) const = default;
        };
        struct Move {  // a positive dx is to the right, a positive dy down
            double dx = 0;
            double dy = 0;
            bool operator==(const Move&) const = default;
        };
        struct Release {
            bool operator==(const Release&) const = default;
        };
        struct Cancel {
            bool operator==(const Cancel&) const = default;
        };

        using Value = std::variant<Press, Move, Release, Cancel>;
        Value value;

        // Made from one of the cases. (A constructor rather than brace initialisation: a move is
        // fed for every movement event, and brace initialisation clears the whole storage.)
        template <class C>
        requires std::is_constructible_v<Value, C&&> Input(C&& alternative)
            : value(std::forward<C>(alternative)) {}

        static Input press(SharedGesturePlan plan) { return {Press{std::move(plan)}}; }
        static Input move(double dx, double dy) { return {Move{dx, dy}}; }
        static Input release() { return {Release{}}; }
        static Input cancel() { return {Cancel{}}; }

        bool operator==(const Input&) const = default;
    };

    struct Output {
        // The press ended short; no action means the caller decides what a plain click does.
        struct Click {
            std::optional<Action> action;
            bool operator==(const Click&) const = default;
        };
        struct Swipe {
            Action action;
            bool operator==(const Swipe&) const = default;
        };
        struct Scroll {
            HoldScrollEvent event;
            bool operator==(const Scroll&) const = default;
        };

        std::variant<Click, Swipe, Scroll> value;

        static Output click(std::optional<Action> action) { return {Click{std::move(action)}}; }
        static Output swipe(Action action) { return {Swipe{std::move(action)}}; }
        static Output scroll(HoldScrollEvent event) { return {Scroll{std::move(event)}}; }

        bool operator==(const Output&) const = default;
    };

    State state = Idle{};

    std::optional<Output> step(const Input& input);
    // The same as step(Input::move(dx, dy)), without making the input: movement comes with every
    // pointer event while a control is held. Kept in the header, with the sum below the distance
    // first: that is what nearly every movement does.
    std::optional<Output> move(double dx, double dy) {
        if (auto* tracking = std::get_if<Tracking>(&state)) [[likely]] {
            tracking->sx += dx;
            tracking->sy += dy;
            const double reach = std::max(std::abs(tracking->sx), std::abs(tracking->sy));
            if (!(reach >= tracking->distance)) return std::nullopt;
            return pastDistance(*tracking);
        }
        if (auto* scrolling = std::get_if<Scrolling>(&state)) {
            const double gain = scrolling->plan.gain;
            return Output::scroll(HoldScrollEvent::moved(dx * gain, dy * gain));
        }
        return std::nullopt;
    }

    // The direction of a summed movement: vertical only when strictly larger, so a tie is
    // horizontal.
    static Direction direction(double sx, double sy);

    bool operator==(const GestureMachine&) const = default;

  private:
    // A move that took the summed movement of `tracking` (the state) to the distance or past it.
    std::optional<Output> pastDistance(Tracking& tracking);
};

}  // namespace tindlewave
