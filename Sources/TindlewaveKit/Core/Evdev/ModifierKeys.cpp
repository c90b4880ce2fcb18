#include "Core/Evdev/ModifierKeys.h"

#include <array>

namespace tindlewave {

std::uint64_t ModifierKeys::flags(bool capsLock) const {
    // The flags of every set of keys, worked out once: the event system asks after each frame.
    static const std::array<std::uint64_t, 256> table = [] {
        std::array<std::uint64_t, 256> flagsOf{};
        for (unsigned raw = 0; raw < flagsOf.size(); ++raw) {
            const ModifierKeys keys{static_cast<std::uint8_t>(raw)};
            for (HeldModifier m : allCases<HeldModifier>()) {
                if (keys.contains(m)) flagsOf[raw] |= deviceFlag(m) | quartzFlags(generic(m));
            }
        }
        return flagsOf;
    }();
    return table[rawValue] | (capsLock ? capsLockFlag : 0);
}

ModifierKeys ModifierKeys::forFlags(std::uint64_t flags) {
    ModifierKeys keys;
    Modifiers sided;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if ((flags & deviceFlag(m)) != 0) {
            keys.set(m, true);
            sided |= generic(m);
        }
    }
    // The left keys come first in the case order.
    for (HeldModifier m : {HeldModifier::leftControl, HeldModifier::leftShift,
                           HeldModifier::leftOption, HeldModifier::leftCommand}) {
        const Modifiers family = generic(m);
        if ((flags & quartzFlags(family)) != 0 && !sided.contains(family)) keys.set(m, true);
    }
    return keys;
}

}  // namespace tindlewave
