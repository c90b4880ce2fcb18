#include "Runtime/Worlds/SimulatedWorld.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include <nlohmann/json.hpp>

#include "Model/HexCoding.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Simulated/Devices/SimulatedDevice.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

namespace tindlewave {

namespace fs = std::filesystem;

namespace {
// Each attached device sits at its own place on the bus, as plugged-in devices do.
constexpr std::uint32_t locationStep = 0x100000;

SimulatedWorld::Device keyboard() {
    SimulatedWorld::Device device;
    device.isKeyboard = true;
    return device;
}
}  // namespace

SimulatedWorld::SimulatedWorld(Executor& hidExecutor, Executor& tapExecutor,
                               std::string hidutilStatePath, KeyMapHost hidutilHost)
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

namespace {
// $XDG_RUNTIME_DIR when it is usable: an absolute path, not another user's (files::environmentFolder).
std::optional<std::string> runtimeDirectory() {
    std::string runtime = files::environmentFolder("XDG_RUNTIME_DIR");
    if (runtime.empty()) return std::nullopt;
    return runtime;
}

// A name of this user's own in the temporary folder (files::temporaryFolder: $TMPDIR when no other
// user can change it, else /tmp; a TMPDIR that is not there shows in the error of what is made
// there).
fs::path ownTemporaryPath() {
    return fs::path(files::temporaryFolder()) / ("tindlewave-" + std::to_string(::getuid()));
}
}  // namespace

std::string SimulatedWorld::runtimeFolder() {
    if (const auto runtime = runtimeDirectory()) return (fs::path(*runtime) / "tindlewave").string();
    // The temporary folder is shared between users: a name of one's own keeps another user's
    // folder from standing in the way.
    return ownTemporaryPath().string();
}

SimulatedWorld::StateFile::StateFile(std::string path, std::string ownFolder)
    : path_(std::move(path)), ownFolder_(std::move(ownFolder)) {}

SimulatedWorld::StateFile::StateFile(StateFile&& other) noexcept
    : path_(std::move(other.path_)), ownFolder_(std::exchange(other.ownFolder_, {})) {}

SimulatedWorld::StateFile& SimulatedWorld::StateFile::operator=(StateFile&& other) noexcept {
    if (this != &other) {
        removeOwnFolder();
        path_ = std::move(other.path_);
        ownFolder_ = std::exchange(other.ownFolder_, {});
    }
    return *this;
}

SimulatedWorld::StateFile::~StateFile() { removeOwnFolder(); }

void SimulatedWorld::StateFile::removeOwnFolder() {
    if (ownFolder_.empty()) return;
    std::error_code ignored;
    fs::remove_all(ownFolder_, ignored);
    ownFolder_.clear();
}

Result<SimulatedWorld::StateFile, SystemError> SimulatedWorld::defaultHidutilState() {
    const fs::path own = ownTemporaryPath();
    if (runtimeDirectory()) {
        // Runs without one that were killed (a program started without a runtime directory, by
        // a script or a service) left their folders in the temporary folder: any start removes
        // them, not only the next one without a runtime directory.
        files::removeEndedRuns(own.parent_path().string(), own.filename().string() + "-");
        const std::string wanted = runtimeFolder();
        auto folder = files::privateFolder(wanted);
        if (!folder.ok()) {
            return SystemError{folder.error().code,
                               "cannot make " + wanted + ": " + folder.error().description};
        }
        return StateFile((fs::path(*folder) / "hidutil.json").string(), {});
    }
    // A fresh folder for every run (mode 0700, made where nothing was): nothing another user put
    // in the shared folder is ever used, and two runs never share the state. Killed runs' folders
    // go at the next start.
    auto made = files::runFolder(own.parent_path().string(), own.filename().string() + "-");
    if (!made.ok()) {
        return SystemError{made.error().code, "cannot make a folder in " + own.parent_path().string() +
                                                  ": " + made.error().description};
    }
    return StateFile((fs::path(*made) / "hidutil.json").string(), *made);
}

KeyMapHost SimulatedWorld::hidutilBesideProgram() {
    std::error_code error;
    const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
    // Built beside the program; installed in <prefix>/libexec/tindlewave beside <prefix>/bin.
    const fs::path built = folder / "hidutil-fake";
    const fs::path installed = folder.parent_path() / "libexec" / "tindlewave" / "hidutil-fake";
    return KeyMapHost{.executable = (!fs::exists(built, error) && fs::exists(installed, error)
                                         ? installed
                                         : built)
                                        .string()};
}

Result<std::string, MissingRecordings> SimulatedWorld::defaultMouse() {
    auto folder = shippedRecordedMiceFolder();
    if (!folder.ok()) return folder.error();
    return (fs::path(*folder) / "MX-Master-3-Wireless-Mouse-B023.json").string();
}

SimulatedWorld::Device SimulatedWorld::add(SimulatedDevice made, Device device) {
    device.name = made.name.value_or(device.isKeyboard ? "Keyboard" : "Mouse");
    device.builtIn = made.builtIn;
    device.vendor = made.vendor;
    device.product = made.product;
    device.attached = hid.attach(std::move(made));
    devices_.push_back(device);
    return device;
}

std::uint32_t SimulatedWorld::nextLocation() {
    const std::uint32_t location = nextLocation_;
    nextLocation_ += locationStep;
    return location;
}

Result<SimulatedWorld::Device, std::string> SimulatedWorld::attachMouse(
    const std::string& recording) {
    auto mouse = loadVirtualMouse(recording);
    if (!mouse.ok()) return mouse.error();
    Device device;
    device.isHidppMouse = true;
    if (mouse->connection == "receiver") device.receiverSlot = mouse->deviceIndex;
    for (const auto& control : mouse->controls) device.controls.push_back(control.cid);
    return add(SimulatedDevice::hidppMouse(*mouse, nextLocation()), std::move(device));
}

SimulatedWorld::Device SimulatedWorld::attachBuiltInKeyboard() {
    return add(SimulatedDevice::builtInKeyboard(), keyboard());
}

SimulatedWorld::Device SimulatedWorld::attachExternalKeyboard(std::uint16_t vendor,
                                                              std::uint16_t product) {
    return add(SimulatedDevice::externalKeyboard(vendor, product, "Keyboard", nextLocation()),
               keyboard());
}

void SimulatedWorld::detach(const Device& device) {
    auto found = std::find_if(devices_.begin(), devices_.end(), [&](const Device& listed) {
        return listed.attached.interfaces == device.attached.interfaces;
    });
    if (found == devices_.end()) return;
    hid.detach(found->attached);
    devices_.erase(found);
}

std::vector<std::string> SimulatedWorld::leftOver(const Device& device) {
    std::vector<std::string> left;
    if (!device.isHidppMouse || device.attached.interfaces.empty()) return left;
    VirtualHidppMouse* mouse = hid.mouse(device.attached.interfaces.front());
    if (!mouse) return left;
    for (std::uint16_t cid : device.controls) {
        auto reporting = mouse->reporting(cid);
        if (!reporting || !(reporting->divert || reporting->rawXY)) continue;
        left.push_back(hexText(cid, 2) + (reporting->rawXY ? " with raw movement" : ""));
    }
    if (auto wheel = mouse->thumbWheelReporting(); wheel && wheel->diverted)
        left.emplace_back("thumb wheel");
    return left;
}

std::size_t SimulatedWorld::keyMappingsLeft(const Device& device) const {
    std::size_t mapped = 0;
    for (const auto& service : hidutilState.load().value("services", nlohmann::json::array())) {
        for (auto id : device.attached.interfaces)
            if (service.value("id", std::uint64_t{0}) == id)
                mapped += service.value("mapping", nlohmann::json::array()).size();
    }
    return mapped;
}

HIDUsage SimulatedWorld::keySent(const Device& keyboard, HIDUsage key) const {
    const std::uint64_t source = keyboardPageBase + key.rawValue;
    for (const auto& service : hidutilState.load().value("services", nlohmann::json::array())) {
        const auto id = service.value("id", std::uint64_t{0});
        if (std::find(keyboard.attached.interfaces.begin(), keyboard.attached.interfaces.end(), id) ==
            keyboard.attached.interfaces.end())
            continue;
        for (const auto& pair : service.value("mapping", nlohmann::json::array())) {
            if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_integer() ||
                !pair[1].is_number_integer() || pair[0].get<std::uint64_t>() != source)
                continue;
            const auto destination = pair[1].get<std::uint64_t>();
            if (destination > keyboardPageBase && destination <= keyboardPageBase + 0xFFFF)
                return HIDUsage{static_cast<std::uint16_t>(destination - keyboardPageBase)};
        }
    }
    return key;
}

}  // namespace tindlewave
