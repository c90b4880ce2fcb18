#pragma once

#include <map>
#include <memory>
#include <optional>
#include <variant>

#include "Core/Scrolling/HoldScrollPlan.h"
#include "Model/Config.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

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

    bool operator==(const GestureMoves&) const = default;
};

// What a hold-and-move control does.
struct GesturePlan {
    double distance = 0;          // in the unit of the movement fed: raw counts or points
    std::optional<Action> click;  // what a short press does
    GestureMoves moves;

    bool operator==(const GesturePlan&) const = default;
};

// A compiled plan, made once and then shared, immutable, by the rules that hold it and by every
// gesture machine following a press of its control: a press refers to the plan instead of
// copying it (its swipes are a map). Compares by value.
class SharedGesturePlan {
  public:
    SharedGesturePlan(GesturePlan plan)  // NOLINT(google-explicit-constructor): made from a plan
        : plan_(std::make_shared<const GesturePlan>(std::move(plan))) {}

    const GesturePlan& operator*() const { return *plan_; }
    const GesturePlan* operator->() const { return plan_.get(); }

    bool operator==(const SharedGesturePlan& other) const {
        return plan_ == other.plan_ || *plan_ == *other.plan_;
    }

  private:
    std::shared_ptr<const GesturePlan> plan_;
};

}  // namespace tindlewave
