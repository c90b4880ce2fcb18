// The engine's status: built whole from its state every time and sent to the newest-only stream.

#include <algorithm>

#include "Core/Devices/ConfigMatching.h"
#include "Core/Overloaded.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"

namespace tindlewave {

namespace {

// F18 on the keyboard page: the hyper key's carrier.
constexpr std::uint16_t hyperCarrierUsage = 0x6D;

}  // namespace

void Engine::publish() {
    const std::vector<PresentDevice> devices = present();
    EngineStatus status{paused_ ? RunState::paused : RunState::active,
                        permissions_,
                        configError_,
                        tap_,
                        {},
                        {},
                        std::nullopt,
                        config_.has_value()};
    if (config_) {
        for (const auto& profile : config_->devices)
            status.devices.push_back(configuredStatus(profile, devices));
        for (const auto& device : devices) {
            const DeviceMatch match = deviceMatch(device.properties);
            auto same = [&](const auto& entry) { return entry.match == match; };
            auto sameMatch = [&](const DeviceMatch& other) { return other == match; };
            if (std::any_of(config_->devices.begin(), config_->devices.end(), same) ||
                std::any_of(config_->ignored.begin(), config_->ignored.end(), sameMatch) ||
                std::any_of(status.newDevices.begin(), status.newDevices.end(), same))
                continue;
            const Slot* slot = this->slot(device.id);
            status.newDevices.push_back(DeviceStatus{
                device.properties.name.value_or("Unknown device"),
                match,
                device.properties.kind(),
                device.properties.transport,
                slot ? std::optional(slot->connectedAt()) : std::nullopt,
            });
        }
    }
    if (lastReconnect_) {
        const Slot* slot = this->slot(lastReconnect_->device);
        status.lastReconnect =
            Reconnect{lastReconnect_->name, lastReconnect_->at, slot != nullptr && slot->reapplied()};
    }
    statuses_.send(std::move(status));
}

DeviceStatus Engine::configuredStatus(const DeviceProfile& profile,
                                      const std::vector<PresentDevice>& present) const {
    const PresentDevice* connected = nullptr;
    for (const auto& device : present) {
        // Only a device the profile's match fits can have it for its profile: the look through
        // every profile is made for those alone, so a file of many devices is published in time
        // linear in their number.
        if (!matches(profile.match, device.properties)) continue;
        const DeviceProfile* found = profileFor(*config_, device.properties);
        if (found != nullptr && *found == profile) {
            connected = &device;
            break;
        }
    }
    DeviceStatus status{profile.name, profile.match};
    status.listen = listenStatus(profile.match, connected ? std::optional(*connected) : std::nullopt);
    const bool hyper = profile.hyper.value_or(false);
    if (connected == nullptr) {
        if (hyper) status.hyper = HyperStatus::off();
        return status;
    }
    status.kind = profile.kind ? *profile.kind : connected->properties.kind();
    status.transport = connected->properties.transport;
    if (const Slot* slot = this->slot(connected->id)) {
        status.connectedAt = slot->connectedAt();
        if (hyper) status.hyper = hyperStatus(*slot);
        status.hidpp = hidppStatus(*slot);
    } else if (hyper) {
        status.hyper = HyperStatus::off();
    }
    return status;
}

std::optional<HyperStatus> Engine::hyperStatus(const Slot& slot) const {
    return std::visit(
        Overloaded{
            [](const Slot::Phase::Failed& failed) {
                return HyperStatus::failed(failed.error.description());
            },
            [&](const Slot::Phase::Idle&) {
                const auto& owned = slot.ownedOnDevice();
                const bool routesToHyper =
                    owned && std::any_of(owned->routes.begin(), owned->routes.end(),
                                         [](const KeyRoute& route) {
                                             return route.target.usage().rawValue ==
                                                    hyperCarrierUsage;
                                         });
                return routesToHyper ? HyperStatus::on() : HyperStatus::off();
            },
            [](const Slot::Phase::Applying&) { return HyperStatus::applying(); },
        },
        slot.phase().value);
}

std::optional<HIDPPStatus> Engine::hidppStatus(const Slot& slot) const {
    std::optional<HIDPPStatus::Progress> progress;
    if (slot.hidppApplying()) {
        progress = HIDPPStatus::Progress::applying();
    } else if (const auto& last = slot.hidppLast()) {
        progress = std::visit(
            Overloaded{
                [](const Slot::HIDPPApply::Failed& f) {
                    return HIDPPStatus::Progress::notSetUp(f.text);
                },
                [](const Slot::HIDPPApply::Skipped& s) {
                    return HIDPPStatus::Progress::notSetUp(s.text);
                },
                [](const Slot::HIDPPApply::Applied&) { return HIDPPStatus::Progress::setUp(); },
            },
            last->outcome.value);
    }
    if (!progress) return std::nullopt;
    const DeviceInstanceID id = slot.device().id;
    HIDPPStatus status{*progress, std::nullopt, std::nullopt, {}};
    if (const auto& last = slot.hidppLast()) status.lastApply = last->at;
    if (auto found = capabilities_.find(id); found != capabilities_.end())
        status.capabilities = found->second;
    if (auto found = intent_.skipped.find(id); found != intent_.skipped.end())
        status.skippedRules = found->second;
    return status;
}

}  // namespace tindlewave
