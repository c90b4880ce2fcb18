// The program as a user starts it: offscreen, with its own home and XDG folders.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "ProgramRun.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using testkit::eventually;
using testkit::Program;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The device check opens no window: with a display platform that cannot start (xcb without a
// display) it still runs and ends, having touched no settings.
TEST(Program, CheckDevicesRunsWithoutAWindowAndEnds) {
    Program program;
    program.start({"--check-devices"}, "xcb");
    int status = 0;
    ASSERT_TRUE(eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; }));
    program.pid = -1;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_LE(WEXITSTATUS(status), 1);  // 1 here: no HID++ mouse answered
    EXPECT_FALSE(fs::exists(program.configFolder()));
}

TEST(Program, StartsMakesTheConfigFileAndQuitsCleanlyOnSigterm) {
    Program program;
    program.start();
    ASSERT_TRUE(eventually([&] { return fs::exists(program.configFolder() / "config.json"); }));
    // Offscreen there is no tray: the settings window carries the menu.
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "no system tray"); }))
        << program.log();
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "\"message\":\"state="); }))
        << program.log();
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(contains(program.log(), "\"message\":\"quit\"")) << program.log();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(program.configFolder()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"config.json"}));
}

// Without a system bus the program cannot follow the computer's sleep: it says so once, and runs.
TEST(Program, SaysOnceThatNoSystemBusIsReachable) {
    Program program;
    program.start({}, "offscreen", {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (program.home.path() / "no-bus").string()});
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "\"message\":\"state="); })) << program.log();
    const auto log = program.log();
    std::size_t said = 0;
    for (auto at = log.find("no wake notifications from the system"); at != std::string::npos;
         at = log.find("no wake notifications from the system", at + 1))
        ++said;
    EXPECT_EQ(said, 1u) << log;
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A mouse set up by the configuration is diverted while the program runs; the quit puts it back,
// whether the quit comes from SIGTERM, a terminal's Ctrl-C (SIGINT) or a closed terminal (SIGHUP).
class ProgramQuitSignal : public testing::TestWithParam<int> {};

TEST_P(ProgramQuitSignal, SetsUpTheConfiguredMouseAndPutsItBackOnTheSignal) {
    Program program;
    fs::create_directories(program.configFolder());
    testkit::TempFolder::write(
        (program.configFolder() / "config.json").string(),
        R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},)"
        R"("devices":[{"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3",)"
        R"("rules":[{"control":{"hidpp":"0xC3"},"when":"click","do":"missionControl"}]}],)"
        R"("ignored":[]})");
    program.start();
    ASSERT_TRUE(eventually([&] {
        return contains(program.log(), "state=Active notices=[] devices=[MX Master 3=Connected]");
    })) << program.log();
    const int status = program.terminate(GetParam());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto log = program.log();
    const std::string name = ::sigabbrev_np(GetParam());
    EXPECT_TRUE(contains(log, "quitting (received SIG" + name + ")")) << log;
    EXPECT_TRUE(contains(log, "MX Master 3 Wireless Mouse reasons=quit attempt=1 applied")) << log;
    EXPECT_TRUE(contains(log, "was left native")) << log;
    EXPECT_FALSE(contains(log, "was left diverted")) << log;
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramQuitSignal, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string("SIG") + ::sigabbrev_np(param.param);
                         });

}  // namespace
}  // namespace tindlewave
