#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Model/Capabilities.h"
#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Model/Date.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

enum class RunState { active, paused };

enum class Permission { accessibility, inputMonitoring };

// The two grants as last polled.
struct PermissionState {
    enum class Grant { granted, denied, notDetermined };

    Grant accessibility;
    Grant inputMonitoring;

    bool operator==(const PermissionState&) const = default;
};

// The state of the event tap.
enum class TapState { off, on, failed };

// Why listening for a press ended without one.
enum class ListenEnd { timedOut, disconnected, paused, slept, needsAccessibility };

// The hyper-key side of a device.
struct HyperStatus {
    struct Failed {
        std::string reason;
        bool operator==(const Failed&) const = default;
    };
    struct On {
        bool operator==(const On&) const = default;
    };
    struct Off {
        bool operator==(const Off&) const = default;
    };
    struct Applying {
        bool operator==(const Applying&) const = default;
    };

    std::variant<Failed, On, Off, Applying> value;

    static HyperStatus failed(std::string reason) { return {Failed{std::move(reason)}}; }
    static HyperStatus on() { return {On{}}; }
    static HyperStatus off() { return {Off{}}; }
    static HyperStatus applying() { return {Applying{}}; }

    bool operator==(const HyperStatus&) const = default;
};

// The HID++ side of a device.
struct HIDPPStatus {
    struct Progress {
        struct NotSetUp {
            std::string reason;
            bool operator==(const NotSetUp&) const = default;
        };
        struct Applying {
            bool operator==(const Applying&) const = default;
        };
        struct SetUp {
            bool operator==(const SetUp&) const = default;
        };

        std::variant<NotSetUp, Applying, SetUp> value;

        static Progress notSetUp(std::string reason) { return {NotSetUp{std::move(reason)}}; }
        static Progress applying() { return {Applying{}}; }
        static Progress setUp() { return {SetUp{}}; }

        bool operator==(const Progress&) const = default;
    };

    Progress progress;
    std::optional<Date> lastApply{};                  // when a set-up last finished
    std::optional<HIDPPCapabilities> capabilities{};  // what discovery found
    std::vector<Rule> skippedRules;                   // the profile's rules the device cannot serve

    bool operator==(const HIDPPStatus&) const = default;
};

// Listening for a button on a device.
struct ListenStatus {
    struct GettingReady {
        Date until;  // when the listen times out
        bool operator==(const GettingReady&) const = default;
    };
    struct Listening {
        Date until;
        bool operator==(const Listening&) const = default;
    };
    struct Ended {
        ListenEnd end;
        bool operator==(const Ended&) const = default;
    };

    std::variant<GettingReady, Listening, Ended> value;

    // The length of one listening window.
    static constexpr std::chrono::seconds timeout{10};

    static ListenStatus gettingReady(Date until) { return {GettingReady{until}}; }
    static ListenStatus listening(Date until) { return {Listening{until}}; }
    static ListenStatus ended(ListenEnd end) { return {Ended{end}}; }

    bool operator==(const ListenStatus&) const = default;
};

// One configured or newly seen device.
struct DeviceStatus {
    std::string name;
    DeviceMatch match;
    std::optional<DeviceKind> kind{};
    std::optional<std::string> transport{};  // how the device is attached
    std::optional<Date> connectedAt{};       // when the present connection began
    std::optional<HyperStatus> hyper{};
    std::optional<HIDPPStatus> hidpp{};
    std::optional<ListenStatus> listen{};

    bool operator==(const DeviceStatus&) const = default;
};

// The last device that reconnected.
struct Reconnect {
    std::string device;  // its name
    Date at;
    bool reapplied = false;  // its settings have been applied again since

    bool operator==(const Reconnect&) const = default;
};

// Something the user should see to.
struct Attention {
    struct Permission {
        tindlewave::Permission permission;
        bool operator==(const Permission&) const = default;
    };
    struct Config {
        ConfigError error;
        bool lastGoodInForce = false;  // the last good configuration is in force meanwhile
        bool operator==(const Config&) const = default;
    };
    struct TapFailed {
        bool operator==(const TapFailed&) const = default;
    };

    std::variant<Permission, Config, TapFailed> value;

    static Attention permission(tindlewave::Permission permission) {
        return {Permission{permission}};
    }
    static Attention config(ConfigError error, bool lastGoodInForce) {
        return {Config{std::move(error), lastGoodInForce}};
    }
    static Attention tapFailed() { return {TapFailed{}}; }

    bool operator==(const Attention&) const = default;
};

// The engine's published picture of itself.
struct EngineStatus {
    RunState run;
    PermissionState permissions;
    std::optional<ConfigError> configError{};  // the error of the configuration file in force
    TapState tap;
    std::vector<DeviceStatus> devices;     // one per profile, in profile order
    std::vector<DeviceStatus> newDevices;  // connected devices that nothing matches
    std::optional<Reconnect> lastReconnect{};
    // Whether a configuration is in force: the file's, or beside its error the last good one
    // (none when the file has never been read whole, not even at the start).
    bool configInForce = false;

    // What needs the user, in order: missing permissions, the configuration error, a failed tap.
    std::vector<Attention> attention() const;

    bool operator==(const EngineStatus&) const = default;
};

// A press heard while listening: a control that a rule can name, or none.
struct Heard {
    struct Control {
        tindlewave::Control control;
        bool operator==(const Control&) const = default;
    };
    struct Unnamed {
        bool operator==(const Unnamed&) const = default;
    };

    std::variant<Control, Unnamed> value;

    static Heard control(tindlewave::Control control) { return {Control{std::move(control)}}; }
    static Heard unnamed() { return {Unnamed{}}; }

    bool operator==(const Heard&) const = default;
};

// What the engine publishes for a press heard while listening.
struct LearnedPress {
    DeviceMatch match;  // the device listened to
    Heard heard;

    bool operator==(const LearnedPress&) const = default;
};

}  // namespace tindlewave
