#include "Runtime/EngineAssembly.h"

#include <cassert>
#include <chrono>
#include <future>
#include <utility>

#include "Runtime/ActionPerformer.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Runtime/Stores/Journal.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/LogindWakes.h"

namespace tindlewave {

namespace {

constexpr auto permissionPoll = std::chrono::seconds(1);

ProgramWorld makeWorld(const EngineAssembly::Options& options, RunLoopExecutor& hid,
                       RunLoopExecutor& tap, ThreadPool& pool) {
    if (const auto& simulated = options.simulated)
        return ProgramWorld::simulated(hid, tap, simulated->hidutilState,
                                       KeyMapHost{simulated->hidutil, &pool});
    return ProgramWorld::real(hid, tap, &pool);
}

// Lets every job posted to `executor` so far run, then stops it and waits for its thread.
void drainAndStop(RunLoopExecutor& executor) {
    std::promise<void> turn;
    executor.post([&turn] { turn.set_value(); });
    turn.get_future().wait();
    executor.stop();
    executor.join();
}

}  // namespace

EngineAssembly::EngineAssembly(Options options)
    : hid_(std::string(bundleIdentifier) + ".hid"),
      tap_(std::string(bundleIdentifier) + ".tap"),
      pool_(std::make_unique<ThreadPool>(2)),
      world_(makeWorld(options, hid_, tap_, *pool_)),
      events_(options.events ? options.events(world_.events()) : nullptr),
      permissions_(world_.grants()),
      log_(options.log) {
    // The system's resumes from sleep, from logind on the system bus, read on the HID executor,
    // where the engine takes them.
    auto started = LogindWakes::start(hid_, [wakes = wakes_]() mutable { wakes.send(WakeNotice{}); });
    if (auto* unavailable = std::get_if<LogindSleepWatch::Unavailable>(&started))
        noWakes_ = unavailable->reason;
    else
        logind_ = std::move(std::get<std::unique_ptr<LogindWakes>>(started));
    engine_ = std::make_unique<Engine>(EngineWorld{
        .hid = hid_,
        .tap = tap_,
        .hidSystem = world_.hidSystem(),
        .events = events(),
        .grants = world_.grants(),
        .defaults = options.defaults,
        .journal = Journal(Logger(std::string(bundleIdentifier), "devices", log_)),
        .keyMap = world_.keyMap(),
        .wakes = wakes_,
    });
}

EngineAssembly::~EngineAssembly() {
    stop();
    actions_.cancel();
}

void EngineAssembly::start(Executor& main, std::function<void(const Action&)> seen) {
    assert(main_ == nullptr);
    main_ = &main;
    performer_ = std::make_unique<ActionPerformer>(events(), world_.hotKeys(), main,
                                                   Logger(std::string(bundleIdentifier), "actions", log_));
    actions_ = engine_->actions().subscribe(
        main, [performer = performer_.get(), seen = std::move(seen)](Action action) {
            performer->perform(action);
            if (seen) seen(action);
        });
}

Cancellable EngineAssembly::run(Channel<ConfigSnapshot> configs, std::function<void()> ended) {
    // Read on the HID executor, where the engine takes them: its run needs nothing of the face's
    // executor, which may not be running yet.
    auto permissions = permissions_.updates(permissionPoll, hid_);
    permissionUpdates_ = permissions;
    // The engine's own handle is made on its executor; cancelling posts there after it.
    auto handle = std::make_shared<Cancellable>();
    hid_.post([handle, engine = engine_.get(), configs = std::move(configs),
               permissions = std::move(permissions), ended = std::move(ended)]() mutable {
        *handle = engine->run(std::move(configs), std::move(permissions), std::move(ended));
    });
    return Cancellable([handle, hid = &hid_] { hid->post([handle] { handle->cancel(); }); });
}

void EngineAssembly::wake() { wakes_.send(WakeNotice{}); }

void EngineAssembly::stop() {
    if (stopped_) return;
    stopped_ = true;
    logind_.reset();
    drainAndStop(hid_);
    drainAndStop(tap_);
    // The permissions are no longer read, whether or not the run's end reached the stream before
    // the HID executor stopped: nothing reads them for an engine that is gone.
    if (permissionUpdates_) permissionUpdates_->finish();
    pool_.reset();
}

}  // namespace tindlewave
