#include <gtest/gtest.h>

#include "Core/Gestures/GestureMachine.h"

namespace tindlewave {
namespace {

using Input = GestureMachine::Input;
using Output = GestureMachine::Output;
using Out = std::optional<Output>;

const Action actionA = Action::system(SystemAction::spaceRight);
const Action actionB = Action::system(SystemAction::spaceLeft);
const Action clickAction = Action::system(SystemAction::missionControl);

GesturePlan swipes(std::map<Direction, Action> actions, GestureFire fire, double distance = 10,
                   std::optional<Action> click = clickAction) {
    return {distance, click, GestureMoves::swipes(std::move(actions), fire)};
}

GesturePlan holdScroll(double gain, double distance, std::optional<Action> click = std::nullopt) {
    return {distance, click, GestureMoves::scroll(HoldScrollPlan(gain, std::nullopt))};
}

TEST(GestureMachine, PastDistanceSwipeFiresOnceAndConsumesTheHold) {
    GestureMachine machine;
    EXPECT_EQ(machine.step(
                  Input::press(swipes({{Direction::right, actionA}}, GestureFire::pastDistance))),
              Out{});
    EXPECT_EQ(machine.step(Input::move(6, 0)), Out{});
    EXPECT_EQ(machine.step(Input::move(5, 0)), Output::swipe(actionA));
    EXPECT_EQ(machine.step(Input::move(50, 0)), Out{});
    EXPECT_EQ(machine.step(Input::release()), Out{});
    EXPECT_EQ(machine.state, GestureMachine::State{GestureMachine::Idle{}});

    // A direction without an action fires nothing, consumes the hold and gives no click.
    machine.step(Input::press(swipes({{Direction::right, actionA}}, GestureFire::pastDistance)));
    EXPECT_EQ(machine.step(Input::move(7, 7)), Out{});
    EXPECT_EQ(machine.step(Input::move(0, 3)), Out{});
    EXPECT_EQ(machine.state, GestureMachine::State{GestureMachine::Consumed{}});
    EXPECT_EQ(machine.step(Input::release()), Out{});

    // Reaching the distance exactly fires.
    machine.step(Input::press(swipes({{Direction::up, actionB}}, GestureFire::pastDistance)));
    EXPECT_EQ(machine.step(Input::move(0, -10)), Output::swipe(actionB));
}

TEST(GestureMachine, DirectionOfTheSum) {
    EXPECT_EQ(GestureMachine::direction(10, -10), Direction::right);  // a tie is horizontal
    EXPECT_EQ(GestureMachine::direction(-10, 10), Direction::left);
    EXPECT_EQ(GestureMachine::direction(3, 4), Direction::down);
    EXPECT_EQ(GestureMachine::direction(3, -4), Direction::up);
    EXPECT_EQ(GestureMachine::direction(0, 0), Direction::left);

    GestureMachine machine;
    machine.step(Input::press(swipes({{Direction::right, actionA}, {Direction::up, actionB}},
                                     GestureFire::pastDistance)));
    EXPECT_EQ(machine.step(Input::move(10, -10)), Output::swipe(actionA));
}

TEST(GestureMachine, OnReleaseFiresOnTheReleaseOrClicks) {
    GestureMachine machine;
    const GesturePlan plan = swipes({{Direction::left, actionB}}, GestureFire::onRelease);
    machine.step(Input::press(plan));
    EXPECT_EQ(machine.step(Input::move(-12, 0)), Out{});
    EXPECT_EQ(machine.step(Input::move(-30, 0)), Out{});
    EXPECT_EQ(machine.step(Input::release()), Output::swipe(actionB));

    machine.step(Input::press(plan));
    EXPECT_EQ(machine.step(Input::move(-4, 0)), Out{});
    EXPECT_EQ(machine.step(Input::release()), Output::click(clickAction));

    // Past the distance in a direction without an action: nothing, not even the click.
    machine.step(Input::press(plan));
    machine.step(Input::move(0, 20));
    EXPECT_EQ(machine.step(Input::release()), Out{});
}

TEST(GestureMachine, ShortPressGivesTheClick) {
    GestureMachine machine;
    machine.step(Input::press(
        swipes({{Direction::up, actionA}}, GestureFire::pastDistance, 10, std::nullopt)));
    machine.step(Input::move(3, 3));
    EXPECT_EQ(machine.step(Input::release()), Output::click(std::nullopt));

    machine.step(Input::press(holdScroll(1, 10, clickAction)));
    EXPECT_EQ(machine.step(Input::release()), Output::click(clickAction));
    EXPECT_EQ(machine.step(Input::release()), Out{});  // release when idle: nothing
    EXPECT_EQ(machine.state, GestureMachine::State{GestureMachine::Idle{}});
}

TEST(GestureMachine, HoldToScrollStartsAtTheDistanceAndAppliesTheGain) {
    GestureMachine machine;
    const HoldScrollPlan plan(2, std::nullopt);
    machine.step(Input::press(holdScroll(2, 5)));
    EXPECT_EQ(machine.step(Input::move(3, 0)), Out{});
    EXPECT_EQ(machine.step(Input::move(0, 4)), Out{});
    EXPECT_EQ(machine.step(Input::move(0, 2)), Output::scroll(HoldScrollEvent::began(plan)));
    EXPECT_EQ(machine.step(Input::move(1, -1)), Output::scroll(HoldScrollEvent::moved(2, -2)));
    EXPECT_EQ(machine.step(Input::release()), Output::scroll(HoldScrollEvent::ended()));
    EXPECT_EQ(machine.step(Input::move(1, 1)), Out{});
}

TEST(GestureMachine, PressOrCancelWhileScrollingEndsTheScroll) {
    GestureMachine machine;
    machine.step(Input::press(holdScroll(1, 1)));
    machine.step(Input::move(5, 0));
    const GesturePlan next = swipes({{Direction::down, actionA}}, GestureFire::pastDistance);
    EXPECT_EQ(machine.step(Input::press(next)), Output::scroll(HoldScrollEvent::ended()));
    EXPECT_EQ(machine.state, (GestureMachine::State{GestureMachine::Tracking{next, 0, 0}}));

    machine.step(Input::press(holdScroll(1, 1)));
    machine.step(Input::move(5, 0));
    EXPECT_EQ(machine.step(Input::cancel()), Output::scroll(HoldScrollEvent::ended()));
    EXPECT_EQ(machine.step(Input::cancel()), Out{});

    // A cancel while tracking gives no click.
    machine.step(Input::press(next));
    EXPECT_EQ(machine.step(Input::cancel()), Out{});
    EXPECT_EQ(machine.step(Input::release()), Out{});
}

}  // namespace
}  // namespace tindlewave
