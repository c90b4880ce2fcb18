// The engine's construction, its run over the seven streams, and what snapshots, permission
// states, tap signals, wake notices and device changes do.

#include <array>
#include <cassert>
#include <utility>

#include "Core/Devices/ConfigMatching.h"
#include "Core/Overloaded.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"
#include "Runtime/Permissions.h"
#include "Runtime/Tap/TapHost.h"

namespace tindlewave {

// The seven loops of one run. Each subscription is made on the HID executor and afterwards
// touched only by the cancel job on its own executor; the rest only on the HID executor.
struct Engine::RunLoops {
    static constexpr std::size_t loops = 7;
    std::array<Subscription, loops> subscriptions;
    std::array<Executor*, loops> executors{};
    std::array<bool, loops> ended{};
    std::size_t live = loops;
    bool cancelled = false;
    std::function<void()> onEnded;
};

Engine::Engine(EngineWorld world)
    : world_(std::move(world)),
      tapHost_(std::make_unique<TapHost>(world_.events, world_.tap, tapSignals_, actions_)),
      permissions_(Permissions(world_.grants).current()) {}

Engine::~Engine() {
    // Nothing here changes a device: the quit sequence is the only clean-up path. Slots and the
    // hub unregister what could call back into them; the tap host goes with its executor's
    // consent (stopped, or this is its thread).
    listenTimer_.cancel();
    slots_.clear();
    hub_.reset();
    tapHost_.reset();
}

Cancellable Engine::run(Channel<ConfigSnapshot> configs, Channel<PermissionState> permissions,
                        std::function<void()> ended) {
    assert(world_.hid.isCurrent());
    if (runStarted_) return Cancellable();
    runStarted_ = true;

    auto run = std::make_shared<RunLoops>();
    run->onEnded = std::move(ended);
    std::weak_ptr<Engine*> weak = self_;
    Executor& hid = world_.hid;
    Executor& tap = world_.tap;

    // A loop's end, natural or by cancellation, is counted on the HID executor.
    auto endOf = [weak, run, &hid](std::size_t loop) {
        return [weak, run, &hid, loop] {
            hid.post([weak, run, loop] {
                if (auto engine = weak.lock()) (*engine)->loopEnded(run, loop);
            });
        };
    };

    publish();

    TapHost* host = tapHost_.get();
    run->executors = {&tap, &tap, &tap, &hid, &hid, &hid, &hid};
    run->subscriptions[0] =
        tapOrders_.subscribe(tap, [host](TapOrder order) { host->follow(order); }, endOf(0));
    run->subscriptions[1] = holdScrolls_.subscribe(
        tap, [host](HoldScrollEvent event) { host->holdScrolled(event, std::nullopt); },
        endOf(1));
    run->subscriptions[2] = keyHolds_.subscribe(
        tap, [host](KeyHoldEvent event) { host->receive(event); }, endOf(2));
    run->subscriptions[3] = tapSignals_.subscribe(
        hid, [this](TapSignal signal) { tapSignal(signal); }, endOf(3));
    run->subscriptions[4] = configs.subscribe(
        hid, [this](ConfigSnapshot snapshot) { configChanged(snapshot); }, endOf(4));
    run->subscriptions[5] = permissions.subscribe(
        hid, [this](PermissionState state) { permissionsChanged(state); }, endOf(5));
    run->subscriptions[6] =
        world_.wakes.subscribe(hid, [this](WakeNotice) { woke(); }, endOf(6));

    return Cancellable([weak, run, &hid] {
        hid.post([weak, run] {
            if (run->cancelled) return;
            run->cancelled = true;
            for (std::size_t loop = 0; loop < RunLoops::loops; ++loop) {
                Executor* executor = run->executors[loop];
                Executor& back = *run->executors[3];
                // Cancelled where it delivers, so nothing more arrives once the cancel ran.
                executor->post([weak, run, loop, &back] {
                    run->subscriptions[loop].cancel();
                    back.post([weak, run, loop] {
                        if (auto engine = weak.lock()) (*engine)->loopEnded(run, loop);
                    });
                });
            }
        });
    });
}

void Engine::loopEnded(const std::shared_ptr<RunLoops>& run, std::size_t loop) {
    if (run->ended[loop]) return;
    run->ended[loop] = true;
    if (--run->live > 0) return;
    // Every loop has ended: the app's loops end after what the streams still hold.
    statuses_.finish();
    actions_.finish();
    heard_.finish();
    if (auto ended = std::exchange(run->onEnded, nullptr)) ended();
}

void Engine::tapSignal(const TapSignal& signal) {
    std::visit(Overloaded{
                   [&](const TapSignal::Heard& heard) {
                       hear(heard.press, ListenSource::tap(heard.id));
                   },
                   [&](const TapSignal::Installed&) {
                       tap_ = TapState::on;
                       publish();
                   },
                   [&](const TapSignal::InstallFailed&) {
                       tap_ = TapState::failed;
                       publish();
                   },
                   [&](const TapSignal::Removed&) {
                       tap_ = TapState::off;
                       publish();
                   },
                   [&](const TapSignal::Reenabled&) {
                       world_.journal.tapReenabled();
                       publish();
                   },
               },
               signal.value);
}

void Engine::configChanged(const ConfigSnapshot& snapshot) {
    const bool unchanged = snapshot.config == config_;
    config_ = snapshot.config;
    configError_ = snapshot.error;

    if (!started_) {
        started_ = true;
        for (const auto& device : hub().start()) addSlot(device, true);
        reconcile(ApplyReason::launch, false);
        return;
    }
    if (unchanged) {
        publish();  // only the error changed
        return;
    }
    if (const auto* armed = as<Listener::Armed>(listener_.state)) {
        // The listen goes on only while the listened device still has a profile of its match.
        const auto device = listenedDevice();
        const DeviceProfile* profile =
            device && config_ ? profileFor(*config_, device->properties) : nullptr;
        if (profile == nullptr || !(profile->match == armed->match))
            endListen(std::nullopt, std::nullopt);
    }
    reconcile(ApplyReason::configChanged, false);
}

void Engine::permissionsChanged(const PermissionState& state) {
    if (state == permissions_) return;
    permissions_ = state;
    if (auto device = listenedDevice(); device && !canHear(*device))
        endListen(ListenEnd::needsAccessibility, std::nullopt);
    reconcile(ApplyReason::permissionChanged, false);
}

void Engine::woke() {
    world_.journal.wokeFromSleep();
    endListen(ListenEnd::slept, std::nullopt);
    reconcile(ApplyReason::wake, false);
}

void Engine::setPaused(bool paused) {
    assert(world_.hid.isCurrent());
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) endListen(ListenEnd::paused, std::nullopt);
    reconcile(ApplyReason::pauseChanged, false);
}

