#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "Settings/Model/Buttons/AddRuleTexts.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/Buttons/RecorderFieldState.h"
#include "Settings/Model/Buttons/RuleRowValues.h"
#include "Settings/Model/Buttons/ShortcutKeys.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

const Control gesture = Control::hidpp(CID{0xC3});
const DeviceMatch desk = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});

HIDPPCapabilities withThumbWheel() {
    return {{{CID{0x52}, true, false}, {CID{0xC3}, true, true}}, true};
}

std::vector<std::string> labels(const std::vector<ActionChoice>& choices) {
    std::vector<std::string> out;
    for (const auto& choice : choices) out.push_back(choice.label);
    return out;
}

TEST(RulesValues, CountsFootersAndNotes) {
    EXPECT_EQ(RulesValues::count(1), "1 rule");
    EXPECT_EQ(RulesValues::count(0), "0 rules");
    EXPECT_EQ(RulesValues::count(12), "12 rules");
    EXPECT_EQ(RulesValues::footer(true), "Buttons without a rule, like Back and Forward, work as usual.");
    EXPECT_EQ(RulesValues::footer(false),
              "Tindlewave carries out rules for plain buttons. It saves rules for keys, but does not "
              "carry them out yet.");

    const auto other = DeviceMatch::device(VendorID{0x046D}, ProductID{0x4082});
    const auto note = LearnNote::unnamed(desk);
    EXPECT_EQ(RulesValues::note(note, desk), note);
    EXPECT_EQ(RulesValues::note(note, other), std::nullopt);
    EXPECT_EQ(RulesValues::note(std::nullopt, desk), std::nullopt);
}

TEST(RulesValues, Explanations) {
    const Rule scroll{Control::button(2), Trigger::holdMove(), Action::scroll()};
    const Rule click{Control::button(2), Trigger::click(), Action::system(SystemAction::missionControl)};
    EXPECT_EQ(RulesValues::explanation(scroll, {scroll}), Labels::holdToScroll(scroll.control, false));
    EXPECT_EQ(RulesValues::explanation(scroll, {scroll, click}), Labels::holdToScroll(scroll.control, true));

    const Rule hold{gesture, Trigger::hold(), Action::modifier(HeldModifier::leftCommand)};
    ASSERT_TRUE(Labels::heldKeys(hold.action));
    EXPECT_EQ(RulesValues::explanation(hold, {hold}), Labels::heldKeys(hold.action));
    EXPECT_EQ(RulesValues::explanation(click, {click}), std::nullopt);
}

TEST(RuleRowValues, ActionChoicesOfASystemRuleAndAShortcutRule) {
    const RuleChoices choices{{}, withThumbWheel(), true};
    const Rule mission{gesture, Trigger::click(), Action::system(SystemAction::missionControl)};
    const auto missionChoices = RuleRowValues{mission, choices, std::nullopt}.actionChoices();
    const auto missionLabels = labels(missionChoices);
    EXPECT_EQ(missionLabels.front(), "Mission Control");
    EXPECT_NE(std::find(missionLabels.begin(), missionLabels.end(), "Keyboard Shortcut…"), missionLabels.end());
    EXPECT_EQ(std::find(missionLabels.begin(), missionLabels.end(), "Record Another Shortcut…"),
              missionLabels.end());
    const auto record = std::find_if(missionChoices.begin(), missionChoices.end(),
                                     [](const ActionChoice& c) { return !c.action; });
    EXPECT_EQ(record->label, "Keyboard Shortcut…");

    const Rule shortcut{gesture, Trigger::click(), Action::shortcut(RuleChoices::placeholderChord())};
    const auto shortcutChoices = RuleRowValues{shortcut, choices, std::nullopt}.actionChoices();
    const auto shortcutLabels = labels(shortcutChoices);
    const auto at = std::find(shortcutLabels.begin(), shortcutLabels.end(), "Shortcut ⇧⌘4");
    ASSERT_NE(at, shortcutLabels.end());
    ASSERT_NE(at + 1, shortcutLabels.end());
    EXPECT_EQ(*(at + 1), "Record Another Shortcut…");
    EXPECT_EQ(shortcutChoices[static_cast<std::size_t>(at - shortcutLabels.begin())].action, shortcut.action);
    EXPECT_EQ(shortcutLabels.size(), missionLabels.size() + 1);
}

