#include "Runtime/Worlds/LinuxWorld.h"

#include <unistd.h>

#include <filesystem>
#include <future>

#include "Core/Devices/DeviceIdentity.h"
#include "Platform/Executor.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Linux/Permissions/NodeChangeWatch.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/Journal.h"

namespace tindlewave {

namespace {

std::unique_ptr<LinuxEventSystem> eventSystemOn(Executor& tap, LinuxDeviceRegistry& registry) {
    std::unique_ptr<LinuxEventSystem> made;
    std::promise<void> done;
    tap.post([&] {
        LinuxEventSystem::Options options;
        options.journal = [journal = Journal::devices()](const std::string& line) { journal.note(line); };
        made = std::make_unique<LinuxEventSystem>(tap, std::move(options));
        made->follow(registry);
        done.set_value();
    });
    done.get_future().wait();
    return made;
}

}  // namespace

LinuxWorld::LinuxWorld(Executor& tap, WorkPool* pool)
    : udev_(std::string(bundleIdentifier) + ".udev"),
      registry(udev_),
      hid(registry),
      eventSystem(eventSystemOn(tap, registry)),
      events(*eventSystem),
      keyMap([this] { return keyboards(registry); }, keyMapFolder()),
      grants([this] { return PermissionNodes::of(registry); }, NodePermissionGrants::accessCheck,
             [this](std::function<void()> changed) {
                 return watchNodeChanges(udev_, registry, std::move(changed));
             }),
      loginItem(XdgAutostart::defaultFolder(), XdgAutostart::ProgramPath(&XdgAutostart::runningProgram)),
      pool_(pool) {
    if (const auto& why = eventSystem->sessionUnfollowed()) {
        Journal::devices().note("login session not followed (" + *why +
                                "): switching to another user or console leaves the mice and "
                                "keyboards grabbed");
    }
}

LinuxWorld::~LinuxWorld() = default;

std::string LinuxWorld::keyMapFolder() {
    // The state folder, not the runtime one: the kernel keeps a remapped table for the whole boot,
    // and the runtime folder goes at logout.
    return (Defaults::defaultFile().parent_path() / "keymap").string();
}

std::vector<EvdevKeyMap::Keyboard> LinuxWorld::keyboards(const LinuxDeviceRegistry& registry) {
    std::vector<EvdevKeyMap::Keyboard> found;
    for (const auto& entry : registry.entries()) {
        if (entry.kind != LinuxDeviceRegistry::Kind::eventService || entry.devnode.empty() ||
            !entry.parent || !entry.input || eventNodeKind(entry) != EventNodeInfo::Kind::keyboard)
            continue;
        auto interface = registry.entry(*entry.parent);
        if (!interface) continue;
        const auto properties = HIDProperties::fromBag(linuxHIDProperties(*interface));
        found.push_back({.service = entry.id,
                         .node = entry.devnode,
                         .input = entry.input->sysname,
                         .vendor = properties.vendor.rawValue,
                         .product = properties.product.rawValue,
                         .builtIn = properties.builtIn});
    }
    return found;
}

std::vector<std::string> LinuxWorld::problems() const {
    std::vector<std::string> found;
    if (::access("/dev/input", F_OK) != 0) found.emplace_back("no input devices (/dev/input is missing)");
    for (auto& problem : grants.problems()) found.push_back(std::move(problem));
    if (!registry.followsHotplug()) found.emplace_back("devices plugged in later are not seen (no udev monitor)");
    return found;
}

}  // namespace tindlewave
