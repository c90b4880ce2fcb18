#include "Shell/EarlyEngineRun.h"

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <future>

#include "Runtime/EngineAssembly.h"
#include "Settings/Model/ConfigFile.h"

namespace tindlewave {

namespace {

// How long a fatal message of the toolkit waits for the devices to be put back.
constexpr auto putBackAtTheLatest = std::chrono::seconds(10);

std::atomic<EngineAssembly*> guarded{nullptr};
QtMessageHandler previousHandler = nullptr;

// A fatal message ends the program once its handler returns: the engine shuts down first (every
// control native, every node let go of, the key tables as they were).
void putBackBeforeAFatalEnd(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        if (EngineAssembly* assembly = guarded.exchange(nullptr)) {
            auto done = std::make_shared<std::promise<void>>();
            auto putBack = done->get_future();
            Engine& engine = assembly->engine();
            engine.executor().post([&engine, done] { engine.shutdown([done] { done->set_value(); }); });
            putBack.wait_for(putBackAtTheLatest);
        }
    }
    if (previousHandler) previousHandler(type, context, text);
}

}  // namespace

EarlyEngineRun::EarlyEngineRun(EngineAssembly& assembly, std::string configPath,
                               const std::function<void()>& devicesFirst)
    : store_(std::make_unique<ConfigStoreFile>(std::move(configPath))) {
    guarded.store(&assembly);
    previousHandler = qInstallMessageHandler(putBackBeforeAFatalEnd);
    guarding_ = true;
    store_->start(nullptr);
    // The run sets up what is present when the first configuration comes ("launch"); what comes
    // later has connected while it ran, and a profile's device that does reads as reconnected.
    if (devicesFirst) devicesFirst();
    run_ = assembly.run(store_->snapshots());
}

EarlyEngineRun::~EarlyEngineRun() { toolkitReady(); }

void EarlyEngineRun::toolkitReady() {
    if (!guarding_) return;
    guarding_ = false;
    guarded.store(nullptr);
    qInstallMessageHandler(previousHandler);
}

std::unique_ptr<ConfigStoreFile> EarlyEngineRun::takeStore() { return std::move(store_); }

Cancellable EarlyEngineRun::takeRun() { return std::move(run_); }

}  // namespace tindlewave
