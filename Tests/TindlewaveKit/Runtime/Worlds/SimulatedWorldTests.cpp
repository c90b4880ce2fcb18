#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Platform/LoginItem.h"
#include "Runtime/Worlds/ProgramWorld.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "TestKit/Environment.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;
namespace fs = std::filesystem;

namespace {

const std::string recording = TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json";

struct World {
    TempFolder folder;
    ManualScheduler scheduler;
    ManualExecutor hidExecutor{scheduler, "hid"};
    ManualExecutor tapExecutor{scheduler, "tap"};
    SimulatedWorld world{hidExecutor, tapExecutor, (folder.path() / "run" / "hidutil.json").string(),
                         KeyMapHost{}};
};

}  // namespace

TEST(SimulatedWorld, TheRuntimeFolderIsTheUsersOwnOutsideAnAbsoluteRuntimeDirectory) {
    const std::string own = (fs::temp_directory_path() / ("tindlewave-" + std::to_string(::getuid()))).string();
    {
        TempFolder loggedIn;
        Environment runtime("XDG_RUNTIME_DIR", loggedIn.path().c_str());
        EXPECT_EQ(SimulatedWorld::runtimeFolder(), (loggedIn.path() / "tindlewave").string());
    }
    // A runtime directory that is gone (its user logged out) is made by no one but the login.
    TempFolder runtimes;
    const std::string loggedOut = (runtimes.path() / "4242").string();
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/run", loggedOut.c_str()}) {
        Environment runtime("XDG_RUNTIME_DIR", unusable);
        EXPECT_EQ(SimulatedWorld::runtimeFolder(), own) << (unusable ? unusable : "unset");
    }
}

// Without a runtime directory the state is in the temporary folder every user can write to:
// another user may have made the folder the runtime one would be first, or put a link there, so
// that the state file's rewrite lands in a file of the victim. Each run takes a fresh private
// folder of its own instead, never the one found there, and removes it with the state at the end.
TEST(SimulatedWorld, WithoutARuntimeDirectoryEachRunHasAFreshPrivateFolderRemovedAtTheEnd) {
    TempFolder temporary;
    Environment runtime("XDG_RUNTIME_DIR", nullptr);
    Environment shared("TMPDIR", temporary.path().c_str());
    Environment saved(SimulatedHidutilState::environmentVariable, nullptr);
    const fs::path planted = temporary.path() / ("tindlewave-" + std::to_string(::getuid()));
    ASSERT_EQ(fs::path(SimulatedWorld::runtimeFolder()), planted);
    const fs::path victim = temporary.path() / "victim";
    TempFolder::write(victim, "precious");
    auto listed = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(temporary.path()))
            names.insert(entry.path().filename().string());
        return names;
    };

    auto writeState = [&](const std::string& state) {
        ManualScheduler scheduler;
        ManualExecutor hid{scheduler, "hid"};
        ManualExecutor tap{scheduler, "tap"};
        SimulatedWorld world(hid, tap, state, KeyMapHost{});  // resets the state file
    };
    auto expectAFreshPrivateFolder = [&](const char* planting) {
        const auto before = listed();
        fs::path folder;
        {
            auto state = SimulatedWorld::defaultHidutilState();
            ASSERT_TRUE(state.ok()) << planting;
            folder = fs::path(state->path()).parent_path();
            EXPECT_EQ(folder.parent_path(), temporary.path()) << planting;
            EXPECT_EQ(folder.filename().string().rfind(planted.filename().string() + "-", 0), 0u)
                << planting;
            struct stat info {};
            ASSERT_EQ(::lstat(folder.c_str(), &info), 0) << planting;
            EXPECT_TRUE(S_ISDIR(info.st_mode)) << planting;
            EXPECT_EQ(info.st_mode & 0777, 0700u) << planting;
            EXPECT_EQ(info.st_uid, ::getuid()) << planting;
            writeState(state->path());
            EXPECT_TRUE(fs::exists(state->path())) << planting;
            EXPECT_EQ(TempFolder::read(victim), "precious") << planting;
        }
        EXPECT_FALSE(fs::exists(folder)) << planting;
        EXPECT_EQ(listed(), before) << planting;
    };

    expectAFreshPrivateFolder("nothing there");
    fs::create_directory(planted);
    ::chmod(planted.c_str(), 0777);
    fs::create_symlink(victim, planted / "hidutil.json");
    expectAFreshPrivateFolder("a folder open to all");
    ::chmod(planted.c_str(), 0700);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
        expectAFreshPrivateFolder("another user's folder");
    }
    fs::remove_all(planted);
    const fs::path elsewhere = temporary.path() / "elsewhere";
    fs::create_directory(elsewhere);
    ::chmod(elsewhere.c_str(), 0700);
    fs::create_symlink(victim, elsewhere / "hidutil.json");
    fs::create_directory_symlink(elsewhere, planted);
    expectAFreshPrivateFolder("a link to a folder");
    fs::remove(planted);
    fs::create_directory(planted);
    ::chmod(planted.c_str(), 0700);
    expectAFreshPrivateFolder("the user's own private folder");

    // Two runs at once never share the state.
    auto first = SimulatedWorld::defaultHidutilState();
    auto second = SimulatedWorld::defaultHidutilState();
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_NE(first->path(), second->path());

    // Another user's temporary folder (a sudo that keeps TMPDIR) is not used: they could put a
    // link where the folder is made.
    if (::getuid() == 0) {
        const fs::path theirs = temporary.path() / "theirs";
        fs::create_directory(theirs);
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        Environment others("TMPDIR", theirs.c_str());
        auto state = SimulatedWorld::defaultHidutilState();
        ASSERT_TRUE(state.ok());
        EXPECT_EQ(fs::path(state->path()).parent_path().parent_path(), "/tmp");
        EXPECT_TRUE(fs::is_empty(theirs));
    }

    // A temporary folder that is not there is named in the error.
    Environment missing("TMPDIR", (temporary.path() / "missing").c_str());
    auto failed = SimulatedWorld::defaultHidutilState();
    ASSERT_FALSE(failed.ok());
    EXPECT_NE(failed.error().description.find((temporary.path() / "missing").string()), std::string::npos)
        << failed.error().description;
}

