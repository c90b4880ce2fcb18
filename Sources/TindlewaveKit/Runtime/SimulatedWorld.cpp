#include "Runtime/SimulatedWorld.h"

#include <cstdlib>
#include <filesystem>

#include "Platform/Simulated/SimulatedDevice.h"
#include "Platform/Simulated/VirtualHidppMouse.h"

namespace tindlewave {

namespace fs = std::filesystem;

SimulatedWorld::SimulatedWorld(Executor& hidExecutor, Executor& tapExecutor,
                               std::string hidutilStatePath, HidutilHost hidutilHost)
    : hidutilState(std::move(hidutilStatePath)),
      hidutil(std::move(hidutilHost)),
      hid(hidExecutor, grants, &hidutilState),
      events(tapExecutor, grants) {
    std::error_code ignored;
    fs::create_directories(fs::path(hidutilState.path()).parent_path(), ignored);
    // Children inherit it: set before any of them runs.
    ::setenv(SimulatedHidutilState::environmentVariable, hidutilState.path().c_str(), 1);
    hidutilState.reset();
}

std::string SimulatedWorld::defaultHidutilState() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const fs::path folder = runtime && *runtime ? fs::path(runtime) : fs::temp_directory_path();
    return (folder / "tindlewave" / "hidutil.json").string();
}

HidutilHost SimulatedWorld::hidutilBesideProgram() {
    std::error_code error;
    const auto program = fs::read_symlink("/proc/self/exe", error);
    return HidutilHost{.executable = (program.parent_path() / "hidutil-fake").string()};
}

Result<std::string, MissingRecordings> SimulatedWorld::defaultMouse() {
    auto folder = shippedRecordedMiceFolder();
    if (!folder.ok()) return folder.error();
    return (fs::path(*folder) / "MX-Master-3-Wireless-Mouse-B023.json").string();
}

Result<SimulatedWorld::Device, std::string> SimulatedWorld::attachMouse(
    const std::string& recording) {
    auto mouse = loadVirtualMouse(recording);
    if (!mouse.ok()) return mouse.error();
    Device device{
        mouse->name, hid.attach(SimulatedDevice::hidppMouse(*mouse, nextLocation_++)), {}, true};
    for (const auto& control : mouse->controls) device.controls.push_back(control.cid);
    devices_.push_back(device);
    return device;
}

SimulatedWorld::Device SimulatedWorld::attachBuiltInKeyboard() {
    Device device{"built-in keyboard", hid.attach(SimulatedDevice::builtInKeyboard()), {}, false};
    devices_.push_back(device);
    return device;
}

bool SimulatedWorld::isNative(const Device& device) {
    if (!device.isHidppMouse || device.attached.interfaces.empty()) return true;
    VirtualHidppMouse* mouse = hid.mouse(device.attached.interfaces.front());
    if (!mouse) return true;  // unplugged: it starts native when plugged in again
    for (std::uint16_t cid : device.controls) {
        if (auto reporting = mouse->reporting(cid);
            reporting && (reporting->divert || reporting->rawXY))
            return false;
    }
    auto wheel = mouse->thumbWheelReporting();
    return !(wheel && wheel->diverted);
}

}  // namespace tindlewave
