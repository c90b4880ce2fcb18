#pragma once

#include <map>
#include <optional>
#include <variant>

#include "Core/Scrolling/HoldScrollPlan.h"
#include "Model/Config.h"
#include "Model/Rule.h"

namespace tindlewave {

// What moving a held control does: a swipe per direction, or hold-to-scroll.
struct GestureMoves {
    struct Swipes {
        std::map<Direction, Action> actions;
        GestureFire fire = GestureFire::pastDistance;
        bool operator==(const Swipes&) const = default;
    };
    struct Scroll {
        HoldScrollPlan plan;
        bool operator==(const Scroll&) const = default;
    };

    std::variant<Swipes, Scroll> value;

    static GestureMoves swipes(std::map<Direction, Action> actions, GestureFire fire) {
        return {Swipes{std::move(actions), fire}};
    }
    static GestureMoves scroll(HoldScrollPlan plan) { return {Scroll{plan}}; }

    template <class C>
    bool is() const {
        return std::holds_alternative<C>(value);
    }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&value);
    }

    bool operator==(const GestureMoves&) const = default;
};

// What a hold-and-move control does.
struct GesturePlan {
    double distance = 0;          // in the unit of the movement fed: raw counts or points
    std::optional<Action> click;  // what a short press does
    GestureMoves moves;

    bool operator==(const GesturePlan&) const = default;
};

}  // namespace tindlewave
