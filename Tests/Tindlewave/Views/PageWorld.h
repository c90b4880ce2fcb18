#pragma once
// What the Devices and Hyper Key page tests share: a started shell world, statuses with
// devices, and a count of the settings model's saved and refused edits.

#include <string>
#include <vector>

#include <QVBoxLayout>

#include "Runtime/Executors/Actors.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "ShellWorld.h"

namespace tindlewave::testkit {

inline const DeviceMatch deskMouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
inline const DeviceMatch newMouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB034});
inline const DeviceMatch newKeyboard = DeviceMatch::device(VendorID{0x05AC}, ProductID{0x024F});

// A mouse and the built-in keyboard, both configured.
inline const char* twoDevicesConfig =
    R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[)"
    R"({"match":{"vendor":"0x046D","product":"0xB023"},"name":"Desk mouse"},)"
    R"({"match":{"builtIn":true},"name":"Built-in","kind":"keyboard","hyper":true}],"ignored":[]})";

inline DeviceStatus connected(std::string name, DeviceMatch match, DeviceKind kind) {
    return DeviceStatus{.name = std::move(name), .match = match, .kind = kind,
                        .connectedAt = std::chrono::system_clock::now()};
}

inline EngineStatus statusWith(std::vector<DeviceStatus> devices, std::vector<DeviceStatus> fresh) {
    return EngineStatus{.run = RunState::active,
                        .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
                        .tap = TapState::on,
                        .devices = std::move(devices),
                        .newDevices = std::move(fresh)};
}

// The number of "saved"/"not saved" lines the settings model has logged.
inline int settingsLines(ShellWorld& world) {
    int count = 0;
    if (auto entries = world.log.entries(std::string(bundleIdentifier)))
        for (const auto& entry : *entries) count += entry.category == "settings";
    return count;
}

// Sends a marker edit and waits for its own line: the queue answers in order, so every edit sent
// before it has been logged by then. Answers the lines logged before the marker's (-1 when it
// never comes).
inline int linesBeforeMarker(ShellWorld& world) {
    const SettingsEdit marker = SettingsEdit::hyperKey(*HIDUsage::named("f5"));
    const std::string saved = "saved " + marker.logDescription();
    const std::string notSaved = "not saved " + marker.logDescription() + ":";
    const int before = settingsLines(world);
    world.model->settings().send(marker);
    int lines = -1;
    const bool logged = QTest::qWaitFor(
        [&] {
            auto entries = world.log.entries(std::string(bundleIdentifier));
            if (!entries) return false;
            int index = 0;
            for (const auto& entry : *entries) {
                if (entry.category != "settings") continue;
                if (index >= before &&
                    (entry.message == saved || entry.message.starts_with(notSaved))) {
                    lines = index;
                    return true;
                }
                ++index;
            }
            return false;
        },
        10000);
    return logged ? lines : -1;
}

// The "saved"/"not saved" lines of every edit sent so far, oldest first (waits for a marker edit;
// the markers' own lines are left out). Empty also when the marker never comes.
inline std::vector<std::string> editsLogged(ShellWorld& world) {
    const int before = linesBeforeMarker(world);
    const std::string marker = SettingsEdit::hyperKey(*HIDUsage::named("f5")).logDescription();
    std::vector<std::string> lines;
    int index = 0;
    if (auto entries = world.log.entries(std::string(bundleIdentifier)))
        for (const auto& entry : *entries) {
            if (entry.category != "settings" || index++ >= before) continue;
            if (entry.message != "saved " + marker && !entry.message.starts_with("not saved " + marker + ":"))
                lines.push_back(entry.message);
        }
    return lines;
}

// The line an edit that was saved leaves.
inline std::string saved(const SettingsEdit& edit) {
    return "saved " + edit.logDescription();
}

// The texts of the real Linux world while it lasts (pages made meanwhile are made with them).
struct LinuxDeviceTexts {
    LinuxDeviceTexts() { setWorldTexts(WorldTexts::linuxDevices); }
    ~LinuxDeviceTexts() { setWorldTexts(WorldTexts::simulated); }
    LinuxDeviceTexts(const LinuxDeviceTexts&) = delete;
    LinuxDeviceTexts& operator=(const LinuxDeviceTexts&) = delete;
};

}  // namespace tindlewave::testkit
