#include "Runtime/Devices/DeviceHub.h"

#include <algorithm>

#include "Platform/Executor.h"

namespace tindlewave {

const std::vector<PropertyBag>& DeviceHub::matching() {
    static const std::vector<PropertyBag> dictionaries = {
        {{"PrimaryUsagePage", 1}, {"PrimaryUsage", 6}},
        {{"DeviceUsagePage", 1}, {"DeviceUsage", 2}},
        {{"VendorID", 0x046D}, {"DeviceUsagePage", 0xFF43}},
    };
    return dictionaries;
}

const std::vector<const char*>& DeviceHub::propertyNames() {
    static const std::vector<const char*> names = {
        "VendorID", "ProductID",        "Built-In",     "Transport",        "LocationID",
        "Product",  "PrimaryUsagePage", "PrimaryUsage", "DeviceUsagePairs",
    };
    return names;
}

DeviceHub::DeviceHub(HIDSystem& system, Executor& executor, ChangeHandler onEvent)
    : system_(system), executor_(executor), onEvent_(std::move(onEvent)) {}

DeviceHub::~DeviceHub() {
    servicePort_.reset();
    if (manager_) {
        manager_->registerDeviceMatchingCallback(nullptr);
        manager_->registerDeviceRemovalCallback(nullptr);
        manager_->unschedule();
    }
}

std::vector<PresentDevice> DeviceHub::start() {
    if (manager_) return roster_.devices();
    manager_ = system_.makeManager();
    manager_->setDeviceMatching(matching());
    for (const auto& device : manager_->copyDevices().value_or(std::vector<HIDDeviceRef>{})) {
        interfaceArrived(device, /*report=*/false);
    }
    manager_->registerDeviceMatchingCallback(
        [this](const HIDDeviceRef& device) { interfaceArrived(device, /*report=*/true); });
    manager_->registerDeviceRemovalCallback(
        [this](const HIDDeviceRef& device) { interfaceRemoved(device); });
    manager_->schedule(executor_);

    auto watch = system_.watchPublished(
        eventServiceClass, executor_,
        [this](const std::vector<RegistryID>& services) { servicesPublished(services); });
    if (watch) {
        servicePort_ = std::move(watch->handle);
        servicesPublished(watch->present);
    }
    return roster_.devices();
}

HIDDeviceRef DeviceHub::hidppInterface(DeviceInstanceID id) const {
    for (const auto& device : roster_.devices()) {
        if (device.id != id) continue;
        const auto found = hidppInterfaces_.find(device.key);
        return found == hidppInterfaces_.end() ? nullptr : found->second;
    }
    return nullptr;
}

void DeviceHub::interfaceArrived(const HIDDeviceRef& device, bool report) {
    if (!device) return;
    const RegistryID id = device->registryID();
    if (roster_.tracks(id)) return;

    PropertyBag bag;
    for (const char* name : propertyNames()) {
        if (auto value = device->property(name)) bag.emplace(name, std::move(*value));
    }
    const HIDProperties properties = HIDProperties::fromBag(bag);

    // The first HID++ interface of a device is the one its reports go to.
    bool gainedHIDPP = false;
    if (isHIDPPDevice(properties) &&
        !hidppInterfaces_.contains(properties.key())) {
        hidppInterfaces_.emplace(properties.key(), device);
        gainedHIDPP = true;
    }

    auto change = roster_.interfaceAppeared(id, properties, servicesBelow(id));
    // A present device that gains its HID++ interface changed, even with nothing else new: only
    // then can its slot take the interface.
    if (!change && gainedHIDPP) {
        for (const auto& present : roster_.devices()) {
            if (present.key == properties.key()) change = DeviceRoster::Change::changed(present);
        }
    }
    if (report) emit(change);
}

void DeviceHub::interfaceRemoved(const HIDDeviceRef& device) {
    if (!device) return;
    const auto change = roster_.interfaceRemoved(device->registryID());
    if (!change) return;
    if (is<DeviceRoster::Change::Disappeared>(*change)) {
        hidppInterfaces_.erase(change->device().key);
    }
    emit(change);
}

void DeviceHub::servicesPublished(const std::vector<RegistryID>& services) {
    for (RegistryID service : services) {
        // Adopted into the nearest ancestor that is a known interface.
        for (auto ancestor = system_.parent(service); ancestor; ancestor = system_.parent(*ancestor)) {
            const auto known = roster_.keyOfInterface().find(*ancestor);
            if (known == roster_.keyOfInterface().end()) continue;
            emit(roster_.adopt({SenderID{service}}, known->second));
            break;
        }
    }
}

std::vector<SenderID> DeviceHub::servicesBelow(RegistryID interface) const {
    std::vector<SenderID> services;
    const auto below = system_.descendants(interface);
    if (!below) return services;
    for (RegistryID entry : *below) {
        if (system_.conformsTo(entry, eventServiceClass)) services.push_back(SenderID{entry});
    }
    return services;
}

void DeviceHub::emit(const std::optional<DeviceRoster::Change>& change) {
    if (change && onEvent_) onEvent_(*change);
}

}  // namespace tindlewave
