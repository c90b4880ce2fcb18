#include "Core/TapPipeline.h"

#include <utility>

namespace tindlewave {

TapPipeline::TapPipeline(const TapRules& rules, EventOrigin originFunction)
    : origin(std::move(originFunction)),
      learn{rules.listen, std::nullopt, std::nullopt},
      carriers(rules.carriers),
      scroll(rules.smoothScroll),
      buttons(rules.buttons) {}

TapVerdict TapPipeline::process(EventType type, Event& event) {
    TapVerdict verdict = TapVerdict::pass();
    if (event.carriesMarker()) return verdict;
    OriginLookup lookup(origin, event);
    // Each stage either decides (and writes its answer into the verdict) or lets the event pass
    // to the next; the stages' own checks keep an event that none wants to a few comparisons.
    if (learn.process(type, event, lookup, verdict)) return verdict;
    if (carriers.process(type, event, verdict)) return verdict;
    if (scroll.process(type, event, lookup, verdict)) return verdict;
    buttons.process(type, event, lookup, verdict);
    return verdict;
}

ButtonStage::Release TapPipeline::rebuild(const TapRules& rules) {
    carriers.emptyHeld();
    ButtonStage::Release release = buttons.reset();
    learn.listen = rules.listen;
    carriers = CarrierStage(rules.carriers);
    scroll = ScrollStage(rules.smoothScroll);
    buttons = ButtonStage(rules.buttons);
    return release;
}

}  // namespace tindlewave
