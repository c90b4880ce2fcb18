#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Cancellable.h"
#include "Platform/HIDSystem.h"

namespace tindlewave {

class Executor;

// The input devices of this machine as one registry, read from udev: shared by the HID system and
// the event system (and whatever else lists devices), safe to call from any thread.
//
// Entries:
// - an *interface*: each hid device (0003:046D:4082.0004) that has a hidraw node or an event node
//   below it; for input devices without HID (a PS/2 keyboard or touch pad) the input device
//   (input7) itself. Its parent is the root (none).
// - an *event service*: each input/event<N> node, whose parent is the interface above it (the
//   input<N> level between them is skipped). Event services conform to `eventServiceClass`.
// Input devices of the program's own (phys starting with `ownPhysPrefix`, OwnPhys.h) and their nodes never
// enter; udev's "add" of their event nodes goes to `watchOwnNodes`. Registry ids are handed out per sysfs path and never reused in one process: a device
// that leaves and comes back is a new entry.
//
// An interface is *present* once it can be used: a hid device with its hidraw node, an input
// device without HID with its event node. Hot-plug comes from one udev monitor whose descriptor
// is read on the executor given at construction; each change updates the registry first, then
// goes to every watcher as a job of the watcher's executor.
class LinuxDeviceRegistry {
  public:
    enum class Kind { interface, eventService };

    // What the registry learnt of one input device (event services and interfaces without HID).
    struct InputFacts {
        std::string syspath;  // of the input<N> device
        std::string sysname;  // "input12"
        std::string name, phys, uniq;
        std::uint16_t bustype = 0, vendor = 0, product = 0, version = 0;
        bool operator==(const InputFacts&) const = default;
    };
    // The USB device an interface sits below.
    struct UsbPort {
        std::uint32_t busnum = 0;
        std::string devpath;  // "2", "1.4" (ports from the root hub)
        std::string removable;  // "removable", "fixed", "unknown" or empty
        std::uint16_t vendor = 0, product = 0;
        bool operator==(const UsbPort&) const = default;
    };

    struct Entry {
        RegistryID id = 0;
        Kind kind = Kind::interface;
        std::optional<RegistryID> parent;
        std::string syspath;  // the hid device, the input device without HID, the event node
        std::string devnode;  // hidraw node of a hid interface, event node of a service, or empty
        std::string driver;   // bound driver of a hid device (or of the serio port above input)
        std::map<std::string, std::string, std::less<>> properties;  // udev properties
        bool present = false;  // interfaces: usable (see above); services: always

        // Interfaces that are hid devices:
        bool hid = false;
        std::string parentHidDriver;  // driver of a hid device above (a receiver's)
        std::optional<UsbPort> usb;
        std::vector<std::uint8_t> reportDescriptor;  // sysfs report_descriptor
        // Event services, and interfaces without HID:
        std::optional<InputFacts> input;

        std::string property(std::string_view name) const;
        bool operator==(const Entry&) const = default;
    };

    enum class Action { added, changed, removed };
    // An interface is `added` when it becomes present and `removed` when it stops being; an event
    // service `added` when its node appears. `changed` follows a udev "change" of the device.
    // Removing an interface removes its event services first (each reported).
    struct Change {
        Action action = Action::added;
        Entry entry;
    };
    using ChangeCallback = std::function<void(const Change&)>;

    // Enumerates the devices present and follows udev on `monitorExecutor`'s descriptors (an
    // executor without descriptor watches, or a udev failure, gives a registry without hot-plug;
    // see `followsHotplug`).
    explicit LinuxDeviceRegistry(Executor& monitorExecutor);
    // Enumerates once and follows nothing (a one-shot listing).
    LinuxDeviceRegistry();
    ~LinuxDeviceRegistry();
    LinuxDeviceRegistry(const LinuxDeviceRegistry&) = delete;
    LinuxDeviceRegistry& operator=(const LinuxDeviceRegistry&) = delete;

    bool followsHotplug() const;
    // Whether udev announces devices here as they come (`watch`, `watchOwnNodes`): it follows
    // hot-plug and udevd runs (its control socket is there). A machine without udevd (a container,
    // an early boot) announces nothing.
    bool announces() const;

    // Every entry (interfaces present or not, and services), sorted by id.
    std::vector<Entry> entries() const;
    std::optional<Entry> entry(RegistryID id) const;
    std::optional<RegistryID> parent(RegistryID id) const;
    // The entries below one, depth first; absent for an unknown entry.
    std::optional<std::vector<RegistryID>> descendants(RegistryID id) const;
    // `eventServiceClass` for event services; "IOHIDDevice" for interfaces.
    bool conformsTo(RegistryID id, std::string_view className) const;

    // Calls `callback` as a job of `executor` for each change after this call. Cancelling on
    // that executor stops the callbacks at once, queued ones included.
    Subscription watch(Executor& executor, ChangeCallback callback);
    // Calls `callback` as a job of `executor` with the input device's sysname ("input42") for each
    // udev "add" of an event node of the program's own input devices after this call (they never
    // enter): udev has announced the node, and a desktop following udev opens it now.
    using OwnNodeCallback = std::function<void(const std::string& inputSysname)>;
    Subscription watchOwnNodes(Executor& executor, OwnNodeCallback callback);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// The class name of interface entries.
inline constexpr std::string_view interfaceClass = "IOHIDDevice";

}  // namespace tindlewave
