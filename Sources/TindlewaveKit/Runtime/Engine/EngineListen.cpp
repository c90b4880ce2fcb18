// Listening for one press on a configured device: arming, the 10 s time-out, the press heard,
// ending from outside, and the listen side of the status.

#include <cassert>

#include "Core/Devices/ConfigMatching.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"

namespace tindlewave {

namespace {

const Duration listenWindow = std::chrono::duration_cast<Duration>(ListenStatus::timeout);

}  // namespace

void Engine::listen(const DeviceMatch& match) {
    assert(world_.hid.isCurrent());
    std::optional<PresentDevice> device;
    if (config_) {
        for (auto& candidate : present()) {
            const DeviceProfile* profile = profileFor(*config_, candidate.properties);
            if (profile != nullptr && profile->match == match) {
                device = std::move(candidate);
                break;
            }
        }
    }
    std::optional<ListenEnd> refusal;
    if (paused_ || quitting_)
        refusal = ListenEnd::paused;
    else if (!device)
        refusal = ListenEnd::disconnected;
    else if (!canHear(*device))
        refusal = ListenEnd::needsAccessibility;

    const auto previous = armedTarget();
    if (refusal) {
        listener_.state = Listener::State::ended(match, *refusal);
        world_.journal.listenRefused(*refusal);
    } else {
        const ListenID id{listener_.nextID++};
        listener_.state = Listener::State::armed(
            Listener::Armed{id, match, device->id,
                            now() + std::chrono::duration_cast<Date::duration>(listenWindow)});
        if (speaksHIDPP(*device)) latch().insert(match);
        std::weak_ptr<Engine*> weak = self_;
        listenTimer_ = world_.hid.schedule(world_.hid.clock().now() + listenWindow, [weak, id] {
            if (auto engine = weak.lock()) (*engine)->timedOut(id);
        });
        world_.journal.listenArmed(id, *device);
    }
    relisten(previous);
}

void Engine::stopListening() {
    assert(world_.hid.isCurrent());
    if (const auto* armed = as<Listener::Armed>(listener_.state)) {
        const ListenTarget target{armed->id, armed->device};
        listener_.state = Listener::State::idle();
        world_.journal.listenStopped();
        relisten(target);
    } else if (is<Listener::State::Ended>(listener_.state)) {
        listener_.state = Listener::State::idle();
        publish();
    }
}

void Engine::endListen(std::optional<ListenEnd> end, std::optional<ListenSource> only) {
    const auto* armed = as<Listener::Armed>(listener_.state);
    if (armed == nullptr) return;
    if (only) {
        if (const auto* tap = as<ListenSource::Tap>(*only); tap && tap->id != armed->id) return;
        if (const auto* dev = as<ListenSource::Device>(*only); dev && dev->device != armed->device)
            return;
    }
    listener_.state = end ? Listener::State::ended(armed->match, *end) : Listener::State::idle();
    listenTimer_.cancel();
    world_.journal.listenEnded(end);
}

void Engine::hear(const ListenPress& press, const ListenSource& source) {
    if (!intent_.listening) return;  // before the listening set-up was compiled, or after
    const auto previous = armedTarget();
    const auto armed = listener_.hear(source);
    if (!armed) return;
    heard_.send(LearnedPress{armed->match, intent_.listening->heard(press)});
    world_.journal.listenHeard(armed->id, press);
    relisten(previous);
}

void Engine::timedOut(ListenID id) {
    const auto* armed = as<Listener::Armed>(listener_.state);
    if (armed == nullptr || armed->id != id) return;
    const ListenTarget target{armed->id, armed->device};
    listener_.state = Listener::State::ended(armed->match, ListenEnd::timedOut);
    world_.journal.listenTimedOut(id);
    relisten(target);
}

void Engine::relisten(const std::optional<ListenTarget>& previous) {
    const auto armed = armedTarget();
    if (!armed) listenTimer_.cancel();
    recompile(false);
    std::vector<DeviceInstanceID> affected;
    if (previous) affected.push_back(previous->device);
    if (armed && !(previous && previous->device == armed->device)) affected.push_back(armed->device);
    for (DeviceInstanceID id : affected) {
        Slot* slot = slotFor(id);
        if (slot == nullptr) continue;
        if (slot->hasKeyMap()) slot->applyKeyMap(ApplyReason::listen);
        slot->applyHIDPP(ApplyReason::listen);
    }
    publish();
}

bool Engine::canHear(const PresentDevice& device) const {
    using Grant = PermissionState::Grant;
    if (permissions_.accessibility == Grant::granted && !device.eventServices.empty())
        return true;
    return speaksHIDPP(device) && permissions_.inputMonitoring == Grant::granted && hub_ &&
           hub_->hidppInterface(device.id) != nullptr;
}

std::optional<PresentDevice> Engine::listenedDevice() const {
    const auto* armed = as<Listener::Armed>(listener_.state);
    if (armed == nullptr) return std::nullopt;
    for (auto& device : present())
        if (device.id == armed->device) return device;
    return std::nullopt;
}

std::optional<ListenTarget> Engine::armedTarget() const {
    const auto* armed = as<Listener::Armed>(listener_.state);
    if (armed == nullptr) return std::nullopt;
    return ListenTarget{armed->id, armed->device};
}

std::optional<ListenStatus> Engine::listenStatus(const DeviceMatch& match,
                                                 const std::optional<PresentDevice>& device) const {
    if (const auto* armed = as<Listener::Armed>(listener_.state); armed && armed->match == match) {
        if (!device) return std::nullopt;
        const Slot* slot = this->slot(device->id);
        // Ready: the tap (when the listen needs it) is on, and the device has taken the
        // listening set-up: no key-map pass running, and a HID++ session whose last job applied.
        bool ready = (!intent_.tap.listen || tap_ == TapState::on) && slot != nullptr &&
                     !slot->scheduler().running;
        if (ready && slot->session() != nullptr) {
            const auto& last = slot->hidppLast();
            ready = !slot->session()->link().scheduler.running && last &&
                    is<Slot::HIDPPApply::Applied>(last->outcome);
        }
        return ready ? ListenStatus::listening(armed->until)
                     : ListenStatus::gettingReady(armed->until);
    }
    if (const auto* ended = as<Listener::State::Ended>(listener_.state);
        ended && ended->match == match)
        return ListenStatus::ended(ended->end);
    return std::nullopt;
}

}  // namespace tindlewave
