#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "Model/ConfigCodec.h"
#include "Ink.h"
#include "PageWorld.h"
#include "Settings/Model/Buttons/GestureKnob.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/Buttons/RuleRowValues.h"
#include "Settings/Views/AddRule.h"
#include "Settings/Views/ButtonsTab.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/KnobRow.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/RecorderField.h"
#include "Settings/Views/RuleRow.h"
#include "Settings/Views/Rules.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/ShortcutField.h"
#include "Settings/Views/WindowPicture.h"
#include "ShellWorld.h"

namespace tindlewave {
namespace {

using testkit::linesBeforeMarker;
using testkit::settingsLines;
using testkit::ShellWorld;

const DeviceMatch desk = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const Rule mission{Control::hidpp(CID{0xC3}), Trigger::click(), Action::system(SystemAction::missionControl)};
const Rule wheel{Control::thumbWheel(), Trigger::scroll(), Action::reverse()};

const char* deskConfig = R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[
  {"match":{"vendor":"0x046D","product":"0xB023"},"name":"Desk mouse","rules":[
    {"control":{"hidpp":"0xC3"},"do":"missionControl","when":"click"},
    {"control":"thumbWheel","do":"reverse","when":"scroll"}]}],"ignored":[]})";

EngineStatus status(std::vector<DeviceStatus> devices, std::vector<DeviceStatus> fresh = {}) {
    return EngineStatus{.run = RunState::active,
                        .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
                        .tap = TapState::on,
                        .devices = std::move(devices),
                        .newDevices = std::move(fresh)};
}

DeviceStatus connectedDesk(std::optional<ListenStatus> listen = std::nullopt) {
    return DeviceStatus{.name = "Desk mouse",
                        .match = desk,
                        .kind = DeviceKind::mouse,
                        .connectedAt = std::chrono::system_clock::now(),
                        .listen = listen};
}

struct Page {
    ShellWorld& world;
    SettingsPage page{nullptr, [] {}};
    ButtonsTab* tab;

    explicit Page(ShellWorld& w)
        : world(w), tab(new ButtonsTab(w.model->settings(), SystemClock::shared(), page)) {
        page.content()->addWidget(tab);
        page.show();
    }
    SettingsModel& settings() { return world.model->settings(); }
    Rules& rules() { return *tab->rules(); }
    void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        tab->refresh();
    }
    RuleRow& row(const Rule& rule) {
        auto* found = rules().row(RuleKey::of(rule));
        EXPECT_NE(found, nullptr);
        return *found;
    }
};

int indexOf(QComboBox* box, const QString& text) { return box->findText(text); }

// The desk mouse set up, with the controls discovery found on it.
DeviceStatus setUpDesk() {
    DeviceStatus device = connectedDesk();
    HIDPPCapabilities found{.controls = {{CID{0x52}, true, false}, {CID{0xC3}, true, true},
                                         {CID{0xC4}, true, true}, {CID{0x56}, true, false}},
                            .thumbWheel = true};
    device.hidpp = HIDPPStatus{.progress = HIDPPStatus::Progress::setUp(), .capabilities = found, .skippedRules = {}};
    return device;
}

TEST(ButtonsTab, ANewMouseOffersSetUpAndNoAddRule) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({}, {connectedDesk()}));
    Page page(world);
    page.settle();
    EXPECT_TRUE(page.rules().setUpButton() && page.rules().setUpButton()->isVisibleTo(&page.page));
    EXPECT_TRUE(page.rules().setUpText()->isVisibleTo(&page.page));
    EXPECT_EQ(page.rules().setUpText()->text(), "Set this mouse up to give it rules.");
    EXPECT_FALSE(page.rules().addRule()->isVisibleTo(&page.page));
    EXPECT_EQ(page.rules().count()->text(), "0 rules");
    EXPECT_FALSE(page.tab->statusLine()->reapplyButton()->isVisibleTo(&page.page));
}

TEST(ButtonsTab, ABlockedMouseOffersOnlyThePickMenu) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    Page page(world);
    page.settle();
    auto* add = page.rules().addRule();
    EXPECT_EQ(add->button()->popupMode(), QToolButton::InstantPopup);
    EXPECT_EQ(add->button()->toolTip(), toolTipText("Pick a button to add a rule for"));
    EXPECT_EQ(add->status()->text(), "Connect Desk mouse to add a rule by pressing its button.");
    EXPECT_EQ(page.rules().count()->text(), "2 rules");
    EXPECT_FALSE(page.row(mission).buttonField()->isEnabled());
}

