#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

#include "Model/ConfigCodec.h"
#include "Settings/Model/Scrolling/ScrollingRules.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/HoldToScrollSettings.h"
#include "Settings/Views/KnobRow.h"
#include "Settings/Views/ScrollingSettings.h"
#include "Settings/Views/ScrollingTab.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/SpeedGraph.h"
#include "Settings/Views/StutterWarning.h"
#include "PageWorld.h"

namespace tindlewave {
namespace {

using namespace testkit;

const DeviceMatch plainMouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});

std::string configWith(std::optional<ScrollSettings> scrolling, std::vector<Rule> rules = {}) {
    Config config = Config::empty();
    DeviceProfile profile{.match = plainMouse, .name = "Desk mouse"};
    profile.kind = DeviceKind::mouse;
    profile.scrolling = std::move(scrolling);
    if (!rules.empty()) profile.rules = std::move(rules);
    config.devices.push_back(profile);
    return ConfigCodec::encode(config).value();
}

std::optional<Config> stored(ShellWorld& world) {
    auto decoded = ConfigCodec::decode(world.configText());
    if (!decoded) return std::nullopt;
    return decoded.value();
}

struct Page {
    ShellWorld world;
    std::unique_ptr<SettingsPage> page;
    ScrollingTab* tab = nullptr;

    explicit Page(const std::optional<std::string>& config) {
        world.make(config);
        EXPECT_TRUE(world.start());
        page = std::make_unique<SettingsPage>(nullptr, nullptr);
        tab = new ScrollingTab(world.model->settings(), *page);
        page->content()->addWidget(tab);
        page->show();
    }
    ScrollingSettings& settings() { return *tab->settings(); }
    // Waits for the next refresh to reflect the stored configuration.
    bool settle(const std::function<bool()>& done) {
        return QTest::qWaitFor([&] { return done(); }, 10000);
    }
};

TEST(ScrollingPage, WithoutAMouseOnlyTheNoMouseRowShows) {
    Page page(std::nullopt);
    EXPECT_TRUE(page.tab->noMouse()->isVisible());
    EXPECT_FALSE(page.tab->settings()->isVisible());
}

TEST(ScrollingPage, ResetIsDisabledExactlyAtTheDefaults) {
    Page page(configWith(ScrollSettings{.smooth = SmoothScroll::defaults()}));
    ScrollingSettings& settings = page.settings();
    EXPECT_TRUE(settings.smoothSwitch()->isChecked());
    EXPECT_FALSE(settings.resetButton()->isEnabled());
    EXPECT_TRUE(settings.graph()->isEditable());
    EXPECT_TRUE(settings.knob(SmoothKnob::brake)->isEnabled());
    EXPECT_EQ(settings.stutterWarning()->stutter(), std::nullopt);

    // A shorter glide: the reset comes on, and the stutter warning offers its fix.
    QSlider* slider = settings.knob(SmoothKnob::duration)->slider();
    slider->setFocus();
    slider->setValue(0);  // as a key step would
    ASSERT_TRUE(page.settle([&] { return settings.resetButton()->isEnabled(); }));
    const auto after = stored(page.world);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->devices[0].scrolling->smooth->duration, 1);
    ASSERT_TRUE(settings.stutterWarning()->stutter());
    EXPECT_EQ(settings.stutterWarning()->stutter()->smoothDuration, 2);  // with the 60 ms ease-in
    EXPECT_EQ(settings.stutterWarning()->fixButton()->text(), "Set Glide to 0.2 s");

    // Pressed on a page that scrolls, the reset leaves the page where it is when it goes off.
    page.page->resize(page.page->width(), 300);
    page.page->ensureWidgetVisible(settings.resetButton());
    const int scrolled = page.page->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    QTest::mouseClick(settings.resetButton(), Qt::LeftButton);
    ASSERT_TRUE(page.settle([&] { return !settings.resetButton()->isEnabled(); }));
    EXPECT_EQ(stored(page.world)->devices[0].scrolling->smooth, SmoothScroll::defaults());
    EXPECT_EQ(page.page->verticalScrollBar()->value(), scrolled);
}

