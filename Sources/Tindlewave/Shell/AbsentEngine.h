#pragma once

#include "Settings/Model/EngineControl.h"

namespace tindlewave {

// Stands where the engine goes while the program is built without one: it publishes nothing (the
// menu stays at "Starting" and no device is touched), ignores commands, and its shutdown has
// nothing to put back.
class AbsentEngine final : public EngineControl {
  public:
    Cancellable run(Channel<ConfigSnapshot>, Channel<PermissionState>) override { return Cancellable([] {}); }
    Channel<EngineStatus> statuses() override { return statuses_; }
    Channel<Action> actions() override { return actions_; }
    Channel<LearnedPress> heard() override { return heard_; }
    void reapplyAll() override {}
    void setPaused(bool) override {}
    void listen(DeviceMatch) override {}
    void stopListening() override {}
    void shutdown(std::function<void()> done) override { done(); }

  private:
    Channel<EngineStatus> statuses_{Buffering::newest};
    Channel<Action> actions_{Buffering::unbounded};
    Channel<LearnedPress> heard_{Buffering::unbounded};
};

}  // namespace tindlewave
