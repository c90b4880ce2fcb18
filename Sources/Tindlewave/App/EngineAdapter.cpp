#include "App/EngineAdapter.h"

#include <utility>

#include "Platform/Executor.h"
#include "Runtime/EngineAssembly.h"

namespace tindlewave {

EngineAdapter::EngineAdapter(EngineAssembly& assembly) : assembly_(assembly) {}

void EngineAdapter::onEngine(std::function<void(Engine&)> call) {
    Engine& engine = assembly_.engine();
    engine.executor().post([&engine, call = std::move(call)] { call(engine); });
}

Cancellable EngineAdapter::run(Channel<ConfigSnapshot> configs) {
    return assembly_.run(std::move(configs));
}

Channel<EngineStatus> EngineAdapter::statuses() { return assembly_.engine().statuses(); }
Channel<LearnedPress> EngineAdapter::heard() { return assembly_.engine().heard(); }

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
    onEngine([done = std::move(done)](Engine& engine) mutable { engine.shutdown(std::move(done)); });
}

}  // namespace tindlewave
