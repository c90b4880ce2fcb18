// Reconcile: the configuration compiled for the present devices, the tap order sent when it
// changed, and the slots asked to apply; and the slot made for each present device.

#include <cassert>

#include "Core/Devices/ConfigMatching.h"
#include "Platform/Executor.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"

namespace tindlewave {

namespace {

bool wantsTap(const TapRules& rules) {
    return !rules.carriers.empty() || !rules.smoothScroll.empty() || !rules.buttons.empty() ||
           rules.listen.has_value();
}

}  // namespace

void Engine::reconcile(ApplyReason reason, bool resendTapOrder) {
    assert(world_.hid.isCurrent());
    recompile(resendTapOrder);
    for (auto& [id, slot] : slots_) {
        slot->applyKeyMap(reason);
        slot->applyHIDPP(reason);
    }
    publish();
}

std::vector<PresentDevice> Engine::present() const {
    if (!hub_) return {};
    std::vector<PresentDevice> devices = hub_->roster().devices();
    for (auto& device : devices) {
        auto found = capabilities_.find(device.id);
        device.hidpp = found == capabilities_.end()
                           ? std::nullopt
                           : std::optional<HIDPPCapabilities>(found->second);
        device.hasHIDPPInterface = hub_->hidppInterface(device.id) != nullptr;
    }
    return devices;
}

void Engine::recompile(bool resendTapOrder) {
    const bool tapAvailable =
        permissions_.accessibility == PermissionState::Grant::granted;
    if (!config_) {
        intent_ = Intent::neutral();
    } else {
        intent_ = Intent::compile(*config_, paused_ || quitting_, tapAvailable, present(),
                                  armedTarget());
    }
    TapOrder order{tapAvailable && wantsTap(intent_.tap), intent_.tap};
    if (!resendTapOrder && sentTapOrder_ == order) return;
    tapOrders_.send(order);
    ++tapOrdersSent_;
    sentTapOrder_ = std::move(order);
}

DeviceSetup Engine::desired(DeviceInstanceID id) const {
    auto found = intent_.setups.find(id);
    return found == intent_.setups.end() ? DeviceSetup::neutral() : found->second;
}

void Engine::addSlot(const PresentDevice& device, bool atLaunch) {
    const DeviceProfile* profile = config_ ? profileFor(*config_, device.properties) : nullptr;
    world_.journal.connected(device, profile ? std::optional(profile->name) : std::nullopt,
                             atLaunch);
    if (!atLaunch && profile != nullptr) lastReconnect_ = LastReconnect{device.id, profile->name, now()};

    HIDDeviceRef hidpp = hub().hidppInterface(device.id);
    const bool owesNative = latch().contains(deviceMatch(device.properties));
    const DeviceInstanceID id = device.id;
    Slot::Callbacks callbacks{
        [this, id] { return desired(id); },
        [this] {
            publish();
            checkDevicesSoon();
        },
        [this, id](const HIDPPCapabilities& found) { discovered(id, found); },
        [this](const Action& action) { actions_.send(action); },
        [this](const HoldScrollEvent& event) { holdScrolls_.send(event); },
        [this](const KeyHoldEvent& event) { keyHolds_.send(event); },
        [this, id](const ListenPress& press) { hear(press, ListenSource::device(id)); },
    };
    slots_.insert_or_assign(
        id, std::make_unique<Slot>(device, now(), std::move(hidpp), owesNative,
                                   std::move(callbacks),
                                   Slot::Context{world_.hid, world_.keyMap, world_.journal}));
}

void Engine::discovered(DeviceInstanceID id, const HIDPPCapabilities& found) {
    capabilities_.insert_or_assign(id, found);
    recompile(false);
    // The plan handed before discovery was compiled without the device's controls; when the
    // controls change it (a hold-and-move rule the device cannot serve, a click that now fires
    // on press), the running job's session gets the new plan with the job's own reasons. A rule
    // on a control the device lacks changes nothing the device sees: the running job's set-up
    // is the one wanted, and applying it again would only repeat it.
    if (Slot* slot = slotFor(id); slot != nullptr && slot->handedPlan()) {
        const std::optional<HIDPPSetup> wanted = desired(id).hidpp;
        const std::optional<HIDPPSetup> plan =
            wanted ? wanted
                   : (slot->hidppWrites().owesNative ? std::optional(HIDPPSetup::native())
                                                     : std::nullopt);
        const auto seen = [&](const std::optional<HIDPPSetup>& setup) {
            return setup ? std::optional(setup->onDevice(found)) : std::nullopt;
        };
        if (seen(plan) != seen(*slot->handedPlan())) {
            const std::set<ApplyReason> reasons = slot->hidppJobReasons();
            for (ApplyReason reason : reasons) slot->applyHIDPP(reason);
        }
    }
    publish();
}

}  // namespace tindlewave