TEST(RuleRowValues, ATriggerThatRefusesTheActionTakesTheFirstOffered) {
    const RuleChoices choices{{}, withThumbWheel(), true};
    const Rule mission{gesture, Trigger::click(), Action::system(SystemAction::missionControl)};
    ASSERT_FALSE(gesture.accepts(mission.action, Trigger::hold()));
    const Rule held = RuleRowValues{mission, choices, std::nullopt}.withTrigger(Trigger::hold());
    EXPECT_EQ(held, (Rule{gesture, Trigger::hold(), choices.actions(gesture, Trigger::hold()).front()}));
    // An action the new trigger takes is kept.
    const Rule modifier{gesture, Trigger::hold(), Action::modifier(HeldModifier::rightOption)};
    ASSERT_TRUE(gesture.accepts(modifier.action, Trigger::click()));
    EXPECT_EQ(RuleRowValues({modifier, choices, std::nullopt}).withTrigger(Trigger::click()),
              (Rule{gesture, Trigger::click(), modifier.action}));
}

TEST(RuleRowValues, ButtonFieldFollowsListening) {
    const Rule rule{gesture, Trigger::click(), Action::system(SystemAction::missionControl)};
    const RuleChoices wheel{{}, withThumbWheel(), true};
    const RuleChoices none{{}, std::nullopt, true};
    const Date until{};
    EXPECT_EQ(RuleRowValues({rule, wheel, std::nullopt}).buttonField(),
              RecorderFieldState::idle({"Gesture button"}));
    EXPECT_EQ(RuleRowValues({rule, wheel, ListenStatus::ended(ListenEnd::timedOut)}).buttonField(),
              RecorderFieldState::idle({"Gesture button"}));
    EXPECT_EQ(RuleRowValues({rule, wheel, ListenStatus::gettingReady(until)}).buttonField(),
              RecorderFieldState::recording({}, RecorderHint::gettingReady("Getting ready…")));
    EXPECT_EQ(RuleRowValues({rule, wheel, ListenStatus::listening(until)}).buttonField(),
              RecorderFieldState::recording({}, RecorderHint::prompt("Press a button or turn the wheel")));
    EXPECT_EQ(RuleRowValues({rule, none, ListenStatus::listening(until)}).buttonField(),
              RecorderFieldState::recording({}, RecorderHint::prompt("Press a button")));
}

TEST(AddRuleTexts, StatusPriority) {
    AddRuleTexts::StatusInput input;
    input.footer = "footer";
    input.device = "Desk mouse";
    EXPECT_EQ(AddRuleTexts::status(input), "footer");
    input.blocked = "blocked";
    EXPECT_EQ(AddRuleTexts::status(input), "blocked");
    input.note = LearnNote::unnamed(desk);
    EXPECT_EQ(AddRuleTexts::status(input), "Tindlewave cannot make a rule for that key.");
    input.note = LearnNote::full(desk, Control::button(2));
    EXPECT_EQ(AddRuleTexts::status(input),
              Labels::control(Control::button(2)) +
                  " already has a rule for every way to press it. Change one of these.");
    input.note = LearnNote::full(desk, Control::thumbWheel());
    EXPECT_EQ(AddRuleTexts::status(input),
              "Thumb wheel already has a rule for every way to turn it. Change it here.");
    input.listen = ListenStatus::listening(Date{});
    EXPECT_EQ(AddRuleTexts::status(input), "footer");  // a rule row listens
    input.forNewRule = true;
    EXPECT_EQ(AddRuleTexts::status(input), "The left button keeps working while Tindlewave listens.");
    input.listen = ListenStatus::ended(ListenEnd::timedOut);
    EXPECT_EQ(AddRuleTexts::status(input), Labels::listenEnded(ListenEnd::timedOut, "Desk mouse"));
}