// A position one mouse's knob is waiting to see saved is not shown for the next mouse.
TEST(ScrollingPage, AnotherMouseShowsItsOwnKnobValues) {
    Config config = Config::empty();
    for (auto [product, name] :
         {std::pair{0x0001, "Desk mouse"}, std::pair{0x0002, "Travel mouse"}}) {
        DeviceProfile profile{
            .match = DeviceMatch::device(VendorID{0x1234}, ProductID{std::uint16_t(product)}),
            .name = name};
        profile.kind = DeviceKind::mouse;
        profile.scrolling = ScrollSettings{.smooth = SmoothScroll::defaults()};
        config.devices.push_back(profile);
    }
    Page page(ConfigCodec::encode(config).value());
    KnobRow* glide = page.settings().knob(SmoothKnob::duration);
    ASSERT_TRUE(glide->isEnabled());
    QTest::keyClick(glide->slider(), Qt::Key_Right);  // sent; its snapshot has not come back yet
    EXPECT_NE(glide->valueText()->text(), "0.4 s");
    page.world.model->settings().setMouse(DeviceMatch::device(VendorID{0x1234}, ProductID{0x0002}));
    page.tab->refresh();
    EXPECT_EQ(glide->valueText()->text(), "0.4 s");
}

// Steps sent just as the file broke are refused: once the page knows, each knob shows what is
// stored, not the place it was left at.
TEST(ScrollingPage, KnobsLetGoOfStepsRefusedByABrokenFile) {
    Page page(configWith(ScrollSettings{.smooth = SmoothScroll::defaults()}));
    ScrollingSettings& settings = page.settings();
    KnobRow* glide = settings.knob(SmoothKnob::duration);
    KnobRow* speed = settings.holdToScroll()->speed();
    ASSERT_TRUE(glide->isEnabled());
    ASSERT_TRUE(speed->isEnabled());
    testkit::TempFolder::write((page.world.configFolder / "config.json").string(), "{ broken");
    glide->slider()->setValue(KnobRow::sliderSteps);  // as key steps would
    speed->slider()->setValue(KnobRow::sliderSteps);
    EXPECT_EQ(glide->valueText()->text(), "2.0 s");
    EXPECT_EQ(speed->valueText()->text(), "4.0\u00D7");
    SettingsModel& model = page.world.model->settings();
    ASSERT_TRUE(page.settle([&] { return !model.editable() && model.saveError() && !glide->isEnabled(); }));
    EXPECT_EQ(glide->valueText()->text(), "0.4 s");
    EXPECT_EQ(speed->valueText()->text(), "1.0\u00D7");
}

// A file that cannot be written (made immutable, say): each control whose save is refused shows
// what is stored again as soon as "Not saved" shows, at every refusal, also one whose error is
// shown already; once the file can be written, another knob's save and a reset leave it so.
TEST(ScrollingPage, ControlsShowTheStoredValuesOnceTheirSavesAreRefused) {
    Page page(configWith(ScrollSettings{.smooth = SmoothScroll::defaults()}));
    ScrollingSettings& settings = page.settings();
    SettingsModel& model = page.world.model->settings();
    const std::string file = page.world.configText();
    const auto refusals = [&](std::uint64_t count) { return model.refusals() == count; };
    page.world.refuseWrites = true;

    KnobRow* glide = settings.knob(SmoothKnob::duration);
    const SliderScale glideScale = ScrollingRules::knobScale(SmoothKnob::duration);
    glide->slider()->setValue(qRound(glideScale.position(14) * KnobRow::sliderSteps));  // a key step
    EXPECT_EQ(glide->valueText()->text(), "1.4 s");
    ASSERT_TRUE(page.settle([&] { return model.saveError().has_value(); }));
    EXPECT_EQ(glide->valueText()->text(), "0.4 s");
    EXPECT_EQ(glide->slider()->value(), qRound(glideScale.position(4) * KnobRow::sliderSteps));

    KnobRow* speed = settings.holdToScroll()->speed();
    speed->slider()->setValue(KnobRow::sliderSteps);
    EXPECT_EQ(speed->valueText()->text(), "4.0\u00D7");
    ASSERT_TRUE(page.settle([&] { return refusals(2); }));
    EXPECT_EQ(speed->valueText()->text(), "1.0\u00D7");

    SpeedGraph* graph = settings.graph();
    QWidget* canvas = graph->canvas();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.page.get()));
    const QPointF off{graph->graph().x(70) + CurveGraph::marginLeft, 40 + CurveGraph::marginTop};
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, off, canvas->mapToGlobal(off), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &doubleClick);
    EXPECT_NE(graph->editor().shown(), SmoothScroll::defaults().curve);
    ASSERT_TRUE(page.settle([&] { return refusals(3); }));
    EXPECT_EQ(graph->editor().shown(), SmoothScroll::defaults().curve);

    QCheckBox* smooth = settings.smoothSwitch();
    for (std::uint64_t refusal : {4, 5}) {
        smooth->click();
        EXPECT_FALSE(smooth->isChecked());
        ASSERT_TRUE(page.settle([&] { return refusals(refusal) && smooth->isChecked(); }));
    }
    EXPECT_EQ(page.world.configText(), file);

    page.world.refuseWrites = false;
    KnobRow* brake = settings.knob(SmoothKnob::brake);
    QTest::keyClick(brake->slider(), Qt::Key_Right);
    ASSERT_TRUE(page.settle([&] { return !model.saveError() && settings.resetButton()->isEnabled(); }));
    EXPECT_EQ(glide->valueText()->text(), "0.4 s");
    QTest::mouseClick(settings.resetButton(), Qt::LeftButton);
    ASSERT_TRUE(page.settle([&] { return !settings.resetButton()->isEnabled(); }));
    EXPECT_EQ(glide->valueText()->text(), "0.4 s");
    EXPECT_EQ(stored(page.world)->devices[0].scrolling->smooth, SmoothScroll::defaults());
}

