#include <gtest/gtest.h>

#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/General/HyperKeyChoices.h"
#include "Settings/Model/Texts/Labels.h"

namespace tindlewave {
namespace {

Chord chordOf(std::string_view key, Modifiers modifiers) {
    return {KeyCode::named(key).value(), modifiers};
}

TEST(Labels, Controls) {
    EXPECT_EQ(Labels::control(Control::hidpp(CID{0x50})), "Left button");
    EXPECT_EQ(Labels::control(Control::hidpp(CID{0xC4})), "Top button");
    EXPECT_EQ(Labels::control(Control::hidpp(CID{0x1A})), "Button 0x1A");
    EXPECT_EQ(Labels::control(Control::hidpp(CID{0x1A0})), "Button 0x1A0");
    EXPECT_EQ(Labels::control(Control::button(0)), "Button 0");
    EXPECT_EQ(Labels::control(Control::button(4)), "Forward button");
    EXPECT_EQ(Labels::control(Control::button(5)), "Button 5");
    EXPECT_EQ(Labels::control(Control::key(*HIDUsage::named("capsLock"))), "Sends Caps Lock");
    EXPECT_EQ(Labels::control(Control::key(HIDUsage{0xFFFF})), "Sends ");
    EXPECT_EQ(Labels::control(Control::thumbWheel()), "Thumb wheel");
    EXPECT_EQ(Labels::controlNames().size(), 7u);
    EXPECT_EQ(Labels::buttonNames().size(), 4u);
}

TEST(Labels, Triggers) {
    EXPECT_EQ(Labels::trigger(Trigger::click()), "Click");
    EXPECT_EQ(Labels::trigger(Trigger::hold()), "Hold");
    EXPECT_EQ(Labels::trigger(Trigger::scroll()), "Scroll");
    EXPECT_EQ(Labels::trigger(Trigger::holdMove()), "Hold and move");
    EXPECT_EQ(Labels::trigger(Trigger::holdMove(Direction::up)), "Hold, move up");
    EXPECT_EQ(Labels::trigger(Trigger::holdMove(Direction::right)), "Hold, move right");
}

TEST(Labels, KeyWords) {
    const std::pair<std::string_view, std::string_view> table[] = {
        {"left", "Left Arrow"}, {"grave", "Backtick"},         {"equal", "Equals"},
        {"f5", "F5"},           {"a", "A"},                     {"f12", "F12"},
        {"f13", "F13"},         {"f1a", "F1a"},                 {"forwardDelete", "Forward Delete"},
        {"capsLock", "Caps Lock"}, {"escape", "Escape"},        {"", ""},
        {"1", "1"},             {"keypadEnter", "Keypad Enter"}, {"abcd", "Abcd"},
    };
    for (const auto& [name, word] : table) EXPECT_EQ(Labels::key(name), word) << name;
    // Every key of the table has a word.
    for (const KeyTable::Key& key : KeyTable::keys()) EXPECT_FALSE(Labels::key(key.name).empty());
}

TEST(Labels, Chords) {
    EXPECT_EQ(Labels::chord(chordOf("s", Modifiers::command | Modifiers::shift)), "⇧⌘S");
    EXPECT_EQ(Labels::chord(chordOf("return", Modifiers::option)), "⌥↩");
    EXPECT_EQ(Labels::chord(chordOf("space", Modifiers::control)), "⌃Space");
    EXPECT_EQ(Labels::chord(chordOf("left", Modifiers{})), "←");
    EXPECT_EQ(Labels::chord(chordOf("backslash", Modifiers::hyper)), "⌃⌥⇧⌘\\");
    EXPECT_EQ(Labels::chord(chordOf("f5", Modifiers{})), "F5");
    EXPECT_EQ(Labels::chord({KeyCode{0xFFFF}, Modifiers::command}), "⌘");
    EXPECT_EQ(Labels::modifierSymbols(Modifiers::hyper),
              (std::vector<std::string>{"⌃", "⌥", "⇧", "⌘"}));
    EXPECT_TRUE(Labels::modifierSymbols(Modifiers{}).empty());
}

TEST(Labels, ModifierNamesAndFlags) {
    EXPECT_EQ(Labels::modifierName(HeldModifier::rightOption), "Right Option");
    EXPECT_EQ(Labels::modifierSymbol(HeldModifier::rightOption), "⌥");
    EXPECT_EQ(Labels::modifierName(HeldModifier::leftControl), "Left Control");
    EXPECT_EQ(Labels::modifierSymbol(HeldModifier::leftCommand), "⌘");
    EXPECT_EQ(Labels::modifiers(0x40000 | 0x100000 | 0x10000 | 0x1 | 0x800000),
              Modifiers::control | Modifiers::command);
    EXPECT_EQ(Labels::modifiers(0x80000 | 0x20000), Modifiers::option | Modifiers::shift);
    EXPECT_EQ(Labels::modifiers(0), Modifiers{});
}

TEST(Labels, SentencesUnderRules) {
    EXPECT_EQ(Labels::heldKeys(Action::shortcut(chordOf("s", Modifiers::option | Modifiers::shift))),
              "⌥⇧S stays down while you hold it, and goes up when you let go.");
    EXPECT_EQ(Labels::heldKeys(Action::modifier(HeldModifier::leftCommand)),
              "Left Command stays down while you hold it, so a click meanwhile is a ⌘-click.");
    EXPECT_EQ(Labels::heldKeys(Action::system(SystemAction::appExpose)), std::nullopt);
    EXPECT_EQ(Labels::heldKeys(Action::reverse()), std::nullopt);
    EXPECT_EQ(Labels::heldKeys(Action::scroll()), std::nullopt);

    EXPECT_EQ(Labels::holdToScroll(Control::hidpp(CID{0xC3}), true),
              "Hold the button and move the mouse to scroll. A quick press still does the click rule.");
    EXPECT_EQ(Labels::holdToScroll(Control::button(1), false),
              "Hold the button and move the mouse to scroll. A quick press still clicks as usual.");
    EXPECT_EQ(Labels::holdToScroll(Control::hidpp(CID{0xC3}), false),
              "Hold the button and move the mouse to scroll. A quick press does nothing until you "
              "add a click rule.");
}

// Over real devices every modifier the pages show has its Linux name; the simulated world keeps
// the symbols (the tests above).
TEST(Labels, OverLinuxDevicesModifiersHaveTheirLinuxNames) {
    setWorldTexts(WorldTexts::linuxDevices);
    struct Restore {
        ~Restore() { setWorldTexts(WorldTexts::simulated); }
    } restore;
    EXPECT_EQ(Labels::chord(chordOf("4", Modifiers::command | Modifiers::shift)), "Shift+Super+4");
    EXPECT_EQ(Labels::chord(chordOf("backslash", Modifiers::hyper)), "Ctrl+Alt+Shift+Super+\\");
    EXPECT_EQ(Labels::chord(chordOf("f5", Modifiers{})), "F5");
    EXPECT_EQ(Labels::modifierSymbols(Modifiers::option | Modifiers::control),
              (std::vector<std::string>{"Ctrl", "Alt"}));
    EXPECT_EQ(Labels::modifierName(HeldModifier::rightOption), "Right Alt");
    EXPECT_EQ(Labels::heldKeys(Action::modifier(HeldModifier::leftCommand)),
              "Left Super stays down while you hold it, so a click meanwhile is a Super-click.");
    EXPECT_EQ(Labels::heldKeys(Action::shortcut(chordOf("s", Modifiers::option | Modifiers::shift))),
              "Alt+Shift+S stays down while you hold it, and goes up when you let go.");
    Config config = Config::empty();
    EXPECT_EQ(Labels::setUpHelp(ProfileSource::preset(DevicePreset::mouse24G), config),
              "Lists it with the mice. Escape becomes Right Alt while held, and Return sends Alt+Shift+S.");

    const auto hyper = HyperKeyChoices::pageTexts();
    EXPECT_EQ(hyper.heldSymbols, "Ctrl Alt Shift Super");
    EXPECT_EQ(hyper.keyHelp, "Holding it holds Ctrl+Alt+Shift+Super on the keyboards below. It no longer types as itself.");
    EXPECT_EQ(hyper.whileHeldHelp, "Every key you press gets Ctrl, Alt, Shift and Super, for app shortcuts.");
    EXPECT_EQ(hyper.howItWorks, "Tindlewave turns the key into F18 on the keyboards ticked above, then holds "
                                "Ctrl+Alt+Shift+Super while you hold F18.");
    EXPECT_EQ(hyper.caveat, std::nullopt) << "the hyper key works in password fields too, below the display server";
}

TEST(Labels, TheHyperKeyPageInTheSimulatedWorldKeepsTheQuotedTexts) {
    const auto hyper = HyperKeyChoices::pageTexts();
    EXPECT_EQ(hyper.heldSymbols, "⌃ ⌥ ⇧ ⌘");
    EXPECT_EQ(hyper.keyHelp, "Holding it holds ⌃⌥⇧⌘ on the keyboards below. It no longer types as itself.");
    EXPECT_EQ(hyper.whileHeldHelp, "Every key you press gets Control, Option, Shift and Command, for app shortcuts.");
    EXPECT_EQ(hyper.howItWorks,
              "Tindlewave turns the key into F18 on the keyboards ticked above, then holds ⌃⌥⇧⌘ while you hold F18.");
    EXPECT_EQ(hyper.caveat, "In password fields the system keeps typing away from other apps, so the hyper key "
                            "does nothing there.");
}

TEST(Labels, ListenEnded) {
    EXPECT_EQ(Labels::listenEnded(ListenEnd::timedOut, "MX"),
              "No press heard in 10 seconds. Add Rule to try again.");
    EXPECT_EQ(Labels::listenEnded(ListenEnd::disconnected, "MX Master 3"),
              "MX Master 3 disconnected, so Tindlewave stopped listening.");
    EXPECT_EQ(Labels::listenEnded(ListenEnd::paused, "MX"),
              "Tindlewave is paused, so it stopped listening.");
    EXPECT_EQ(Labels::listenEnded(ListenEnd::slept, "MX"),
              "The computer went to sleep, so Tindlewave stopped listening.");
    EXPECT_EQ(Labels::listenEnded(ListenEnd::needsAccessibility, "MX"),
              "Tindlewave needs Accessibility to hear this mouse's buttons.");
}

TEST(Labels, DevicesAndSetUpChoices) {
    const DeviceMatch master = DeviceMatch::device(VendorID{0x46D}, ProductID{0xB023});
    const DeviceMatch small = DeviceMatch::device(VendorID{0x1EA7}, ProductID{0x2});
    EXPECT_EQ(Labels::match(master), "Vendor 0x046D, product 0xB023");
    EXPECT_EQ(Labels::match(small), "Vendor 0x1EA7, product 0x0002");
    EXPECT_EQ(Labels::match(DeviceMatch::builtIn()), "Built-in keyboard");

    Config config = Config::empty();
    config.devices.push_back({master, "Desk mouse"});
    const auto item = [&](ProfileSource source) { return Labels::setUpItem(source, config); };
    const auto help = [&](ProfileSource source) { return Labels::setUpHelp(source, config); };
    EXPECT_EQ(item(ProfileSource::preset(DevicePreset::mxMaster3)), "MX Master 3 preset");
    EXPECT_EQ(item(ProfileSource::preset(DevicePreset::mouse24G)), "2.4G mouse preset");
    EXPECT_EQ(item(ProfileSource::preset(DevicePreset::keyboard)), "Hyper key");
    EXPECT_EQ(item(ProfileSource::copy(master)), "Same as Desk mouse");
    EXPECT_EQ(item(ProfileSource::copy(small)), "Same as Vendor 0x1EA7, product 0x0002");
    EXPECT_EQ(item(ProfileSource::blank()), "Nothing yet");
    EXPECT_EQ(help(ProfileSource::preset(DevicePreset::mxMaster3)),
              "Gesture and top buttons, reversed thumb wheel, smooth scrolling, and hold the right "
              "button to scroll.");
    EXPECT_EQ(help(ProfileSource::preset(DevicePreset::mouse24G)),
              "Lists it with the mice. Escape becomes Right Option while held, and Return sends ⌥⇧S.");
    EXPECT_EQ(help(ProfileSource::preset(DevicePreset::keyboard)),
              "Turns on the hyper key for this keyboard.");
    EXPECT_EQ(help(ProfileSource::copy(master)), "Starts with the same settings as Desk mouse.");
    EXPECT_EQ(help(ProfileSource::copy(DeviceMatch::builtIn())),
              "Starts with the same settings as Built-in keyboard.");
    EXPECT_EQ(help(ProfileSource::blank()),
              "Adds the mouse with no rules, so you can add them on the Buttons tab.");
}

}  // namespace
}  // namespace tindlewave
