#include "Core/Tap/LearnStage.h"

#include <algorithm>

#include "Core/Tap/TapEventKinds.h"

namespace tindlewave {

using namespace tapevents;

namespace {

bool from(const std::optional<HIDOrigin>& origin, SenderID sender) {
    return origin && origin->sender == sender;
}

}  // namespace

std::optional<TapVerdict> LearnStage::follow(EventType type, const Event& event,
                                             const std::optional<HIDOrigin>& origin) {
    if (const auto* key = as<Taken::Key>(*taken)) {
        if (type != EventType::keyDown && type != EventType::keyUp) return std::nullopt;
        if (keyCode(event) != key->code || !from(origin, key->sender)) return std::nullopt;
        if (type == EventType::keyUp) {
            taken.reset();
            return TapVerdict::drop();
        }
        if (isAutorepeat(event)) return TapVerdict::drop();
        taken.reset();  // pressed anew: no longer part of the heard press
        return std::nullopt;
    }

    const auto* button = as<Taken::Button>(*taken);
    auto phase = buttonPhase(type);
    if (!phase || buttonNumber(event) != button->number) return std::nullopt;
    if (!from(origin, button->sender)) return std::nullopt;
    switch (*phase) {
        case ButtonPhase::pressed:
            taken.reset();
            return std::nullopt;
        case ButtonPhase::released:
            taken.reset();
            return TapVerdict::drop();
        case ButtonPhase::dragged:
            return TapVerdict::drop();
    }
    return std::nullopt;
}

bool LearnStage::listenFor(EventType type, const Event& event,
                           const std::optional<HIDOrigin>& origin, TapVerdict& verdict) {
    if (taken) {
        if (auto followed = follow(type, event, origin)) {
            verdict = std::move(*followed);
            return true;
        }
    }
    if (!listen || heard == listen->id) return false;

    enum class Press { none, button, key } press = Press::none;
    if (buttonPhase(type) == ButtonPhase::pressed) {
        press = Press::button;
    } else if (type == EventType::keyDown && !isAutorepeat(event) && keyCode(event)) {
        press = Press::key;
    }
    if (press == Press::none) return false;

    if (!origin || !listen->senders.contains(origin->sender)) return false;

    heard = listen->id;
    if (press == Press::button) {
        const std::int64_t number = buttonNumber(event);
        taken = Taken::button(origin->sender, number);
        verdict.become(TapVerdict::Heard{listen->id, ListenPress::button(number)});
    } else {
        const KeyCode code = *keyCode(event);
        taken = Taken::key(origin->sender, code);
        verdict.become(TapVerdict::Heard{listen->id, ListenPress::key(code)});
    }
    return true;
}

}  // namespace tindlewave
