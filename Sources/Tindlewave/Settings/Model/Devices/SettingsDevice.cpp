#include "Settings/Model/Devices/SettingsDevice.h"

#include <algorithm>

#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave {

namespace {

const DeviceStatus* statusOf(const std::vector<DeviceStatus>& statuses, const DeviceMatch& match) {
    for (const DeviceStatus& status : statuses) {
        if (status.match == match) return &status;
    }
    return nullptr;
}

}  // namespace

DeviceKind SettingsDevice::profileKind(const DeviceProfile& profile) {
    if (profile.kind) return *profile.kind;
    if (is<DeviceMatch::BuiltIn>(profile.match) || profile.hyper) return DeviceKind::keyboard;
    return DeviceKind::mouse;
}

std::vector<SettingsDevice> SettingsDevice::all(const std::optional<Config>& config,
                                                const std::optional<EngineStatus>& status) {
    std::vector<SettingsDevice> rows;
    if (config) {
        for (const DeviceProfile& profile : config->devices) {
            const DeviceStatus* live = status ? statusOf(status->devices, profile.match) : nullptr;
            DeviceKind kind = profileKind(profile);
            if (!profile.kind && live && live->kind) kind = *live->kind;
            rows.push_back({profile.match, shownName(profile.name), kind, profile,
                            live ? std::optional(*live) : std::nullopt});
        }
    }
    if (!status) return rows;
    const std::size_t configured = rows.size();
    for (const DeviceStatus& entry : status->newDevices) {
        const auto end = rows.begin() + static_cast<std::ptrdiff_t>(configured);
        if (std::ranges::find(rows.begin(), end, entry.match, &SettingsDevice::match) != end) continue;
        if (config && std::ranges::find(config->ignored, entry.match) != config->ignored.end()) {
            continue;
        }
        rows.push_back({entry.match, shownName(entry.name), entry.kind.value_or(DeviceKind::mouse), std::nullopt,
                        entry});
    }
    return rows;
}

bool SettingsDevice::speaksHIDPP() const {
    if (status && status->hidpp) return true;
    if (const auto* device = as<DeviceMatch::Device>(match);
        device && device->vendor == VendorID::logitech) {
        return true;
    }
    if (!profile || !profile->rules) return false;
    return std::ranges::any_of(*profile->rules, [](const Rule& rule) {
        return is<Control::Hidpp>(rule.control) || is<Control::ThumbWheel>(rule.control);
    });
}

std::optional<std::string> SettingsDevice::cannotListen(bool paused,
                                                        const PermissionState& permissions) const {
    if (!connected()) return "Connect " + name + " to add a rule by pressing its button.";
    if (paused) return "Resume Tindlewave to add a rule by pressing a button.";
    if (permissions.accessibility != PermissionState::Grant::granted && !speaksHIDPP()) {
        return "Tindlewave needs Accessibility to hear this mouse's buttons.";
    }
    return std::nullopt;
}

}  // namespace tindlewave
