#include "Core/Tap/TapPipeline.h"

namespace tindlewave {

TapPipeline::TapPipeline(const TapRules& rules)
    : learn{rules.listen, std::nullopt, std::nullopt},
      carriers(rules.carriers),
      scroll(rules.smoothScroll),
      buttons(rules.buttons) {}

TapVerdict TapPipeline::process(EventType type, Event& event,
                                const std::optional<HIDOrigin>& origin) {
    TapVerdict verdict = TapVerdict::pass();
    if (event.carriesMarker()) return verdict;
    // Each stage either decides (and writes its answer into the verdict) or lets the event pass
    // to the next, in the order learn, carriers, scroll, buttons. Only the stages that handle the
    // event's type are asked: keys go to the learn and carrier stages, the wheel to the scroll
    // stage alone, and buttons (and anything else, which every stage lets pass) to the learn and
    // button stages.
    switch (type) {
        case EventType::keyDown:
        case EventType::keyUp:
            if (!learn.process(type, event, origin, verdict)) {
                carriers.process(type, event, verdict);
            } else if (type == EventType::keyUp &&
                       carriers.holds(event.integer(IntegerField::keyCode))) {
                // A carrier held since before listening began was pressed again and heard; its
                // up still ends the carrier's hold, or its modifiers would stay down.
                verdict = TapVerdict::pass();
                carriers.process(type, event, verdict);
            }
            break;
        case EventType::scrollWheel:
            scroll.process(type, event, origin, verdict);
            break;
        default:
            if (!learn.process(type, event, origin, verdict)) {
                buttons.process(type, event, origin, verdict);
            }
            break;
    }
    return verdict;
}

std::optional<KeyEvent> TapPipeline::Release::carriersUp(std::uint64_t flags) const {
    if (carrierModifiers.isEmpty()) return std::nullopt;
    return KeyEvent{EventType::flagsChanged, KeyCode{virtualKeyCode(HeldModifier::leftCommand)},
                    withoutModifiers(flags & keyflags::modifierMask, carrierModifiers) |
                        keyflags::nonCoalesced};
}

TapPipeline::Release TapPipeline::rebuild(const TapRules& rules) {
    Release release{buttons.reset(), carriers.follow(rules.carriers)};
    learn.listen = rules.listen;
    scroll = ScrollStage(rules.smoothScroll);
    buttons.follow(rules.buttons);
    return release;
}

TapPipeline::Release TapPipeline::reset() {
    return Release{buttons.reset(), carriers.endHeld()};
}

}  // namespace tindlewave
