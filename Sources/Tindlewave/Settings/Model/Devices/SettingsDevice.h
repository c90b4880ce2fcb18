#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model/Config.h"
#include "Model/EngineStatus.h"
#include "Settings/Model/Devices/StatusCard.h"
#include "Settings/Model/Texts/TimeText.h"

namespace tindlewave {

// One device row of the settings window: a configured profile, or a connected device that has no
// profile yet. Identified by its match.
struct SettingsDevice {
    DeviceMatch match;
    std::string name;
    DeviceKind kind = DeviceKind::mouse;
    std::optional<DeviceProfile> profile{};  // none for a new device
    std::optional<DeviceStatus> status{};    // none when it is not connected

    // The configured devices in file order, then the connected devices without a profile that are
    // not ignored, in the engine's order.
    static std::vector<SettingsDevice> all(const std::optional<Config>& config,
                                           const std::optional<EngineStatus>& status);

    // The kind of a configured device while nothing else is known about it: its own kind, else a
    // keyboard for the built-in keyboard or a profile with a hyper-key switch, else a mouse.
    static DeviceKind profileKind(const DeviceProfile& profile);

    // Not set up yet.
    bool isNew() const { return !profile; }
    bool connected() const { return status && status->connectedAt; }
    // Whether the device takes HID++ settings: the engine reports HID++ for it, it is a Logitech
    // device, or one of its rules is on a HID++ control or the thumb wheel.
    bool speaksHIDPP() const;
    // Why adding a rule by pressing a button cannot start now, or none when it can.
    std::optional<std::string> cannotListen(bool paused, const PermissionState& permissions) const;
    // The connection and apply state in words.
    StatusCard card(bool paused, const TimeText& time) const;

    bool operator==(const SettingsDevice&) const = default;
};

}  // namespace tindlewave
