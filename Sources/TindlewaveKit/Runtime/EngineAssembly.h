#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Model/Rule.h"
#include "Platform/Cancellable.h"
#include "Runtime/Engine/Engine.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Permissions.h"
#include "Runtime/Worlds/ProgramWorld.h"

namespace tindlewave {

class ActionPerformer;
class Defaults;
class EventSystem;
class LogindWakes;
class LogStore;
class ThreadPool;

// The engine as a program runs it, whichever its face (the window and tray, or the command reader
// and printer): the world, the engine on its two executors, the system's wakes, the permissions
// polled every second (over device nodes, read again as they change) and the performer of the engine's actions. The face adds its executor, the
// config store and what shows the engine's statuses.
//
// Threads: the HID executor ("app.tindlewave.hid": the engine, its devices and the wakes logind
// announces), the tap executor ("app.tindlewave.tap": the tap host and the event system), a pool
// of two for the key maps' child processes, and the face's executor given to start() (the
// performer). The permissions are polled on the HID executor, so that a run needs nothing of the
// face's executor and can begin before the face is set up. Make, start and stop it on the face's
// thread.
class EngineAssembly {
  public:
    struct Options {
        // Over the simulated desktop: the stand-in hidutil's state file and the tool. None: this
        // machine's devices.
        struct Simulated {
            std::string hidutilState;
            std::string hidutil;
        };
        std::optional<Simulated> simulated;
        Defaults& defaults;  // keeps "listenDiverted"
        LogStore& log;       // the journal's and the performer's lines
        // What the engine and the performer post through, made over the world's event system;
        // none: the world's own.
        std::function<std::unique_ptr<EventSystem>(EventSystem& world)> events;
    };

    explicit EngineAssembly(Options options);
    // Stops first when stop() was not called.
    ~EngineAssembly();
    EngineAssembly(const EngineAssembly&) = delete;
    EngineAssembly& operator=(const EngineAssembly&) = delete;

    RunLoopExecutor& hid() { return hid_; }
    RunLoopExecutor& tap() { return tap_; }
    ProgramWorld& world() { return world_; }
    EventSystem& events() const { return events_ ? *events_ : world_.events(); }
    Engine& engine() { return *engine_; }
    Permissions& permissions() { return permissions_; }
    // Why the system's wakes are not followed (no reachable system bus), or none.
    const std::optional<std::string>& noWakes() const { return noWakes_; }

    // The face's executor: from now on the engine's actions are performed there, each handed to
    // `seen` when given once it is performed, so that nothing `seen` does delays its events
    // (those of a run begun before wait for it). Called once.
    void start(Executor& main, std::function<void(const Action&)> seen = nullptr);
    // The engine's run over `configs`, with the permissions polled every second (over device
    // nodes, read as they change) on the HID executor; callable from any thread, before start()
    // too. Cancelling the handle ends it (a cancel that comes
    // before the run began ends it as it begins); `ended` runs on the HID executor once every
    // loop has ended.
    [[nodiscard]] Cancellable run(Channel<ConfigSnapshot> configs, std::function<void()> ended = nullptr);
    // A resume from sleep acted out, as logind would announce it; from any thread.
    void wake();

    // The end, once the engine's run has ended: the wakes no longer followed, the jobs queued so
    // far on the HID and then the tap executor run, both stopped and joined, the permissions no
    // longer read (nothing of theirs runs after this, even when the run's cancel had not yet
    // reached their stream), then the key maps' pool (work still running ends on the world, which goes only with the assembly; what is
    // queued is dropped). The engine and the world go with the assembly.
    void stop();

  private:
    RunLoopExecutor hid_;
    RunLoopExecutor tap_;
    std::unique_ptr<ThreadPool> pool_;
    ProgramWorld world_;
    std::unique_ptr<EventSystem> events_;
    Permissions permissions_;
    std::optional<Channel<PermissionState>> permissionUpdates_;  // the run's, ended by stop()
    Channel<WakeNotice> wakes_{Buffering::unbounded};
    std::unique_ptr<LogindWakes> logind_;
    std::optional<std::string> noWakes_;
    std::unique_ptr<Engine> engine_;
    LogStore& log_;
    Executor* main_ = nullptr;
    std::unique_ptr<ActionPerformer> performer_;
    Subscription actions_;
    bool stopped_ = false;
};

}  // namespace tindlewave
