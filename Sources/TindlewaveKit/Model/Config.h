#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Model/EnumText.h"
#include "Model/Hash.h"
#include "Model/Identifiers.h"
#include "Model/Keys.h"
#include "Model/Range.h"
#include "Model/Rule.h"
#include "Model/SpeedCurve.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What a lone tap of the hyper key does. Text "nothing".
enum class HyperTap { nothing };

std::string_view toText(HyperTap tap);
template <>
std::optional<HyperTap> fromText<HyperTap>(std::string_view text);
template <>
std::span<const HyperTap> allCases<HyperTap>();

// Keyboard or mouse. Texts "keyboard" and "mouse".
enum class DeviceKind { keyboard, mouse };

std::string_view toText(DeviceKind kind);
template <>
std::optional<DeviceKind> fromText<DeviceKind>(std::string_view text);
template <>
std::span<const DeviceKind> allCases<DeviceKind>();

// When hold-and-move rules fire: as soon as the movement reaches the distance, or on release.
// Texts "pastDistance" and "onRelease".
enum class GestureFire { pastDistance, onRelease };

std::string_view toText(GestureFire fire);
template <>
std::optional<GestureFire> fromText<GestureFire>(std::string_view text);
template <>
std::span<const GestureFire> allCases<GestureFire>();

// Which way hold-to-scroll moves the page: `grab` with the hand, `wheel` the way the scroll wheel
// would. Texts "grab" and "wheel".
enum class HoldScrollDirection { grab, wheel };

std::string_view toText(HoldScrollDirection direction);
template <>
std::optional<HoldScrollDirection> fromText<HoldScrollDirection>(std::string_view text);
template <>
std::span<const HoldScrollDirection> allCases<HoldScrollDirection>();

// The hyper-key settings.
struct HyperSettings {
    bool enabled = true;  // the master switch
    HIDUsage key;         // the key that becomes the hyper key
    HyperTap onTap = HyperTap::nothing;

    bool operator==(const HyperSettings&) const = default;
};

// How a profile, an ignored entry or a status names a device.
struct DeviceMatch {
    struct Device {  // an external device by USB vendor and product id
        VendorID vendor;
        ProductID product;
        bool operator==(const Device&) const = default;
    };
    struct BuiltIn {  // the built-in keyboard
        bool operator==(const BuiltIn&) const = default;
    };

    std::variant<Device, BuiltIn> value;

    static DeviceMatch device(VendorID vendor, ProductID product) {
        return {Device{vendor, product}};
    }
    static DeviceMatch builtIn() { return {BuiltIn{}}; }

    bool operator==(const DeviceMatch&) const = default;
};

// When hold-and-move rules fire.
struct GestureSettings {
    GestureFire fire = GestureFire::pastDistance;
    // How far the mouse must move while the control is held, in mouse sensor counts.
    std::int64_t distance = 120;

    static constexpr ClosedRange<std::int64_t> distanceRange{20, 2000};
    static constexpr GestureSettings defaults() { return {GestureFire::pastDistance, 120}; }

    bool operator==(const GestureSettings&) const = default;
};

// The smooth-scrolling settings of one device.
struct SmoothScroll {
    // How long the page keeps gliding after the last wheel step, in TENTHS of a second (4 is 0.4
    // s). The file key is "duration", so the field keeps that name; durationSeconds() converts.
    double duration = 4;
    // How hard the glide stops: 1 slows evenly, higher values slow hard first, then coast.
    double brake = 2;
    // How long a wheel step takes to reach full speed, in milliseconds.
    double easeIn = defaultEaseIn;
    // Scroll speed as a function of the wheel's spin rate.
    SpeedCurve curve = SpeedCurve::defaults();

    static constexpr double defaultEaseIn = 60;
    // In tenths of a second: 0.1 s to 2 s.
    static constexpr ClosedRange<double> durationRange{1, 20};
    static constexpr ClosedRange<double> brakeRange{0.5, 10};
    static constexpr ClosedRange<double> easeInRange{0, 300};

    // The glide time in seconds.
    double durationSeconds() const { return duration / 10; }

    static const SmoothScroll& defaults();

    bool operator==(const SmoothScroll&) const = default;
};

// How a control scrolls the page while it is held and the mouse moves.
struct HoldToScroll {
    // How far the page moves for how far the mouse moves; 1 follows the hand.
    double speed = 1;
    HoldScrollDirection direction = HoldScrollDirection::grab;
    // Letting go while moving makes the page coast to a stop.
    bool momentum = true;

    static constexpr ClosedRange<double> speedRange{0.25, 4};
    static constexpr HoldToScroll defaults() { return {1, HoldScrollDirection::grab, true}; }

    bool operator==(const HoldToScroll&) const = default;
};

// Per mouse button: a click on a background window acts at once.
struct ClickThrough {
    bool left = false;
    bool right = false;

    bool operator==(const ClickThrough&) const = default;
};

// The scrolling settings of a profile; every part is optional. hiResWheel and clickThrough are
// kept, written and compared, but nothing acts on them yet.
struct ScrollSettings {
    std::optional<SmoothScroll> smooth{};  // absent: the wheel scrolls natively
    std::optional<bool> hiResWheel{};
    std::optional<HoldToScroll> holdToScroll{};
    std::optional<ClickThrough> clickThrough{};

    bool operator==(const ScrollSettings&) const = default;
};

// The settings of one configured device.
struct DeviceProfile {
    DeviceMatch match;
    std::string name;
    std::optional<DeviceKind> kind{};           // absent: the kind the device reports
    std::optional<std::vector<Rule>> rules{};   // absent: no rules (differs from an empty list)
    std::optional<GestureSettings> gestures{};  // absent: GestureSettings::defaults() applies
    std::optional<ScrollSettings> scrolling{};
    std::optional<bool> hyper{};  // whether the hyper key applies on this keyboard; absent: false

    bool operator==(const DeviceProfile&) const = default;
};

// The whole configuration.
struct Config {
    std::int64_t version = currentVersion;
    HyperSettings hyper;
    std::vector<DeviceProfile> devices{};  // in file order
    std::vector<DeviceMatch> ignored{};    // devices set aside

    static constexpr std::int64_t currentVersion = 1;
    // The starting configuration: the hyper key on Caps Lock, no devices.
    static const Config& empty();

    bool operator==(const Config&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::DeviceMatch::Device> {
    std::size_t operator()(const tindlewave::DeviceMatch::Device& d) const noexcept {
        std::size_t seed = tindlewave::hashOf(d.vendor);
        tindlewave::hashCombine(seed, tindlewave::hashOf(d.product));
        return seed;
    }
};
template <>
struct std::hash<tindlewave::DeviceMatch::BuiltIn> {
    std::size_t operator()(const tindlewave::DeviceMatch::BuiltIn&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::DeviceMatch> {
    std::size_t operator()(const tindlewave::DeviceMatch& match) const noexcept {
        return tindlewave::hashVariant(match.value);
    }
};
