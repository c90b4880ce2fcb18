#include "Settings/Model/Buttons/ShortcutRecording.h"

#include "Settings/Model/Texts/Labels.h"

namespace tindlewave {

ShortcutRecording::Outcome ShortcutRecording::flagsChanged(std::uint16_t keyCode,
                                                           std::uint64_t flags) {
    const Modifiers before = held;
    held = Labels::modifiers(flags);
    const auto modifier = heldModifierFromVirtualKeyCode(keyCode);
    if (!modifier) return Outcome::waiting();
    if (flags & deviceFlag(*modifier)) {  // the key went down
        lone = before.isEmpty() ? modifier : std::nullopt;
        return Outcome::waiting();
    }
    if (!held.isEmpty()) return Outcome::waiting();  // another modifier is still down
    const auto wasLone = lone;
    lone.reset();
    if (wasLone == modifier) return Outcome::record(Action::modifier(*modifier));
    return Outcome::waiting();
}

std::string ShortcutRecording::hint() const {
    if (lone) return "Let go to use " + std::string(Labels::modifierName(*lone));
    if (!held.isEmpty()) return "Now press a key";
    return "Type a shortcut, or one modifier";
}

}  // namespace tindlewave
