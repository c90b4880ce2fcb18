#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Instant.h"
#include "Platform/HIDSystem.h"
#include "Platform/Simulated/Devices/SimulatedDevice.h"

namespace tindlewave {

class Executor;
class PermissionGrants;
class SimulatedHIDInterface;
class SimulatedHidutilState;
class VirtualHidppMouse;

// A HID system in memory: a registry of simulated interfaces and the event services below them,
// managers that find and follow them, and devices made from recorded mice or small plain-device
// descriptions. It lives on one executor (the HID executor): managers must be scheduled there,
// reports are delivered there, and `attach`, `detach`, `publishServices` and `act` may be called
// from any thread (they hop to it). The rest is called on the executor (or, with the test kit's
// manual executors, on the test's thread).
//
// While a device with a keyboard collection is attached, its keyboard interfaces are services in
// the stand-in hidutil's state (when one is given), so hidutil and the hub agree.
class SimulatedHIDWorld final : public HIDSystem {
  public:
    // World-wide fault switches.
    struct Faults {
        bool copyFails = false;          // the copy of matching devices fails
        bool notificationFails = false;  // the published-services notification cannot be made
        bool reportTwice = false;        // the matching callback reports each new interface twice
        bool descendantsFail = false;    // no registry iterator can be made
    };

    // When the event services of an attached interface are published.
    // `later`: when publishServices is called, or never.
    enum class Publication { withInterface, later };

    // The registry ids of an attached device: per interface, its own id and its event services'.
    struct Attached {
        std::vector<RegistryID> interfaces;
        std::vector<std::vector<RegistryID>> services;
    };

    SimulatedHIDWorld(Executor& executor, PermissionGrants& grants,
                      const SimulatedHidutilState* hidutil = nullptr);
    ~SimulatedHIDWorld() override;
    SimulatedHIDWorld(const SimulatedHIDWorld&) = delete;
    SimulatedHIDWorld& operator=(const SimulatedHIDWorld&) = delete;

    Faults faults;

    // Plugs a device in. The ids are handed out at once; the registry and the managers learn of
    // it in a job of the executor. Interfaces of a device attached later with the same identity
    // join the same device (a late interface).
    Attached attach(SimulatedDevice device, Publication publication = Publication::withInterface);
    // Unplugs one interface, or every interface of a device.
    void detach(RegistryID interface);
    void detach(const Attached& device);
    // Publishes the event services of an interface that were held back.
    void publishServices(RegistryID interface);
    // Acts a HID++ mouse out (press, move, reconnect, fault switches) at the current instant;
    // what it sends then reaches the host at its own instants.
    void act(RegistryID interface, std::function<void(VirtualHidppMouse&, Instant)> action);

    // On the executor: the interface, while attached.
    SimulatedHIDInterface* interface(RegistryID id);
    VirtualHidppMouse* mouse(RegistryID id);

    // HIDSystem.
    std::unique_ptr<HIDManager> makeManager() override;
    std::optional<std::vector<RegistryID>> descendants(RegistryID entry) const override;
    bool conformsTo(RegistryID entry, std::string_view className) const override;
    std::optional<RegistryID> parent(RegistryID entry) const override;
    std::optional<PublishedWatch> watchPublished(std::string_view className, Executor& executor,
                                                 PublishedCallback callback) override;

    // The number of managers and published-service watches that are live, for checks.
    std::size_t managerCount() const;
    std::size_t watchCount() const { return watches_.size(); }

  private:
    class Manager;
    struct ManagerState;
    struct Entry {
        std::optional<RegistryID> parent;
        std::string className;
        std::vector<RegistryID> children;
    };
    struct Watch {
        std::string className;
        Executor* executor;
        std::shared_ptr<PublishedCallback> callback;
    };

    void insert(const SimulatedDevice& device, const SimulatedInterface& spec, RegistryID id,
                RegistryID driver, const std::vector<RegistryID>& services,
                Publication publication);
    template <class F>
    void onExecutor(F job);
    void remove(RegistryID interface);
    void publish(RegistryID interface, const std::vector<RegistryID>& services);
    void addEntry(RegistryID id, std::optional<RegistryID> parent, std::string className);
    void removeEntry(RegistryID id);

    Executor& executor_;
    PermissionGrants& grants_;
    const SimulatedHidutilState* hidutil_;
    std::atomic<RegistryID> nextID_{0x100000500};
    RegistryID root_ = 0x100000000;
    std::map<RegistryID, Entry> registry_;
    std::map<RegistryID, std::shared_ptr<SimulatedHIDInterface>> interfaces_;
    std::map<RegistryID, std::vector<RegistryID>> heldServices_;
    std::vector<std::weak_ptr<ManagerState>> managers_;
    std::map<std::uint64_t, Watch> watches_;
    std::uint64_t nextWatch_ = 1;
    std::map<RegistryID, RegistryID> driverOf_;  // interface → the entry its services sit under
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tindlewave
