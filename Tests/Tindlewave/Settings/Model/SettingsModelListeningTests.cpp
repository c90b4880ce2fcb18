#include <gtest/gtest.h>

#include "Settings/Model/Buttons/RuleChoices.h"
#include "Tindlewave/Settings/Model/SettingsModelFixture.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

// A mouse without HID++: its buttons take rules through the event tap.
DeviceMatch plainMouse() {
    return DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});
}

Config configWith(std::vector<Rule> rules) {
    Config config = Config::empty();
    config.devices.push_back(DeviceProfile{
        .match = plainMouse(), .name = "Desk mouse", .kind = DeviceKind::mouse, .rules = rules});
    return config;
}

Heard pressed(std::int64_t button) {
    return Heard::control(Control::button(button));
}

// Every rule a press of `button` can add, one after the other, until the button is full.
std::vector<Rule> fill(std::int64_t button) {
    std::vector<Rule> rules;
    while (true) {
        auto next = RuleChoices{rules, std::nullopt, false}.learned(pressed(button));
        auto rule = as<LearnedRule::Rule>(next);
        if (!rule) return rules;
        rules.push_back(rule->rule);
    }
}

struct ListeningTest : SettingsModelTest {
    void showClean(Config config) { model->show(ConfigSnapshot{std::move(config), std::nullopt}); }
};

}  // namespace

TEST_F(ListeningTest, APressAddsARuleAndANoteThatClearsAfterTwoSecondsUnlessReplaced) {
    make();
    showClean(configWith({}));
    store.file = configWith({});
    auto expected = RuleChoices{{}, std::nullopt, false}.learned(pressed(4));
    ASSERT_TRUE(is<LearnedRule::Rule>(expected));
    auto rule = as<LearnedRule::Rule>(expected)->rule;

    model->learned(pressed(4), plainMouse(), ListenPurpose::addRule());
    ASSERT_EQ(store.updates.size(), 1u);
    store.finishUpdate();
    EXPECT_EQ(store.file.devices[0].rules, std::vector{rule});
    auto note = LearnNote::added(plainMouse(), RuleKey::of(rule));
    EXPECT_EQ(model->learnNote(), note);
    EXPECT_TRUE(note.highlights(rule));

    scheduler.advance(std::chrono::milliseconds(1999));
    EXPECT_EQ(model->learnNote(), note);
    scheduler.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(model->learnNote(), std::nullopt);

    // A different note set within the two seconds is not cleared by the first one's timer.
    model->learned(pressed(4), plainMouse(), ListenPurpose::addRule());
    scheduler.advance(std::chrono::seconds(1));
    model->learned(Heard::unnamed(), plainMouse(), ListenPurpose::addRule());
    EXPECT_EQ(model->learnNote(), LearnNote::unnamed(plainMouse()));
    scheduler.advance(std::chrono::seconds(5));
    EXPECT_EQ(model->learnNote(), LearnNote::unnamed(plainMouse()));  // no timer of its own
    EXPECT_FALSE(LearnNote::unnamed(plainMouse()).highlights(rule));
}

TEST_F(ListeningTest, AFullControlIsNotedOnEveryRuleItHasAndNothingIsSent) {
    auto rules = fill(4);
    ASSERT_FALSE(rules.empty());
    make();
    showClean(configWith(rules));
    model->learned(pressed(4), plainMouse(), ListenPurpose::addRule());
    EXPECT_TRUE(store.updates.empty());
    auto note = model->learnNote();
    ASSERT_TRUE(note && is<LearnNote::Full>(*note));
    for (const auto& rule : rules) EXPECT_TRUE(note->highlights(rule));
    scheduler.advance(std::chrono::seconds(3));
    EXPECT_EQ(model->learnNote(), note);
}

TEST_F(ListeningTest, ReplacingMovesTheRuleToThePressedControlAndAVanishedRuleDoesNothing) {
    auto rules = fill(4);
    make();
    showClean(configWith({rules[0]}));
    store.file = configWith({rules[0]});
    auto key = RuleKey::of(rules[0]);

    model->learned(pressed(4), plainMouse(), ListenPurpose::replaceRule(key));  // its own control
    EXPECT_TRUE(store.updates.empty());
    EXPECT_EQ(model->learnNote(), std::nullopt);

    model->learned(pressed(3), plainMouse(),
                   ListenPurpose::replaceRule(RuleKey{Control::button(2), key.trigger}));
    EXPECT_TRUE(store.updates.empty());

    model->learned(pressed(3), plainMouse(), ListenPurpose::replaceRule(key));
    ASSERT_EQ(store.updates.size(), 1u);
    store.finishUpdate();
    ASSERT_EQ(store.file.devices[0].rules->size(), 1u);
    auto moved = store.file.devices[0].rules->front();
    EXPECT_EQ(moved.control, Control::button(3));
    EXPECT_EQ(model->learnNote(), LearnNote::added(plainMouse(), RuleKey::of(moved)));
}