TEST(ButtonsTab, PickingAFullControlExplainsAndHighlights) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({connectedDesk()}));
    Page page(world);
    page.settle();
    auto* add = page.rules().addRule();
    EXPECT_EQ(add->button()->popupMode(), QToolButton::MenuButtonPopup);
    QAction* thumb = nullptr;
    for (auto* action : add->menu()->actions())
        if (action->text() == "Thumb wheel") thumb = action;
    ASSERT_NE(thumb, nullptr);
    thumb->trigger();
    page.settle();
    EXPECT_EQ(add->status()->text(), "Thumb wheel already has a rule for every way to turn it. Change it here.");
    EXPECT_TRUE(page.row(wheel).input().highlighted);
    EXPECT_FALSE(page.row(mission).input().highlighted);
}

TEST(ButtonsTab, OneShortcutFieldAtATimeAndRemovingAListeningRowStopsListening) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[
      {"match":{"vendor":"0x046D","product":"0xB023"},"name":"Desk mouse","rules":[
        {"control":{"hidpp":"0xC3"},"do":"missionControl","when":"click"},
        {"control":{"hidpp":"0xC4"},"do":{"shortcut":"shift+cmd+4"},"when":"click"}]}],"ignored":[]})");
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({connectedDesk()}));
    Page page(world);
    page.settle();
    const Rule shortcut{Control::hidpp(CID{0xC4}), Trigger::click(),
                        Action::shortcut(Chord{KeyCode{21}, Modifiers::shift | Modifiers::command})};
    RuleRow& first = page.row(mission);
    RuleRow& second = page.row(shortcut);
    EXPECT_NE(indexOf(second.doPicker(), "Shortcut ⇧⌘4"), -1);
    EXPECT_EQ(indexOf(second.doPicker(), "Record Another Shortcut…"),
              indexOf(second.doPicker(), "Shortcut ⇧⌘4") + 1);

    emit first.doPicker()->activated(indexOf(first.doPicker(), "Keyboard Shortcut…"));
    page.settle();
    ASSERT_NE(first.shortcutField(), nullptr);
    emit second.doPicker()->activated(indexOf(second.doPicker(), "Record Another Shortcut…"));
    page.settle();
    EXPECT_EQ(first.shortcutField(), nullptr);
    EXPECT_NE(second.shortcutField(), nullptr);
    EXPECT_NE(world.configText().find("missionControl"), std::string::npos);  // nothing sent

    // The first row listens for its button; removing it stops listening first.
    page.settings().listen(*page.settings().selectedMouse(), ListenPurpose::replaceRule(RuleKey::of(mission)));
    world.model->settings().show(status({connectedDesk(ListenStatus::listening(Date{} + std::chrono::hours(1)))}));
    page.settle();
    ASSERT_TRUE(first.buttonField()->state().isRecording());
    EXPECT_FALSE(first.whenPicker()->isVisibleTo(&page.page));
    const int stops = world.engine->stops;
    first.removeButton()->click();
    EXPECT_GT(world.engine->stops, stops);
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.configText().find("missionControl") == std::string::npos; },
                                10000));
}

TEST(ButtonsTab, NothingIsEditableWhileTheFileIsBroken) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({connectedDesk()}));
    testkit::TempFolder::write((world.configFolder / "config.json").string(), "{ broken");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return world.model->settings().snapshot() && world.model->settings().snapshot()->error; }, 10000));
    Page page(world);
    page.settle();
    EXPECT_FALSE(page.rules().isEnabled());
    EXPECT_TRUE(page.tab->mousePopup()->isEnabled());
    auto* reapply = page.tab->statusLine()->reapplyButton();
    EXPECT_TRUE(reapply->isVisibleTo(&page.page));
    EXPECT_TRUE(reapply->isEnabled());
    const int before = world.engine->reapplies;
    reapply->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.engine->reapplies > before; }, 5000));
}

