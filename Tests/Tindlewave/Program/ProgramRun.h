#pragma once
// The program as a user starts it: offscreen, with its own home and XDG folders.

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "TestKit/SanitizerOptions.h"
#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave::testkit {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Checks `condition` until it holds; false after the safety limit.
template <class Condition>
bool eventually(Condition condition, std::chrono::seconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

struct Program {
    TempFolder home;
    pid_t pid = -1;
    bool simulate = true;  // over simulated devices, unless a test wants this machine's
    fs::path homeOf;       // another run's home and XDG folders instead of its own
    std::string program = TW_BINARY_ROOT "/tindlewave";

    fs::path folder() const { return homeOf.empty() ? home.path() : homeOf; }
    fs::path configFolder() const { return folder() / ".config" / "tindlewave"; }
    fs::path logFolder() const { return folder() / ".local" / "state" / "tindlewave" / "log"; }

    std::string log() const {
        std::string all;
        if (fs::exists(logFolder()))
            for (const auto& entry : fs::directory_iterator(logFolder()))
                all += TempFolder::read(entry.path().string());
        return all;
    }

    // `standardError`: a descriptor for the program's standard error (by default this one's).
    void start(std::vector<std::string> arguments = {}, std::string platform = "offscreen",
               std::vector<std::string> extraVariables = {}, int standardError = -1) {
        std::vector<std::string> variables{
            "HOME=" + folder().string(),
            "XDG_CONFIG_HOME=" + (folder() / ".config").string(),
            "XDG_STATE_HOME=" + (folder() / ".local" / "state").string(),
            "XDG_RUNTIME_DIR=" + folder().string(),
            "QT_QPA_PLATFORM=" + platform,
            "PATH=/usr/bin:/bin",
        };
        for (auto& variable : sanitizerOptions()) variables.push_back(std::move(variable));
        variables.insert(variables.end(), extraVariables.begin(), extraVariables.end());
        std::vector<char*> env;
        for (auto& variable : variables) env.push_back(variable.data());
        env.push_back(nullptr);
        // Over the simulated devices: what it does with them is what these tests check.
        std::string simulated = "--simulate";
        std::vector<char*> argv{program.data()};
        if (simulate) argv.push_back(simulated.data());
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (standardError >= 0) posix_spawn_file_actions_adddup2(&actions, standardError, STDERR_FILENO);
        // SIGPIPE with its default action, as a shell starts a program, whatever the test runner's.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(spawned, 0);
    }

    int terminate(int signal = SIGTERM) {
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }

    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace tindlewave::testkit
