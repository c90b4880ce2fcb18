#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/Devices/DeviceIDs.h"
#include "Core/Devices/PropertyBag.h"
#include "Model/Capabilities.h"
#include "Model/Config.h"
#include "Model/Identifiers.h"

namespace tindlewave {

// One top-level HID usage of an interface.
struct UsagePair {
    std::int64_t page = 0;
    std::int64_t usage = 0;

    bool operator==(const UsagePair&) const = default;
};

// The identity of one physical device across its HID interfaces: two interfaces belong to the
// same device exactly when their keys are equal.
struct DeviceKey {
    VendorID vendor;
    ProductID product;
    bool builtIn = false;
    std::optional<std::uint32_t> locationID;
    std::optional<std::string> transport;

    bool operator==(const DeviceKey&) const = default;
};

// The properties of one HID interface. Equality over every field tells a real property change
// of a device from a change of its event services only.
struct HIDProperties {
    VendorID vendor;
    ProductID product;
    bool builtIn = false;
    std::optional<std::string> transport;
    std::optional<std::uint32_t> locationID;
    std::optional<std::string> name;
    std::int64_t primaryUsagePage = 0;
    std::int64_t primaryUsage = 0;
    std::vector<UsagePair> usagePairs;  // never empty once read from a bag

    // Reads a property bag. Missing or mistyped numbers read 0 (a boolean counts as 0 or 1),
    // ids keep their low 16 bits, and without usable usage pairs the primary pair stands alone.
    static HIDProperties fromBag(const PropertyBag& bag);

    // Keyboard or mouse, as the interface's collections say.
    DeviceKind kind() const;

    // The identity of the device this interface belongs to.
    DeviceKey key() const;

    UsagePair primaryPair() const { return {primaryUsagePage, primaryUsage}; }
    bool hasUsage(UsagePair pair) const;

    bool operator==(const HIDProperties&) const = default;
};

namespace usages {
inline constexpr UsagePair keyboard{1, 6};
inline constexpr UsagePair mouse{1, 2};
inline constexpr UsagePair touchPad{0x0D, 0x05};
// The page of the HID++ vendor collection.
inline constexpr std::int64_t hidppPage = 0xFF43;
}  // namespace usages

// Whether an interface speaks HID++: the HID++ vendor's device with a collection on the HID++
// page.
bool isHIDPPDevice(const HIDProperties& properties);

// A connected device as the device hub sees it.
struct PresentDevice {
    DeviceInstanceID id;
    DeviceKey key;
    HIDProperties properties;                // of the interface that represents the device
    std::vector<SenderID> eventServices;     // in the order they were learnt
    std::optional<HIDPPCapabilities> hidpp;  // filled by the engine, never by the roster
    // The hub holds a HID++ interface for the device (which need not be the representative
    // one); filled by the engine from the hub, never by the roster.
    bool hasHIDPPInterface = false;

    bool operator==(const PresentDevice&) const = default;
};

// Whether a present device speaks HID++: its representative interface says so, or the hub found
// a HID++ interface among its others.
bool speaksHIDPP(const PresentDevice& device);

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::UsagePair> {
    std::size_t operator()(const tindlewave::UsagePair& pair) const noexcept;
};

template <>
struct std::hash<tindlewave::DeviceKey> {
    std::size_t operator()(const tindlewave::DeviceKey& key) const noexcept;
};