TEST(AddRuleTexts, HelpHintsAndCountdown) {
    EXPECT_EQ(AddRuleTexts::help(true, "M"), "Pick a button to add a rule for");
    EXPECT_EQ(AddRuleTexts::help(false, "M"),
              "Press a button on M to add a rule for it, or pick one from the menu");
    EXPECT_EQ(AddRuleTexts::rowFieldHelp(std::nullopt, "M"),
              "Click, then press a button on M to use it for this rule");
    EXPECT_EQ(AddRuleTexts::listenHint(true, true, "M"),
              RecorderHint::prompt("Press a button or turn the thumb wheel on M"));
    EXPECT_EQ(AddRuleTexts::listenHint(true, false, "M"), RecorderHint::prompt("Press a button on M"));
    EXPECT_EQ(AddRuleTexts::listenHint(false, true, "M"), RecorderHint::gettingReady("Getting M ready…"));

    const Date until = Date{} + 100s;
    EXPECT_EQ(AddRuleTexts::countdown(until - 9200ms, until), "10 s");
    EXPECT_EQ(AddRuleTexts::countdown(until - 9s, until), "9 s");
    EXPECT_EQ(AddRuleTexts::countdown(until, until), "0 s");
    EXPECT_EQ(AddRuleTexts::countdown(until + 3s, until), "0 s");
}

TEST(RecorderFieldState, AccessibilityTexts) {
    EXPECT_EQ(RecorderFieldState::idle({}).accessibilityLabel(), "");
    EXPECT_EQ(RecorderFieldState::idle({"⌘", "S"}).accessibilityLabel(), "⌘, S");
    EXPECT_EQ(RecorderFieldState::idle({"⌘"}, "Copy").accessibilityLabel(), "⌘, Copy");
    EXPECT_EQ(RecorderFieldState::recording({"⌥"}, RecorderHint::prompt("Now press a key"), "9 s")
                  .accessibilityLabel(),
              "Now press a key, ⌥, 9 s");
}

// Flag words as the keyboard sends them: generic bits with the side bits of the keys down.
constexpr std::uint64_t commandFlags = 0x100000 | 0x8;
constexpr std::uint64_t shiftFlags = 0x20000 | 0x2;
constexpr std::uint64_t rightOptionFlags = 0x80000 | 0x40;
constexpr std::uint16_t keyS = 1;

TEST(ShortcutKeys, RecordsAShortcutAndALoneModifier) {
    ShortcutKeys keys;
    EXPECT_EQ(keys.flagsChanged(0x37, commandFlags), ShortcutKeys::Outcome{ShortcutKeys::Keep{}});
    EXPECT_EQ(keys.keyDown(keyS, commandFlags),
              ShortcutKeys::Outcome{ShortcutKeys::Record{
                  Action::shortcut(Chord{KeyCode{keyS}, Modifiers::command})}});

    ShortcutKeys alone;
    alone.flagsChanged(0x3D, rightOptionFlags);
    EXPECT_EQ(alone.display(),
              RecorderFieldState::recording({"⌥"}, RecorderHint::prompt("Let go to use Right Option")));
    EXPECT_EQ(alone.flagsChanged(0x3D, 0),
              ShortcutKeys::Outcome{ShortcutKeys::Record{Action::modifier(HeldModifier::rightOption)}});
}

TEST(ShortcutKeys, UnnamedKeysEscapeAndControlEscape) {
    ShortcutKeys keys;
    keys.flagsChanged(0x38, shiftFlags);
    EXPECT_EQ(keys.keyDown(std::nullopt, shiftFlags), ShortcutKeys::Outcome{ShortcutKeys::Keep{}});
    // The key cleared the lone Shift: letting go records nothing, and the problem stays.
    EXPECT_EQ(keys.flagsChanged(0x38, 0), ShortcutKeys::Outcome{ShortcutKeys::Keep{}});
    EXPECT_EQ(keys.display(),
              RecorderFieldState::recording({}, RecorderHint::problem("Can't use that key. Try another.")));
    EXPECT_EQ(keys.keyDown(keyS, 0),
              ShortcutKeys::Outcome{ShortcutKeys::Record{Action::shortcut(Chord{KeyCode{keyS}, {}})}});

    ShortcutKeys escape;
    EXPECT_EQ(escape.keyDown(ShortcutKeys::escapeKeyCode, 0), ShortcutKeys::Outcome{ShortcutKeys::Cancel{}});
    const auto controlEscape = escape.keyDown(ShortcutKeys::escapeKeyCode, 0x40000 | 0x1);
    ASSERT_TRUE(KeyCode::fromVirtualKeyCode(ShortcutKeys::escapeKeyCode));
    EXPECT_EQ(controlEscape, ShortcutKeys::Outcome{ShortcutKeys::Record{Action::shortcut(
                                 Chord{KeyCode{ShortcutKeys::escapeKeyCode}, Modifiers::control})}});
}

}  // namespace
}  // namespace tindlewave
