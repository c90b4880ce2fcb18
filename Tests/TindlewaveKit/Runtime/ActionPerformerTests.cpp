#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Platform/Simulated/Desktop/SimulatedSymbolicHotKeys.h"
#include "Runtime/ActionPerformer.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

struct ActionPerformerTest : ::testing::Test {
    TempFolder folder;
    ManualScheduler scheduler;
    ManualExecutor tap{scheduler, "tap"};
    ManualExecutor main{scheduler, "main"};
    LogStore store{folder.path(), false, scheduler.clock()};
    SimulatedPermissionGrants grants;
    SimulatedEventSystem events{tap, grants};
    SimulatedSymbolicHotKeys hotKeys;
    ActionPerformer performer{events, hotKeys, main, Logger("app.tindlewave", "actions", store)};

    void perform(const Action& action) {
        main.post([this, action] { performer.perform(action); });
        scheduler.runReady();
    }

    // (level, message) of every "actions" entry.
    std::vector<std::pair<LogLevel, std::string>> lines() {
        std::vector<std::pair<LogLevel, std::string>> found;
        auto entries = store.entries("app.tindlewave");
        EXPECT_TRUE(entries.ok());
        for (const auto& entry : *entries) {
            EXPECT_EQ(entry.category, "actions");
            found.emplace_back(entry.level, entry.message);
        }
        return found;
    }

    static void expectKey(const SimulatedEventSystem::Posted& posted, EventType type,
                          std::int64_t code, std::uint64_t flags, EventLevel level) {
        EXPECT_EQ(posted.event.type, type);
        EXPECT_EQ(posted.event.integer(IntegerField::keyCode), code);
        EXPECT_EQ(posted.event.flags, flags);
        EXPECT_TRUE(posted.event.carriesMarker());
        EXPECT_EQ(posted.level, level);
    }
};

TEST_F(ActionPerformerTest, AShortcutGoesDownAndUpAtTheHidLevel) {
    perform(Action::shortcut(Chord{KeyCode{0x15}, Modifiers::shift | Modifiers::command}));
    auto posted = events.posted();
    ASSERT_EQ(posted.size(), 2u);
    expectKey(posted[0], EventType::keyDown, 0x15, 0x120000, EventLevel::hid);
    expectKey(posted[1], EventType::keyUp, 0x15, 0x120000, EventLevel::hid);
    EXPECT_EQ(events.delivered().size(), 2u);  // through the taps to the applications
}

TEST_F(ActionPerformerTest, AModifierTapChangesItsFlagsAndClearsThem) {
    perform(Action::modifier(HeldModifier::rightOption));
    auto posted = events.posted();
    ASSERT_EQ(posted.size(), 2u);
    expectKey(posted[0], EventType::flagsChanged, 0x3D, 0x80040, EventLevel::hid);
    expectKey(posted[1], EventType::flagsChanged, 0x3D, 0, EventLevel::hid);
}

TEST_F(ActionPerformerTest, ASystemActionPostsTheUsersShortcutAtTheSessionLevel) {
    hotKeys.set(33, {{0x65, 0x800000}, true});
    perform(Action::system(SystemAction::appExpose));
    auto posted = events.posted();
    ASSERT_EQ(posted.size(), 2u);
    expectKey(posted[0], EventType::keyDown, 0x65, 0x800000, EventLevel::session);
    expectKey(posted[1], EventType::keyUp, 0x65, 0x800000, EventLevel::session);
    EXPECT_TRUE(lines().empty());
}

TEST_F(ActionPerformerTest, ASwitchedOffOrKeylessOrUnreadableHotKeyPostsNothingAndSaysSo) {
    hotKeys.setEnabled(32, false);
    perform(Action::system(SystemAction::missionControl));
    hotKeys.set(79, {{0xFFFF, 0}, true});
    perform(Action::system(SystemAction::spaceLeft));
    hotKeys.forget(81);
    perform(Action::system(SystemAction::spaceRight));
    EXPECT_TRUE(events.posted().empty());
    using L = std::pair<LogLevel, std::string>;
    EXPECT_EQ(lines(),
              (std::vector<L>{
                  {LogLevel::defaultLevel,
                   "missionControl has no enabled shortcut in System Settings"},
                  {LogLevel::defaultLevel, "spaceLeft has no enabled shortcut in System Settings"},
                  {LogLevel::defaultLevel,
                   "spaceRight has no enabled shortcut in System Settings"}}));
}

// Over Linux devices the log names the action as the desktop does and points at its settings.
TEST_F(ActionPerformerTest, OverLinuxDevicesAMissingShortcutIsNamedTheLinuxWay) {
    setWorldTexts(WorldTexts::linuxDevices);
    hotKeys.forget(33);
    perform(Action::system(SystemAction::appExpose));
    setWorldTexts(WorldTexts::simulated);
    EXPECT_TRUE(events.posted().empty());
    using L = std::pair<LogLevel, std::string>;
    EXPECT_EQ(lines(), (std::vector<L>{{LogLevel::defaultLevel,
                                        "Windows of the App has no enabled shortcut on this desktop"}}));
}

TEST_F(ActionPerformerTest, UnavailableHotKeysAndNonButtonActionsOnlyLog) {
    hotKeys.setAvailable(false);
    perform(Action::system(SystemAction::missionControl));
    perform(Action::scroll());
    perform(Action::reverse());
    EXPECT_TRUE(events.posted().empty());
    using L = std::pair<LogLevel, std::string>;
    EXPECT_EQ(lines(), (std::vector<L>{
                           {LogLevel::error, "symbolic hotkeys are unavailable on this system"},
                           {LogLevel::fault, "scroll is not a button action"},
                           {LogLevel::fault, "reverse is not a button action"}}));
}

}  // namespace
