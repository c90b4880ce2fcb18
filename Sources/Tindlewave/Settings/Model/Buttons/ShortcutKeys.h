#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "Model/Rule.h"
#include "Settings/Model/Buttons/RecorderFieldState.h"
#include "Settings/Model/Buttons/ShortcutRecording.h"

namespace tindlewave {

// The shortcut field's handling of the keyboard while it is open, in keyboard-event terms
// (virtual key codes and flag words): modifier changes go to the recording and may record a lone
// modifier; a key press records a shortcut, cancels (Escape alone) or is refused (no name).
class ShortcutKeys {
  public:
    struct Keep {  // the field stays open
        bool operator==(const Keep&) const = default;
    };
    struct Cancel {
        bool operator==(const Cancel&) const = default;
    };
    struct Record {
        Action action;
        bool operator==(const Record&) const = default;
    };
    using Outcome = std::variant<Keep, Cancel, Record>;

    static constexpr std::uint16_t escapeKeyCode = 53;

    // A modifier key went down or up; `flags` is the word after the change.
    Outcome flagsChanged(std::uint16_t keyCode, std::uint64_t flags);
    // A key went down; `keyCode` is none for a key the keyboard layer could not translate.
    Outcome keyDown(std::optional<std::uint16_t> keyCode, std::uint64_t flags);

    // What the field shows now.
    RecorderFieldState display() const;
    const ShortcutRecording& recording() const { return recording_; }

  private:
    ShortcutRecording recording_;
    bool unnameable_ = false;
};

}  // namespace tindlewave
