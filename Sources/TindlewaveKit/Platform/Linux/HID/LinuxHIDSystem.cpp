#include "Platform/Linux/HID/LinuxHIDSystem.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>

#include "Core/Devices/PropertyMatching.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/HID/HidrawDevice.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

using Entry = LinuxDeviceRegistry::Entry;

class LinuxHIDManager final : public HIDManager {
  public:
    explicit LinuxHIDManager(LinuxDeviceRegistry& registry) : registry_(registry) {}
    ~LinuxHIDManager() override {
        *alive_ = false;
        unschedule();
    }

    void setDeviceMatching(std::vector<PropertyBag> matching) override {
        matching_ = std::move(matching);
    }

    std::optional<std::vector<HIDDeviceRef>> copyDevices() override {
        std::vector<HIDDeviceRef> devices;
        for (const auto& entry : registry_.entries()) {
            if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.present) continue;
            auto device = deviceFor(entry);
            if (!device->isGone() && matchesAny(device->properties(), matching_))
                devices.push_back(device);
        }
        return devices;
    }

    void registerDeviceMatchingCallback(DeviceCallback callback) override {
        onMatch_ = std::move(callback);
    }
    void registerDeviceRemovalCallback(DeviceCallback callback) override {
        onRemove_ = std::move(callback);
    }

    void schedule(Executor& executor) override {
        unschedule();
        executor_ = &executor;
        registrar_ = FdRegistrar::of(executor);
        live_ = std::make_shared<bool>(true);
        for (auto& [id, device] : devices_) device->setRegistrar(registrar_);
        // Watching first, then listing, so that nothing falls between them; what was listed is
        // not reported again.
        watch_ = registry_.watch(executor, [this](const LinuxDeviceRegistry::Change& change) {
            changed(change);
        });
        executor.post([this, live = live_] {
            if (!*live) return;
            for (const auto& entry : registry_.entries()) {
                if (!*live) return;
                arrived(entry);
            }
        });
    }

    void unschedule() override {
        watch_.cancel();
        if (live_) *live_ = false;
        live_.reset();
        executor_ = nullptr;
        registrar_ = nullptr;
        for (auto& [id, device] : devices_) device->setRegistrar(nullptr);
    }

  private:
    std::shared_ptr<HidrawDevice> deviceFor(const Entry& entry) {
        auto found = devices_.find(entry.id);
        if (found != devices_.end()) return found->second;
        const std::string devnode = entry.hid ? entry.devnode : std::string();
        auto device = std::make_shared<HidrawDevice>(
            entry.id, devnode, linuxHIDProperties(entry, devnode.empty() ? "" : LinuxHIDSystem::rawName(devnode)),
            registrar_);
        // A node that fails is gone: its removal is reported in a job of its own, since the
        // failure is noticed while the device is reading.
        device->onGone([this, alive = std::weak_ptr<bool>(alive_), id = entry.id] {
            // The device may outlive its manager (a session holds it).
            if (auto manager = alive.lock(); !manager || !*manager || !executor_) return;
            executor_->post([this, id, live = live_] {
                if (live && *live) removed(id);
            });
        });
        devices_.emplace(entry.id, device);
        return device;
    }

    void arrived(const Entry& entry) {
        if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.present) return;
        if (matched_.contains(entry.id)) return;
        auto device = deviceFor(entry);
        if (device->isGone() || !matchesAny(device->properties(), matching_)) return;
        matched_.insert(entry.id);
        if (onMatch_) onMatch_(device);
    }

    void removed(RegistryID id) {
        auto found = devices_.find(id);
        if (found == devices_.end()) return;
        auto device = found->second;
        devices_.erase(found);
        if (matched_.erase(id) && onRemove_) onRemove_(device);
    }

    void changed(const LinuxDeviceRegistry::Change& change) {
        const Entry& entry = change.entry;
        if (entry.kind != LinuxDeviceRegistry::Kind::interface) return;
        switch (change.action) {
            case LinuxDeviceRegistry::Action::added: arrived(entry); break;
            case LinuxDeviceRegistry::Action::removed: removed(entry.id); break;
            case LinuxDeviceRegistry::Action::changed:
                if (auto found = devices_.find(entry.id); found != devices_.end()) {
                    const std::string devnode = found->second->devnode();
                    found->second->setProperties(linuxHIDProperties(
                        entry, devnode.empty() ? "" : LinuxHIDSystem::rawName(devnode)));
                }
                arrived(entry);
                break;
        }
    }

    LinuxDeviceRegistry& registry_;
    std::vector<PropertyBag> matching_;
    DeviceCallback onMatch_;
    DeviceCallback onRemove_;
    Executor* executor_ = nullptr;
    FdRegistrar* registrar_ = nullptr;
    std::shared_ptr<bool> live_;  // false once unscheduled: queued jobs do nothing
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // false once destroyed
    Subscription watch_;
    std::map<RegistryID, std::shared_ptr<HidrawDevice>> devices_;
    std::set<RegistryID> matched_;
};

}  // namespace

std::string LinuxHIDSystem::rawName(const std::string& devnode) {
    const UniqueFd fd(::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen()) return {};
    char name[256] = {};
    const int length = ::ioctl(fd.get(), HIDIOCGRAWNAME(sizeof name - 1), name);
    if (length <= 0) return {};
    return std::string(name, strnlen(name, std::size_t(length)));
}

std::unique_ptr<HIDManager> LinuxHIDSystem::makeManager() {
    return std::make_unique<LinuxHIDManager>(registry_);
}

std::optional<std::vector<RegistryID>> LinuxHIDSystem::descendants(RegistryID entry) const {
    return registry_.descendants(entry);
}

bool LinuxHIDSystem::conformsTo(RegistryID entry, std::string_view className) const {
    return registry_.conformsTo(entry, className);
}

std::optional<RegistryID> LinuxHIDSystem::parent(RegistryID entry) const {
    return registry_.parent(entry);
}

std::optional<HIDSystem::PublishedWatch> LinuxHIDSystem::watchPublished(
    std::string_view className, Executor& executor, PublishedCallback callback) {
    if (className != eventServiceClass) return std::nullopt;
    PublishedWatch watch;
    watch.handle = registry_.watch(executor, [callback = std::move(callback)](
                                                 const LinuxDeviceRegistry::Change& change) {
        if (change.action == LinuxDeviceRegistry::Action::added &&
            change.entry.kind == LinuxDeviceRegistry::Kind::eventService)
            callback({change.entry.id});
    });
    for (const auto& entry : registry_.entries())
        if (entry.kind == LinuxDeviceRegistry::Kind::eventService) watch.present.push_back(entry.id);
    return watch;
}

}  // namespace tindlewave
