// How soon the program on screen is useful: from process start to the menu's first line that says
// the engine is active and to the line that shows the configured (simulated) mouse set up, beside
// the headless program's start to the same two points; and the settings window's first show.
// Offscreen, with a temporary home and XDG folders.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Platform/Clock.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Settings/Views/SettingsTabs.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/ShellViews.h"
#include "Shell/StatusMenu.h"
#include "TestKit/TempFolder.h"
#include "Tindlewave/Views/ShellWorld.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* bareStart = "--bare-qt-start";

std::string readAll(const fs::path& folder) {
    std::string all;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::ifstream in(entry.path());
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    return all;
}

// A home with the configuration of one MX Master 3, and the environment to start a program in it.
struct Home {
    testkit::TempFolder home;
    std::vector<std::string> variables;
    std::vector<char*> env;

    Home() {
        const auto config = home.path() / ".config" / "tindlewave";
        fs::create_directories(config);
        testkit::TempFolder::write(
            (config / "config.json").string(),
            R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},)"
            R"("devices":[{"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3"}],"ignored":[]})");
        variables = {"HOME=" + home.path().string(),
                     "XDG_CONFIG_HOME=" + (home.path() / ".config").string(),
                     "XDG_STATE_HOME=" + (home.path() / "state").string(),
                     "XDG_RUNTIME_DIR=" + home.path().string(),
                     "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home.path() / "no-bus").string(),
                     "QT_QPA_PLATFORM=offscreen",
                     "PATH=/usr/bin:/bin"};
        for (auto& variable : variables) env.push_back(variable.data());
        env.push_back(nullptr);
    }
    fs::path log() const { return home.path() / "state" / "tindlewave" / "log"; }
};

// One start of the program, timed until its log holds `text`.
void timeProgramStart(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        Home home;
        std::string program = TW_PROGRAM;
        std::string simulate = "--simulate";  // the mouse the texts wait for is the simulated one
        char* argv[] = {program.data(), simulate.data(), nullptr};
        const auto start = Clock::now();
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, home.env.data()) != 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        bool seen = false;
        while (!seen && Clock::now() - start < std::chrono::seconds(30)) {
            seen = readAll(home.log()).find(text) != std::string::npos;
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        if (!seen) {
            state.SkipWithError(("no " + text + " within 30 s").c_str());
            return;
        }
        state.SetIterationTime(elapsed);
    }
}

// To the first menu line that says the engine is active.
void BM_ProcessStartToActiveMenuLine(benchmark::State& state) {
    timeProgramStart(state, "\"message\":\"state=Active");
}
BENCHMARK(BM_ProcessStartToActiveMenuLine)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// To the menu line that shows the mouse set up.
void BM_ProcessStartToMouseConnectedMenuLine(benchmark::State& state) {
    timeProgramStart(state, "MX Master 3=Connected]");
}
BENCHMARK(BM_ProcessStartToMouseConnectedMenuLine)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Times `program` with `argument` (none when empty) from its start until its standard output
// holds `text`. Its standard input stays open, so a program that reads it keeps running.
void timeStartToOutput(benchmark::State& state, std::string program, std::string argument,
                       const std::string& text) {
    for (auto _ : state) {
        Home home;
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            state.SkipWithError("no pipes");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char* argv[] = {program.data(), argument.empty() ? nullptr : argument.data(), nullptr};
        const auto start = Clock::now();
        pid_t pid = -1;
        const int spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, home.env.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        std::string seen;
        bool found = false;
        char chunk[4096];
        while (spawned == 0 && !found) {
            pollfd ready{out[0], POLLIN, 0};
            if (::poll(&ready, 1, 30000) <= 0) break;
            const auto got = ::read(out[0], chunk, sizeof chunk);
            if (got <= 0) break;
            seen.append(chunk, static_cast<std::size_t>(got));
            found = seen.find(text) != std::string::npos;
        }
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (spawned == 0) {
            ::kill(pid, SIGTERM);
            // Drained, so the quit's lines never wait on a full pipe.
            while (::read(out[0], chunk, sizeof chunk) > 0) {
            }
            ::waitpid(pid, nullptr, 0);
        }
        ::close(in[1]);
        ::close(out[0]);
        if (!found) {
            state.SkipWithError(("no " + text).c_str());
            return;
        }
        state.SetIterationTime(elapsed);
    }
}

// The floor of the program's start: this executable started again as a bare Qt application.
void BM_BareQtApplicationStart(benchmark::State& state) {
    timeStartToOutput(state, "/proc/self/exe", bareStart, "ready\n");
}
BENCHMARK(BM_BareQtApplicationStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

#ifdef TW_HEADLESS_PROGRAM
// The headless program beside it: from its start to the first status it prints, and to the
// status that shows the mouse connected.
void BM_HeadlessStartToFirstStatus(benchmark::State& state) {
    timeStartToOutput(state, TW_HEADLESS_PROGRAM, "--simulate", "\nstatus: ");
}
BENCHMARK(BM_HeadlessStartToFirstStatus)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_HeadlessStartToMouseConnected(benchmark::State& state) {
    timeStartToOutput(state, TW_HEADLESS_PROGRAM, "--simulate", "MX Master 3 (connected, HID++ set up)");
}
BENCHMARK(BM_HeadlessStartToMouseConnected)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
#endif

// The settings window made and shown for the first time on one tab, over the whole user
// interface (the real config store, app and settings models, a recording engine) with the MX
// Master 3 set up: the tab's real page built, filled, measured and fitted. The frame is written
// later, off the GUI thread, and is not timed.
void BM_SettingsWindowFirstShow(benchmark::State& state) {
    const auto tab = SettingsTab(state.range(0));
    state.SetLabel(std::string(toText(tab)));
    for (auto _ : state) {
        state.PauseTiming();
        {
            testkit::ShellWorld world;
            world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[)"
                       R"({"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3","rules":[)"
                       R"({"control":{"hidpp":"0xC3"},"do":"missionControl","when":"click"},)"
                       R"({"control":"thumbWheel","do":"reverse","when":"scroll"}]},)"
                       R"({"match":{"builtIn":true},"name":"Built-in","kind":"keyboard","hyper":true}],"ignored":[]})");
            if (!world.start()) {
                state.SkipWithError("the settings file did not load");
                return;
            }
            SettingsModel& settings = world.model->settings();
            settings.setTab(tab);
            DeviceStatus mouse{.name = "MX Master 3",
                               .match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}),
                               .kind = DeviceKind::mouse,
                               .connectedAt = std::chrono::system_clock::now()};
            mouse.hidpp = HIDPPStatus{
                .progress = HIDPPStatus::Progress::setUp(),
                .capabilities = HIDPPCapabilities{.controls = {{CID{0x52}, true, false}, {CID{0xC3}, true, true},
                                                               {CID{0xC4}, true, true}},
                                                  .thumbWheel = true},
                .skippedRules = {}};
            settings.show(EngineStatus{.run = RunState::active,
                                       .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
                                       .tap = TapState::on,
                                       .devices = {mouse},
                                       .newDevices = {}});
            state.ResumeTiming();
            world.model->settingsWindow().show();
            QCoreApplication::processEvents();
            benchmark::DoNotOptimize(world.window->window().tabs().height());
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SettingsWindowFirstShow)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tindlewave

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc > 1 && std::string_view(argv[1]) == tindlewave::bareStart) {
        // The floor: a bare Qt application (with the program's libraries loaded) to its first
        // turn of the event loop, which says so on standard output.
        QApplication bare(argc, argv);
        QTimer::singleShot(0, &bare, [] {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
        return bare.exec();
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
