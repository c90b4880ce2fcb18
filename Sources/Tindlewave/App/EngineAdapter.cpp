#include "App/EngineAdapter.h"

#include <cassert>
#include <memory>
#include <utility>

#include "Platform/Executor.h"
#include "Runtime/Engine/Engine.h"

namespace tindlewave {

EngineAdapter::EngineAdapter(Engine& engine, Shutdown shutdown)
    : engine_(engine), shutdown_(std::move(shutdown)) {
    assert(shutdown_);
}

void EngineAdapter::onEngine(std::function<void(Engine&)> call) {
    Engine& engine = engine_;
    engine.executor().post([&engine, call = std::move(call)] { call(engine); });
}

Cancellable EngineAdapter::run(Channel<ConfigSnapshot> configs,
                               Channel<PermissionState> permissions) {
    // The engine's own handle is made on its executor; cancelling posts there after it.
    auto handle = std::make_shared<Cancellable>();
    onEngine([handle, configs, permissions](Engine& engine) {
        *handle = engine.run(configs, permissions);
    });
    Executor& executor = engine_.executor();
    return Cancellable([handle, &executor] { executor.post([handle] { handle->cancel(); }); });
}

Channel<EngineStatus> EngineAdapter::statuses() { return engine_.statuses(); }
Channel<Action> EngineAdapter::actions() { return engine_.actions(); }
Channel<LearnedPress> EngineAdapter::heard() { return engine_.heard(); }

void EngineAdapter::reapplyAll() {
    onEngine([](Engine& engine) { engine.reapplyAll(); });
}

void EngineAdapter::setPaused(bool paused) {
    onEngine([paused](Engine& engine) { engine.setPaused(paused); });
}

void EngineAdapter::listen(DeviceMatch device) {
    onEngine([device](Engine& engine) { engine.listen(device); });
}

void EngineAdapter::stopListening() {
    onEngine([](Engine& engine) { engine.stopListening(); });
}

void EngineAdapter::shutdown(std::function<void()> done) {
    onEngine([shutdown = shutdown_, done = std::move(done)](Engine& engine) mutable {
        shutdown(engine, std::move(done));
    });
}

}  // namespace tindlewave
