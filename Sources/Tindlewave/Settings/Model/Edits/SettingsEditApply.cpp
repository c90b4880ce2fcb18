// How each edit changes a configuration: SettingsEdit::applied.

#include <algorithm>

#include "Core/Overloaded.h"
#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave {

namespace {

// The first profile with the match: the one every per-device edit changes.
DeviceProfile* deviceIn(Config& config, const DeviceMatch& match) {
    for (DeviceProfile& profile : config.devices) {
        if (profile.match == match) return &profile;
    }
    return nullptr;
}

bool isConfigured(const Config& config, const DeviceMatch& match) {
    return std::ranges::any_of(config.devices,
                               [&](const DeviceProfile& p) { return p.match == match; });
}

bool isIgnored(const Config& config, const DeviceMatch& match) {
    return std::ranges::find(config.ignored, match) != config.ignored.end();
}

// The profile a new device starts with, or none when the source does not fit.
std::optional<DeviceProfile> newProfile(const Config& config, const SettingsEdit::AddDevice& edit,
                                        std::string name) {
    return std::visit(
        Overloaded{
            [&](const ProfileSource::Preset& source) -> std::optional<DeviceProfile> {
                if (isForAnotherModel(source.preset, edit.match)) return std::nullopt;
                return presetProfile(source.preset, edit.match, std::move(name));
            },
            [&](const ProfileSource::Copy& source) -> std::optional<DeviceProfile> {
                const auto other = std::ranges::find(config.devices, source.of, &DeviceProfile::match);
                if (other == config.devices.end()) return std::nullopt;
                DeviceProfile copy = *other;
                copy.match = edit.match;
                copy.name = std::move(name);
                return copy;
            },
            [&](const ProfileSource::Blank&) -> std::optional<DeviceProfile> {
                return DeviceProfile{edit.match, std::move(name)};
            },
        },
        edit.source.value);
}

void addDeviceTo(Config& config, const SettingsEdit::AddDevice& edit) {
    std::string name = trimmed(edit.name);
    if (name.empty() || isIgnored(config, edit.match) || isConfigured(config, edit.match)) return;
    if (auto profile = newProfile(config, edit, std::move(name))) {
        config.devices.push_back(std::move(*profile));
    }
}

void ignoreIn(Config& config, const SettingsEdit::Ignore& edit) {
    if (!edit.ignore) {
        std::erase(config.ignored, edit.match);
    } else if (!isIgnored(config, edit.match) && !isConfigured(config, edit.match)) {
        config.ignored.push_back(edit.match);
    }
}

// The edits that change one configured device.
struct DeviceEdit {
    DeviceProfile& device;

    void operator()(const SettingsEdit::HyperOn& edit) const { device.hyper = edit.on; }
    void operator()(const SettingsEdit::Rename& edit) const {
        std::string name = trimmed(edit.name);
        if (!name.empty()) device.name = std::move(name);
    }
    void operator()(const SettingsEdit::Kind& edit) const { device.kind = edit.kind; }
    void operator()(const SettingsEdit::AddRule& edit) const {
        if (!device.rules) device.rules.emplace();
        device.rules->push_back(edit.rule);
    }
    void operator()(const SettingsEdit::ReplaceRule& edit) const {
        if (!device.rules) return;
        auto found = std::ranges::find_if(*device.rules,
                                          [&](const Rule& rule) { return edit.key.names(rule); });
        if (found != device.rules->end()) *found = edit.rule;
    }
    void operator()(const SettingsEdit::RemoveRule& edit) const {
        if (!device.rules) return;
        std::erase_if(*device.rules, [&](const Rule& rule) { return edit.key.names(rule); });
    }
    void operator()(const SettingsEdit::GestureFire& edit) const {
        device.gestures = device.gestures.value_or(GestureSettings::defaults());
        device.gestures->fire = edit.fire;
    }
    void operator()(const SettingsEdit::GestureDistance& edit) const {
        device.gestures = device.gestures.value_or(GestureSettings::defaults());
        device.gestures->distance = edit.distance;
    }
    void operator()(const SettingsEdit::Smooth& edit) const {
        if (edit.value) {
            if (!device.scrolling) device.scrolling.emplace();
            device.scrolling->smooth = edit.value;
        } else if (device.scrolling) {
            device.scrolling->smooth.reset();
        }
    }
    void operator()(const SettingsEdit::SmoothKnob& edit) const {
        if (SmoothScroll* smooth = existingSmooth()) knobField(*smooth, edit.knob) = edit.value;
    }
    void operator()(const SettingsEdit::Curve& edit) const {
        if (SmoothScroll* smooth = existingSmooth()) smooth->curve = edit.curve;
    }
    void operator()(const SettingsEdit::HoldToScroll& edit) const {
        if (!device.scrolling) device.scrolling.emplace();
        device.scrolling->holdToScroll = edit.value;
    }
    SmoothScroll* existingSmooth() const {
        if (!device.scrolling || !device.scrolling->smooth) return nullptr;
        return &*device.scrolling->smooth;
    }
};

}  // namespace

Config SettingsEdit::applied(Config config) const {
    std::visit(Overloaded{
                   [&](const HyperKey& edit) { config.hyper.key = edit.usage; },
                   [&](const HyperEnabled& edit) { config.hyper.enabled = edit.on; },
                   [&](const AddDevice& edit) { addDeviceTo(config, edit); },
                   [&](const Forget& edit) {
                       std::erase_if(config.devices, [&](const DeviceProfile& p) {
                           return p.match == edit.match;
                       });
                   },
                   [&](const Ignore& edit) { ignoreIn(config, edit); },
                   [&](const auto& edit) {
                       if (DeviceProfile* device = deviceIn(config, edit.match)) {
                           DeviceEdit{*device}(edit);
                       }
                   },
               },
               value);
    return config;
}

}  // namespace tindlewave
