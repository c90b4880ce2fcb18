#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "Model/Config.h"
#include "Model/VariantRecord.h"
#include "Settings/Model/Edits/ProfileSource.h"
#include "Settings/Model/Edits/RuleKey.h"
#include "Settings/Model/Edits/SmoothKnob.h"

namespace tindlewave {

// One change to the configuration, made by a page of the settings window or by the menu. Edits
// never fail: one that cannot apply leaves the configuration as it was. The cases are in a fixed
// order (the variant's index).
struct SettingsEdit {
    struct HyperKey {  // the key that becomes the hyper key
        HIDUsage usage;
        bool operator==(const HyperKey&) const = default;
    };
    struct HyperEnabled {  // the hyper key on or off for the whole configuration
        bool on = false;
        bool operator==(const HyperEnabled&) const = default;
    };
    struct AddDevice {
        DeviceMatch match;
        std::string name;
        ProfileSource source;
        bool operator==(const AddDevice&) const = default;
    };
    struct HyperOn {  // the hyper key on for this keyboard
        DeviceMatch match;
        bool on = false;
        bool operator==(const HyperOn&) const = default;
    };
    struct Rename {
        DeviceMatch match;
        std::string name;
        bool operator==(const Rename&) const = default;
    };
    struct Kind {
        DeviceMatch match;
        DeviceKind kind;
        bool operator==(const Kind&) const = default;
    };
    struct AddRule {
        DeviceMatch match;
        Rule rule;
        bool operator==(const AddRule&) const = default;
    };
    struct ReplaceRule {
        DeviceMatch match;
        RuleKey key;  // the rule replaced
        Rule rule;    // its replacement
        bool operator==(const ReplaceRule&) const = default;
    };
    struct RemoveRule {
        DeviceMatch match;
        RuleKey key;
        bool operator==(const RemoveRule&) const = default;
    };
    struct GestureFire {
        DeviceMatch match;
        tindlewave::GestureFire fire;
        bool operator==(const GestureFire&) const = default;
    };
    struct GestureDistance {
        DeviceMatch match;
        std::int64_t distance = 0;
        bool operator==(const GestureDistance&) const = default;
    };
    struct Smooth {
        DeviceMatch match;
        std::optional<SmoothScroll> value;  // none: smooth scrolling off
        bool operator==(const Smooth&) const = default;
    };
    struct SmoothKnob {
        DeviceMatch match;
        tindlewave::SmoothKnob knob;
        double value = 0;
        bool operator==(const SmoothKnob&) const = default;
    };
    struct Curve {
        DeviceMatch match;
        SpeedCurve curve;
        bool operator==(const Curve&) const = default;
    };
    struct HoldToScroll {
        DeviceMatch match;
        tindlewave::HoldToScroll value;
        bool operator==(const HoldToScroll&) const = default;
    };
    struct Forget {
        DeviceMatch match;
        bool operator==(const Forget&) const = default;
    };
    struct Ignore {
        DeviceMatch match;
        bool ignore = true;  // false: stop ignoring
        bool operator==(const Ignore&) const = default;
    };

    std::variant<HyperKey, HyperEnabled, AddDevice, HyperOn, Rename, Kind, AddRule, ReplaceRule,
                 RemoveRule, GestureFire, GestureDistance, Smooth, SmoothKnob, Curve, HoldToScroll,
                 Forget, Ignore>
        value;

    static SettingsEdit hyperKey(HIDUsage usage) { return {HyperKey{usage}}; }
    static SettingsEdit hyperEnabled(bool on) { return {HyperEnabled{on}}; }
    static SettingsEdit addDevice(DeviceMatch match, std::string name, ProfileSource source) {
        return {AddDevice{match, std::move(name), std::move(source)}};
    }
    static SettingsEdit hyperOn(DeviceMatch match, bool on) { return {HyperOn{match, on}}; }
    static SettingsEdit rename(DeviceMatch match, std::string name) {
        return {Rename{match, std::move(name)}};
    }
    static SettingsEdit kind(DeviceMatch match, DeviceKind kind) { return {Kind{match, kind}}; }
    static SettingsEdit addRule(DeviceMatch match, Rule rule) {
        return {AddRule{match, std::move(rule)}};
    }
    static SettingsEdit replaceRule(DeviceMatch match, RuleKey key, Rule rule) {
        return {ReplaceRule{match, std::move(key), std::move(rule)}};
    }
    static SettingsEdit removeRule(DeviceMatch match, RuleKey key) {
        return {RemoveRule{match, std::move(key)}};
    }
    static SettingsEdit gestureFire(DeviceMatch match, tindlewave::GestureFire fire) {
        return {GestureFire{match, fire}};
    }
    static SettingsEdit gestureDistance(DeviceMatch match, std::int64_t distance) {
        return {GestureDistance{match, distance}};
    }
    static SettingsEdit smooth(DeviceMatch match, const std::optional<SmoothScroll>& value) {
        // Built per case: copying a disengaged optional here makes GCC 12 warn at -O1.
        if (!value) return {Smooth{match, std::nullopt}};
        return {Smooth{match, *value}};
    }
    static SettingsEdit smoothKnob(DeviceMatch match, tindlewave::SmoothKnob knob, double value) {
        return {SmoothKnob{match, knob, value}};
    }
    static SettingsEdit curve(DeviceMatch match, SpeedCurve curve) {
        return {Curve{match, std::move(curve)}};
    }
    static SettingsEdit holdToScroll(DeviceMatch match, tindlewave::HoldToScroll value) {
        return {HoldToScroll{match, value}};
    }
    static SettingsEdit forget(DeviceMatch match) { return {Forget{match}}; }
    static SettingsEdit ignore(DeviceMatch match, bool ignore) { return {Ignore{match, ignore}}; }

    // The configuration with the edit applied, or the configuration unchanged when the edit cannot
    // apply (a blank name, no device with the match, no such rule, ...). Never fails.
    Config applied(Config config) const;

    // The edit as one log line, an assignment to a dotted path of the configuration
    // ("devices[{...}].name = \"Desk\"").
    std::string logDescription() const;

    bool operator==(const SettingsEdit&) const = default;
};

}  // namespace tindlewave
