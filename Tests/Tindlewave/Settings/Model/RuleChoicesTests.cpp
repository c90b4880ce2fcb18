#include <gtest/gtest.h>

#include <algorithm>

#include "Settings/Model/Buttons/RuleChoices.h"

namespace tindlewave {
namespace {

using Controls = std::vector<Control>;
using Triggers = std::vector<Trigger>;

const Control gesture = Control::hidpp(CID{0xC3});

HIDPPCapabilities workedExample() {
    return {{{CID{0x50}, false, false},
             {CID{0x52}, true, false},
             {CID{0x53}, false, false},
             {CID{0xC3}, true, true}},
            true};
}

TEST(RuleChoices, ControlsOfADiscoveredHidppMouse) {
    const RuleChoices choices{{}, workedExample(), true};
    EXPECT_EQ(choices.controls(),
              (Controls{Control::hidpp(CID{0x52}), Control::button(3), gesture, Control::thumbWheel()}));

    // Rules' controls come first in the list and sort with the rest; repeats go.
    const RuleChoices withRules{{{Control::button(0), Trigger::click(), Action::reverse()},
                                 {gesture, Trigger::click(), Action::reverse()},
                                 {Control::hidpp(CID{0x1A}), Trigger::click(), Action::reverse()}},
                                workedExample(),
                                true};
    EXPECT_EQ(withRules.controls(),
              (Controls{Control::hidpp(CID{0x1A}), Control::hidpp(CID{0x52}), Control::button(3),
                        gesture, Control::thumbWheel(), Control::button(0)}));
}

TEST(RuleChoices, ControlsBeforeDiscoveryAndWithoutHidpp) {
    const RuleChoices undiscovered{{{Control::button(2), Trigger::click(), Action::reverse()}},
                                   std::nullopt,
                                   true};
    EXPECT_EQ(undiscovered.controls(), (Controls{Control::button(2), Control::thumbWheel()}));

    const RuleChoices plain{{}, std::nullopt, false};
    Controls expected{Control::button(1), Control::button(2), Control::button(3), Control::button(4)};
    for (HIDUsage usage : HIDUsage::allNamed()) expected.push_back(Control::key(usage));
    EXPECT_EQ(plain.controls(), expected);

    // A rule on the left button keeps its control in the list, after every key.
    const RuleChoices left{{{Control::button(0), Trigger::hold(), Action::scroll()}}, std::nullopt, false};
    EXPECT_EQ(left.controls().back(), Control::button(0));
    EXPECT_EQ(left.controls().size(), expected.size() + 1);
}

TEST(RuleChoices, FreeTriggers) {
    const Triggers hidppAll{Trigger::click(),
                            Trigger::hold(),
                            Trigger::holdMove(Direction::up),
                            Trigger::holdMove(Direction::down),
                            Trigger::holdMove(Direction::left),
                            Trigger::holdMove(Direction::right),
                            Trigger::holdMove()};
    RuleChoices choices{{}, workedExample(), true};
    EXPECT_EQ(choices.triggers(gesture), hidppAll);
    EXPECT_EQ(choices.triggers(Control::thumbWheel()), Triggers{Trigger::scroll()});
    // 0x52 has no raw movement: no hold-and-move there; an unlisted control keeps them.
    EXPECT_EQ(choices.triggers(Control::hidpp(CID{0x52})), (Triggers{Trigger::click(), Trigger::hold()}));
    EXPECT_EQ(choices.triggers(Control::hidpp(CID{0x60})), hidppAll);

    const Rule click{gesture, Trigger::click(), Action::reverse()};
    choices.rules = {click};
    EXPECT_EQ(choices.triggers(gesture).front(), Trigger::holdMove(Direction::up));
    EXPECT_EQ(choices.triggers(gesture, &click), hidppAll);  // its own trigger counts as free

    const Rule hold{gesture, Trigger::hold(), Action::scroll()};
    choices.rules = {hold};
    EXPECT_EQ(choices.triggers(gesture), Triggers{});

    const Rule up{gesture, Trigger::holdMove(Direction::up), Action::reverse()};
    choices.rules = {up};
    EXPECT_EQ(choices.triggers(gesture),
              (Triggers{Trigger::click(), Trigger::holdMove(Direction::down),
                        Trigger::holdMove(Direction::left), Trigger::holdMove(Direction::right)}));
}

TEST(RuleChoices, OfferedActions) {
    const RuleChoices choices{{}, std::nullopt, true};
    const auto onClick = choices.actions(gesture, Trigger::click());
    EXPECT_TRUE(std::ranges::none_of(onClick, [](const Action& a) { return is<Action::Modifier>(a); }));
    const auto onHold = choices.actions(gesture, Trigger::hold());
    EXPECT_EQ(std::ranges::count_if(onHold, [](const Action& a) { return is<Action::Modifier>(a); }), 8);
    EXPECT_EQ(choices.actions(Control::thumbWheel(), Trigger::scroll()), std::vector<Action>{Action::reverse()});
    EXPECT_EQ(RuleChoices::actions().size(), 15u);
    EXPECT_EQ(RuleChoices::actions()[12], Action::shortcut(RuleChoices::placeholderChord()));
    EXPECT_EQ(RuleChoices::placeholderChord().key.name(), "4");
    EXPECT_EQ(RuleChoices::placeholderChord().modifiers, Modifiers::shift | Modifiers::command);
    EXPECT_EQ(RuleChoices::triggers().size(), 8u);
}

TEST(RuleChoices, MovingARule) {
    const Rule thumbClick{gesture, Trigger::click(), Action::system(SystemAction::missionControl)};
    const Rule topHold{Control::hidpp(CID{0x52}), Trigger::hold(), Action::modifier(HeldModifier::leftCommand)};
    RuleChoices choices{{thumbClick, topHold}, workedExample(), true};
    // To its own control the rule stays whole.
    EXPECT_EQ(choices.rule(thumbClick, gesture), thumbClick);
    // Where no trigger is free, the rule keeps its trigger and its action.
    EXPECT_EQ(choices.rule(thumbClick, Control::hidpp(CID{0x52})),
              (Rule{Control::hidpp(CID{0x52}), Trigger::click(), thumbClick.action}));
    // Where its trigger is not free, it takes the first free one and keeps an action that fits.
    choices.rules.push_back({gesture, Trigger::holdMove(Direction::up), Action::reverse()});
    EXPECT_EQ(choices.rule(topHold, gesture),
              (Rule{gesture, Trigger::holdMove(Direction::down), topHold.action}));
    // An action that does not fit gives way to the first one offered there.
    const Rule wheel{Control::thumbWheel(), Trigger::scroll(), Action::reverse()};
    EXPECT_EQ(choices.rule(wheel, gesture),
              (Rule{gesture, Trigger::holdMove(Direction::down),
                    Action::system(SystemAction::missionControl)}));
    choices.rules.resize(2);
    // The thumb wheel only scrolls and only reverses.
    EXPECT_EQ(choices.rule(thumbClick, Control::thumbWheel()),
              (Rule{Control::thumbWheel(), Trigger::scroll(), Action::reverse()}));

    EXPECT_EQ(choices.controls(thumbClick),
              (Controls{Control::button(3), gesture, Control::thumbWheel()}));
    EXPECT_EQ(choices.controls(topHold), (Controls{Control::hidpp(CID{0x52}), Control::button(3),
                                                    gesture, Control::thumbWheel()}));
}

TEST(RuleChoices, RecordingAHeldModifierMovesToHold) {
    const Rule click{gesture, Trigger::click(), Action::system(SystemAction::appExpose)};
    const Action shift = Action::modifier(HeldModifier::leftShift);
    RuleChoices choices{{click}, workedExample(), true};
    EXPECT_EQ(choices.recorded(shift, click), (Rule{gesture, Trigger::hold(), shift}));
    const Action chord = Action::shortcut({*KeyCode::named("s"), Modifiers::command});
    EXPECT_EQ(choices.recorded(chord, click), (Rule{gesture, Trigger::click(), chord}));

    choices.rules.push_back({gesture, Trigger::holdMove(Direction::left), Action::reverse()});
    EXPECT_EQ(choices.recorded(shift, click), (Rule{gesture, Trigger::click(), shift}));
}

TEST(RuleChoices, LearningAPress) {
    HIDPPCapabilities capabilities = workedExample();
    capabilities.controls.push_back({CID{0x51}, true, false});
    RuleChoices choices{{}, capabilities, true};
    EXPECT_EQ(choices.learned(Heard::unnamed()), LearnedRule::unnamed());
    EXPECT_EQ(choices.learned(Heard::control(Control::button(1))),
              LearnedRule::rule({Control::hidpp(CID{0x51}), Trigger::click(),
                                 Action::system(SystemAction::missionControl)}));
    // 0x53 is not divertable: the plain button stays a plain button.
    EXPECT_EQ(choices.learned(Heard::control(Control::button(3))),
              LearnedRule::rule({Control::button(3), Trigger::click(),
                                 Action::system(SystemAction::missionControl)}));
    // Without capabilities nothing is made canonical.
    EXPECT_EQ((RuleChoices{{}, std::nullopt, true}.learned(Heard::control(Control::button(1)))),
              LearnedRule::rule({Control::button(1), Trigger::click(),
                                 Action::system(SystemAction::missionControl)}));

    choices.rules = {{Control::hidpp(CID{0x51}), Trigger::hold(), Action::scroll()}};
    EXPECT_EQ(choices.learned(Heard::control(Control::button(1))),
              LearnedRule::full(Control::hidpp(CID{0x51})));
    choices.rules = {{Control::thumbWheel(), Trigger::scroll(), Action::reverse()}};
    EXPECT_EQ(choices.learned(Heard::control(Control::thumbWheel())),
              LearnedRule::full(Control::thumbWheel()));
}

TEST(RuleChoices, LearningAPressToReplaceAControl) {
    HIDPPCapabilities capabilities = workedExample();
    capabilities.controls.push_back({CID{0x51}, true, false});
    const Rule rule{gesture, Trigger::holdMove(Direction::up), Action::system(SystemAction::missionControl)};
    const Rule rightHold{Control::hidpp(CID{0x51}), Trigger::hold(), Action::scroll()};
    const RuleChoices choices{{rule, rightHold}, capabilities, true};
    EXPECT_EQ(choices.learned(Heard::unnamed(), rule), LearnedRule::unnamed());
    EXPECT_EQ(choices.learned(Heard::control(gesture), rule), LearnedRule::unchanged());
    EXPECT_EQ(choices.learned(Heard::control(Control::button(1)), rule),
              LearnedRule::full(Control::hidpp(CID{0x51})));
    // 0x52 has no raw movement: the rule becomes a click there.
    EXPECT_EQ(choices.learned(Heard::control(Control::button(2)), rule),
              LearnedRule::replacement(RuleKey::of(rule),
                                       {Control::hidpp(CID{0x52}), Trigger::click(), rule.action}));
}

}  // namespace
}  // namespace tindlewave
