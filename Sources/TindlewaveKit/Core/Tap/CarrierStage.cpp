#include "Core/Tap/CarrierStage.h"

#include <algorithm>

#include "Core/Tap/TapEventKinds.h"

namespace tindlewave {

namespace {

// The secondary-function flag that function keys carry; a modifier change has none.
constexpr std::uint64_t secondaryFnFlag = 0x800000;
// The Command key: a carrier that holds modifiers is shown as a change of this modifier key.
constexpr std::int64_t commandKeyCode = 55;

}  // namespace

CarrierStage::CarrierStage(const std::map<KeyCode, CarrierMeaning>& carriers)
    : carriers_(carriers.begin(), carriers.end()) {
    held_.reserve(carriers_.size());
    for (const auto& [key, meaning] : carriers_) {
        if (key.rawValue < lowCodes)
            low_[key.rawValue / 64] |= std::uint64_t{1} << (key.rawValue % 64);
    }
}

void CarrierStage::emptyHeld() {
    held_.clear();
    heldFlags_ = 0;
}

bool CarrierStage::carrierKey(EventType type, Event& event, KeyCode code,
                              const CarrierMeaning& meaning, TapVerdict& verdict) {
    if (const auto* press = meaning.as<CarrierMeaning::Press>()) {
        if (type == EventType::keyDown && !tapevents::isAutorepeat(event)) {
            verdict.become(TapVerdict::Perform{press->action});
        } else {
            verdict.become(TapVerdict::Drop{});
        }
        return true;
    }

    const Modifiers modifiers = meaning.as<CarrierMeaning::HoldModifiers>()->modifiers;
    auto entry = std::find_if(held_.begin(), held_.end(),
                              [&](const auto& held) { return held.first == code; });
    if (type == EventType::keyDown) {
        if (entry != held_.end()) {  // autorepeat of a held carrier
            verdict.become(TapVerdict::Drop{});
            return true;
        }
        held_.emplace_back(code, modifiers);
        heldFlags_ |= quartzFlags(modifiers);
        event.flags |= quartzFlags(modifiers);
    } else {
        if (entry != held_.end()) held_.erase(entry);
        heldFlags_ = 0;
        for (const auto& held : held_) heldFlags_ |= quartzFlags(held.second);
        event.flags &= heldFlags_ | ~quartzFlags(modifiers);
    }
    event.type = EventType::flagsChanged;
    event.setInteger(IntegerField::keyCode, commandKeyCode);
    event.flags &= ~secondaryFnFlag;
    return false;
}

}  // namespace tindlewave
