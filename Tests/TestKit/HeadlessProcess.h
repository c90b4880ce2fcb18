#pragma once

// The headless program as a user runs it, in a process of its own: its own home and XDG folders,
// pipes on its standard input and output (standard error joined to it).
//
// A thread of the kit reads the program's output all the time, so the program never blocks on a
// full pipe whatever the test does meanwhile; every wait (for a text, for room in the input, for
// the program's end) has a limit.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TestKit/SanitizerOptions.h"
#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave::testkit {

// The program: TW_HEADLESS_PROGRAM, which the test program's build defines, unless a test names
// another.
struct Headless {
    std::string program = TW_HEADLESS_PROGRAM;
    TempFolder home;
    pid_t pid = -1;
    int input = -1;  // non-blocking
    // The output as far as the last waitFor, at or exitStatus took it in (test thread only).
    std::string seen;
    bool simulate = true;  // over simulated devices, unless a test wants this machine's
    // Variables passed on from this process as they are (the device emulation's, say), and
    // more of the test's own ("NAME=value").
    std::vector<std::string> inherited;
    std::vector<std::string> variables;
    // Another run's home and XDG folders instead of its own, to run beside it as the same user.
    std::filesystem::path homeOf;

    void start(const std::vector<std::string>& arguments) {
        int in[2], out[2];
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        const std::filesystem::path folder = homeOf.empty() ? home.path() : homeOf;
        // A runtime directory is there while its user is logged in.
        std::filesystem::create_directories(folder / "run");
        std::filesystem::permissions(folder / "run", std::filesystem::perms::owner_all);
        std::vector<std::string> environment{
            "HOME=" + folder.string(),
            "XDG_CONFIG_HOME=" + (folder / ".config").string(),
            "XDG_STATE_HOME=" + (folder / ".local" / "state").string(),
            "XDG_RUNTIME_DIR=" + (folder / "run").string(),
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (folder / "no-bus").string(),
            "PATH=/usr/bin:/bin",
        };
        for (auto& variable : sanitizerOptions()) environment.push_back(std::move(variable));
        for (const auto& name : inherited)
            if (const char* value = std::getenv(name.c_str())) environment.push_back(name + "=" + value);
        environment.insert(environment.end(), variables.begin(), variables.end());
        std::vector<char*> env;
        for (auto& variable : environment) env.push_back(variable.data());
        env.push_back(nullptr);
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
        ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) | O_NONBLOCK);
        output_ = out[0];
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        ASSERT_GE(stop_, 0);
        reader_ = std::thread([this] { readOutput(); });
    }

    // Writes `line` and a line break; fails the test if the program takes none of it for `limit`.
    void send(const std::string& line, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const std::string whole = line + "\n";
        EXPECT_EQ(write(whole, limit), whole.size()) << "the program stopped reading its input";
    }

    // Writes as much of `bytes` as the program takes, waiting at most `limit` for room each time
    // the pipe is full. The number of bytes written.
    std::size_t write(std::string_view bytes, std::chrono::milliseconds limit) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto got = ::write(input, bytes.data() + done, bytes.size() - done);
            if (got > 0) {
                done += static_cast<std::size_t>(got);
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && errno != EAGAIN) break;
            pollfd room{input, POLLOUT, 0};
            if (::poll(&room, 1, static_cast<int>(limit.count())) <= 0) break;
        }
        return done;
    }

    // Waits until the output holds `text` (true), or the program's output ends or the limit
    // passes (whether it holds it then).
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, limit, [&] {
            takeInLocked();
            return seen.find(text) != std::string::npos || ended_;
        });
        takeInLocked();
        return seen.find(text) != std::string::npos;
    }

    // Waits until the output holds `text` after the first `after` (true), or the program's output
    // ends or the limit passes (whether it holds it then).
    bool waitForAfter(const std::string& after, const std::string& text,
                      std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto holds = [&] {
            const auto from = seen.find(after);
            return from != std::string::npos && seen.find(text, from + after.size()) != std::string::npos;
        };
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, limit, [&] {
            takeInLocked();
            return holds() || ended_;
        });
        takeInLocked();
        return holds();
    }

    // Closes its standard input: the program quits at the end of what it was given.
    void endInput() {
        ::close(input);
        input = -1;
    }

    // Where `text` first shows in the output (npos: not at all).
    std::size_t at(const std::string& text) {
        std::lock_guard lock(mutex_);
        takeInLocked();
        return seen.find(text);
    }

    // The program's wait status once it has ended, and all of its output in `seen`. A program
    // that has not ended within the limit is killed and the test fails.
    int exitStatus(std::chrono::seconds limit = std::chrono::seconds(60)) {
        int status = -1;
        const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        pollfd ended{process, POLLIN, 0};
        if (process < 0 || ::poll(&ended, 1, static_cast<int>(limit.count() * 1000)) <= 0) {
            ADD_FAILURE() << "the program did not end within " << limit.count() << " s; killed";
            ::kill(pid, SIGKILL);
        }
        if (process >= 0) ::close(process);
        if (::waitpid(pid, &status, 0) == pid) pid = -1;
        waitFor("\x01", std::chrono::seconds(10));  // the rest of its output
        return status;
    }

    ~Headless() {
        if (input >= 0) ::close(input);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (reader_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
            reader_.join();
        }
        if (stop_ >= 0) ::close(stop_);
        if (output_ >= 0) ::close(output_);
    }

  private:
    void readOutput() {
        for (;;) {
            pollfd ready[2] = {{output_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(ready, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready[1].revents != 0) break;
            char chunk[65536];
            const auto got = ::read(output_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            std::lock_guard lock(mutex_);
            if (got <= 0) break;
            incoming_.append(chunk, static_cast<std::size_t>(got));
            arrived_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }

    void takeInLocked() {
        seen += incoming_;
        incoming_.clear();
    }

    int output_ = -1;
    int stop_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string incoming_;  // read, not yet in `seen`
    bool ended_ = false;
};

}  // namespace tindlewave::testkit
