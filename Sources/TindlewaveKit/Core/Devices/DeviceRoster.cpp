#include "Core/Devices/DeviceRoster.h"

#include <algorithm>

namespace tindlewave {

namespace {

// Appends the services that `list` does not hold yet, in the given order. A service named twice
// in one publication is learnt once.
void appendNew(std::vector<SenderID>& list, const std::vector<SenderID>& services) {
    for (SenderID service : services) {
        if (std::find(list.begin(), list.end(), service) == list.end()) list.push_back(service);
    }
}

}  // namespace

const PresentDevice& DeviceRoster::Change::device() const {
    return std::visit([](const auto& change) -> const PresentDevice& { return change.device; },
                      value);
}

std::optional<DeviceRoster::Change> DeviceRoster::interfaceAppeared(
    InterfaceID interface, const HIDProperties& properties, const std::vector<SenderID>& services) {
    if (keyOfInterface_.contains(interface)) return std::nullopt;
    if (properties.hasUsage(usages::touchPad)) return std::nullopt;

    const DeviceKey key = properties.key();
    keyOfInterface_.emplace(interface, key);

    if (auto found = entries_.find(key); found != entries_.end()) {
        Entry& entry = found->second;
        entry.interfaces.insert(interface);
        // The first interface represents the device until a primary keyboard interface comes.
        const bool replaced = properties.primaryPair() == usages::keyboard &&
                              entry.device.properties.primaryPair() != usages::keyboard;
        if (replaced) entry.device.properties = properties;
        if (auto change = adopt(services, key)) return change;
        if (replaced) return Change::changed(entry.device);
        return std::nullopt;
    }

    PresentDevice device{DeviceInstanceID{nextID_++}, key, properties, {}, std::nullopt};
    appendNew(device.eventServices, services);
    entries_.emplace(key, Entry{device, {interface}});
    return Change::appeared(std::move(device));
}

std::optional<DeviceRoster::Change> DeviceRoster::adopt(const std::vector<SenderID>& services,
                                                        const DeviceKey& key) {
    const auto found = entries_.find(key);
    if (found == entries_.end()) return std::nullopt;
    std::vector<SenderID>& known = found->second.device.eventServices;
    const std::size_t before = known.size();
    appendNew(known, services);
    if (known.size() == before) return std::nullopt;
    return Change::changed(found->second.device);
}

std::optional<DeviceRoster::Change> DeviceRoster::interfaceRemoved(InterfaceID interface) {
    const auto mapped = keyOfInterface_.find(interface);
    if (mapped == keyOfInterface_.end()) return std::nullopt;
    const DeviceKey key = mapped->second;
    keyOfInterface_.erase(mapped);

    const auto found = entries_.find(key);
    if (found == entries_.end()) return std::nullopt;
    found->second.interfaces.erase(interface);
    if (!found->second.interfaces.empty()) return std::nullopt;

    PresentDevice device = std::move(found->second.device);
    entries_.erase(found);
    return Change::disappeared(std::move(device));
}

std::vector<PresentDevice> DeviceRoster::devices() const {
    std::vector<PresentDevice> list;
    list.reserve(entries_.size());
    for (const auto& entry : entries_) list.push_back(entry.second.device);
    std::sort(list.begin(), list.end(),
              [](const PresentDevice& a, const PresentDevice& b) { return a.id < b.id; });
    return list;
}

}  // namespace tindlewave
