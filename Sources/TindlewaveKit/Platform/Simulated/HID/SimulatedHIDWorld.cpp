#include "Platform/Simulated/HID/SimulatedHIDWorld.h"

#include <algorithm>
#include <set>

#include "Core/Devices/PropertyMatching.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"

namespace tindlewave {

namespace {

constexpr const char* interfaceClass = "IOHIDDevice";
constexpr const char* driverClass = "IOHIDInterface";

}  // namespace

// What a manager made by the world holds. The world keeps it weakly and reads it on the executor.
struct SimulatedHIDWorld::ManagerState {
    std::vector<PropertyBag> matching;
    HIDManager::DeviceCallback onMatch;
    HIDManager::DeviceCallback onRemove;
    Executor* executor = nullptr;
};

class SimulatedHIDWorld::Manager final : public HIDManager {
  public:
    Manager(SimulatedHIDWorld& world, std::shared_ptr<ManagerState> state)
        : world_(world), alive_(world.alive_), state_(std::move(state)) {}
    ~Manager() override { unschedule(); }

    void setDeviceMatching(std::vector<PropertyBag> matching) override {
        state_->matching = std::move(matching);
    }
    std::optional<std::vector<HIDDeviceRef>> copyDevices() override {
        if (alive_.expired() || world_.faults.copyFails) return std::nullopt;
        std::vector<HIDDeviceRef> devices;
        for (const auto& [id, interface] : world_.interfaces_) {
            if (matchesAny(interface->properties(), state_->matching)) devices.push_back(interface);
        }
        return devices;
    }
    void registerDeviceMatchingCallback(DeviceCallback callback) override {
        state_->onMatch = std::move(callback);
    }
    void registerDeviceRemovalCallback(DeviceCallback callback) override {
        state_->onRemove = std::move(callback);
    }
    void schedule(Executor& executor) override {
        state_->executor = &executor;
        if (alive_.expired()) return;
        // Like the system, a newly scheduled manager is told of the interfaces that match now.
        for (const auto& [id, interface] : world_.interfaces_) {
            if (matchesAny(interface->properties(), state_->matching)) {
                deliver(state_, interface, /*removal=*/false);
            }
        }
    }
    void unschedule() override {
        state_->executor = nullptr;
        state_->onMatch = nullptr;
        state_->onRemove = nullptr;
    }

    // Posts one callback; it is dropped when the manager is unscheduled before it runs.
    static void deliver(const std::shared_ptr<ManagerState>& state, HIDDeviceRef device,
                        bool removal) {
        if (state->executor == nullptr) return;
        std::weak_ptr<ManagerState> weak = state;
        state->executor->post([weak, device = std::move(device), removal] {
            const auto alive = weak.lock();
            if (!alive || alive->executor == nullptr) return;
            const auto callback = removal ? alive->onRemove : alive->onMatch;
            if (callback) callback(device);
        });
    }

