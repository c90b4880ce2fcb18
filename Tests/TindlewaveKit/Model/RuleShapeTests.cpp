#include <gtest/gtest.h>

#include "Model/RuleShape.h"

namespace tindlewave {
namespace {

using Problem = RuleShape::Problem;

const Control mouseControl = Control::hidpp(CID{0xC3});
const Chord copyChord{*KeyCode::named("c"), Modifiers::command};

TEST(TriggerNames, AreTheFileTexts) {
    EXPECT_EQ(Trigger::click().name(), "click");
    EXPECT_EQ(Trigger::hold().name(), "hold");
    EXPECT_EQ(Trigger::scroll().name(), "scroll");
    EXPECT_EQ(Trigger::holdMove().name(), "holdMove");
    EXPECT_EQ(Trigger::holdMove(Direction::up).name(), "holdMoveUp");
    EXPECT_EQ(Trigger::holdMove(Direction::right).name(), "holdMoveRight");
}

TEST(RuleShapeKinds, SwipeIsAHoldMoveWithADirection) {
    EXPECT_EQ(RuleShape::kind(Trigger::holdMove(Direction::left)), RuleShape::TriggerKind::swipe);
    EXPECT_EQ(RuleShape::kind(Trigger::holdMove()), RuleShape::TriggerKind::holdMove);
    EXPECT_EQ(RuleShape::kind(Control::thumbWheel()), RuleShape::ControlKind::thumbWheel);
    EXPECT_EQ(RuleShape::kind(Action::modifier(HeldModifier::leftShift)),
              RuleShape::ActionKind::modifier);
}

TEST(RuleShapeTable, ListsExactlyTheAllowedShapes) {
    const auto& table = RuleShape::table();
    EXPECT_EQ(&table, &RuleShape::table());
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table.at(RuleShape::ControlKind::hidpp).size(), 4u);
    EXPECT_EQ(table.at(RuleShape::ControlKind::thumbWheel).size(), 1u);
    EXPECT_EQ(table.at(RuleShape::ControlKind::key).size(), 2u);
    EXPECT_EQ(table.at(RuleShape::ControlKind::button).size(), 3u);

    const Control key = Control::key(HIDUsage{0x39});
    const Control button = Control::button(1);
    EXPECT_FALSE(key.accepts(Trigger::holdMove()));
    EXPECT_FALSE(key.accepts(Trigger::holdMove(Direction::up)));
    EXPECT_FALSE(key.accepts(Trigger::scroll()));
    EXPECT_TRUE(key.accepts(Trigger::hold()));
    EXPECT_FALSE(key.accepts(Action::system(SystemAction::missionControl), Trigger::click()));
    EXPECT_TRUE(key.accepts(Action::shortcut(copyChord), Trigger::click()));
    EXPECT_FALSE(key.accepts(Action::shortcut(copyChord), Trigger::hold()));
    EXPECT_FALSE(button.accepts(Trigger::holdMove(Direction::down)));
    EXPECT_TRUE(button.accepts(Action::scroll(), Trigger::holdMove()));
    EXPECT_TRUE(mouseControl.accepts(Trigger::holdMove(Direction::down)));
    EXPECT_FALSE(mouseControl.accepts(Trigger::scroll()));
    EXPECT_FALSE(mouseControl.accepts(Action::scroll(), Trigger::click()));
    EXPECT_TRUE(Control::thumbWheel().accepts(Action::reverse(), Trigger::scroll()));
    EXPECT_FALSE(Control::thumbWheel().accepts(Action::scroll(), Trigger::scroll()));
    // A missing entry accepts no action at all.
    EXPECT_FALSE(Control::thumbWheel().accepts(Action::reverse(), Trigger::click()));
}

TEST(RuleShapeProblem, BlamesTheTriggerThenTheAction) {
    EXPECT_EQ(RuleShape::problem({Control::thumbWheel(), Trigger::click(), Action::reverse()}),
              (Problem{"when", "\"click\" does not work with this control"}));
    EXPECT_EQ(RuleShape::problem({Control::thumbWheel(), Trigger::scroll(), Action::scroll()}),
              (Problem{"do", "this action does not work with \"scroll\" on this control"}));
    EXPECT_EQ(RuleShape::problem(
                  {Control::key(HIDUsage{0x39}), Trigger::hold(), Action::shortcut(copyChord)}),
              (Problem{"do", "this action does not work with \"hold\" on this control"}));
    EXPECT_EQ(RuleShape::problem({Control::button(1), Trigger::holdMove(Direction::up),
                                  Action::system(SystemAction::spaceLeft)}),
              (Problem{"when", "\"holdMoveUp\" does not work with this control"}));
    EXPECT_EQ(RuleShape::problem({mouseControl, Trigger::holdMove(Direction::left),
                                  Action::system(SystemAction::spaceLeft)}),
              std::nullopt);
}

TEST(TriggerConflicts, AreSymmetricAndCarryTheirReason) {
    const Trigger hold = Trigger::hold();
    const Trigger click = Trigger::click();
    const Trigger move = Trigger::holdMove();
    const Trigger left = Trigger::holdMove(Direction::left);
    const Trigger right = Trigger::holdMove(Direction::right);

    for (const auto& [a, b] : {std::pair{hold, click}, std::pair{hold, move}, std::pair{hold, left},
                               std::pair{move, left}}) {
        EXPECT_TRUE(a.conflicts(b)) << a.name() << " " << b.name();
        EXPECT_TRUE(b.conflicts(a)) << b.name() << " " << a.name();
        EXPECT_EQ(a.conflictReason(b), b.conflictReason(a));
    }
    EXPECT_EQ(hold.conflictReason(click),
              "a control that holds keys holds them from its press, so it has no click of its own");
    EXPECT_EQ(move.conflictReason(hold),
              "a control that holds keys holds them from its press, so its movement only moves "
              "the pointer");
    EXPECT_EQ(right.conflictReason(move), "scrolling and swipes both use the movement");

    for (const auto& [a, b] :
         {std::pair{left, right}, std::pair{click, move}, std::pair{click, left},
          std::pair{Trigger::scroll(), hold}, std::pair{Trigger::scroll(), move}}) {
        EXPECT_FALSE(a.conflicts(b)) << a.name() << " " << b.name();
        EXPECT_FALSE(b.conflicts(a)) << b.name() << " " << a.name();
    }
    for (const Trigger& t : {hold, click, move, left, Trigger::scroll()}) {
        EXPECT_FALSE(t.conflicts(t)) << t.name();
    }
}

}  // namespace
}  // namespace tindlewave
