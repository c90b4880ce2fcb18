#include "Shell/Program.h"

#include <chrono>
#include <cstdio>
#include <variant>

#include "Platform/Linux/System/Files.h"
#include "Runtime/Worlds/DeviceCheck.h"
#include "Runtime/Worlds/DevicesLock.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Shell/ProgramOptions.h"
#include "Shell/SecondStart.h"
#include "Shell/WindowProgram.h"

namespace tindlewave {

namespace {
// The launch the options ask for, or the exit status when it cannot be had. The simulated world's
// stand-in hidutil state is made first, before any thread runs the tool.
std::variant<Launch, int> launchOf(const ProgramOptions& options) {
    Launch launch{.simulate = options.simulate,
                  .mouse = options.mouse,
                  .keyboard = options.keyboard,
                  .hidutilState = std::nullopt,
                  .devicesLock = std::nullopt,
                  .secondStarts = std::monostate{},
                  .othersFolders = std::nullopt};
    if (launch.simulate) {
        auto made = SimulatedWorld::defaultHidutilState();
        if (!made.ok()) {
            std::fprintf(stderr, "tindlewave: %s\n", made.error().description.c_str());
            return 1;
        }
        launch.hidutilState.emplace(std::move(*made));
        return launch;
    }
    // Over this computer's devices one program runs at a time. Started again beside a window
    // program, it brings that one's window to the front instead.
    auto taken = DevicesLock::take();
    if (const auto* refused = std::get_if<std::string>(&taken)) {
        if (const auto running = secondStart::askToShow(secondStart::socketFile(), std::chrono::seconds(10))) {
            std::fprintf(stderr, "tindlewave: Tindlewave runs already (process %d): its settings window was brought to the front\n",
                         int(*running));
            return 0;
        }
        std::fprintf(stderr, "tindlewave: %s\n", refused->c_str());
        return 1;
    }
    launch.devicesLock.emplace(std::move(std::get<DevicesLock>(taken)));
    if (!launch.devicesLock->warning().empty())
        std::fprintf(stderr, "tindlewave: %s\n", launch.devicesLock->warning().c_str());
    // Listening from now on: a second start that comes while the toolkit starts waits for the answer.
    if (launch.devicesLock->held()) {
        auto listening = secondStart::listen(secondStart::socketFile());
        if (auto* socket = std::get_if<UniqueFd>(&listening)) launch.secondStarts = std::move(*socket);
        else launch.secondStarts = std::get<std::string>(listening);
    }
    return launch;
}
}  // namespace

int runProgram(int argc, char** argv) {
    const auto read = readProgramOptions(argc, argv);
    if (const auto* error = std::get_if<std::string>(&read)) {
        std::fprintf(stderr, "tindlewave: %s\n%s\n", error->c_str(), programUsageText());
        return 2;
    }
    const auto& options = std::get<ProgramOptions>(read);
    if (options.checkArguments) return 0;
    if (options.help) {
        std::printf("%s\n", programUsageText());
        return 0;
    }
    // A check of this machine's devices, printed for the user; no window is opened.
    if (options.checkDevices) {
        const auto check = DeviceCheck::run();
        std::fputs(check.text.c_str(), stdout);
        return check.status;
    }
    // Run as root by a sudo that keeps HOME: the toolkit reads nothing of the other user's (fonts,
    // settings, the applications that open files) and makes nothing in their folders. Said at
    // start, as the headless program says it.
    auto othersFolders = files::foldersOfAnotherUser();
    files::useOwnFoldersOnly();
    auto launch = launchOf(options);
    if (const int* status = std::get_if<int>(&launch)) return *status;
    std::get<Launch>(launch).othersFolders = std::move(othersFolders);
    // Over Linux devices the texts are the Linux ones, and the guide shows the rule's commands.
    setWorldTexts(options.simulate ? WorldTexts::simulated : WorldTexts::linuxDevices);
    WindowProgram program(argc, argv, std::move(std::get<Launch>(launch)));
    return program.run();
}

}  // namespace tindlewave
