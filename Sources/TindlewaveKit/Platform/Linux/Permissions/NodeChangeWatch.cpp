#include "Platform/Linux/Permissions/NodeChangeWatch.h"

#include <sys/epoll.h>

#include <memory>
#include <mutex>

#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/System/FolderWatchDescriptor.h"

namespace tindlewave {

namespace {

struct NodeWatch {
    std::mutex mutex;
    std::function<void()> changed;  // none once cancelled
    std::vector<std::unique_ptr<FolderWatchDescriptor>> folders;
    std::vector<FdWatch> reads;
    Subscription registryChanges;

    void tell() {
        std::lock_guard lock(mutex);
        if (changed) changed();
    }
    void cancel() {
        std::function<void()> dropped;
        {
            std::lock_guard lock(mutex);
            dropped = std::move(changed);
            changed = nullptr;
        }
        registryChanges.cancel();
        for (auto& read : reads) read.cancel();
    }
};

}  // namespace

std::vector<std::string> grantNodeFolders() { return {"/dev", "/dev/input"}; }

std::optional<Subscription> watchNodeChanges(Executor& executor, LinuxDeviceRegistry& registry,
                                             std::function<void()> changed,
                                             const std::vector<std::string>& folders) {
    FdRegistrar* registrar = FdRegistrar::of(executor);
    if (!registrar) return std::nullopt;
    auto watch = std::make_shared<NodeWatch>();
    watch->changed = std::move(changed);
    std::weak_ptr<NodeWatch> weak = watch;
    for (const auto& folder : folders) {
        auto descriptor =
            std::make_unique<FolderWatchDescriptor>(folder, FolderWatchDescriptor::Changes::entries);
        if (!descriptor->isValid()) continue;
        FolderWatchDescriptor* read = descriptor.get();
        // The callback holds the watch while it runs, so a cancel from another thread meanwhile
        // leaves the descriptor open until it returns.
        FdWatch reading = registrar->addFd(read->fd(), EPOLLIN, [weak, read](std::uint32_t) {
            if (auto alive = weak.lock(); alive && read->drain()) alive->tell();
        });
        if (!reading.isArmed()) continue;
        watch->folders.push_back(std::move(descriptor));
        watch->reads.push_back(std::move(reading));
    }
    if (watch->reads.empty()) return std::nullopt;
    watch->registryChanges = registry.watch(executor, [weak](const LinuxDeviceRegistry::Change&) {
        if (auto alive = weak.lock()) alive->tell();
    });
    return Subscription([watch] { watch->cancel(); });
}

}  // namespace tindlewave
