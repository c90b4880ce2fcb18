#include "Shell/Program.h"

#include <cstdio>
#include <cstring>
#include <variant>

#include "Runtime/Worlds/DeviceCheck.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Shell/WindowProgram.h"

namespace tindlewave {

namespace {
bool hasArgument(int argc, char** argv, const char* argument) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], argument) == 0) return true;
    return false;
}

// The launch the command line asks for, or the exit status when it cannot be had. The simulated
// world's stand-in hidutil state is made first, before any thread runs the tool.
std::variant<Launch, int> readLaunch(int argc, char** argv) {
    Launch launch{.simulate = hasArgument(argc, argv, "--simulate"),
                  .mouse = !hasArgument(argc, argv, "--no-mouse"),
                  .keyboard = !hasArgument(argc, argv, "--no-keyboard"),
                  .hidutilState = std::nullopt};
    for (const char* simulatedOnly : {"--no-mouse", "--no-keyboard"}) {
        if (!launch.simulate && hasArgument(argc, argv, simulatedOnly)) {
            std::fprintf(stderr, "tindlewave: %s needs --simulate\n", simulatedOnly);
            return 2;
        }
    }
    if (launch.simulate) {
        auto made = SimulatedWorld::defaultHidutilState();
        if (!made.ok()) {
            std::fprintf(stderr, "tindlewave: %s\n", made.error().description.c_str());
            return 1;
        }
        launch.hidutilState.emplace(std::move(*made));
    }
    return launch;
}
}  // namespace

int runProgram(int argc, char** argv) {
    // A check of this machine's devices, printed for the user; no window is opened.
    if (hasArgument(argc, argv, "--check-devices")) {
        const auto check = DeviceCheck::run();
        std::fputs(check.text.c_str(), stdout);
        return check.status;
    }
    auto launch = readLaunch(argc, argv);
    if (const int* status = std::get_if<int>(&launch)) return *status;
    // Over Linux devices the texts are the Linux ones, and the guide shows the rule's commands.
    setWorldTexts(std::get<Launch>(launch).simulate ? WorldTexts::simulated
                                                    : WorldTexts::linuxDevices);
    WindowProgram program(argc, argv, std::move(std::get<Launch>(launch)));
    return program.run();
}

}  // namespace tindlewave
