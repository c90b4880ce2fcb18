#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Apply/ApplyReason.h"
#include "Core/Instant.h"
#include "Core/Devices/DeviceRoster.h"
#include "Core/Keys/HeldKeys.h"
#include "Core/Listening/Listener.h"
#include "Core/Scrolling/HoldScrollPlan.h"
#include "Core/Tap/Intent.h"
#include "Model/Capabilities.h"
#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Platform/Cancellable.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Stores/ConfigSnapshot.h"
#include "Runtime/DivertLatch.h"
#include "Runtime/Engine/WakeNotice.h"
#include "Runtime/Stores/Journal.h"
#include "Runtime/KeyMap/KeyMapWriter.h"
#include "Runtime/Tap/TapOrder.h"

namespace tindlewave {

class DeviceHub;
class EventSystem;
class Executor;
class HIDSystem;
class PermissionGrants;
class Slot;
class TapHost;

// Everything the engine works with, given at construction: its two executors, the platform's
// services, where "listenDiverted" is kept, its journal, what writes the key maps and the system's
// wake notices. Tests give manual executors and simulated services.
struct EngineWorld {
    Executor& hid;  // the engine, the hub, the slots and the HID++ sessions
    Executor& tap;  // the tap host
    HIDSystem& hidSystem;
    EventSystem& events;
    PermissionGrants& grants;
    Defaults& defaults;
    Journal journal;
    KeyMapHost keyMap;
    // Finished by whoever sends them; a world without wake notices gives a channel nobody sends.
    Channel<WakeNotice> wakes{Buffering::unbounded};
};

// The core of the runtime: it joins config snapshots, permission changes, device arrivals and
// departures, tap signals, wake notices and the user's requests into one serial stream of
// decisions, each ending in a reconcile (the configuration compiled for the present devices and
// handed to the slots and the tap host) and a published status.
//
// Threads: every member function runs on the HID executor (`world.hid`), except the three
// stream accessors, which any thread may call. The tap host lives on the tap executor and is
// reached only through channels. The engine must outlive its run and be destroyed after both
// executors have stopped (its tap host may be destroyed only on the tap executor or once that
// has stopped).
class Engine {
  public:
    explicit Engine(EngineWorld world);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // --- Run and streams (EngineRun.cpp) ---

    // Publishes a first status, then follows the seven streams (tap orders, hold-scroll events
    // and key holds to the tap host; tap signals, snapshots, permission states and wake notices
    // into the engine). Returns at once; cancelling the handle (from any thread) ends every
    // loop. Once every loop has ended, by cancellation or because its stream finished, the
    // statuses, actions and heard streams are finished after what they hold and `ended` runs on
    // the HID executor. A second call is refused: it returns an empty handle and never ends.
    [[nodiscard]] Cancellable run(Channel<ConfigSnapshot> configs,
                                  Channel<PermissionState> permissions,
                                  std::function<void()> ended = nullptr);

    // The same channel on every call, each with one subscriber. Statuses keep only the newest.
    Channel<EngineStatus> statuses() const { return statuses_; }
    Channel<Action> actions() const { return actions_; }
    Channel<LearnedPress> heard() const { return heard_; }

    // Pauses (the neutral set-up everywhere, an armed listen ended with `paused`) or resumes;
    // nothing when it equals the present state.
    void setPaused(bool paused);
    // Applies every set-up again, the tap order re-sent even if unchanged.
    void reapplyAll();

    // --- Listening (EngineListen.cpp) ---

    // Starts listening for one press on the present device configured under `match`, or
    // refuses (paused, disconnected, needsAccessibility) in the journal and the status.
    void listen(const DeviceMatch& match);
    // Ends an armed listen at the user's request, or clears an ended one.
    void stopListening();

    // --- Quit (EngineShutdown.cpp) ---

    // The longest wait for busy devices at quit, and the longest interval between two looks.
    static constexpr Duration quitDeadline = std::chrono::seconds(1);
    static constexpr Duration quitPoll = std::chrono::milliseconds(20);

    // The quit, callable from any thread: every compile neutral from now on, an armed listen
    // ended as stopped, every slot asked to put its device back; on the tap executor everything
    // held released and the tap removed; then a wait (never blocking: a look after every slot
    // change and on executor timers) until no device is busy or the deadline passed.
    // "listenDiverted" is removed only when every device settled after an engine start, and a
    // device that owed the native set-up and did not settle is added to it. `done` runs on the
    // HID executor; later calls run the sequence no second time and complete with the first.
    void shutdown(std::function<void()> done);

    // --- For the quit sequence and tests ---

    // The quit has begun: from now on every compile yields the neutral intent.
    void beginQuitting() { quitting_ = true; }
    bool isQuitting() const { return quitting_; }
    // Some slot still has work under way (a key-map pass or a HID++ job).
    bool anySlotBusy() const;
    // The tap host, to be used on the tap executor only.
    TapHost& tapHost() { return *tapHost_; }
    DivertLatch latch() const { return DivertLatch{world_.defaults}; }
    const Journal& journal() const { return world_.journal; }
    Executor& executor() const { return world_.hid; }

