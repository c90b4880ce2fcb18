#include "Settings/Model/Buttons/ShortcutKeys.h"

#include "Settings/Model/Texts/Labels.h"

namespace tindlewave {

ShortcutKeys::Outcome ShortcutKeys::flagsChanged(std::uint16_t keyCode, std::uint64_t flags) {
    auto outcome = recording_.flagsChanged(keyCode, flags);
    if (const auto* record = as<ShortcutRecording::Outcome::Record>(outcome))
        return Record{record->action};
    return Keep{};
}

ShortcutKeys::Outcome ShortcutKeys::keyDown(std::optional<std::uint16_t> keyCode,
                                            std::uint64_t flags) {
    // A modifier pressed before a key no longer counts as pressed alone.
    recording_.lone.reset();
    const Modifiers modifiers = Labels::modifiers(flags);
    if (keyCode == escapeKeyCode && modifiers.isEmpty()) return Cancel{};
    const auto key = keyCode ? KeyCode::fromVirtualKeyCode(*keyCode) : std::nullopt;
    if (!key) {
        unnameable_ = true;
        return Keep{};
    }
    return Record{Action::shortcut(Chord{*key, modifiers})};
}

RecorderFieldState ShortcutKeys::display() const {
    auto hint = unnameable_ ? RecorderHint::problem("Can't use that key. Try another.")
                            : RecorderHint::prompt(recording_.hint());
    return RecorderFieldState::recording(Labels::modifierSymbols(recording_.held), std::move(hint));
}

}  // namespace tindlewave
