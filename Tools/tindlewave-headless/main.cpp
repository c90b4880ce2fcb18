// tindlewave-headless: the program without a window, over simulated devices, driven by commands.

#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "Options.h"
#include "Platform/Linux/Input/TerminalStop.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Linux/System/UniqueFd.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "Program.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Worlds/DevicesLock.h"
#include "Runtime/Worlds/DeviceCheck.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "Runtime/Worlds/WorldTexts.h"

namespace fs = std::filesystem;
using namespace tindlewave;

int main(int argc, char** argv) {
    // Before any thread starts (executors, the work pool and the config store all start threads):
    // the quitting signals are blocked everywhere and read from a descriptor, so a terminal's
    // Ctrl-C or hang-up takes the same quit as SIGTERM; a closed pipe is an error, not an end.
    sigset_t quitting;
    sigemptyset(&quitting);
    sigaddset(&quitting, SIGTERM);
    sigaddset(&quitting, SIGINT);
    sigaddset(&quitting, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &quitting, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    files::failWritesPastTheSizeLimit();
    // Ctrl-Z in the terminal lets go of the devices before the program stops, grabs on SIGCONT.
    releaseInputOnTerminalStop();

    auto read = headless::readOptions(argc, argv);
    if (auto* error = std::get_if<std::string>(&read)) {
        std::fprintf(stderr, "%s\n%s\n", error->c_str(), headless::usageText());
        return 2;
    }
    auto options = std::get<headless::Options>(read);
    if (options.help) {
        std::printf("%s\n", headless::usageText());
        return 0;
    }
    if (options.checkDevices) {
        const auto check = DeviceCheck::run();
        std::fputs(check.text.c_str(), stdout);
        return check.status;
    }

    const UniqueFd signalFd(::signalfd(-1, &quitting, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signalFd.isOpen()) {
        std::perror("tindlewave-headless: signalfd");
        return 1;
    }

    // Run as root by a sudo that keeps HOME: another user's folders are left alone, and it says so.
    if (const auto notice = files::foldersOfAnotherUser())
        std::fprintf(stderr, "tindlewave-headless: %s\n", notice->c_str());

    // Over this computer's devices one program runs at a time; held until main returns.
    std::optional<DevicesLock> devicesLock;
    if (!options.simulate) {
        auto taken = DevicesLock::take();
        if (auto* refused = std::get_if<std::string>(&taken)) {
            std::fprintf(stderr, "tindlewave-headless: %s\n", refused->c_str());
            return 1;
        }
        devicesLock.emplace(std::move(std::get<DevicesLock>(taken)));
        if (!devicesLock->warning().empty())
            std::fprintf(stderr, "tindlewave-headless: %s\n", devicesLock->warning().c_str());
    }

    headless::Places places;
    places.config = options.config ? *options.config : ConfigStore::defaultURL();
    places.hidutil = SimulatedWorld::hidutilBesideProgram().executable;
    auto hidutilState = SimulatedWorld::defaultHidutilState();
    if (!hidutilState.ok()) {
        std::fprintf(stderr, "tindlewave-headless: %s\n", hidutilState.error().description.c_str());
        return 1;
    }
    places.hidutilState = hidutilState->path();  // the file's folder goes when main returns
    if (auto folder = shippedRecordedMiceFolder()) {
        places.recordings = *folder;
    } else if (!options.mouse) {
        std::fprintf(stderr, "tindlewave-headless: %s\n", folder.error().text.c_str());
    }

    // The mouse asked for must be there: without it the session would not be the one asked for.
    if (options.mouse) {
        options.mouse = headless::recordingPath(*options.mouse, places.recordings);
        if (auto mouse = loadVirtualMouse(*options.mouse); !mouse) {
            std::fprintf(stderr, "tindlewave-headless: cannot attach the mouse: %s\n", mouse.error().c_str());
            return 1;
        }
    }
    // So must the script: a run without it is not the run asked for. As the settings file is
    // read: a FIFO or device is refused without waiting on it, and so is a file too large to be
    // a script.
    if (options.script) {
        auto script = files::read(*options.script);
        if (!script) {
            std::fprintf(stderr, "tindlewave-headless: cannot read the script %s: %s\n",
                         options.script->c_str(), script.error().description.c_str());
            return 1;
        }
        options.scriptText = std::move(*script);
    }
    setWorldTexts(options.simulate ? WorldTexts::simulated : WorldTexts::linuxDevices);

    int status = 0;
    {
        headless::Program program(std::move(options), std::move(places), signalFd.get());
        status = program.run();
    }
    return status;
}
