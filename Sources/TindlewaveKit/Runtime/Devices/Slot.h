#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "Core/Apply/ApplyScheduler.h"
#include "Core/Devices/DeviceIdentity.h"
#include "Core/HIDPP/Writes.h"
#include "Core/Keys/HeldKeys.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Listening/Listener.h"
#include "Core/Scrolling/HoldScrollPlan.h"
#include "Core/Tap/Intent.h"
#include "Model/Capabilities.h"
#include "Model/Date.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"
#include "Platform/Cancellable.h"
#include "Platform/HIDSystem.h"
#include "Runtime/Devices/HIDPPSession.h"
#include "Runtime/Stores/Journal.h"
#include "Runtime/KeyMap/KeyMapError.h"
#include "Runtime/KeyMap/KeyMapWriter.h"

namespace tindlewave {

class Executor;

// The runtime worker of one present device. It brings the device in line with the engine's
// current `DeviceSetup` in two independent halves: the key map, written to the device's keyboard
// services with hidutil by a worker (one write at a time, retried after 0.3, 1, 2, 4 and 8 s), and
// the HID++ set-up, handed to the device's `HIDPPSession` (opened on first need). It forwards what
// the session reports to the engine's callbacks and keeps what the device's status is made of.
//
// Everything runs on the HID executor, one call at a time; the callbacks are called there too.
// The engine calls `close()` before it drops a slot. Dropping a slot cancels its retry, its worker
// and its session; a hidutil result that arrives after the slot is gone does nothing.
class Slot {
  public:
    // The key-map half's state.
    struct Phase {
        struct Failed {  // the last key-map job failed
            KeyMapError error;
            bool operator==(const Failed&) const = default;
        };
        struct Idle {
            bool operator==(const Idle&) const = default;
        };
        struct Applying {
            bool operator==(const Applying&) const = default;
        };
        std::variant<Failed, Idle, Applying> value = Idle{};

        static Phase failed(KeyMapError error) { return {Failed{std::move(error)}}; }
        static Phase idle() { return {Idle{}}; }
        static Phase applying() { return {Applying{}}; }
        bool operator==(const Phase&) const = default;
    };

    // How the last HID++ job went.
    struct HIDPPApply {
        struct Failed {  // the job failed; the failure's words
            std::string text;
            bool operator==(const Failed&) const = default;
        };
        struct Skipped {  // the session could not be opened; the open failure's words
            std::string text;
            bool operator==(const Skipped&) const = default;
        };
        struct Applied {
            bool operator==(const Applied&) const = default;
        };
        std::variant<Failed, Skipped, Applied> value;

        static HIDPPApply failed(std::string text) { return {Failed{std::move(text)}}; }
        static HIDPPApply skipped(std::string text) { return {Skipped{std::move(text)}}; }
        static HIDPPApply applied() { return {Applied{}}; }
        bool operator==(const HIDPPApply&) const = default;
    };
    struct HIDPPLast {
        HIDPPApply outcome;
        Date at;
        bool operator==(const HIDPPLast&) const = default;
    };

    // The engine's side, all called on the HID executor.
    struct Callbacks {
        std::function<DeviceSetup()> desired;  // the engine's current set-up for the device
        std::function<void()> changed;         // something the status shows changed
        std::function<void(const HIDPPCapabilities&)> discovered;
        std::function<void(const Action&)> perform;
        std::function<void(const HoldScrollEvent&)> holdScroll;
        std::function<void(const KeyHoldEvent&)> holdKeys;
        std::function<void(const ListenPress&)> heard;
    };

    // Where the slot works: its executor (the HID executor, also where the key-map writer's
    // results come back), what writes the key map (hidutil or an in-process backend), and the
    // journal.
    struct Context {
        Executor& executor;
        KeyMapHost keyMap;
        Journal journal;
    };