TEST_F(ListeningTest, NothingIsLearnedWhileNotEditableOrForADeviceWithoutAProfile) {
    make();
    model->learned(pressed(4), plainMouse(), ListenPurpose::addRule());  // no snapshot yet
    model->show(ConfigSnapshot{configWith({}), ConfigError{"", "broken"}});
    model->learned(pressed(4), plainMouse(), ListenPurpose::addRule());

    auto stranger = DeviceMatch::device(VendorID{0x0BDA}, ProductID{0x0002});
    showClean(configWith({}));
    EngineStatus status{.run = RunState::active,
                        .permissions = {},
                        .tap = TapState::on,
                        .devices = {},
                        .newDevices = {DeviceStatus{
                            .name = "New mouse", .match = stranger, .kind = DeviceKind::mouse}}};
    model->show(status);
    model->learned(pressed(4), stranger, ListenPurpose::addRule());
    EXPECT_TRUE(store.updates.empty());
    EXPECT_EQ(model->learnNote(), std::nullopt);
}

TEST_F(ListeningTest, ListenKeepsThePurposeClearsTheNoteAndAsksTheEngine) {
    make();
    showClean(configWith({}));
    model->learned(Heard::unnamed(), plainMouse(), ListenPurpose::addRule());
    ASSERT_TRUE(model->learnNote());
    auto purpose = ListenPurpose::replaceRule(RuleKey{Control::button(4), Trigger::click()});
    model->listen(model->devices().at(0), purpose);
    EXPECT_EQ(model->learnNote(), std::nullopt);
    EXPECT_EQ(model->listenPurpose(), purpose);
    EXPECT_EQ(engine.listenedTo, std::vector{plainMouse()});

    model->learned(Heard::unnamed(), plainMouse(), ListenPurpose::addRule());
    ASSERT_EQ(model->learnNote(), LearnNote::unnamed(plainMouse()));
    model->stopListening();
    EXPECT_EQ(model->learnNote(), std::nullopt);
    EXPECT_EQ(model->listenPurpose(), purpose);  // never reset
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"listen", "stopListening"}));
}

TEST_F(ListeningTest, StatusesFillTheCapabilityAndNameCachesWhichOutliveTheDevices) {
    make();
    auto stranger = DeviceMatch::device(VendorID{0x0BDA}, ProductID{0x0002});
    Config config = configWith({});
    config.ignored = {stranger, DeviceMatch::builtIn(),
                      DeviceMatch::device(VendorID{0x46D}, ProductID{0x0B0})};
    showClean(config);
    HIDPPCapabilities caps{.controls = {{CID{0x52}, true, false}}, .thumbWheel = true};
    EngineStatus status{
        .run = RunState::active,
        .permissions = {},
        .tap = TapState::on,
        .devices = {DeviceStatus{.name = "Desk mouse",
                                 .match = plainMouse(),
                                 .hidpp = HIDPPStatus{.progress = HIDPPStatus::Progress::setUp(),
                                                      .capabilities = caps,
                                                      .skippedRules = {}}}},
        .newDevices = {DeviceStatus{.name = "Receiver", .match = stranger}}};
    model->show(status);
    EXPECT_EQ(model->choices(model->devices().at(0)).capabilities, caps);

    // The name cache keeps the newest name a device was shown with.
    status.newDevices[0].name = "Receiver 2";
    model->show(status);

    EngineStatus gone{.run = RunState::active,
                      .permissions = {},
                      .tap = TapState::on,
                      .devices = {},
                      .newDevices = {}};
    model->show(gone);
    auto row = model->devices().at(0);
    EXPECT_FALSE(row.status);
    EXPECT_EQ(model->choices(row).capabilities, caps);
    EXPECT_EQ(model->ignoredDevices(), (std::vector<IgnoredDevice>{
                                           {stranger, "Receiver 2"},
                                           {DeviceMatch::builtIn(), "Built-in keyboard"},
                                           {DeviceMatch::device(VendorID{0x46D}, ProductID{0x0B0}),
                                            "Vendor 0x046D, product 0x00B0"},
                                       }));
}

TEST_F(ListeningTest, TheSelectedMouseIsTheChosenOneElseTheFirst) {
    make();
    EXPECT_EQ(model->selectedMouse(), std::nullopt);
    Config config = configWith({});
    auto second = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0002});
    config.devices.push_back(DeviceProfile{.match = DeviceMatch::builtIn(), .name = "Keys"});
    config.devices.push_back(
        DeviceProfile{.match = second, .name = "Travel mouse", .kind = DeviceKind::mouse});
    showClean(config);
    EXPECT_EQ(model->mice().size(), 2u);
    EXPECT_EQ(model->selectedMouse()->match, plainMouse());
    model->setMouse(second);
    EXPECT_EQ(model->selectedMouse()->match, second);
    model->setMouse(DeviceMatch::builtIn());  // not a mouse
    EXPECT_EQ(model->selectedMouse()->match, plainMouse());
}
