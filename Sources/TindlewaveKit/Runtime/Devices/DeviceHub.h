#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Core/Devices/DeviceRoster.h"
#include "Platform/Cancellable.h"
#include "Platform/HIDSystem.h"

namespace tindlewave {

class Executor;

// Finds the keyboards and mice that are connected and follows them as they come and go: it asks
// the HID system for every interface that is a keyboard, a mouse or a HID++ interface, groups
// interfaces into devices with a `DeviceRoster`, collects the event services below each device
// (their ids are the sender ids of its events) and keeps, per device, the interface that HID++
// reports go to. Every roster change goes to one handler.
//
// Lives on the HID executor: `start()`, `hidppInterface` and the handler all run there. Nothing
// is touched before `start()`; no failure of the HID system reaches the user (a failed copy means
// no devices yet, a failed registry walk no services for that interface, a failed notification
// no later-published services). Destroying the hub unregisters its callbacks and its
// notification, so none reaches it afterwards.
class DeviceHub {
  public:
    using ChangeHandler = std::function<void(const DeviceRoster::Change&)>;

    // The interfaces the hub asks for, in order: keyboards, anything with a mouse collection,
    // HID++ interfaces.
    static const std::vector<PropertyBag>& matching();
    // The properties read from each interface, in order.
    static const std::vector<const char*>& propertyNames();

    DeviceHub(HIDSystem& system, Executor& executor, ChangeHandler onEvent);
    ~DeviceHub();
    DeviceHub(const DeviceHub&) = delete;
    DeviceHub& operator=(const DeviceHub&) = delete;

    // The first call starts discovery: the interfaces present now join without any change being
    // reported, callbacks are registered and scheduled, event services watched. Every call
    // returns the present devices, sorted by id.
    std::vector<PresentDevice> start();

    // The HID++ interface of a present device, or null (not present, or none). A device whose
    // HID++ interface arrives after its first interface gets a `changed` when it does.
    HIDDeviceRef hidppInterface(DeviceInstanceID id) const;

    const DeviceRoster& roster() const { return roster_; }
    bool isStarted() const { return manager_ != nullptr; }

  private:
    void interfaceArrived(const HIDDeviceRef& device, bool report);
    void interfaceRemoved(const HIDDeviceRef& device);
    void servicesPublished(const std::vector<RegistryID>& services);
    std::vector<SenderID> servicesBelow(RegistryID interface) const;
    void emit(const std::optional<DeviceRoster::Change>& change);

    HIDSystem& system_;
    Executor& executor_;
    ChangeHandler onEvent_;
    std::unique_ptr<HIDManager> manager_;
    DeviceRoster roster_{1};
    std::unordered_map<DeviceKey, HIDDeviceRef> hidppInterfaces_;
    std::optional<Cancellable> servicePort_;
};

}  // namespace tindlewave
