// The input half of the link: what it does with the notices of a device whose controls, raw
// movement or thumb wheel it has diverted.

#include <algorithm>

#include "Core/HIDPP/Link.h"

namespace tindlewave {

namespace {

constexpr CID leftButton{0x50};

bool contains(const std::vector<CID>& list, CID cid) {
    return std::find(list.begin(), list.end(), cid) != list.end();
}

}  // namespace

HIDPPOutput HIDPPLink::finish() {
    HIDPPOutput out;
    letGo(out);
    return out;
}

void HIDPPLink::letGo(HIDPPOutput& out) {
    gestureControl.reset();
    perform(gesture.step(GestureMachine::Input::cancel()), out);
    releaseKeys(out);
}

void HIDPPLink::handle(const HIDPPNotice& notice, Instant now, HIDPPOutput& out) {
    if (const auto* buttons = as<HIDPPNotice::DivertedButtons>(notice)) {
        // The notice lists every diverted control now down: what left the list went up, what
        // entered it went down.
        const std::vector<CID> before = held;
        held = buttons->cids;
        for (CID cid : before) {
            if (!contains(held, cid)) released(cid, out);
        }
        for (CID cid : held) {
            if (!contains(before, cid)) pressed(cid, out);
        }
    } else if (const auto* movement = as<HIDPPNotice::RawXY>(notice)) {
        if (!gestureControl) return;
        perform(gesture.step(GestureMachine::Input::move(static_cast<double>(movement->dx),
                                                         static_cast<double>(movement->dy))),
                out);
    } else if (const auto* status = as<HIDPPNotice::WirelessStatus>(notice)) {
        // The device (re)connected with its settings forgotten: nothing it listed is diverted
        // any more, and it reports no release for it. Nothing was released either, so nothing
        // fires: the gesture is cancelled (a hold-scroll ends) and the key holds are let go of.
        held.clear();
        letGo(out);
        // It may ask for its settings again.
        if (!status->reconfigure) return;
        if (scheduler.request(ApplyReason::deviceAsked) == ApplyScheduler::RequestOutcome::start) {
            startNextJob(now, out);
        }
    } else if (is<HIDPPNotice::ThumbWheel>(notice)) {
        // The wheel is diverted only while listening.
        if (plan && plan->listening)
            out.events.push_back(HIDPPEvent::heard(ListenPress::thumbWheel()));
    }
}

void HIDPPLink::pressed(CID cid, HIDPPOutput& out) {
    if (!plan) return;
    if (plan->listening) {
        if (cid != leftButton) out.events.push_back(HIDPPEvent::heard(ListenPress::hidpp(cid)));
        return;
    }
    const ControlBehavior* behavior = plan->behavior(cid);
    if (behavior == nullptr) return;
    if (const auto* press = as<ControlBehavior::Press>(*behavior)) {
        out.events.push_back(HIDPPEvent::perform(press->action));
    } else if (const auto* gesturePlan = as<ControlBehavior::Gesture>(*behavior)) {
        gestureControl = cid;
        perform(gesture.step(GestureMachine::Input::press(gesturePlan->plan)), out);
    } else if (const auto* hold = as<ControlBehavior::Hold>(*behavior)) {
        if (!contains(keyHolds, cid)) keyHolds.push_back(cid);
        out.events.push_back(HIDPPEvent::holdKeys(cid, hold->keyHold));
    }
}

void HIDPPLink::released(CID cid, HIDPPOutput& out) {
    if (auto found = std::find(keyHolds.begin(), keyHolds.end(), cid); found != keyHolds.end()) {
        keyHolds.erase(found);
        out.events.push_back(HIDPPEvent::releaseKeys(cid));
    }
    if (gestureControl == cid) {
        gestureControl.reset();
        perform(gesture.step(GestureMachine::Input::release()), out);
    }
}

void HIDPPLink::forget(CID cid, HIDPPOutput& out) {
    auto found = std::find(held.begin(), held.end(), cid);
    if (found == held.end()) return;
    held.erase(found);
    released(cid, out);
}

void HIDPPLink::perform(const std::optional<GestureMachine::Output>& gestureOutput,
                        HIDPPOutput& out) {
    if (!gestureOutput) return;
    if (const auto* click = as<GestureMachine::Output::Click>(*gestureOutput)) {
        if (click->action) out.events.push_back(HIDPPEvent::perform(*click->action));
    } else if (const auto* swipe = as<GestureMachine::Output::Swipe>(*gestureOutput)) {
        out.events.push_back(HIDPPEvent::perform(swipe->action));
    } else if (const auto* scroll = as<GestureMachine::Output::Scroll>(*gestureOutput)) {
        out.events.push_back(HIDPPEvent::holdScroll(scroll->event));
    }
}

void HIDPPLink::releaseKeys(HIDPPOutput& out) {
    for (CID cid : keyHolds) out.events.push_back(HIDPPEvent::releaseKeys(cid));
    keyHolds.clear();
}

}  // namespace tindlewave
