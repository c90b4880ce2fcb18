// A rule added in the settings window, through to the mouse: the real config store, the program's
// engine assembly over the simulated world (its threads of its own), the settings window, and the
// recorded MX Master 3 plugged in.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "App/EngineAdapter.h"
#include "Model/ConfigCodec.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Views/AddRule.h"
#include "Settings/Views/ButtonsTab.h"
#include "Settings/Views/RuleRow.h"
#include "Settings/Views/Rules.h"
#include "Settings/Views/SettingsTabs.h"
#include "ShellWorld.h"

namespace tindlewave {
namespace {

using testkit::ShellWorld;

constexpr std::uint16_t rightArrow = 0x7C;

const char* mouseSetUp = R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[
  {"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3"}],"ignored":[]})";

// Runs `job` on `executor` and waits for it.
template <class F>
auto on(Executor& executor, F job) {
    std::packaged_task<decltype(job())()> task(std::move(job));
    auto result = task.get_future();
    executor.post([&task] { task(); });
    return result.get();
}

struct EndToEnd {
    ShellWorld shell;
    EngineAssembly assembly{{
        .simulated = EngineAssembly::Options::Simulated{(shell.folder.path() / "hidutil.json").string(),
                                                        SimulatedWorld::hidutilBesideProgram().executable},
        .defaults = shell.defaults,
        .log = shell.log,
        .events = nullptr,
    }};
    SimulatedWorld& world = *assembly.world().simulatedWorld();
    Engine& engine = assembly.engine();
    SimulatedWorld::Device mouse;

    EndToEnd() {
        assembly.start(shell.main);
        shell.make(mouseSetUp, std::make_unique<EngineAdapter>(assembly));
        auto recording = SimulatedWorld::defaultMouse();
        EXPECT_TRUE(recording.ok());
        if (recording.ok()) mouse = world.attachMouse(*recording).value();
    }

    // The quit as the program does it: the engine's shutdown, its run cancelled, the assembly's
    // threads drained and stopped, the app model gone before the engine.
    ~EndToEnd() {
        std::atomic<bool> settled = false;
        shell.model->engine().shutdown([&settled] { settled = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return settled.load(); }, 20000));
        shell.model->cancelEngineRun();
        assembly.stop();
        EXPECT_EQ(world.leftOver(mouse), std::vector<std::string>{})
            << "what the quit left diverted";
        shell.model.reset();
    }

    // What of the mouse's set-up is not native, read on the HID executor.
    std::vector<std::string> leftOver() {
        return on(assembly.hid(), [&] { return world.leftOver(mouse); });
    }
    // Whether the engine's configuration in force holds `rule` and every device has its set-up.
    bool follows(const Rule& rule) {
        return on(assembly.hid(), [&] {
            const auto& config = engine.config();
            if (!config || config->devices.empty() || engine.anySlotBusy()) return false;
            const auto& rules = config->devices[0].rules;
            return rules && std::find(rules->begin(), rules->end(), rule) != rules->end();
        });
    }
    void click(std::uint16_t cid) {
        for (bool down : {true, false})
            world.hid.act(mouse.attached.interfaces.at(0),
                          [cid, down](VirtualHidppMouse& m, Instant now) {
                              down ? m.press(cid, now) : m.release(cid, now);
                          });
    }
    bool posted(std::uint16_t key, std::uint64_t flags) {
        for (const auto& post : world.events.posted())
            if (post.event.type == EventType::keyDown &&
                post.event.integer(IntegerField::keyCode) == key &&
                (post.event.flags & flags) == flags)
                return true;
        return false;
    }
    std::vector<Rule> rules() {
        auto decoded = ConfigCodec::decode(shell.configText());
        if (!decoded || decoded.value().devices.empty()) return {};
        return decoded.value().devices[0].rules.value_or(std::vector<Rule>{});
    }
};

ButtonsTab* buttonsTab(QWidget* page) {
    for (auto* child : page->findChildren<QWidget*>())
        if (auto* tab = dynamic_cast<ButtonsTab*>(child)) return tab;
    return nullptr;
}

TEST(ButtonsEndToEnd, ARulePickedInTheWindowIsSavedAppliedAndActsOnAPress) {
    EndToEnd run;
    ASSERT_TRUE(run.shell.start());
    // The mouse is set up and nothing of it is diverted: it has no rules.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& status = run.shell.model->settings().status();
            return status && !status->devices.empty() && status->devices[0].hidpp &&
                   is<HIDPPStatus::Progress::SetUp>(status->devices[0].hidpp->progress);
        },
        20000));
    EXPECT_EQ(run.leftOver(), std::vector<std::string>{});

    run.shell.model->settingsWindow();
    SettingsWindow& window = run.shell.window->window();
    window.show();
    window.tabs().select(SettingsTab::buttons);
    ButtonsTab* tab = buttonsTab(window.tabs().page(SettingsTab::buttons));
    ASSERT_NE(tab, nullptr);
    Rules& rules = *tab->rules();

    // Add Rule's menu: pick the middle button.
    const QString middle = QString::fromStdString(Labels::control(Control::hidpp(CID{0xC3})));
    QAction* pick = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (auto* action : rules.addRule()->menu()->actions())
                if (action->text() == middle) pick = action;
            return pick != nullptr;
        },
        10000));
    pick->trigger();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return run.rules().size() == 1 && rules.rowCount() == 1; }, 10000))
        << run.shell.configText();
    const Rule added = run.rules()[0];
    EXPECT_EQ(added.control, Control::hidpp(CID{0xC3}));

    // Its Do picker: switch the desktop one Space to the right.
    RuleRow* row = rules.row(RuleKey::of(added));
    ASSERT_NE(row, nullptr);
    const int right = row->doPicker()->findText("Space to the right");
    ASSERT_GE(right, 0);
    emit row->doPicker()->activated(right);
    const Rule wanted{added.control, added.trigger, Action::system(SystemAction::spaceRight)};
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.rules() == std::vector<Rule>{wanted}; }, 10000))
        << run.shell.configText();

    // The engine follows the file: the button is diverted, and a click of it moves a Space. The
    // first rule diverted it already, so the engine's own configuration and its finished apply
    // tell when the new rule is in force.
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.follows(wanted); }, 20000));
    EXPECT_EQ(run.leftOver(), std::vector<std::string>{"0xC3"});
    EXPECT_FALSE(run.posted(rightArrow, QuartzFlag::control));
    run.click(0xC3);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return run.posted(rightArrow, QuartzFlag::control); }, 20000));
}

}  // namespace
}  // namespace tindlewave
