#pragma once

#include <memory>
#include <string>

#include "Platform/HIDSystem.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"

namespace tindlewave {

// The HID system on Linux: interfaces are the registry's interface entries (hid devices over
// their hidraw nodes, and input devices without HID, which match as keyboards, mice or touch pads
// but cannot be opened), with the properties of `linuxHIDProperties`. A manager reports an
// interface when it becomes present and matches, and its removal once (when udev says so, or
// earlier when its node fails). Managers must be scheduled on an executor that watches
// descriptors (FdRegistrar): the interfaces they found read their input reports there. After
// `unschedule` no callback of the manager runs and its interfaces read nothing more.
class LinuxHIDSystem final : public HIDSystem {
  public:
    explicit LinuxHIDSystem(LinuxDeviceRegistry& registry) : registry_(registry) {}

    std::unique_ptr<HIDManager> makeManager() override;
    std::optional<std::vector<RegistryID>> descendants(RegistryID entry) const override;
    bool conformsTo(RegistryID entry, std::string_view className) const override;
    std::optional<RegistryID> parent(RegistryID entry) const override;
    // Only event services are published: those present, then each new event node.
    std::optional<PublishedWatch> watchPublished(std::string_view className, Executor& executor,
                                                 PublishedCallback callback) override;

    LinuxDeviceRegistry& registry() const { return registry_; }

    // The node's own name (HIDIOCGRAWNAME), empty when the node cannot be opened or asked.
    static std::string rawName(const std::string& devnode);

  private:
    LinuxDeviceRegistry& registry_;
};

}  // namespace tindlewave
