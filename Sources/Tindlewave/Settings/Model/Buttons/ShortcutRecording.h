#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "Model/Keys.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// The shortcut field while it records: it follows the modifier keys going down and up, and turns
// one modifier pressed and let go alone into a held-modifier action. Key codes and flag words are
// the keyboard events' own.
struct ShortcutRecording {
    // The result of one change of the modifier keys.
    struct Outcome {
        struct Waiting {  // nothing to record yet
            bool operator==(const Waiting&) const = default;
        };
        struct Record {  // record this action
            Action action;
            bool operator==(const Record&) const = default;
        };

        std::variant<Waiting, Record> value;

        static Outcome waiting() { return {Waiting{}}; }
        static Outcome record(Action action) { return {Record{std::move(action)}}; }

        bool operator==(const Outcome&) const = default;
    };

    Modifiers held;                    // the modifiers down at the last change, either side alike
    std::optional<HeldModifier> lone;  // the one modifier that went down alone, while it may count

    // Follows one flags-changed event.
    Outcome flagsChanged(std::uint16_t keyCode, std::uint64_t flags);
    // The prompt for the present state.
    std::string hint() const;

    bool operator==(const ShortcutRecording&) const = default;
};

}  // namespace tindlewave