// A killed run cannot remove its folder: the next start removes those of this user's runs that
// are gone, and nothing else (a running one's, another user's, a link, a file). So does a start
// with a runtime directory, which makes no such folder itself: the killed run may have had none.
TEST(SimulatedWorld, EveryStartRemovesTheFoldersOfKilledRuns) {
    for (const bool withRuntimeDirectory : {false, true}) {
        SCOPED_TRACE(withRuntimeDirectory ? "with a runtime directory" : "without a runtime directory");
        TempFolder temporary;
        TempFolder runtimeDirectory;
        Environment runtime("XDG_RUNTIME_DIR", withRuntimeDirectory ? runtimeDirectory.path().c_str() : nullptr);
        Environment shared("TMPDIR", temporary.path().c_str());
        Environment saved(SimulatedHidutilState::environmentVariable, nullptr);
        const std::string own = "tindlewave-" + std::to_string(::getuid()) + "-";
        // A run still going is another process (this test's own folder would be kept anyway).
        const std::string gone = "999999999", running = std::to_string(::getppid());
        const std::string self = std::to_string(::getpid());
        const fs::path killed = temporary.path() / (own + gone + "-aB3dEf");
        const fs::path alsoKilled = temporary.path() / (own + "999999998-Zz9yX8");
        const fs::path stillRunning = temporary.path() / (own + running + "-qwerty");
        const fs::path elsewhere = temporary.path() / "elsewhere";
        const fs::path link = temporary.path() / (own + "999999997-linked");
        const fs::path file = temporary.path() / (own + "999999996-a-file");
        const fs::path notARun = temporary.path() / (own + "999999995");
        for (const auto& folder : {killed, alsoKilled, stillRunning, elsewhere, notARun}) {
            fs::create_directory(folder);
            ::chmod(folder.c_str(), 0700);
            TempFolder::write(folder / "hidutil.json", "{}");
        }
        fs::create_directory_symlink(elsewhere, link);
        TempFolder::write(file, "kept");
        std::optional<fs::path> anotherUsers;
        if (::getuid() == 0) {
            anotherUsers = temporary.path() / (own + "999999994-nobody");
            fs::create_directory(*anotherUsers);
            ASSERT_EQ(::chown(anotherUsers->c_str(), 65534, 65534), 0);
        }

        auto state = SimulatedWorld::defaultHidutilState();
        ASSERT_TRUE(state.ok());
        EXPECT_FALSE(fs::exists(killed));
        EXPECT_FALSE(fs::exists(alsoKilled));
        EXPECT_TRUE(fs::exists(stillRunning / "hidutil.json"));
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(fs::exists(elsewhere / "hidutil.json"));
        EXPECT_EQ(TempFolder::read(file), "kept");
        EXPECT_TRUE(fs::exists(notARun / "hidutil.json"));
        if (anotherUsers) {
            EXPECT_TRUE(fs::is_directory(*anotherUsers));
        }
        const fs::path folder = fs::path(state->path()).parent_path();
        if (withRuntimeDirectory) {
            EXPECT_EQ(folder, runtimeDirectory.path() / "tindlewave");
        } else {
            // This run's own folder is named for it, so the next start knows whose it is.
            EXPECT_EQ(folder.filename().string().rfind(own + self + "-", 0), 0u);
        }
    }
}