// The stutter warning's popup opens below its mark, and where the screen ends first above it,
// never past an edge: its button stays within reach near every corner.
// On every screen (the tests' second one lies right of the first), the popup keeps within the
// free area of the screen its mark is on.
TEST(ScrollingPage, TheStutterPopupStaysOnTheScreenOfItsMark) {
    QWidget window;
    auto* warning = new StutterWarning([](double) {}, &window);
    warning->setStutter(SlowRollStutter{0.1, 3});
    window.resize(40, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_GE(QGuiApplication::screens().size(), 2);
    const QSize frame = window.frameGeometry().size();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        for (const QPoint corner : {area.topLeft() + QPoint(40, 40),
                                    area.bottomRight() - QPoint(frame.width(), frame.height()),
                                    QPoint(area.left(), area.bottom() - frame.height()),
                                    QPoint(area.right() - frame.width(), area.top())}) {
            window.move(corner);
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return window.frameGeometry().topLeft() == corner; }));
            const QRect mark(warning->mapToGlobal(QPoint(0, 0)), warning->size());
            warning->click();
            ASSERT_TRUE(warning->isOpen());
            QWidget* popup = warning->fixButton()->window();
            const QRect shown = popup->frameGeometry();
            EXPECT_TRUE(area.contains(shown))
                << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height()
                << " at " << corner.x() << "," << corner.y();
            EXPECT_TRUE(area.contains(QRect(warning->fixButton()->mapToGlobal(QPoint(0, 0)),
                                            warning->fixButton()->size())));
            // Never over the mark it belongs to.
            EXPECT_FALSE(shown.intersects(mark));
            // Below the mark where there is room, above it near the bottom.
            if (corner.y() < area.center().y())
                EXPECT_GT(shown.top(), mark.center().y());
            else
                EXPECT_LT(shown.bottom(), mark.center().y());
            popup->hide();
        }
    }
}

TEST(ScrollingPage, SmoothScrollingOffDisablesTheBlockButNotTheSwitch) {
    Page page(configWith(ScrollSettings{}));
    ScrollingSettings& settings = page.settings();
    EXPECT_FALSE(settings.smoothSwitch()->isChecked());
    EXPECT_TRUE(settings.smoothSwitch()->isEnabled());
    EXPECT_FALSE(settings.graph()->isEditable());
    EXPECT_FALSE(settings.knob(SmoothKnob::duration)->isEnabled());
    EXPECT_FALSE(settings.hiResRow()->isVisible());
    settings.smoothSwitch()->click();
    ASSERT_TRUE(page.settle([&] { return settings.graph()->isEditable(); }));
    EXPECT_EQ(stored(page.world)->devices[0].scrolling->smooth, SmoothScroll::defaults());
}

