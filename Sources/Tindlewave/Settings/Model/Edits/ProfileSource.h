#pragma once

#include <variant>

#include "Model/Config.h"
#include "Model/Hash.h"
#include "Model/Presets.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What a newly added device's profile starts from.
struct ProfileSource {
    struct Preset {  // a ready-made profile
        DevicePreset preset;
        bool operator==(const Preset&) const = default;
    };
    struct Copy {  // the settings of a device already configured
        DeviceMatch of;
        bool operator==(const Copy&) const = default;
    };
    struct Blank {  // nothing
        bool operator==(const Blank&) const = default;
    };

    std::variant<Preset, Copy, Blank> value;

    static ProfileSource preset(DevicePreset preset) { return {Preset{preset}}; }
    static ProfileSource copy(DeviceMatch of) { return {Copy{of}}; }
    static ProfileSource blank() { return {Blank{}}; }

    bool operator==(const ProfileSource&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::ProfileSource::Preset> {
    std::size_t operator()(const tindlewave::ProfileSource::Preset& p) const noexcept {
        return tindlewave::hashOf(p.preset);
    }
};
template <>
struct std::hash<tindlewave::ProfileSource::Copy> {
    std::size_t operator()(const tindlewave::ProfileSource::Copy& c) const noexcept {
        return tindlewave::hashOf(c.of);
    }
};
template <>
struct std::hash<tindlewave::ProfileSource::Blank> {
    std::size_t operator()(const tindlewave::ProfileSource::Blank&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::ProfileSource> {
    std::size_t operator()(const tindlewave::ProfileSource& source) const noexcept {
        return tindlewave::hashVariant(source.value);
    }
};
