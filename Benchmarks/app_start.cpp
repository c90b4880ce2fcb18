// How soon the program on screen is useful: from process start to the menu's first line that says
// the engine is active (one simulated mouse set up by the configuration), and the settings
// window's first show. Offscreen, with a temporary home and XDG folders.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <QApplication>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <QPushButton>
#include <QVBoxLayout>
#include "Platform/Clock.h"
#include "Runtime/Defaults.h"
#include "Runtime/LogStore.h"
#include "Runtime/ThreadPool.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/SettingsTabs.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/ShellViews.h"
#include "Shell/StatusMenu.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readAll(const fs::path& folder) {
    std::string all;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::ifstream in(entry.path());
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    return all;
}

// One start of the program, timed until its first "state=Active" menu line.
void BM_ProcessStartToActiveMenuLine(benchmark::State& state) {
    for (auto _ : state) {
        testkit::TempFolder home;
        const auto config = home.path() / ".config" / "tindlewave";
        fs::create_directories(config);
        testkit::TempFolder::write(
            (config / "config.json").string(),
            R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},)"
            R"("devices":[{"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3"}],"ignored":[]})");
        std::vector<std::string> variables{"HOME=" + home.path().string(),
                                           "XDG_CONFIG_HOME=" + (home.path() / ".config").string(),
                                           "XDG_STATE_HOME=" + (home.path() / "state").string(),
                                           "XDG_RUNTIME_DIR=" + home.path().string(),
                                           "QT_QPA_PLATFORM=offscreen",
                                           "PATH=/usr/bin:/bin"};
        std::vector<char*> env;
        for (auto& variable : variables) env.push_back(variable.data());
        env.push_back(nullptr);
        std::string program = TW_PROGRAM;
        char* argv[] = {program.data(), nullptr};
        const auto start = Clock::now();
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.data()) != 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        const auto log = home.path() / "state" / "tindlewave" / "log";
        bool active = false;
        while (!active && Clock::now() - start < std::chrono::seconds(30)) {
            active = readAll(log).find("\"message\":\"state=Active") != std::string::npos;
            if (!active) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        if (!active) {
            state.SkipWithError("no active menu line within 30 s");
            return;
        }
        state.SetIterationTime(elapsed);
    }
}
BENCHMARK(BM_ProcessStartToActiveMenuLine)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// A settings window made and shown for the first time: pages built, measured and fitted.
void BM_SettingsWindowFirstShow(benchmark::State& state) {
    testkit::TempFolder folder;
    Defaults defaults(folder.path() / "defaults.json");
    for (auto _ : state) {
        SettingsTabs window(
            SettingsTab::general,
            [](SettingsTab, PageFit& fit) {
                auto* page = new SettingsPage(&fit, nullptr);
                for (int i = 0; i < 8; ++i)
                    page->content()->addWidget(
                        new FormRow("Row",
                                    QString("An explanation that wraps onto a "
                                            "second line in the settings window."),
                                    new QPushButton("Button")));
                return page;
            },
            &defaults);
        window.present();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.height());
    }
}
BENCHMARK(BM_SettingsWindowFirstShow)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tindlewave

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
