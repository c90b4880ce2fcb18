#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/OwnPhys.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

std::string text(const char* value) {
    return value ? std::string(value) : std::string();
}

std::uint32_t hexNumber(const char* value) {
    std::uint32_t number = 0;
    if (value) std::from_chars(value, value + std::strlen(value), number, 16);
    return number;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isBelow(const std::string& path, const std::string& ancestor) {
    return path.size() > ancestor.size() && startsWith(path, ancestor) && path[ancestor.size()] == '/';
}

// A sysfs attribute read whole (binary ones such as report_descriptor included), at most 4096 bytes.
std::vector<std::uint8_t> readAttribute(const std::string& syspath, const char* name) {
    std::vector<std::uint8_t> bytes;
    const UniqueFd fd(::open((syspath + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen()) return bytes;
    std::uint8_t buffer[4096];
    while (bytes.size() < sizeof buffer) {
        auto n = ::read(fd.get(), buffer, sizeof buffer - bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

std::map<std::string, std::string, std::less<>> propertiesOf(udev_device* device) {
    std::map<std::string, std::string, std::less<>> properties;
    for (auto* item = udev_device_get_properties_list_entry(device); item;
         item = udev_list_entry_get_next(item))
        properties.emplace(text(udev_list_entry_get_name(item)), text(udev_list_entry_get_value(item)));
    return properties;
}

LinuxDeviceRegistry::InputFacts inputFacts(udev_device* input) {
    LinuxDeviceRegistry::InputFacts facts;
    facts.syspath = text(udev_device_get_syspath(input));
    facts.sysname = text(udev_device_get_sysname(input));
    facts.name = text(udev_device_get_sysattr_value(input, "name"));
    facts.phys = text(udev_device_get_sysattr_value(input, "phys"));
    facts.uniq = text(udev_device_get_sysattr_value(input, "uniq"));
    facts.bustype = std::uint16_t(hexNumber(udev_device_get_sysattr_value(input, "id/bustype")));
    facts.vendor = std::uint16_t(hexNumber(udev_device_get_sysattr_value(input, "id/vendor")));
    facts.product = std::uint16_t(hexNumber(udev_device_get_sysattr_value(input, "id/product")));
    facts.version = std::uint16_t(hexNumber(udev_device_get_sysattr_value(input, "id/version")));
    return facts;
}

// The USB device above a hid or input device, as its port and ids; none when it is on no USB bus.
std::optional<LinuxDeviceRegistry::UsbPort> usbPortAbove(udev_device* device) {
    auto* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (!usb) return std::nullopt;
    LinuxDeviceRegistry::UsbPort port;
    port.busnum = std::uint32_t(std::atoi(text(udev_device_get_sysattr_value(usb, "busnum")).c_str()));
    port.devpath = text(udev_device_get_sysattr_value(usb, "devpath"));
    port.removable = text(udev_device_get_sysattr_value(usb, "removable"));
    port.vendor = std::uint16_t(hexNumber(udev_device_get_sysattr_value(usb, "idVendor")));
    port.product = std::uint16_t(hexNumber(udev_device_get_sysattr_value(usb, "idProduct")));
    return port;
}

bool isOwnInput(udev_device* input) {
    std::string phys = text(udev_device_get_sysattr_value(input, "phys"));
    return startsWith(phys, ownPhysPrefix);
}

}  // namespace

std::string LinuxDeviceRegistry::Entry::property(std::string_view name) const {
    auto found = properties.find(name);
    return found == properties.end() ? std::string() : found->second;
}

struct LinuxDeviceRegistry::State : std::enable_shared_from_this<LinuxDeviceRegistry::State> {
    template <class Callback>
    struct WatcherOf {
        Executor* executor;
        std::shared_ptr<Callback> callback;
        std::shared_ptr<std::atomic<bool>> live;
    };
    using Watcher = WatcherOf<ChangeCallback>;
    using OwnWatcher = WatcherOf<OwnNodeCallback>;

    std::mutex mutex;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    FdWatch monitorWatch;
    RegistryID nextID = 0x1000;
    std::map<std::string, RegistryID, std::less<>> idBySyspath;
    std::map<RegistryID, Entry> entries;
    std::map<std::uint64_t, Watcher> watchers;
    std::map<std::uint64_t, OwnWatcher> ownWatchers;
    std::uint64_t nextWatcher = 1;
    // Input sysnames of the program's own event nodes udev added, since the last delivery.
    std::vector<std::string> ownAdded;

    ~State() {
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
    }

    // Under the lock. Each returns the changes it made, in order.
    void deviceEvent(udev_device* device, std::string_view action, std::vector<Change>& out);
    void hidrawEvent(udev_device* device, std::string_view action, std::vector<Change>& out);
    void inputEvent(udev_device* device, std::string_view action, std::vector<Change>& out);
    Entry& interfaceFor(udev_device* hid);
    Entry* inputInterfaceFor(udev_device* input);
    void addService(udev_device* event, udev_device* input, RegistryID parent,
                    std::vector<Change>& out);
    void refresh(Entry& entry, udev_device* device);
    void removeInterface(RegistryID id, std::vector<Change>& out);
    void removeService(RegistryID id, std::vector<Change>& out);
    Entry* bySyspath(std::string_view syspath);
    std::vector<RegistryID> servicesOf(RegistryID id) const;

    void enumerate();
    void monitorReadable();
    // Each of `items` to every watcher of `to`, in order, as one job on the watcher's executor.
    template <class Callback, class Item>
    void deliverTo(const std::map<std::uint64_t, WatcherOf<Callback>>& to, const std::vector<Item>& items) {
        if (items.empty()) return;
        // Posted under the lock: once a watch is cancelled (which takes it), nothing more is
        // posted to its executor, which may then go.
        std::lock_guard lock(mutex);
        for (const auto& [id, watcher] : to) {
            watcher.executor->post([callback = watcher.callback, live = watcher.live, items] {
                for (const auto& item : items) {
                    if (!live->load()) return;
                    (*callback)(item);
                }
            });
        }
    }
    // A watcher added to `into` (watchers or ownWatchers) until its subscription ends.
    template <class Callback>
    Subscription add(std::map<std::uint64_t, WatcherOf<Callback>>& into, Executor& executor,
                     Callback callback) {
        auto live = std::make_shared<std::atomic<bool>>(true);
        std::uint64_t id = 0;
        {
            std::lock_guard lock(mutex);
            id = nextWatcher++;
            into.emplace(id, WatcherOf<Callback>{&executor, std::make_shared<Callback>(std::move(callback)), live});
        }
        return subscription(id, std::move(live));
    }
    Subscription subscription(std::uint64_t id, std::shared_ptr<std::atomic<bool>> live);
};

LinuxDeviceRegistry::Entry* LinuxDeviceRegistry::State::bySyspath(std::string_view syspath) {
    auto found = idBySyspath.find(syspath);
    return found == idBySyspath.end() ? nullptr : &entries.at(found->second);
}

std::vector<RegistryID> LinuxDeviceRegistry::State::servicesOf(RegistryID id) const {
    std::vector<RegistryID> services;
    for (const auto& [serviceID, entry] : entries)
        if (entry.parent == id) services.push_back(serviceID);
    return services;
}

void LinuxDeviceRegistry::State::refresh(Entry& entry, udev_device* device) {
    entry.properties = propertiesOf(device);
    if (entry.kind == Kind::eventService || !entry.hid) {
        if (auto* input = entry.kind == Kind::eventService ? udev_device_get_parent(device) : device)
            entry.input = inputFacts(input);
        return;
    }
    entry.driver = text(udev_device_get_driver(device));
    entry.reportDescriptor = readAttribute(entry.syspath, "report_descriptor");
}

LinuxDeviceRegistry::Entry& LinuxDeviceRegistry::State::interfaceFor(udev_device* hid) {
    std::string syspath = text(udev_device_get_syspath(hid));
    if (auto* known = bySyspath(syspath)) return *known;
    Entry entry;
    entry.id = nextID++;
    entry.kind = Kind::interface;
    entry.syspath = syspath;
    entry.hid = true;
    if (auto* above = udev_device_get_parent_with_subsystem_devtype(hid, "hid", nullptr))
        entry.parentHidDriver = text(udev_device_get_driver(above));
    entry.usb = usbPortAbove(hid);
    refresh(entry, hid);
    idBySyspath.emplace(syspath, entry.id);
    return entries.emplace(entry.id, std::move(entry)).first->second;
}

LinuxDeviceRegistry::Entry* LinuxDeviceRegistry::State::inputInterfaceFor(udev_device* input) {
    std::string syspath = text(udev_device_get_syspath(input));
    if (auto* known = bySyspath(syspath)) return known;
    Entry entry;
    entry.id = nextID++;
    entry.kind = Kind::interface;
    entry.syspath = syspath;
    if (auto* port = udev_device_get_parent(input)) entry.driver = text(udev_device_get_driver(port));
    entry.usb = usbPortAbove(input);
    refresh(entry, input);
    idBySyspath.emplace(syspath, entry.id);
    return &entries.emplace(entry.id, std::move(entry)).first->second;
}

void LinuxDeviceRegistry::State::addService(udev_device* event, udev_device* input,
                                            RegistryID parent, std::vector<Change>& out) {
    std::string syspath = text(udev_device_get_syspath(event));
    if (bySyspath(syspath)) return;
    Entry entry;
    entry.id = nextID++;
    entry.kind = Kind::eventService;
    entry.parent = parent;
    entry.syspath = syspath;
    entry.devnode = text(udev_device_get_devnode(event));
    entry.present = true;
    entry.properties = propertiesOf(event);
    entry.input = inputFacts(input);
    idBySyspath.emplace(syspath, entry.id);
    out.push_back({Action::added, entry});
    entries.emplace(entry.id, std::move(entry));
}

void LinuxDeviceRegistry::State::removeService(RegistryID id, std::vector<Change>& out) {
    auto found = entries.find(id);
    if (found == entries.end()) return;
    out.push_back({Action::removed, found->second});
    idBySyspath.erase(found->second.syspath);
    entries.erase(found);
}

void LinuxDeviceRegistry::State::removeInterface(RegistryID id, std::vector<Change>& out) {
    for (RegistryID service : servicesOf(id)) removeService(service, out);
    auto found = entries.find(id);
    if (found == entries.end()) return;
    if (found->second.present) out.push_back({Action::removed, found->second});
    idBySyspath.erase(found->second.syspath);
    entries.erase(found);
}

void LinuxDeviceRegistry::State::hidrawEvent(udev_device* device, std::string_view action,
                                             std::vector<Change>& out) {
    std::string syspath = text(udev_device_get_syspath(device));
    if (action == "remove") {
        // The interface is the hid device whose hidraw node this was.
        for (auto& [id, entry] : entries)
            if (entry.kind == Kind::interface && entry.hid && isBelow(syspath, entry.syspath)) {
                removeInterface(id, out);
                return;
            }
        return;
    }
    auto* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    if (!hid) return;
    Entry& entry = interfaceFor(hid);
    if (action == "change" && entry.present) {
        refresh(entry, hid);
        out.push_back({Action::changed, entry});
        return;
    }
    entry.devnode = text(udev_device_get_devnode(device));
    if (!entry.present && !entry.devnode.empty()) {
        entry.present = true;
        out.push_back({Action::added, entry});
    }
}

void LinuxDeviceRegistry::State::inputEvent(udev_device* device, std::string_view action,
                                            std::vector<Change>& out) {
    std::string syspath = text(udev_device_get_syspath(device));
    std::string sysname = text(udev_device_get_sysname(device));
    bool isEventNode = startsWith(sysname, "event");
    if (action == "remove") {
        // An event node, or an input device: its nodes go, and it goes itself when it is an
        // interface without HID.
        std::vector<RegistryID> gone;
        for (auto& [id, entry] : entries) {
            if (entry.kind == Kind::eventService &&
                (entry.syspath == syspath || isBelow(entry.syspath, syspath)))
                gone.push_back(id);
        }
        for (RegistryID id : gone) {
            if (!entries.contains(id)) continue;
            auto parent = entries.at(id).parent;
            removeService(id, out);
            auto above = parent ? entries.find(*parent) : entries.end();
            if (above != entries.end() && !above->second.hid && servicesOf(*parent).empty())
                removeInterface(*parent, out);
        }
        if (auto* interface = bySyspath(syspath); interface && !interface->hid)
            removeInterface(interface->id, out);
        return;
    }
    if (!isEventNode || !udev_device_get_devnode(device)) return;
    auto* input = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
    if (!input) return;
    if (isOwnInput(input)) {
        if (action == "add") ownAdded.push_back(text(udev_device_get_sysname(input)));
        return;
    }
    if (action == "change") {
        if (auto* known = bySyspath(syspath)) {
            refresh(*known, device);
            out.push_back({Action::changed, *known});
        }
        return;
    }
    if (auto* hid = udev_device_get_parent_with_subsystem_devtype(input, "hid", nullptr)) {
        addService(device, input, interfaceFor(hid).id, out);
        return;
    }
    Entry* interface = inputInterfaceFor(input);
    if (!interface->present) {
        interface->present = true;
        out.push_back({Action::added, *interface});
    }
    addService(device, input, interface->id, out);
}

void LinuxDeviceRegistry::State::deviceEvent(udev_device* device, std::string_view action,
                                             std::vector<Change>& out) {
    std::string_view subsystem = udev_device_get_subsystem(device) ? udev_device_get_subsystem(device) : "";
    if (subsystem == "hidraw") {
        hidrawEvent(device, action, out);
    } else if (subsystem == "input") {
        inputEvent(device, action, out);
    } else if (subsystem == "hid") {
        std::string syspath = text(udev_device_get_syspath(device));
        if (action == "remove") {
            // The device and every hid device below it (a receiver's paired devices).
            std::vector<RegistryID> gone;
            for (auto& [id, entry] : entries)
                if (entry.kind == Kind::interface && entry.hid &&
                    (entry.syspath == syspath || isBelow(entry.syspath, syspath)))
                    gone.push_back(id);
            std::reverse(gone.begin(), gone.end());
            for (RegistryID id : gone) removeInterface(id, out);
        } else if (action == "change") {
            if (auto* known = bySyspath(syspath); known && known->present) {
                refresh(*known, device);
                out.push_back({Action::changed, *known});
            }
        }
    }
}

void LinuxDeviceRegistry::State::enumerate() {
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (!enumerate) return;
    udev_enumerate_add_match_subsystem(enumerate, "hidraw");
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_scan_devices(enumerate);
    std::vector<Change> ignored;
    for (auto* item = udev_enumerate_get_list_entry(enumerate); item;
         item = udev_list_entry_get_next(item)) {
        udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(item));
        if (!device) continue;
        deviceEvent(device, "add", ignored);
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    ownAdded.clear();  // present already, not udev's announcement
}

void LinuxDeviceRegistry::State::monitorReadable() {
    std::vector<Change> changes;
    std::vector<std::string> own;
    {
        std::lock_guard lock(mutex);
        while (udev_device* device = udev_monitor_receive_device(monitor)) {
            deviceEvent(device, text(udev_device_get_action(device)), changes);
            udev_device_unref(device);
        }
        own.swap(ownAdded);
    }
    deliverTo(watchers, changes);
    deliverTo(ownWatchers, own);
}

LinuxDeviceRegistry::LinuxDeviceRegistry() : state_(std::make_shared<State>()) {
    std::lock_guard lock(state_->mutex);
    state_->context = udev_new();
    if (state_->context) state_->enumerate();
}

LinuxDeviceRegistry::LinuxDeviceRegistry(Executor& monitorExecutor)
    : state_(std::make_shared<State>()) {
    std::lock_guard lock(state_->mutex);
    State& state = *state_;
    state.context = udev_new();
    if (!state.context) return;
    // The monitor listens before the enumeration, so nothing falls between them; an "add" of a
    // device the enumeration found already changes nothing.
    if (auto* registrar = FdRegistrar::of(monitorExecutor)) {
        state.monitor = udev_monitor_new_from_netlink(state.context, "udev");
        if (state.monitor) {
            for (const char* subsystem : {"hid", "hidraw", "input"})
                udev_monitor_filter_add_match_subsystem_devtype(state.monitor, subsystem, nullptr);
            if (udev_monitor_enable_receiving(state.monitor) == 0) {
                std::weak_ptr<State> weak = state_;
                state.monitorWatch = registrar->addFd(
                    udev_monitor_get_fd(state.monitor), EPOLLIN, [weak](std::uint32_t) {
                        if (auto locked = weak.lock()) locked->monitorReadable();
                    });
            }
            if (!state.monitorWatch.isArmed()) {
                udev_monitor_unref(state.monitor);
                state.monitor = nullptr;
            }
        }
    }
    state.enumerate();
}

LinuxDeviceRegistry::~LinuxDeviceRegistry() {
    state_->monitorWatch.cancel();
}

bool LinuxDeviceRegistry::followsHotplug() const {
    std::lock_guard lock(state_->mutex);
    return state_->monitor != nullptr;
}

bool LinuxDeviceRegistry::announces() const {
    return followsHotplug() && ::access("/run/udev/control", F_OK) == 0;
}

std::vector<LinuxDeviceRegistry::Entry> LinuxDeviceRegistry::entries() const {
    std::lock_guard lock(state_->mutex);
    std::vector<Entry> all;
    for (const auto& [id, entry] : state_->entries) all.push_back(entry);
    return all;
}

std::optional<LinuxDeviceRegistry::Entry> LinuxDeviceRegistry::entry(RegistryID id) const {
    std::lock_guard lock(state_->mutex);
    auto found = state_->entries.find(id);
    if (found == state_->entries.end()) return std::nullopt;
    return found->second;
}

std::optional<RegistryID> LinuxDeviceRegistry::parent(RegistryID id) const {
    std::lock_guard lock(state_->mutex);
    auto found = state_->entries.find(id);
    if (found == state_->entries.end()) return std::nullopt;
    return found->second.parent;
}

std::optional<std::vector<RegistryID>> LinuxDeviceRegistry::descendants(RegistryID id) const {
    std::lock_guard lock(state_->mutex);
    if (!state_->entries.contains(id)) return std::nullopt;
    return state_->servicesOf(id);
}

bool LinuxDeviceRegistry::conformsTo(RegistryID id, std::string_view className) const {
    std::lock_guard lock(state_->mutex);
    auto found = state_->entries.find(id);
    if (found == state_->entries.end()) return false;
    return className == (found->second.kind == Kind::eventService ? eventServiceClass
                                                                   : interfaceClass);
}

Subscription LinuxDeviceRegistry::watch(Executor& executor, ChangeCallback callback) {
    return state_->add(state_->watchers, executor, std::move(callback));
}

Subscription LinuxDeviceRegistry::watchOwnNodes(Executor& executor, OwnNodeCallback callback) {
    return state_->add(state_->ownWatchers, executor, std::move(callback));
}

Subscription LinuxDeviceRegistry::State::subscription(std::uint64_t id,
                                                      std::shared_ptr<std::atomic<bool>> live) {
    std::weak_ptr<State> weak = shared_from_this();
    return Subscription([weak, id, live = std::move(live)] {
        live->store(false);
        if (auto state = weak.lock()) {
            std::lock_guard lock(state->mutex);
            state->watchers.erase(id);
            state->ownWatchers.erase(id);
        }
    });
}

}  // namespace tindlewave
