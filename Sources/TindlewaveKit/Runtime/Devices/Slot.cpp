#include "Runtime/Devices/Slot.h"

#include "Core/Devices/ConfigMatching.h"
#include "Core/Overloaded.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"

namespace tindlewave {

Slot::Slot(PresentDevice device, Date connectedAt, HIDDeviceRef hidppInterface, bool owesNative,
           Callbacks callbacks, Context context)
    : device_(std::move(device)),
      connectedAt_(connectedAt),
      callbacks_(std::move(callbacks)),
      context_(std::move(context)),
      matching_(hidutilKeyboardMatching(deviceMatch(device_.properties))),
      hasKeyMap_(device_.properties.hasUsage(usages::keyboard)),
      hidppInterface_(std::move(hidppInterface)),
      hidppWrites_{owesNative} {}

Slot::~Slot() {
    self_.reset();  // pending jobs and hidutil results find no slot
    retry_.cancel();
    session_.reset();  // unregisters and closes without delivering anything
}

void Slot::invalidate(ApplyReason reason) {
    applyKeyMap(reason);
    applyHIDPP(reason);
}

void Slot::close() {
    if (closed_) return;
    closed_ = true;
    retry_.cancel();
    workerCancelled_ = true;
    if (session_) session_->close();
}

bool Slot::adoptHIDPPInterface(HIDDeviceRef interface) {
    if (closed_ || hidppInterface_ || !interface) return false;
    hidppInterface_ = std::move(interface);
    return true;
}

void Slot::applyHIDPP(ApplyReason reason) {
    if (closed_) return;
    const DeviceSetup setup = callbacks_.desired();
    if (!hidppInterface_) return;
    const bool wanted = setup.hidpp.has_value() || hidppWrites_.owesNative;
    if (!wanted && !setup.discoverHIDPP) return;

    if (!session_) {
        auto opened = HIDPPSession::open(hidppInterface_, context_.executor, context_.journal,
                                         [this](const HIDPPEvent& event) { hidppEvent(event); });
        if (!opened) {
            const std::string text = opened.error().description();
            hidppLast_ = HIDPPLast{HIDPPApply::skipped(text), now()};
            context_.journal.hidppSkipped(device_, text);
            callbacks_.changed();
            return;
        }
        session_ = std::move(*opened);
    }
    auto plan = hidppWrites_.send(setup.hidpp);
    handedPlan_ = plan;
    if (plan && (!plan->controls.empty() || plan->listening || plan->thumbWheelDiverted)) divertingPlan_ = plan;
    session_->request(reason, std::move(plan));
}

void Slot::hidppEvent(const HIDPPEvent& event) {
    std::visit(
        Overloaded{
            [&](const HIDPPEvent::Discovered& e) {
                context_.journal.discovered(device_, e.capabilities);
                callbacks_.discovered(e.capabilities);
            },
            [&](const HIDPPEvent::ApplyStarted& e) {
                hidppApplying_ = true;
                hidppJobReasons_ = e.job.reasons;
                callbacks_.changed();
            },
            [&](const HIDPPEvent::ApplyFinished& e) {
                hidppApplying_ = false;
                hidppJobReasons_.clear();
                const auto* failed = as<HIDPPOutcome::Failed>(e.outcome);
                hidppLast_ = HIDPPLast{failed ? HIDPPApply::failed(failed->failure.description())
                                              : HIDPPApply::applied(),
                                       now()};
                context_.journal.applied(device_, e.job, e.outcome);
                callbacks_.changed();
            },
            [&](const HIDPPEvent::Perform& e) { callbacks_.perform(e.action); },
            [&](const HIDPPEvent::HoldScroll& e) { callbacks_.holdScroll(e.event); },
            [&](const HIDPPEvent::HoldKeys& e) {
                callbacks_.holdKeys(
                    KeyHoldEvent::press(KeyHolder::control(device_.id, e.cid), e.hold));
            },
            [&](const HIDPPEvent::ReleaseKeys& e) {
                callbacks_.holdKeys(KeyHoldEvent::release(KeyHolder::control(device_.id, e.cid)));
            },
            [&](const HIDPPEvent::Heard& e) { callbacks_.heard(e.press); },
        },
        event.value);
}

bool Slot::reapplied() const {
    const DeviceSetup setup = callbacks_.desired();
    bool anyPart = false;
    bool inPlace = true;
    if (!setup.keyMap.routes.empty()) {
        anyPart = true;
        inPlace = inPlace && is<Phase::Idle>(phase_) && ownedOnDevice_ &&
                  ownedOnDevice_->routes == setup.keyMap.routes;
    }
    if (session_) {
        anyPart = true;
        inPlace = inPlace && !hidppApplying_ && hidppLast_ &&
                  is<HIDPPApply::Applied>(hidppLast_->outcome);
    }
    return anyPart && inPlace;
}

bool Slot::busy() const {
    if (closed_) return false;
    return scheduler_.running ||
           (session_ && !session_->isClosed() && session_->link().scheduler.running);
}

bool Slot::putBackSince(Date quitBegan) const {
    if (busy()) return false;
    // A keyboard still holding a key map of ours has not been put back, though a failed pass is
    // not running; its retry may yet succeed.
    if (!closed_ && ownedOnDevice_ && !ownedOnDevice_->routes.empty()) return false;
    if (!hidppWrites_.owesNative || !hidppInterface_) return true;
    return !hidppApplying_ && hidppLast_ && is<HIDPPApply::Applied>(hidppLast_->outcome) &&
           hidppLast_->at >= quitBegan;
}

Date Slot::now() const {
    return context_.executor.clock().date();
}

}  // namespace tindlewave