void Engine::reapplyAll() {
    assert(world_.hid.isCurrent());
    reconcile(ApplyReason::manual, true);
}

DeviceHub& Engine::hub() {
    if (!hub_) {
        hub_ = std::make_unique<DeviceHub>(
            world_.hidSystem, world_.hid,
            [this](const DeviceRoster::Change& change) { handle(change); });
    }
    return *hub_;
}

void Engine::handle(const DeviceRoster::Change& change) {
    std::visit(Overloaded{
                   [&](const DeviceRoster::Change::Appeared& e) {
                       addSlot(e.device, false);
                       recompile(false);
                       if (Slot* slot = slotFor(e.device.id)) slot->invalidate(ApplyReason::connected);
                       publish();
                   },
                   [&](const DeviceRoster::Change::Changed& e) { changed(e.device); },
                   [&](const DeviceRoster::Change::Disappeared& e) { disappeared(e.device); },
               },
               change.value);
}

void Engine::changed(const PresentDevice& device) {
    world_.journal.changed(device);
    Slot* slot = slotFor(device.id);
    if (slot == nullptr) {
        recompile(false);
        publish();
        return;
    }
    if (slot->device().properties == device.properties) {
        // Only its interfaces or event services changed: the slot stays, but a HID++ interface
        // that arrived after the slot was made is taken and set up.
        const bool adopted = slot->adoptHIDPPInterface(hub().hidppInterface(device.id));
        recompile(false);
        if (adopted) slot->applyHIDPP(ApplyReason::connected);
        publish();
        return;
    }
    slots_.at(device.id)->close();
    slots_.erase(device.id);
    addSlot(device, false);
    recompile(false);
    if (Slot* fresh = slotFor(device.id)) fresh->invalidate(ApplyReason::connected);
    publish();
}

void Engine::disappeared(const PresentDevice& device) {
    endListen(ListenEnd::disconnected, ListenSource::device(device.id));
    if (auto found = slots_.find(device.id); found != slots_.end()) {
        found->second->close();
        slots_.erase(found);
    }
    capabilities_.erase(device.id);
    world_.journal.disconnected(device);
    recompile(true);
    publish();
    checkDevicesSoon();
}

bool Engine::anySlotBusy() const {
    for (const auto& [id, slot] : slots_)
        if (slot->busy()) return true;
    return false;
}

const Slot* Engine::slot(DeviceInstanceID id) const {
    auto found = slots_.find(id);
    return found == slots_.end() ? nullptr : found->second.get();
}

Slot* Engine::slotFor(DeviceInstanceID id) {
    auto found = slots_.find(id);
    return found == slots_.end() ? nullptr : found->second.get();
}

Date Engine::now() const { return world_.hid.clock().date(); }

}  // namespace tindlewave
