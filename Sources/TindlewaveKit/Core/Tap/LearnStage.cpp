#include "Core/Tap/LearnStage.h"

#include <algorithm>

#include "Core/Tap/TapEventKinds.h"

namespace tindlewave {

using namespace tapevents;

std::optional<TapVerdict> LearnStage::follow(EventType type, const Event& event) {
    if (const auto* key = taken->as<Taken::Key>()) {
        if (type != EventType::keyDown && type != EventType::keyUp) return std::nullopt;
        if (keyCode(event) != key->code) return std::nullopt;
        if (type == EventType::keyUp) {
            taken.reset();
            return TapVerdict::drop();
        }
        if (isAutorepeat(event)) return TapVerdict::drop();
        taken.reset();  // pressed anew: no longer part of the heard press
        return std::nullopt;
    }

    const auto* button = taken->as<Taken::Button>();
    auto phase = buttonPhase(type);
    if (!phase || buttonNumber(event) != button->number) return std::nullopt;
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

bool LearnStage::listenFor(EventType type, const Event& event, OriginLookup& origin,
                           TapVerdict& verdict) {
    if (taken) {
        if (auto followed = follow(type, event)) {
            verdict = std::move(*followed);
            return true;
        }
    }
    if (!listen || heard == listen->id) return false;

    std::optional<Taken> press;
    if (buttonPhase(type) == ButtonPhase::pressed) {
        press = Taken::button(buttonNumber(event));
    } else if (type == EventType::keyDown && !isAutorepeat(event)) {
        if (auto code = keyCode(event)) press = Taken::key(*code);
    }
    if (!press) return false;

    const auto& from = origin.get();
    if (!from || !listen->senders.contains(from->sender)) return false;

    heard = listen->id;
    taken = press;
    if (const auto* button = press->as<Taken::Button>()) {
        verdict.become(TapVerdict::Heard{listen->id, ListenPress::button(button->number)});
    } else {
        verdict.become(
            TapVerdict::Heard{listen->id, ListenPress::key(press->as<Taken::Key>()->code)});
    }
    return true;
}

}  // namespace tindlewave