// With a runtime directory the state is in its folder for the program, which is kept; a folder
// there that is not the user's alone is not used, and a link in the user's own is not followed.
TEST(SimulatedWorld, WithARuntimeDirectoryTheStateIsInItsPrivateFolderAndStays) {
    TempFolder runtimeDirectory;
    Environment runtime("XDG_RUNTIME_DIR", runtimeDirectory.path().c_str());
    Environment saved(SimulatedHidutilState::environmentVariable, nullptr);
    const fs::path own = runtimeDirectory.path() / "tindlewave";
    const fs::path victim = runtimeDirectory.path() / "victim";
    TempFolder::write(victim, "precious");
    fs::create_directory(own);
    ::chmod(own.c_str(), 0700);
    fs::create_symlink(victim, own / "hidutil.json");
    {
        auto state = SimulatedWorld::defaultHidutilState();
        ASSERT_TRUE(state.ok());
        EXPECT_EQ(fs::path(state->path()), own / "hidutil.json");
        ManualScheduler scheduler;
        ManualExecutor hid{scheduler, "hid"};
        ManualExecutor tap{scheduler, "tap"};
        SimulatedWorld world(hid, tap, state->path(), KeyMapHost{});
    }
    EXPECT_EQ(TempFolder::read(victim), "precious");
    EXPECT_TRUE(fs::exists(own / "hidutil.json"));

    // The runtime directory of a user who logged out is gone, and is not made again.
    {
        const fs::path loggedOut = runtimeDirectory.path() / "4242";
        Environment gone("XDG_RUNTIME_DIR", loggedOut.c_str());
        auto state = SimulatedWorld::defaultHidutilState();
        ASSERT_TRUE(state.ok());
        EXPECT_FALSE(fs::exists(loggedOut));
    }
    // Open to its group or to others, in any way: not used.
    for (const mode_t open : {0750, 0710, 0705, 0701, 0770}) {
        ::chmod(own.c_str(), open);
        auto state = SimulatedWorld::defaultHidutilState();
        ASSERT_TRUE(state.ok());
        EXPECT_NE(fs::path(state->path()).parent_path(), own) << std::oct << open;
    }
}

TEST(SimulatedWorld, MakingItPreparesTheStateFileTheStandInHidutilFinds) {
    Environment saved(SimulatedHidutilState::environmentVariable, nullptr);
    World made;
    EXPECT_TRUE(fs::exists(made.folder.path() / "run" / "hidutil.json"));
    EXPECT_EQ(std::getenv(SimulatedHidutilState::environmentVariable), made.world.hidutilState.path());
}

// A simulated run touches nothing of the user's session: "Open at login" switches in the window
// and no autostart entry is written (one would start the real program at the next login).
TEST(SimulatedWorld, ItsLoginItemSwitchesWithoutWritingTheAutostartEntry) {
    TempFolder folder;
    Environment home("HOME", folder.path().c_str());
    Environment config("XDG_CONFIG_HOME", (folder.path() / ".config").c_str());
    ManualScheduler scheduler;
    ManualExecutor hid{scheduler, "hid"};
    ManualExecutor tap{scheduler, "tap"};
    auto world = ProgramWorld::simulated(hid, tap, (folder.path() / "run" / "hidutil.json").string(), KeyMapHost{});
    LoginItemService& loginItem = world.loginItem();
    EXPECT_EQ(loginItem.status(), LoginItemState::off);
    EXPECT_EQ(loginItem.enable(), std::nullopt);
    EXPECT_EQ(loginItem.status(), LoginItemState::on);
    EXPECT_FALSE(fs::exists(folder.path() / ".config" / "autostart")) << "an autostart entry was written";
    EXPECT_EQ(loginItem.disable(), std::nullopt);
    EXPECT_EQ(loginItem.status(), LoginItemState::off);
}

