#pragma once

#include <cstdint>

#include "Core/Tap/ButtonStage.h"
#include "Core/Tap/CarrierStage.h"
#include "Core/Tap/Event.h"
#include "Core/Tap/HIDOrigin.h"
#include "Core/Tap/LearnStage.h"
#include "Core/Tap/ScrollStage.h"
#include "Core/Tap/TapMask.h"
#include "Core/Tap/TapRules.h"
#include "Core/Tap/TapVerdict.h"

namespace tindlewave {

// Decides, for one event seen by the event tap, what happens to it. Owned by the tap host and
// used on its thread only; it posts nothing itself. The common paths (keys, drags, wheel
// notches) allocate nothing.
struct TapPipeline {
    // The event types the tap must see: the union of what the stages handle.
    static constexpr std::uint64_t mask = tapMask;

    EventOrigin origin;
    LearnStage learn;
    CarrierStage carriers;
    ScrollStage scroll;
    ButtonStage buttons;

    // The stages of the rules, with nothing heard, taken, held or tracked.
    TapPipeline(const TapRules& rules, EventOrigin origin);

    // The verdict for one event (its type and the event); the carrier and button stages may
    // change the event in place. The program's own marked events always pass.
    TapVerdict process(EventType type, Event& event);

    // Follows new rules: the held carriers are forgotten and the button stage is reset (what it
    // held is handed back for release), every stage takes the new rules, and the learn stage
    // keeps what it heard and took, so a press heard just before is still swallowed to its end
    // and not heard twice.
    ButtonStage::Release rebuild(const TapRules& rules);
};

}  // namespace tindlewave