TEST(ButtonsTab, TheDistanceKnobSendsOneEditAndNothingWhileTheFileIsBroken) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({connectedDesk()}));
    Page page(world);
    page.settle();
    KnobRow* knob = page.tab->distanceKnob();
    ASSERT_TRUE(knob->isVisibleTo(&page.page));
    EXPECT_EQ(knob->valueText()->text(), "120 counts");  // no gesture settings yet

    // A key step commits at once: the next value of the scale, 150 counts, and no other edit.
    const int before = settingsLines(world);
    knob->slider()->setFocus();
    QTest::keyClick(knob->slider(), Qt::Key_Right);
    EXPECT_EQ(linesBeforeMarker(world), before + 1);
    const auto saved = ConfigCodec::decode(world.configText());
    ASSERT_TRUE(saved) << world.configText();
    EXPECT_EQ(saved.value().devices[0].gestures, (GestureSettings{GestureFire::pastDistance, 150}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            page.settle();
            return knob->value() == 150;
        },
        10000));
    EXPECT_EQ(knob->valueText()->text(), "150 counts");

    // The file breaks before the window hears of it: the step sent then is refused, and once the
    // window knows, the knob shows what is stored again.
    const std::string good = world.configText();
    const std::string broken = "{ broken";
    testkit::TempFolder::write((world.configFolder / "config.json").string(), broken);
    knob->slider()->setValue(KnobRow::sliderSteps);  // as a key step would
    EXPECT_EQ(knob->valueText()->text(), "2,000 counts");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !world.model->settings().editable(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.model->settings().saveError().has_value(); }, 10000));
    page.settle();
    EXPECT_FALSE(knob->isEnabledTo(&page.page));
    EXPECT_EQ(knob->valueText()->text(), "150 counts");
    const int whileBroken = settingsLines(world);
    knob->slider()->setValue(0);  // even a move that reaches the slider sends nothing
    EXPECT_EQ(linesBeforeMarker(world), whileBroken);
    EXPECT_EQ(world.configText(), broken);

    // Mended as it was: the knob shows the stored value, not a position that was never saved.
    testkit::TempFolder::write((world.configFolder / "config.json").string(), good);
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.model->settings().editable(); }, 10000));
    page.settle();
    EXPECT_TRUE(knob->isEnabledTo(&page.page));
    EXPECT_EQ(knob->valueText()->text(), "150 counts");
    EXPECT_EQ(knob->slider()->value(), qRound(GestureKnob::scale().position(150) * KnobRow::sliderSteps));
}

// Every picker of a row sends the rule its own pick makes (not the first item's, not another
// row's), the remove button removes its own rule, and each segment sends its own fire.
TEST(ButtonsTab, EachControlOfARowAndEachSegmentSendsItsOwnEdit) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({setUpDesk()}));
    Page page(world);
    page.settle();
    RuleRow& row = page.row(mission);
    const RuleChoices& choices = row.input().choices;
    const RuleRowValues values{mission, choices, std::nullopt};

    const auto triggers = choices.triggers(mission.control, &mission);
    ASSERT_GE(triggers.size(), 2u);
    const int when = int(triggers.size()) - 1;
    ASSERT_NE(triggers[std::size_t(when)], mission.trigger);
    emit row.whenPicker()->activated(when);

    const auto actions = values.actionChoices();
    int pick = -1;  // the last offered action that is not the rule's own
    for (std::size_t i = 0; i < actions.size(); ++i)
        if (actions[i].action && *actions[i].action != mission.action) pick = int(i);
    ASSERT_GT(pick, 0);
    emit row.doPicker()->activated(pick);

    const auto menu = row.controlMenu()->actions();
    QAction* last = nullptr;
    for (QAction* item : menu)
        if (item->isCheckable()) last = item;
    ASSERT_NE(last, nullptr);
    Control lastControl = mission.control;
    for (const auto& control : choices.controls())
        if (actionText(Labels::control(control)) == last->text()) lastControl = control;
    ASSERT_NE(lastControl, mission.control);
    last->trigger();

    page.tab->firePicker()->button(int(GestureFire::onRelease))->click();
    page.row(wheel).removeButton()->click();

    const RuleKey key = RuleKey::of(mission);
    EXPECT_EQ(testkit::editsLogged(world),
              (std::vector<std::string>{
                  testkit::saved(SettingsEdit::replaceRule(desk, key, values.withTrigger(triggers[std::size_t(when)]))),
                  testkit::saved(SettingsEdit::replaceRule(desk, key, values.withAction(*actions[std::size_t(pick)].action))),
                  testkit::saved(SettingsEdit::replaceRule(desk, key, choices.rule(mission, lastControl))),
                  testkit::saved(SettingsEdit::gestureFire(desk, GestureFire::onRelease)),
                  testkit::saved(SettingsEdit::removeRule(desk, RuleKey::of(wheel))),
              }));
}

