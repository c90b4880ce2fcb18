#include "Shell/ToolkitEndGuard.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "Runtime/EngineAssembly.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/LogStore.h"

namespace tindlewave {

namespace {

// How long the toolkit's end waits for the devices to be put back.
constexpr auto putBackAtTheLatest = std::chrono::seconds(10);

std::atomic<EngineAssembly*> guarded{nullptr};
std::atomic<bool> starting{false};
std::function<void()> afterPutBack;  // set before the handler is installed
QtMessageHandler previousHandler = nullptr;
// Held while the devices are put back: a second thread the toolkit ends the program from (Xlib
// calls the same handler on every connection's thread) waits for the first one's put-back.
std::mutex puttingBack;

// What the toolkit says, on the thread that reads its connection, just before it exits: on
// xcb's own read ("The X11 connection broke (error N)...") and from Xlib's I/O error handler
// ("The X11 connection broke: <why> (code N)").
bool isBrokenDisplayConnection(QtMsgType type, const QString& text) {
    return type == QtWarningMsg && text.startsWith(QLatin1String("The X11 connection broke"));
}

void putBackTheDevices(const QString& why) {
    std::lock_guard lock(puttingBack);
    EngineAssembly* assembly = guarded.exchange(nullptr);
    if (!assembly) return;
    const Logger log(std::string(bundleIdentifier), "app");
    log.log(LogLevel::defaultLevel,
            "the toolkit ends the program (" + why.toStdString() + "): every device is put back first");
    auto done = std::make_shared<std::promise<void>>();
    auto putBack = done->get_future();
    Engine& engine = assembly->engine();
    engine.executor().post([&engine, done, after = afterPutBack] {
        engine.shutdown([done, after] {
            if (after) after();
            done->set_value();
        });
    });
    if (putBack.wait_for(putBackAtTheLatest) == std::future_status::ready)
        log.log(LogLevel::defaultLevel, "quit");
    else
        log.log(LogLevel::error, "quit before every device was put back: the engine did not answer in time");
}

void putBackBeforeTheToolkitEnds(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg && starting.load()) putBackTheDevices(text);
    if (isBrokenDisplayConnection(type, text)) putBackTheDevices(text);
    if (previousHandler) previousHandler(type, context, text);
}

}  // namespace

ToolkitEndGuard::ToolkitEndGuard(EngineAssembly& assembly, std::function<void()> putBack) {
    afterPutBack = std::move(putBack);
    guarded.store(&assembly);
    starting.store(true);
    previousHandler = qInstallMessageHandler(putBackBeforeTheToolkitEnds);
}

ToolkitEndGuard::~ToolkitEndGuard() {
    quitDone();
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

void ToolkitEndGuard::toolkitReady() { starting.store(false); }

void ToolkitEndGuard::quitDone() {
    starting.store(false);
    // Once a put-back under way has ended: its engine is not stopped under it.
    std::lock_guard lock(puttingBack);
    guarded.store(nullptr);
}

}  // namespace tindlewave
