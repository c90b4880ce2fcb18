#pragma once

#include <functional>

#include "Settings/Model/EngineControl.h"

namespace tindlewave {

class Engine;
class EngineAssembly;

// The engine as the user interface drives it, over the program's assembly: every call is posted
// to the engine's executor and returns at once. The quit runs on the engine's executor and calls
// its `done` there once the devices are settled.
class EngineAdapter final : public EngineControl {
  public:
    explicit EngineAdapter(EngineAssembly& assembly);

    [[nodiscard]] Cancellable run(Channel<ConfigSnapshot> configs) override;
    Channel<EngineStatus> statuses() override;
    Channel<LearnedPress> heard() override;
    void reapplyAll() override;
    void setPaused(bool paused) override;
    void listen(DeviceMatch device) override;
    void stopListening() override;
    void shutdown(std::function<void()> done) override;

  private:
    void onEngine(std::function<void(Engine&)> call);

    EngineAssembly& assembly_;
};

}  // namespace tindlewave