TEST(ScrollingPage, ANewMouseShowsTheDisabledSwitchAndTheSetUpButton) {
    Page page(std::nullopt);
    EngineStatus status{
        .run = RunState::active,
        .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
        .tap = TapState::on,
        .devices = {},
        .newDevices = {}};
    status.newDevices.push_back(DeviceStatus{.name = "Travel mouse",
                                             .match = plainMouse,
                                             .kind = DeviceKind::mouse,
                                             .connectedAt = std::chrono::system_clock::now()});
    page.world.model->settings().show(status);
    ScrollingSettings& settings = page.settings();
    ASSERT_TRUE(page.settle([&] { return settings.isVisible(); }));
    EXPECT_FALSE(settings.smoothSwitch()->isEnabled());
    EXPECT_FALSE(settings.smoothSwitch()->isChecked());
    ASSERT_TRUE(settings.setUp()->isVisible());
    const auto texts = settings.setUp()->findChildren<Explanation*>();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(texts[0]->text(), "Set this mouse up first.");
    HoldToScrollSettings& hold = *settings.holdToScroll();
    EXPECT_FALSE(hold.isEnabled());
    EXPECT_EQ(hold.speed()->valueText()->text(), "1.0\u00D7");
    EXPECT_EQ(hold.direction()->currentText(), "Like grabbing the page");
    EXPECT_TRUE(hold.momentum()->isChecked());
    EXPECT_EQ(hold.explanation()->text(),
              "No button scrolls yet. On the Buttons tab, pick Hold and move, then Scroll, for any "
              "button.");
}

TEST(ScrollingPage, ADirectionChangeWritesAWholeHoldToScroll) {
    Page page(configWith(std::nullopt,
                         {Rule{Control::button(2), Trigger::holdMove(), Action::scroll()},
                          Rule{Control::button(3), Trigger::holdMove(), Action::scroll()}}));
    HoldToScrollSettings& hold = *page.settings().holdToScroll();
    EXPECT_TRUE(hold.isEnabled());
    EXPECT_EQ(
        hold.explanation()->text(),
        "Buttons that scroll: Middle button and Back button. Change them on the Buttons tab.");
    QComboBox* direction = hold.direction();
    direction->setCurrentIndex(1);
    emit direction->activated(1);
    ASSERT_TRUE(page.settle([&] {
        auto config = stored(page.world);
        return config && config->devices[0].scrolling && config->devices[0].scrolling->holdToScroll;
    }));
    EXPECT_EQ(*stored(page.world)->devices[0].scrolling->holdToScroll,
              (HoldToScroll{1.0, HoldScrollDirection::wheel, true}));
}

// Each switch sends the state it was switched to, for the mouse shown, and nothing else.
TEST(ScrollingPage, KeepGlidingAndSmoothScrollingSendTheStateSwitchedTo) {
    ScrollSettings scrolling{.smooth = SmoothScroll::defaults(),
                             .holdToScroll = HoldToScroll{2.0, HoldScrollDirection::wheel, true}};
    Page page(configWith(scrolling, {Rule{Control::button(2), Trigger::holdMove(), Action::scroll()}}));
    HoldToScrollSettings& hold = *page.settings().holdToScroll();
    ASSERT_TRUE(hold.momentum()->isChecked());
    hold.momentum()->click();
    ASSERT_TRUE(page.settle([&] {
        auto config = stored(page.world);
        return config && !config->devices[0].scrolling->holdToScroll->momentum;
    }));
    EXPECT_EQ(*stored(page.world)->devices[0].scrolling->holdToScroll,
              (HoldToScroll{2.0, HoldScrollDirection::wheel, false}));
    ASSERT_TRUE(page.settle([&] { return !hold.momentum()->isChecked(); }));
    hold.momentum()->click();

    ASSERT_TRUE(page.settings().smoothSwitch()->isChecked());
    page.settings().smoothSwitch()->click();
    EXPECT_EQ(editsLogged(page.world),
              (std::vector<std::string>{
                  saved(SettingsEdit::holdToScroll(plainMouse, HoldToScroll{2.0, HoldScrollDirection::wheel, false})),
                  saved(SettingsEdit::holdToScroll(plainMouse, HoldToScroll{2.0, HoldScrollDirection::wheel, true})),
                  saved(SettingsEdit::smooth(plainMouse, std::nullopt))}));
}

}  // namespace
}  // namespace tindlewave
