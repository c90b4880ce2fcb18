#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Cancellable.h"

namespace tindlewave {

class ConfigStoreFile;
class EngineAssembly;

// The engine's run begun before the toolkit is set up: the config store started and the
// assembly's run over its snapshots, so that the devices are set up while the toolkit loads its
// plugins and reaches its display (seconds on a cold start), not after that and the window. The
// app model takes the store and the run over (`ToolkitEndGuard` has the devices put back should the
// toolkit end the program meanwhile). `devicesFirst` (when given) plugs in the devices the launch
// brings before the run begins, so that they are present at launch, as a user's are, and none of
// them reads as a reconnect. Make it on the main thread, after the assembly and before the
// application.
class EarlyEngineRun {
  public:
    EarlyEngineRun(EngineAssembly& assembly, std::string configPath,
                   const std::function<void()>& devicesFirst = {});
    ~EarlyEngineRun();
    EarlyEngineRun(const EarlyEngineRun&) = delete;
    EarlyEngineRun& operator=(const EarlyEngineRun&) = delete;

    // For the app model, once each.
    std::unique_ptr<ConfigStoreFile> takeStore();
    Cancellable takeRun();

  private:
    std::unique_ptr<ConfigStoreFile> store_;
    Cancellable run_;
};

}  // namespace tindlewave
