#pragma once

#include <cstdint>
#include <optional>

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

    LearnStage learn;
    CarrierStage carriers;
    ScrollStage scroll;
    ButtonStage buttons;

    // What the tap host must undo when the pipeline lets go of what it held: after a new tap
    // order (rebuild) or when the tap was disabled and is enabled again (reset).
    struct Release {
        // The button stage's held button: its swallowed down, hold-scroll and key hold.
        ButtonStage::Release buttons;
        // The modifiers of carrier keys that were down and no longer hold them (their key is no
        // carrier now, or carries something else), less those a carrier still down holds. The
        // system was told they are down: the host posts carriersUp(flags) for its current flags.
        // The carrier stage swallows those keys' autorepeats and up.
        Modifiers carrierModifiers;

        // The flags-changed event (the Command key's, as a carrier's up is shown) whose flags
        // are the modifier bits of `flags` without `carrierModifiers` (a modifier whose own key
        // shows in the device bits stays): none when no carrier modifier ended.
        std::optional<KeyEvent> carriersUp(std::uint64_t flags) const;

        bool operator==(const Release&) const = default;
    };

    // The stages of the rules, with nothing heard, taken, held or tracked.
    explicit TapPipeline(const TapRules& rules);

    // The verdict for one event (its type, the event and where it came from: none for a posted
    // event); the carrier and button stages may change the event in place. The program's own
    // marked events always pass.
    TapVerdict process(EventType type, Event& event, const std::optional<HIDOrigin>& origin);

    // Follows new rules: the button stage is reset, held carrier keys that mean the same under
    // the new rules stay held and the others are ended (what both held is handed back for
    // release), every stage takes the new rules, and the learn stage keeps what it heard and
    // took, so a press heard just before is still swallowed to its end and not heard twice.
    Release rebuild(const TapRules& rules);

    // Lets go of every held carrier key and of the held button, keeping the rules: for a tap
    // that was disabled and may have missed their ups.
    Release reset();
};

}  // namespace tindlewave
