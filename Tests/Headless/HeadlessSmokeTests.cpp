// The headless program as a user runs it: its own home and XDG folders, a settings file with a
// HID++ click rule, commands on standard input.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program with pipes on its standard input and output (standard error joined to it).
struct Headless {
    testkit::TempFolder home;
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string seen;
    bool simulate = true;  // over simulated devices, unless a test wants this machine's

    void start(const std::vector<std::string>& arguments) {
        int in[2], out[2];
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        std::vector<std::string> variables{
            "HOME=" + home.path().string(),
            "XDG_CONFIG_HOME=" + (home.path() / ".config").string(),
            "XDG_STATE_HOME=" + (home.path() / ".local" / "state").string(),
            "XDG_RUNTIME_DIR=" + (home.path() / "run").string(),
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home.path() / "no-bus").string(),
            "PATH=/usr/bin:/bin",
        };
        std::vector<char*> env;
        for (auto& variable : variables) env.push_back(variable.data());
        env.push_back(nullptr);
        std::string program = TW_HEADLESS_PROGRAM;
        std::vector<std::string> args{program};
        if (simulate) args.push_back("--simulate");
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input = in[1];
        output = out[0];
    }

    void send(const std::string& line) {
        std::string whole = line + "\n";
        ASSERT_EQ(::write(input, whole.data(), whole.size()), static_cast<ssize_t>(whole.size()));
    }

    // Reads the output until it holds `text` (true) or the program ends or the limit passes.
    bool waitFor(const std::string& text, std::chrono::seconds limit = 30s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (seen.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd ready{output, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            auto got = ::read(output, chunk, sizeof chunk);
            if (got <= 0) return seen.find(text) != std::string::npos;
            seen.append(chunk, static_cast<std::size_t>(got));
        }
        return true;
    }

    int exitStatus() {
        waitFor("\x01", 30s);  // everything up to the end of its output
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }

    ~Headless() {
        if (input >= 0) ::close(input);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (output >= 0) ::close(output);
    }
};

TEST(Headless, AClickRuleOnTheRecordedMousePostsItsShortcutAndTheQuitPutsTheMouseBack) {
    Headless headless;
    const fs::path config = headless.home.path() / ".config" / "tindlewave" / "config.json";
    fs::create_directories(config.parent_path());
    testkit::TempFolder::write(config.string(), R"({
  "devices" : [
    {
      "match" : { "product" : "0xB023", "vendor" : "0x046D" },
      "name" : "MX Master 3",
      "rules" : [
        { "control" : { "hidpp" : "0xC4" }, "do" : { "shortcut" : "shift+cmd+4" }, "when" : "click" }
      ]
    }
  ],
  "hyper" : { "enabled" : true, "key" : "capsLock", "onTap" : "nothing" },
  "ignored" : [ ],
  "version" : 1
}
)");
    headless.start({});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("applied\n")) << headless.seen;
    headless.send("mouse 1");
    ASSERT_TRUE(headless.waitFor("0xC4 diverted")) << headless.seen;
    headless.send("press 0xC4");
    headless.send("release 0xC4");
    // The shortcut: the key 4 (code 21) with Shift and Command, posted at the HID level.
    ASSERT_TRUE(headless.waitFor("posted (hid): key 21 up")) << headless.seen;
    EXPECT_NE(headless.seen.find("posted (hid): key 21 down"), std::string::npos);
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.seen.find("at exit, device 1 (MX Master 3 Wireless Mouse): native"),
              std::string::npos)
        << headless.seen;
    EXPECT_NE(headless.seen.find("at exit, event system: 0 taps"),
              std::string::npos)
        << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

TEST(Headless, SIGINTQuitsLikeTheQuitCommand) {
    Headless headless;
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("applied\n")) << headless.seen;
    ::kill(headless.pid, SIGINT);
    ASSERT_TRUE(headless.waitFor("at exit, device 1")) << headless.seen;
    EXPECT_NE(headless.seen.find("quitting (received SIGINT)"), std::string::npos) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// Over this machine's devices (none here, or none it may use) the program runs, says why, refuses
// what only simulated devices can do, and quits cleanly; the simulated-only options are refused.
TEST(Headless, OverTheRealDevicesItRunsAndSaysWhatIsMissing) {
    Headless headless;
    headless.simulate = false;
    headless.start({});
    ASSERT_TRUE(headless.waitFor("devices: this computer's mice and keyboards")) << headless.seen;
    headless.send("press 0xC3");
    ASSERT_TRUE(headless.waitFor("this command acts on simulated devices: start with --simulate"))
        << headless.seen;
    headless.send("status");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system: 0 nodes grabbed")) << headless.seen;
    EXPECT_NE(headless.seen.find("\nstatus: "), std::string::npos) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;

    Headless refused;
    refused.simulate = false;
    refused.start({"--no-keyboard"});
    refused.waitFor("never printed", std::chrono::seconds(5));
    EXPECT_NE(refused.seen.find("--no-keyboard needs --simulate"), std::string::npos) << refused.seen;
    const int refusedStatus = refused.exitStatus();
    EXPECT_TRUE(WIFEXITED(refusedStatus) && WEXITSTATUS(refusedStatus) == 2) << refused.seen;
}

}  // namespace
}  // namespace tindlewave
