#include "Shell/ToolkitEndGuard.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/EngineAssembly.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/LogStore.h"
#include "Shell/UnopenedDisplay.h"

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
// The displays the toolkit said it could not open while it started.
std::mutex unopenedMutex;
std::vector<UnopenedDisplay> unopened;

// What the toolkit says just before it exits at once. On X11, on the thread that reads its
// connection: on xcb's own read ("The X11 connection broke (error N)...") and from Xlib's I/O
// error handler ("The X11 connection broke: <why> (code N)"). On Wayland, on the thread that
// found the connection's error (the compositor gone: "The Wayland connection broke. Did the
// Wayland compositor die?"; any other: "The Wayland connection experienced a fatal error: <why>").
bool isBrokenDisplayConnection(QtMsgType type, const QString& text) {
    return type == QtWarningMsg && (text.startsWith(QLatin1String("The X11 connection broke")) ||
                                    text.startsWith(QLatin1String("The Wayland connection ")));
}

// What the toolkit says while it starts when it cannot open a display, before it tries the next
// platform or aborts: xcb's "could not connect to display :99", the Wayland plugin's "Failed to
// create wl_display (<why>)" (over WAYLAND_DISPLAY, or its default when that is not set).
std::optional<UnopenedDisplay> unopenedDisplayOf(const QString& text) {
    const QLatin1String x11("could not connect to display");
    if (text.startsWith(x11))
        return UnopenedDisplay{.wayland = false, .name = text.mid(x11.size()).trimmed().toStdString()};
    if (!text.startsWith(QLatin1String("Failed to create wl_display"))) return std::nullopt;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return UnopenedDisplay{.wayland = true, .name = name ? name : ""};
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

// The toolkit's start fails (its fatal message; it aborts once the handlers return). When it
// could open no display, the devices are put back, the program says which display and why, and
// ends with status 1 (as a lost display ends it, the process's exit handlers run); at any other
// failure the devices are put back and the toolkit's own end goes on.
void endTheStart(const QString& text) {
    std::vector<UnopenedDisplay> tried;
    {
        std::lock_guard lock(unopenedMutex);
        tried = unopened;
    }
    const auto lines = unopenedDisplayLines(tried);
    if (lines.empty()) {
        putBackTheDevices(text);
        return;
    }
    std::string said;
    for (const auto& line : lines) said += (said.empty() ? "" : "; ") + line;
    // First: a standard error nobody reads may hold the lines up.
    putBackTheDevices(QString::fromStdString(said));
    for (const auto& line : lines) std::fprintf(stderr, "tindlewave: %s\n", line.c_str());
    std::exit(1);
}

void putBackBeforeTheToolkitEnds(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (starting.load()) {
        if (auto display = unopenedDisplayOf(text)) {
            std::lock_guard lock(unopenedMutex);
            unopened.push_back(std::move(*display));
        }
        if (type == QtFatalMsg) endTheStart(text);
    }
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
