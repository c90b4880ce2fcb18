#include "Core/Gestures/GestureMachine.h"

#include <algorithm>
#include <cmath>

#include "Core/Overloaded.h"

namespace tindlewave {

namespace {

using Output = GestureMachine::Output;

// The swipe for the summed movement, when the plan has one for its direction.
std::optional<Output> swipeFor(const GestureMoves::Swipes& swipes, double sx, double sy) {
    auto found = swipes.actions.find(GestureMachine::direction(sx, sy));
    if (found == swipes.actions.end()) return std::nullopt;
    return Output::swipe(found->second);
}

}  // namespace

Direction GestureMachine::direction(double sx, double sy) {
    if (std::abs(sy) > std::abs(sx)) return sy > 0 ? Direction::down : Direction::up;
    return sx > 0 ? Direction::right : Direction::left;
}

std::optional<Output> GestureMachine::pastDistance(Tracking& tracking) {
    if (const auto* scroll = as<GestureMoves::Scroll>(tracking.plan->moves)) {
        const HoldScrollPlan plan = scroll->plan;
        state = Scrolling{plan};
        return Output::scroll(HoldScrollEvent::began(plan));
    }
    const auto& swipes = std::get<GestureMoves::Swipes>(tracking.plan->moves.value);
    if (swipes.fire == GestureFire::onRelease) return std::nullopt;
    std::optional<Output> output = swipeFor(swipes, tracking.sx, tracking.sy);
    state = Consumed{};
    return output;
}

std::optional<Output> GestureMachine::step(const Input& input) {
    return std::visit(
        Overloaded{
            [&](const Input::Press& press) -> std::optional<Output> {
                const bool wasScrolling = std::holds_alternative<Scrolling>(state);
                state = Tracking{press.plan, 0, 0};
                if (wasScrolling) return Output::scroll(HoldScrollEvent::ended());
                return std::nullopt;
            },
            [&](const Input::Move& movement) { return move(movement.dx, movement.dy); },
            [&](const Input::Release&) -> std::optional<Output> {
                if (auto* tracking = std::get_if<Tracking>(&state)) {
                    const Tracking ended = std::move(*tracking);
                    state = Idle{};
                    if (is<GestureMoves::Scroll>(ended.plan->moves)) {
                        return Output::click(ended.plan->click);
                    }
                    const auto& swipes = std::get<GestureMoves::Swipes>(ended.plan->moves.value);
                    const double reach = std::max(std::abs(ended.sx), std::abs(ended.sy));
                    if (reach >= ended.plan->distance) return swipeFor(swipes, ended.sx, ended.sy);
                    return Output::click(ended.plan->click);
                }
                const bool wasScrolling = std::holds_alternative<Scrolling>(state);
                state = Idle{};
                if (wasScrolling) return Output::scroll(HoldScrollEvent::ended());
                return std::nullopt;
            },
            [&](const Input::Cancel&) -> std::optional<Output> {
                const bool wasScrolling = std::holds_alternative<Scrolling>(state);
                state = Idle{};
                if (wasScrolling) return Output::scroll(HoldScrollEvent::ended());
                return std::nullopt;
            },
        },
        input.value);
}

}  // namespace tindlewave