    const std::optional<Config>& config() const { return config_; }
    bool isPaused() const { return paused_; }
    bool isStarted() const { return started_; }
    const PermissionState& permissions() const { return permissions_; }
    TapState tapState() const { return tap_; }
    const Intent& intent() const { return intent_; }
    const std::optional<TapOrder>& sentTapOrder() const { return sentTapOrder_; }
    // How many tap orders were sent, re-sent ones included.
    std::size_t tapOrdersSent() const { return tapOrdersSent_; }
    const Listener& listener() const { return listener_; }
    // The slot of a present device, or null.
    const Slot* slot(DeviceInstanceID id) const;
    std::size_t slotCount() const { return slots_.size(); }

    // Recompiles, asks every slot to apply for `reason` and publishes.
    void reconcile(ApplyReason reason, bool resendTapOrder);

  private:
    struct RunLoops;
    struct LastReconnect {
        DeviceInstanceID device;
        std::string name;
        Date at;
    };

    // Run and streams (EngineRun.cpp).
    void tapSignal(const TapSignal& signal);
    void configChanged(const ConfigSnapshot& snapshot);
    void permissionsChanged(const PermissionState& state);
    void woke();
    void handle(const DeviceRoster::Change& change);
    void changed(const PresentDevice& device);
    void disappeared(const PresentDevice& device);
    void loopEnded(const std::shared_ptr<RunLoops>& run, std::size_t loop);
    DeviceHub& hub();

    // Reconcile and apply (EngineApply.cpp).
    void recompile(bool resendTapOrder);
    void addSlot(const PresentDevice& device, bool atLaunch);
    void discovered(DeviceInstanceID id, const HIDPPCapabilities& capabilities);
    DeviceSetup desired(DeviceInstanceID id) const;
    // The hub's devices by ascending id, each with what discovery found and whether the hub
    // holds a HID++ interface for it.
    std::vector<PresentDevice> present() const;
    Slot* slotFor(DeviceInstanceID id);

    // Publishing (EnginePublish.cpp).
    void publish();
    DeviceStatus configuredStatus(const DeviceProfile& profile,
                                  const std::vector<PresentDevice>& present) const;
    std::optional<HyperStatus> hyperStatus(const Slot& slot) const;
    std::optional<HIDPPStatus> hidppStatus(const Slot& slot) const;

    // Listening (EngineListen.cpp).
    void endListen(std::optional<ListenEnd> end, std::optional<ListenSource> only);
    void hear(const ListenPress& press, const ListenSource& source);
    void timedOut(ListenID id);
    void relisten(const std::optional<ListenTarget>& previous);
    bool canHear(const PresentDevice& device) const;
    std::optional<PresentDevice> listenedDevice() const;
    std::optional<ListenStatus> listenStatus(const DeviceMatch& match,
                                             const std::optional<PresentDevice>& device) const;
    std::optional<ListenTarget> armedTarget() const;

    Date now() const;

    // Quit (EngineShutdown.cpp).
    struct Quit;
    void beginQuit(std::function<void()> done);
    void waitForDevices();
    void checkDevices();
    // While the quit waits for the devices, a slot changed or left: the next check runs as the
    // next job instead of at the next poll. Nothing otherwise.
    void checkDevicesSoon();
    void finishQuit();

    EngineWorld world_;

    Channel<EngineStatus> statuses_{Buffering::newest};
    Channel<Action> actions_{Buffering::unbounded};
    Channel<LearnedPress> heard_{Buffering::unbounded};
    Channel<TapOrder> tapOrders_{Buffering::newest};
    Channel<TapSignal> tapSignals_{Buffering::unbounded};
    Channel<HoldScrollEvent> holdScrolls_{Buffering::unbounded};
    Channel<KeyHoldEvent> keyHolds_{Buffering::unbounded};
    std::unique_ptr<TapHost> tapHost_;

    std::optional<Config> config_;
    std::optional<ConfigError> configError_;
    bool paused_ = false;
    bool quitting_ = false;
    PermissionState permissions_;
    TapState tap_ = TapState::off;
    Intent intent_ = Intent::neutral();
    std::optional<TapOrder> sentTapOrder_;
    std::size_t tapOrdersSent_ = 0;
    std::map<DeviceInstanceID, std::unique_ptr<Slot>> slots_;
    std::map<DeviceInstanceID, HIDPPCapabilities> capabilities_;
    std::optional<LastReconnect> lastReconnect_;
    Listener listener_;
    TimerHandle listenTimer_;
    bool started_ = false;
    bool runStarted_ = false;
    std::shared_ptr<Quit> quit_;  // from the first shutdown() on
    std::unique_ptr<DeviceHub> hub_;
    // Timers and late jobs hold this weakly: the engine may be gone when they run.
    std::shared_ptr<Engine*> self_ = std::make_shared<Engine*>(this);
};

}  // namespace tindlewave