  private:
    SimulatedHIDWorld& world_;
    std::weak_ptr<bool> alive_;
    std::shared_ptr<ManagerState> state_;
};

SimulatedHIDWorld::SimulatedHIDWorld(Executor& executor, PermissionGrants& grants,
                                     const SimulatedHidutilState* hidutil)
    : executor_(executor), grants_(grants), hidutil_(hidutil) {
    registry_[root_] = Entry{std::nullopt, "IORegistryEntry", {}};
}

SimulatedHIDWorld::~SimulatedHIDWorld() {
    for (const auto& [id, interface] : interfaces_) {
        interface->detached();
        if (hidutil_ != nullptr) hidutil_->removeService(id);
    }
}

template <class F>
void SimulatedHIDWorld::onExecutor(F job) {
    std::weak_ptr<bool> alive = alive_;
    executor_.post([alive, job = std::move(job)]() mutable {
        if (alive.lock()) job();
    });
}

SimulatedHIDWorld::Attached SimulatedHIDWorld::attach(SimulatedDevice device,
                                                      Publication publication) {
    Attached attached;
    std::vector<RegistryID> drivers;
    for (const auto& interface : device.interfaces) {
        attached.interfaces.push_back(nextID_++);
        drivers.push_back(nextID_++);
        std::vector<RegistryID> services;
        for (int i = 0; i < interface.eventServices; ++i) services.push_back(nextID_++);
        attached.services.push_back(std::move(services));
    }
    onExecutor([this, device = std::move(device), attached, drivers, publication] {
        for (std::size_t i = 0; i < device.interfaces.size(); ++i) {
            insert(device, device.interfaces[i], attached.interfaces[i], drivers[i],
                   attached.services[i], publication);
        }
    });
    return attached;
}

void SimulatedHIDWorld::detach(RegistryID interface) {
    onExecutor([this, interface] { remove(interface); });
}

void SimulatedHIDWorld::detach(const Attached& device) {
    for (RegistryID interface : device.interfaces) detach(interface);
}

void SimulatedHIDWorld::publishServices(RegistryID interface) {
    onExecutor([this, interface] {
        const auto held = heldServices_.find(interface);
        if (held == heldServices_.end()) return;
        const auto services = std::move(held->second);
        heldServices_.erase(held);
        if (interfaces_.contains(interface)) publish(interface, services);
    });
}

void SimulatedHIDWorld::act(RegistryID interface,
                            std::function<void(VirtualHidppMouse&, Instant)> action) {
    onExecutor([this, interface, action = std::move(action)] {
        auto* simulated = this->interface(interface);
        if (simulated == nullptr || simulated->mouse() == nullptr) return;
        action(*simulated->mouse(), executor_.clock().now());
        simulated->rearm();
    });
}

SimulatedHIDInterface* SimulatedHIDWorld::interface(RegistryID id) {
    const auto found = interfaces_.find(id);
    return found == interfaces_.end() ? nullptr : found->second.get();
}

VirtualHidppMouse* SimulatedHIDWorld::mouse(RegistryID id) {
    auto* simulated = interface(id);
    return simulated == nullptr ? nullptr : simulated->mouse();
}

void SimulatedHIDWorld::insert(const SimulatedDevice& device, const SimulatedInterface& spec,
                               RegistryID id, RegistryID driver,
                               const std::vector<RegistryID>& services, Publication publication) {
    auto interface = std::make_shared<SimulatedHIDInterface>(id, device.properties(spec), spec.hidpp,
                                                             executor_, grants_);
    addEntry(id, root_, interfaceClass);
    addEntry(driver, id, driverClass);
    driverOf_[id] = driver;
    interfaces_.emplace(id, interface);
    if (hidutil_ != nullptr && spec.hasUsage(1, 6)) {
        hidutil_->addKeyboard(id, device.vendor, device.product, device.builtIn);
    }
    if (publication == Publication::withInterface) {
        publish(id, services);
    } else {
        heldServices_[id] = services;
    }
    for (const auto& weak : managers_) {
        const auto state = weak.lock();
        if (!state || !matchesAny(interface->properties(), state->matching)) continue;
        Manager::deliver(state, interface, false);
        if (faults.reportTwice) Manager::deliver(state, interface, false);
    }
}

void SimulatedHIDWorld::remove(RegistryID id) {
    const auto found = interfaces_.find(id);
    if (found == interfaces_.end()) return;
    const auto interface = found->second;
    interfaces_.erase(found);
    heldServices_.erase(id);
    interface->detached();
    removeEntry(id);
    driverOf_.erase(id);
    if (hidutil_ != nullptr) hidutil_->removeService(id);
    for (const auto& weak : managers_) {
        const auto state = weak.lock();
        if (state && matchesAny(interface->properties(), state->matching)) {
            Manager::deliver(state, interface, true);
        }
    }
}

void SimulatedHIDWorld::publish(RegistryID interface, const std::vector<RegistryID>& services) {
    const RegistryID driver = driverOf_.at(interface);
    for (RegistryID service : services) addEntry(service, driver, std::string(eventServiceClass));
    for (const auto& [number, watch] : watches_) {
        if (watch.className != eventServiceClass || services.empty()) continue;
        std::weak_ptr<bool> alive = alive_;
        watch.executor->post([this, alive, number = number, services] {
            if (!alive.lock()) return;
            const auto found = watches_.find(number);
            if (found == watches_.end()) return;
            const auto callback = found->second.callback;
            (*callback)(services);
        });
    }
}

void SimulatedHIDWorld::addEntry(RegistryID id, std::optional<RegistryID> parent,
                                 std::string className) {
    registry_[id] = Entry{parent, std::move(className), {}};
    if (parent) registry_[*parent].children.push_back(id);
}

void SimulatedHIDWorld::removeEntry(RegistryID id) {
    const auto found = registry_.find(id);
    if (found == registry_.end()) return;
    const Entry entry = found->second;
    for (RegistryID child : entry.children) removeEntry(child);
    registry_.erase(id);
    if (entry.parent) {
        auto& siblings = registry_[*entry.parent].children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    }
}

std::unique_ptr<HIDManager> SimulatedHIDWorld::makeManager() {
    auto state = std::make_shared<ManagerState>();
    std::erase_if(managers_, [](const auto& weak) { return weak.expired(); });
    managers_.push_back(state);
    return std::make_unique<Manager>(*this, std::move(state));
}

std::size_t SimulatedHIDWorld::managerCount() const {
    return static_cast<std::size_t>(std::count_if(managers_.begin(), managers_.end(), [](const auto& weak) {
        const auto state = weak.lock();
        return state && state->executor != nullptr;
    }));
}

std::optional<std::vector<RegistryID>> SimulatedHIDWorld::descendants(RegistryID entry) const {
    if (faults.descendantsFail || !registry_.contains(entry)) return std::nullopt;
    std::vector<RegistryID> found;
    std::vector<RegistryID> stack(registry_.at(entry).children.rbegin(),
                                  registry_.at(entry).children.rend());
    while (!stack.empty()) {
        const RegistryID next = stack.back();
        stack.pop_back();
        found.push_back(next);
        const auto& children = registry_.at(next).children;
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return found;
}

bool SimulatedHIDWorld::conformsTo(RegistryID entry, std::string_view className) const {
    const auto found = registry_.find(entry);
    return found != registry_.end() && found->second.className == className;
}

std::optional<RegistryID> SimulatedHIDWorld::parent(RegistryID entry) const {
    const auto found = registry_.find(entry);
    if (found == registry_.end()) return std::nullopt;
    return found->second.parent;
}

std::optional<HIDSystem::PublishedWatch> SimulatedHIDWorld::watchPublished(
    std::string_view className, Executor& executor, PublishedCallback callback) {
    if (faults.notificationFails) return std::nullopt;
    const std::uint64_t number = nextWatch_++;
    watches_[number] = Watch{std::string(className), &executor,
                             std::make_shared<PublishedCallback>(std::move(callback))};
    PublishedWatch watch;
    for (const auto& [id, entry] : registry_) {
        if (entry.className == className) watch.present.push_back(id);
    }
    std::weak_ptr<bool> alive = alive_;
    watch.handle = Cancellable([this, alive, number] {
        if (alive.lock()) watches_.erase(number);
    });
    return watch;
}

}  // namespace tindlewave
