#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "Core/Listening/Listener.h"
#include "Core/Tap/Event.h"
#include "Core/Tap/HIDOrigin.h"
#include "Core/Tap/TapRules.h"
#include "Core/Tap/TapVerdict.h"
#include "Model/Keys.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// The tap's part in listening for a press: the first right or other button down, or key down
// that is no autorepeat, from one of the listened event services is heard once per listen id,
// and the rest of that press (its repeats, drags and up, from the same service) is swallowed.
struct LearnStage {
    // A heard press whose remaining events are swallowed: a button or key of one event service.
    struct Taken {
        struct Button {
            SenderID sender;
            std::int64_t number = 0;
            bool operator==(const Button&) const = default;
        };
        struct Key {
            SenderID sender;
            KeyCode code;
            bool operator==(const Key&) const = default;
        };
        std::variant<Button, Key> value;

        static Taken button(SenderID sender, std::int64_t number) {
            return {Button{sender, number}};
        }
        static Taken key(SenderID sender, KeyCode code) { return {Key{sender, code}}; }

        bool operator==(const Taken&) const = default;
    };

    std::optional<TapListen> listen;  // from the rules
    std::optional<ListenID> heard;    // the listen request already answered
    std::optional<Taken> taken;

    // Whether the stage decides the event, with its answer in `verdict`; false lets the event
    // pass to the next stage. Cheap when nothing is listened for or taken.
    bool process(EventType type, const Event& event, const std::optional<HIDOrigin>& origin,
                 TapVerdict& verdict) {
        if (!taken && (!listen || heard == listen->id)) return false;
        return listenFor(type, event, origin, verdict);
    }

  private:
    bool listenFor(EventType type, const Event& event, const std::optional<HIDOrigin>& origin,
                   TapVerdict& verdict);
    // The verdict for an event of the taken press; none when the event is not one of its own.
    std::optional<TapVerdict> follow(EventType type, const Event& event,
                                     const std::optional<HIDOrigin>& origin);
};

}  // namespace tindlewave
