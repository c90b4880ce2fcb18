#pragma once

// The headless program as a user runs it, in a process of its own: its own home and XDG folders,
// pipes on its standard input and output (standard error joined to it).

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave::testkit {

// The program: TW_HEADLESS_PROGRAM, which the test program's build defines.
struct Headless {
    TempFolder home;
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string seen;
    bool simulate = true;  // over simulated devices, unless a test wants this machine's
    // Variables passed on from this process as they are (the device emulation's, say).
    std::vector<std::string> inherited;

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
        for (const auto& name : inherited)
            if (const char* value = std::getenv(name.c_str())) variables.push_back(name + "=" + value);
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
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
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

    // Closes its standard input: the program quits at the end of what it was given.
    void endInput() {
        ::close(input);
        input = -1;
    }

    // Where `text` first shows in the output (npos: not at all).
    std::size_t at(const std::string& text) const { return seen.find(text); }

    int exitStatus() {
        waitFor("\x01", std::chrono::seconds(30));  // everything up to the end of its output
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

}  // namespace tindlewave::testkit
