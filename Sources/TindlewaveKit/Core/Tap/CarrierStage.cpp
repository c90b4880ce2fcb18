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
    refreshLowCodes();
}

void CarrierStage::refreshLowCodes() {
    low_ = {};
    auto mark = [&](KeyCode key) {
        if (key.rawValue < lowCodes)
            low_[key.rawValue / 64] |= std::uint64_t{1} << (key.rawValue % 64);
    };
    for (const auto& carrier : carriers_) mark(carrier.first);
    for (KeyCode key : ended_) mark(key);
}

void CarrierStage::refreshHeld() {
    heldModifiers_ = {};
    for (const auto& held : held_) heldModifiers_ |= held.second;
    heldFlags_ = quartzFlags(heldModifiers_);
}

template <class Keep>
Modifiers CarrierStage::endHeldUnless(Keep keep) {
    Modifiers endedModifiers;
    std::erase_if(held_, [&](const std::pair<KeyCode, Modifiers>& held) {
        if (keep(held)) return false;
        endedModifiers |= held.second;
        if (std::find(ended_.begin(), ended_.end(), held.first) == ended_.end())
            ended_.push_back(held.first);
        return true;
    });
    refreshHeld();
    refreshLowCodes();
    return endedModifiers.without(heldModifiers_);
}

Modifiers CarrierStage::follow(const std::map<KeyCode, CarrierMeaning>& carriers) {
    CarrierStage next(carriers);
    next.held_ = std::move(held_);
    next.ended_ = std::move(ended_);
    const Modifiers endedModifiers = next.endHeldUnless([&](const auto& held) {
        auto meaning = carriers.find(held.first);
        if (meaning == carriers.end()) return false;
        const auto* holds = as<CarrierMeaning::HoldModifiers>(meaning->second);
        return holds && holds->modifiers == held.second;
    });
    next.held_.reserve(next.carriers_.size());
    *this = std::move(next);
    return endedModifiers;
}

Modifiers CarrierStage::endHeld() {
    return endHeldUnless([](const auto&) { return false; });
}

bool CarrierStage::endedKey(EventType type, const Event& event, std::int64_t code,
                            TapVerdict& verdict) {
    auto entry = std::find_if(ended_.begin(), ended_.end(),
                              [&](KeyCode key) { return key.rawValue == code; });
    if (entry == ended_.end()) return false;
    if (type == EventType::keyDown && tapevents::isAutorepeat(event)) {
        verdict.become(TapVerdict::Drop{});
        return true;
    }
    ended_.erase(entry);
    refreshLowCodes();
    if (type == EventType::keyDown) return false;  // pressed anew: handled as any press
    verdict.become(TapVerdict::Drop{});
    return true;
}

bool CarrierStage::carrierKey(EventType type, Event& event, KeyCode code,
                              const CarrierMeaning& meaning, TapVerdict& verdict) {
    if (const auto* press = as<CarrierMeaning::Press>(meaning)) {
        if (type == EventType::keyDown && !tapevents::isAutorepeat(event)) {
            verdict.become(TapVerdict::Perform{press->action});
        } else {
            verdict.become(TapVerdict::Drop{});
        }
        return true;
    }

    const Modifiers modifiers = as<CarrierMeaning::HoldModifiers>(meaning)->modifiers;
    auto entry = std::find_if(held_.begin(), held_.end(),
                              [&](const auto& held) { return held.first == code; });
    if (type == EventType::keyDown) {
        if (entry != held_.end()) {  // autorepeat of a held carrier
            verdict.become(TapVerdict::Drop{});
            return true;
        }
        held_.emplace_back(code, modifiers);
        refreshHeld();
        event.flags |= quartzFlags(modifiers);
    } else {
        if (entry != held_.end()) held_.erase(entry);
        refreshHeld();
        // What another carrier still holds stays, and so does a modifier whose own key the
        // user holds.
        event.flags = withoutModifiers(event.flags, modifiers.without(heldModifiers_));
    }
    event.type = EventType::flagsChanged;
    event.setInteger(IntegerField::keyCode, commandKeyCode);
    event.flags &= ~secondaryFnFlag;
    return false;
}

}  // namespace tindlewave