TEST(SimulatedWorld, DevicesAreListedUntilDetachedAndAFreshMouseIsNative) {
    World made;
    SimulatedWorld& world = made.world;
    auto mouse = world.attachMouse(recording);
    ASSERT_TRUE(mouse.ok()) << mouse.error();
    const auto builtIn = world.attachBuiltInKeyboard();
    const auto external = world.attachExternalKeyboard(0x1234, 0x5678);
    made.scheduler.runReady();

    EXPECT_TRUE(mouse->isHidppMouse);
    EXPECT_EQ(mouse->vendor, 0x046D);
    EXPECT_FALSE(mouse->controls.empty());
    EXPECT_TRUE(builtIn.isKeyboard && builtIn.builtIn);
    EXPECT_TRUE(external.isKeyboard && !external.builtIn);
    EXPECT_EQ(external.product, 0x5678);
    EXPECT_TRUE(world.leftOver(*mouse).empty());
    EXPECT_TRUE(world.isNative(*mouse) && world.isNative(builtIn));
    EXPECT_EQ(world.keyMappingsLeft(builtIn), 0u);

    world.detach(builtIn);
    world.detach(builtIn);  // a second time changes nothing
    made.scheduler.runReady();
    ASSERT_EQ(world.devices().size(), 2u);
    EXPECT_EQ(world.devices()[0].name, mouse->name);
    EXPECT_EQ(world.devices()[1].product, 0x5678);
    EXPECT_EQ(world.hid.interface(builtIn.attached.interfaces.at(0)), nullptr);
    EXPECT_NE(world.hid.mouse(mouse->attached.interfaces.at(0)), nullptr);
}

TEST(SimulatedWorld, WhatAMouseIsLeftWithIsListedControlByControl) {
    World made;
    auto mouse = made.world.attachMouse(recording);
    ASSERT_TRUE(mouse.ok()) << mouse.error();
    made.scheduler.runReady();
    VirtualHidppMouse* device = made.world.hid.mouse(mouse->attached.interfaces.at(0));
    ASSERT_NE(device, nullptr);
    Instant now = made.scheduler.now();
    // One request, answered: the answer's parameters.
    auto ask = [&](std::uint8_t feature, std::uint8_t function, std::initializer_list<std::uint8_t> params) {
        std::vector<std::uint8_t> request{0x11, 0xFF, feature, static_cast<std::uint8_t>(function << 4 | 0xB)};
        request.insert(request.end(), params);
        request.resize(20);
        device->write(request, now);
        now += std::chrono::seconds(1);
        auto answers = device->takeReports(now);
        return answers.empty() ? std::vector<std::uint8_t>{} : answers.back();
    };
    const auto controls = ask(0, 0, {0x1B, 0x04}).at(4);
    const auto wheel = ask(0, 0, {0x21, 0x50}).at(4);
    ASSERT_NE(controls, 0);
    ASSERT_NE(wheel, 0);
    ask(controls, 3, {0x00, 0xC3, 0x03});  // 0xC3 diverted
    ask(controls, 3, {0x00, 0xD7, 0x33});  // 0xD7 diverted with raw movement
    ask(wheel, 2, {0x01, 0x00});           // the thumb wheel diverted

    const std::vector<std::string> expected{"0xC3", "0xD7 with raw movement", "thumb wheel"};
    EXPECT_EQ(made.world.leftOver(*mouse), expected);
    EXPECT_FALSE(made.world.isNative(*mouse));
    ask(controls, 3, {0x00, 0xC3, 0x02});
    ask(controls, 3, {0x00, 0xD7, 0x22});
    ask(wheel, 2, {0x00, 0x00});
    EXPECT_TRUE(made.world.isNative(*mouse));
}

TEST(SimulatedWorld, ABrokenRecordingIsRefusedWithItsPath) {
    World made;
    const auto broken = (made.folder.path() / "broken.json").string();
    TempFolder::write(broken, "{ not json");
    auto mouse = made.world.attachMouse(broken);
    ASSERT_FALSE(mouse.ok());
    EXPECT_NE(mouse.error().find("broken.json"), std::string::npos) << mouse.error();
    EXPECT_TRUE(made.world.devices().empty());
}
