#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// Groups the HID interfaces that the hub sees into present devices, each with an id for this
// connection and the event services found under it. Owned by the device hub, used on its thread.
class DeviceRoster {
  public:
    using InterfaceID = std::uint64_t;  // registry entry id of a HID interface's service

    // What a roster operation did to the list of present devices. Each case carries the device
    // after the change; `disappeared` carries it as it was just before its removal.
    struct Change {
        struct Appeared {
            PresentDevice device;
            bool operator==(const Appeared&) const = default;
        };
        struct Changed {
            PresentDevice device;
            bool operator==(const Changed&) const = default;
        };
        struct Disappeared {
            PresentDevice device;
            bool operator==(const Disappeared&) const = default;
        };
        std::variant<Appeared, Changed, Disappeared> value;

        static Change appeared(PresentDevice device) { return {Appeared{std::move(device)}}; }
        static Change changed(PresentDevice device) { return {Changed{std::move(device)}}; }
        static Change disappeared(PresentDevice device) { return {Disappeared{std::move(device)}}; }

        const PresentDevice& device() const;

        bool operator==(const Change&) const = default;
    };

    // `nextID` is the number of the first device's id.
    explicit DeviceRoster(std::uint64_t nextID = 1) : nextID_(nextID) {}

    // A HID interface appeared with its properties and the event services found under it.
    // Touch pads never join; an interface that is already known changes nothing.
    std::optional<Change> interfaceAppeared(InterfaceID interface, const HIDProperties& properties,
                                            const std::vector<SenderID>& services);

    // Event services published under a known device; the ones it already has are skipped.
    std::optional<Change> adopt(const std::vector<SenderID>& services, const DeviceKey& key);

    // A HID interface went away; the device disappears with its last interface.
    std::optional<Change> interfaceRemoved(InterfaceID interface);

    bool tracks(InterfaceID interface) const { return keyOfInterface_.contains(interface); }

    // The device key a known interface belongs to.
    const std::unordered_map<InterfaceID, DeviceKey>& keyOfInterface() const {
        return keyOfInterface_;
    }

    // The present devices in the order they first appeared (ascending id).
    std::vector<PresentDevice> devices() const;

    std::uint64_t nextID() const { return nextID_; }

  private:
    struct Entry {
        PresentDevice device;
        std::unordered_set<InterfaceID> interfaces;
    };

    std::unordered_map<DeviceKey, Entry> entries_;
    std::unordered_map<InterfaceID, DeviceKey> keyOfInterface_;
    std::uint64_t nextID_;
};

}  // namespace tindlewave
