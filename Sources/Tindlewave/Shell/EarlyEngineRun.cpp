#include "Shell/EarlyEngineRun.h"

#include "Runtime/EngineAssembly.h"
#include "Settings/Model/ConfigFile.h"

namespace tindlewave {

EarlyEngineRun::EarlyEngineRun(EngineAssembly& assembly, std::string configPath,
                               const std::function<void()>& devicesFirst)
    : store_(std::make_unique<ConfigStoreFile>(std::move(configPath))) {
    store_->start(nullptr);
    // The run sets up what is present when the first configuration comes ("launch"); what comes
    // later has connected while it ran, and a profile's device that does reads as reconnected.
    if (devicesFirst) devicesFirst();
    run_ = assembly.run(store_->snapshots());
}

EarlyEngineRun::~EarlyEngineRun() = default;

std::unique_ptr<ConfigStoreFile> EarlyEngineRun::takeStore() { return std::move(store_); }

Cancellable EarlyEngineRun::takeRun() { return std::move(run_); }

}  // namespace tindlewave