    // `hidppInterface`: the hub's HID++ interface of the device, if any. `owesNative`: the device
    // is in the record of controls left diverted, so its first HID++ apply writes the native
    // set-up even without a set-up of its own.
    Slot(PresentDevice device, Date connectedAt, HIDDeviceRef hidppInterface, bool owesNative,
         Callbacks callbacks, Context context);
    ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // Both halves: the key-map step, then the HID++ step, with the same reason.
    void invalidate(ApplyReason reason);
    // The key-map half: the reason is queued; a worker starts unless one runs.
    void applyKeyMap(ApplyReason reason);
    // The HID++ half: opens the session when needed and hands it the plan.
    void applyHIDPP(ApplyReason reason);
    // Cancels the retry, then the worker, then closes the session. Nothing starts afterwards.
    void close();
    // Takes the device's HID++ interface when it arrived after the slot was made; false when the
    // slot already has one or is closed. The engine then applies the HID++ half.
    bool adoptHIDPPInterface(HIDDeviceRef interface);

    // Whether everything the device needs is in place: the key map (when routes are wanted) and
    // the HID++ set-up (when there is a session); false with neither part.
    bool reapplied() const;
    // Work is under way: the key-map scheduler runs, or the session's link has a job running.
    // The engine's quit waits until no slot is busy.
    bool busy() const;
    // Whether the device is as it was before the program, for a quit that began at `quitBegan`
    // (every set-up neutral since): nothing under way, no key map of ours left on a keyboard, and
    // a device that owes its native set-up given it by a HID++ apply that ended well after the
    // quit began (one from before it, a failed one or none leaves it diverted).
    bool putBackSince(Date quitBegan) const;

    const PresentDevice& device() const { return device_; }
    Date connectedAt() const { return connectedAt_; }
    const Phase& phase() const { return phase_; }
    const std::optional<KeyMapSetup>& ownedOnDevice() const { return ownedOnDevice_; }
    bool surveyed() const { return surveyed_; }
    bool hidppApplying() const { return hidppApplying_; }
    const std::optional<HIDPPLast>& hidppLast() const { return hidppLast_; }
    const std::string& matching() const { return matching_; }
    bool hasKeyMap() const { return hasKeyMap_; }
    const HIDDeviceRef& hidppInterface() const { return hidppInterface_; }
    const HIDPPSession* session() const { return session_.get(); }
    const HIDPPWrites& hidppWrites() const { return hidppWrites_; }
    const ApplyScheduler& scheduler() const { return scheduler_; }
    bool isClosed() const { return closed_; }
    // The plan last handed to the session (absent: none handed yet), and the reasons of the
    // HID++ job in progress (empty when none runs), so the engine can refresh a plan after
    // discovery with the same reasons.
    const std::optional<std::optional<HIDPPSetup>>& handedPlan() const { return handedPlan_; }
    // The last plan handed that diverted anything (none: none did): what a device that was not
    // put back is left with.
    const std::optional<HIDPPSetup>& divertingPlan() const { return divertingPlan_; }
    const std::set<ApplyReason>& hidppJobReasons() const { return hidppJobReasons_; }

  private:
    void nextPass();
    void surveyed(const ApplyScheduler::Job& job, Result<KeyMapWriter::Pairs, KeyMapError> read);
    void write(const ApplyScheduler::Job& job);
    void written(const ApplyScheduler::Job& job, const KeyMapSetup& wrote,
                 Result<std::monostate, KeyMapError> result);
    void keyMapFailed(KeyMapError error);
    void hidppEvent(const HIDPPEvent& event);
    Date now() const;
    template <class F>
    auto guarded(F body);

    PresentDevice device_;
    Date connectedAt_;
    Phase phase_;
    std::optional<KeyMapSetup> ownedOnDevice_;
    bool surveyed_ = false;
    bool hidppApplying_ = false;
    std::optional<HIDPPLast> hidppLast_;
    Callbacks callbacks_;
    Context context_;
    std::string matching_;
    bool hasKeyMap_;
    HIDDeviceRef hidppInterface_;
    std::unique_ptr<HIDPPSession> session_;
    HIDPPWrites hidppWrites_;
    ApplyScheduler scheduler_;
    bool workerCancelled_ = false;
    TimerHandle retry_;
    bool closed_ = false;
    std::optional<std::optional<HIDPPSetup>> handedPlan_;
    std::optional<HIDPPSetup> divertingPlan_;
    std::set<ApplyReason> hidppJobReasons_;
    // Jobs and hidutil results hold this weakly: the slot may be gone when they run.
    std::shared_ptr<Slot*> self_ = std::make_shared<Slot*>(this);
};

}  // namespace tindlewave
