#pragma once

#include <functional>

#include "Settings/Model/EngineControl.h"

namespace tindlewave {

class Engine;

// The engine as the user interface drives it: every call is posted to the engine's executor and
// returns at once. The quit sequence is given separately: it runs on the engine's executor and
// calls its `done` there once the devices are settled.
class EngineAdapter final : public EngineControl {
  public:
    using Shutdown = std::function<void(Engine&, std::function<void()> done)>;

    EngineAdapter(Engine& engine, Shutdown shutdown);

    [[nodiscard]] Cancellable run(Channel<ConfigSnapshot> configs,
                                  Channel<PermissionState> permissions) override;
    Channel<EngineStatus> statuses() override;
    Channel<Action> actions() override;
    Channel<LearnedPress> heard() override;
    void reapplyAll() override;
    void setPaused(bool paused) override;
    void listen(DeviceMatch device) override;
    void stopListening() override;
    void shutdown(std::function<void()> done) override;

  private:
    void onEngine(std::function<void(Engine&)> call);

    Engine& engine_;
    Shutdown shutdown_;
};

}  // namespace tindlewave