TEST(ButtonsTab, AddRuleListensToTheMouseShownAndItsMenuAddsARuleForThePickedButton) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({setUpDesk()}));
    Page page(world);
    page.settle();
    AddRule* add = page.rules().addRule();
    add->button()->click();
    EXPECT_EQ(world.engine->listens, std::vector{desk});

    const RuleChoices& choices = page.row(mission).input().choices;
    const auto controls = choices.controls();
    std::optional<Control> free;  // the last one that takes another rule, not the first item
    for (std::size_t i = 1; i < controls.size(); ++i)
        if (is<LearnedRule::Rule>(choices.learned(Heard::control(controls[i])))) free = controls[i];
    ASSERT_TRUE(free);
    const Control picked = *free;
    QAction* item = nullptr;
    for (QAction* action : add->menu()->actions())
        if (action->text() == actionText(Labels::control(picked))) item = action;
    ASSERT_NE(item, nullptr);
    const int stops = world.engine->stops;
    item->trigger();
    EXPECT_GT(world.engine->stops, stops);
    const auto learned = choices.learned(Heard::control(picked));
    ASSERT_TRUE(is<LearnedRule::Rule>(learned));
    EXPECT_EQ(testkit::editsLogged(world),
              (std::vector<std::string>{
                  testkit::saved(SettingsEdit::addRule(desk, as<LearnedRule::Rule>(learned)->rule))}));
}

// A position the first mouse's knob is waiting to see saved is not shown for the next mouse.
TEST(ButtonsTab, AnotherMouseShowsItsOwnDistance) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[
      {"match":{"vendor":"0x046D","product":"0xB023"},"name":"Desk mouse","rules":[]},
      {"match":{"vendor":"0x046D","product":"0xB034"},"name":"Travel mouse","rules":[]}],"ignored":[]})");
    ASSERT_TRUE(world.start());
    Page page(world);
    page.settle();
    KnobRow* knob = page.tab->distanceKnob();
    ASSERT_TRUE(knob->isVisibleTo(&page.page));
    QTest::keyClick(knob->slider(), Qt::Key_Right);  // sent; its snapshot has not come back yet
    EXPECT_EQ(knob->valueText()->text(), "150 counts");
    page.settings().setMouse(DeviceMatch::device(VendorID{0x046D}, ProductID{0xB034}));
    page.tab->refresh();
    EXPECT_EQ(knob->valueText()->text(), "120 counts");
    EXPECT_EQ(knob->slider()->value(),
              qRound(GestureKnob::scale().position(120) * KnobRow::sliderSteps));
}

// Dimmed texts and the chosen segment follow the window's palette when it turns dark after the
// page was built (as the screenshot mode's dark pass does).
TEST(ButtonsTab, ReadsInADarkWindow) {
    ShellWorld world;
    world.make(deskConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(status({connectedDesk()}));
    Page page(world);
    page.settle();
    const QPalette dark = darkPalette();
    page.page.setPalette(dark);
    page.settle();
    const QColor dimmed = dark.color(QPalette::PlaceholderText);
    for (QLabel* label : {page.rules().count(), page.tab->distanceKnob()->valueText()})
        EXPECT_EQ(label->palette().color(label->foregroundRole()), dimmed)
            << label->text().toStdString();

    auto* chosen = page.tab->firePicker()->button(int(GestureFire::pastDistance));
    auto* other = page.tab->firePicker()->button(int(GestureFire::onRelease));
    ASSERT_TRUE(chosen->isChecked());
    const auto fill = [](QWidget* segment) {
        const QImage image = segment->grab().toImage();
        return image.pixelColor(int(4 * image.devicePixelRatio()), image.height() / 2);
    };
    EXPECT_EQ(fill(chosen), dark.color(QPalette::Highlight));
    EXPECT_NE(fill(other), dark.color(QPalette::Highlight));

    // Each rule row's chevron is drawn in the dark window's colours.
    const QColor window = dark.color(QPalette::Window);
    QToolButton* chevron = page.row(mission).chevron();
    EXPECT_GE(testkit::contrast(testkit::ink(chevron->grab().toImage(), window), window), 4.5);
}

}  // namespace
}  // namespace tindlewave
