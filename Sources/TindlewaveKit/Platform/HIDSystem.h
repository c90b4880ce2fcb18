#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "Core/Devices/PropertyBag.h"
#include "Platform/Cancellable.h"

namespace tindlewave {

class Executor;

// The desktop's HID services as the device hub and the HID++ sessions use them: a manager that
// finds interfaces by their properties and follows them, the interfaces themselves (open, input
// reports, output reports), and the registry in which interfaces and their event services sit.
// Callbacks arrive as jobs of the executor the manager is scheduled on; an interface found by a
// manager delivers its input reports there too. Nothing here says how devices are reached: the
// simulated world (Platform/Simulated) and a system implementation stand behind the same calls.

// The 32-bit result of a HID call: 0 is success.
using HIDResult = std::int32_t;
inline constexpr HIDResult hidSuccess = 0;
// The caller may not open the device (the Input Monitoring permission is missing).
inline constexpr HIDResult hidNotPermitted = static_cast<HIDResult>(0xE00002E2u);
// The device is gone (unplugged, or its node no longer exists).
inline constexpr HIDResult hidNoDevice = static_cast<HIDResult>(0xE00002C0u);
// Any other failure.
inline constexpr HIDResult hidFailure = static_cast<HIDResult>(0xE00002BCu);

enum class HIDReportType : std::uint8_t { input = 0, output = 1, feature = 2 };

// The id of an entry of the registry: a HID interface's service or an event service.
using RegistryID = std::uint64_t;

// One HID interface. Shared by whoever holds it (the hub keeps the HID++ interface of a device, a
// session keeps the interface it opened). Used on the executor its manager is scheduled on.
class HIDDevice {
  public:
    // One input report: its id and the bytes delivered (byte 0 is the id), cut to the buffer size
    // given at registration.
    using InputReportCallback =
        std::function<void(std::uint8_t reportID, std::span<const std::uint8_t> report)>;

    virtual ~HIDDevice() = default;

    // The registry id of the interface's service.
    virtual RegistryID registryID() const = 0;
    // A property by name ("VendorID", "MaxInputReportSize", …), absent when the device lacks it.
    virtual std::optional<PropertyValue> property(std::string_view name) const = 0;

    // Opens the interface for reports (no options, not seized).
    virtual HIDResult open() = 0;
    // Input reports of up to `bufferSize` bytes go to `callback` until it is unregistered (or
    // replaced); none is delivered after unregistering, even one already on its way.
    virtual void registerInputReportCallback(std::size_t bufferSize,
                                             InputReportCallback callback) = 0;
    virtual void unregisterInputReportCallback() = 0;
    // Sends one report of the given type; `bytes` includes the report id as byte 0.
    virtual HIDResult setReport(HIDReportType type, std::uint8_t reportID,
                                std::span<const std::uint8_t> bytes) = 0;
    virtual void close() = 0;
};

using HIDDeviceRef = std::shared_ptr<HIDDevice>;

// Finds the interfaces that match any of a list of property maps and reports them as they come
// and go. Never opens or seizes them.
class HIDManager {
  public:
    using DeviceCallback = std::function<void(const HIDDeviceRef&)>;

    virtual ~HIDManager() = default;

    // An interface matches when it has every property of at least one map, with equal values.
    // "DeviceUsagePage"/"DeviceUsage" match any of the interface's usage pairs.
    virtual void setDeviceMatching(std::vector<PropertyBag> matching) = 0;
    // The interfaces that match now, in no promised order; absent when the copy fails.
    virtual std::optional<std::vector<HIDDeviceRef>> copyDevices() = 0;
    // Called for each interface that comes to match (and, once scheduled, for those that already
    // match) and for each matching interface that goes away. An empty function unregisters.
    virtual void registerDeviceMatchingCallback(DeviceCallback callback) = 0;
    virtual void registerDeviceRemovalCallback(DeviceCallback callback) = 0;
    // Delivers the callbacks (and the interfaces' input reports) as jobs of `executor`.
    virtual void schedule(Executor& executor) = 0;
    // No callback is delivered after this returns (on the scheduled executor).
    virtual void unschedule() = 0;
};

// The system's HID services: managers and the registry.
class HIDSystem {
  public:
    // Registry entries of a class that were published: the ones present when the watch started,
    // then each later one through the callback.
    struct PublishedWatch {
        std::vector<RegistryID> present;
        Cancellable handle;  // ends the watch
    };
    using PublishedCallback = std::function<void(const std::vector<RegistryID>&)>;

    virtual ~HIDSystem() = default;

    virtual std::unique_ptr<HIDManager> makeManager() = 0;

    // Every entry below `entry`, depth first in iteration order; absent when the iterator cannot
    // be made.
    virtual std::optional<std::vector<RegistryID>> descendants(RegistryID entry) const = 0;
    virtual bool conformsTo(RegistryID entry, std::string_view className) const = 0;
    // The parent of an entry; absent at the root or for an unknown entry.
    virtual std::optional<RegistryID> parent(RegistryID entry) const = 0;
    // Watches for entries of a class being published, with callbacks as jobs of `executor`;
    // absent when the notification cannot be made.
    virtual std::optional<PublishedWatch> watchPublished(std::string_view className,
                                                         Executor& executor,
                                                         PublishedCallback callback) = 0;
};

// The class name of the registry entries whose ids are the sender ids of a device's events.
inline constexpr std::string_view eventServiceClass = "IOHIDEventService";

}  // namespace tindlewave
