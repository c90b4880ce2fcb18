#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "Core/Tap/Event.h"
#include "Core/Keys/HeldKeys.h"
#include "Core/Scrolling/HoldScrollPlan.h"
#include "Core/Listening/Listener.h"
#include "Core/Scrolling/ScrollAnimator.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What happens to one tapped event. Every case but `pass` drops the event.
struct TapVerdict {
    struct Scroll {  // feed the tick to the smooth-scroll animator
        ScrollTick tick;
        bool operator==(const Scroll&) const = default;
    };
    struct Replay {  // post a button down and its up at the HID level
        Event down;
        Event up;
        bool operator==(const Replay&) const = default;
    };
    struct Perform {  // perform the action
        Action action;
        bool operator==(const Perform&) const = default;
    };
    struct HoldScroll {  // feed the hold-to-scroll animator
        HoldScrollEvent event;
        bool operator==(const HoldScroll&) const = default;
    };
    struct Keys {  // hold or release keys
        KeyHoldEvent event;
        bool operator==(const Keys&) const = default;
    };
    struct Heard {  // report the press heard while listening
        ListenID id;
        ListenPress press;
        bool operator==(const Heard&) const = default;
    };
    struct Pass {  // let the event through, possibly changed
        bool operator==(const Pass&) const = default;
    };
    struct Drop {  // swallow the event
        bool operator==(const Drop&) const = default;
    };

    using Value = std::variant<Scroll, Replay, Perform, HoldScroll, Keys, Heard, Pass, Drop>;
    Value value;

    // Made from one of the cases. (A constructor rather than brace initialisation: the verdict
    // is made for every tapped event, and brace initialisation clears the whole of its storage.)
    template <class C>
    requires std::is_constructible_v<Value, C&&> TapVerdict(C&& alternative)
        : value(std::forward<C>(alternative)) {}

    // Turns the verdict into one of the cases in place: cheaper than assigning a new verdict,
    // which the stages do for every event they decide.
    // A stage deciding an event finds the pass the verdict began with: a pass holds nothing, so
    // a case whose making cannot throw is made over it without destroying it first.
    template <class C>
    void become(C&& alternative) {
        using Case = std::decay_t<C>;
        if constexpr (std::is_nothrow_constructible_v<Case, C&&>) {
            if (std::holds_alternative<Pass>(value)) [[likely]] {
                std::construct_at(&value, std::in_place_type<Case>, std::forward<C>(alternative));
                return;
            }
        }
        value.template emplace<Case>(std::forward<C>(alternative));
    }

    static TapVerdict scroll(ScrollTick tick) { return {Scroll{std::move(tick)}}; }
    static TapVerdict replay(const Event& down, const Event& up) { return {Replay{down, up}}; }
    static TapVerdict perform(const Action& action) { return {Perform{action}}; }
    static TapVerdict holdScroll(HoldScrollEvent event) { return {HoldScroll{std::move(event)}}; }
    static TapVerdict keys(KeyHoldEvent event) { return {Keys{std::move(event)}}; }
    static TapVerdict heard(ListenID id, ListenPress press) { return {Heard{id, press}}; }
    static TapVerdict pass() { return {Pass{}}; }
    static TapVerdict drop() { return {Drop{}}; }

    bool operator==(const TapVerdict&) const = default;
};

}  // namespace tindlewave
