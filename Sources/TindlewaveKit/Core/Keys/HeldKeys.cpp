#include "Core/Keys/HeldKeys.h"

#include <algorithm>

#include "Model/Hash.h"
#include "Model/HexCoding.h"
#include "Model/Rule.h"

namespace tindlewave {

namespace {

std::uint64_t flagsOf(const std::set<HeldModifier>& modifiers) {
    std::uint64_t flags = 0;
    for (HeldModifier m : modifiers) flags |= eventFlags(m);
    return flags;
}

KeyEvent flagsChanged(HeldModifier modifier, std::uint64_t flags) {
    return {EventType::flagsChanged, KeyCode{virtualKeyCode(modifier)},
            flags | keyflags::nonCoalesced};
}

}  // namespace

std::optional<KeyHold> KeyHold::fromAction(const Action& action) {
    if (const auto* modifier = action.as<Action::Modifier>()) {
        return KeyHold{{modifier->modifier}, std::nullopt};
    }
    if (const auto* shortcut = action.as<Action::Shortcut>()) {
        const Modifiers& mods = shortcut->chord.modifiers;
        KeyHold hold{{}, shortcut->chord.key};
        if (mods.contains(Modifiers::control)) hold.modifiers.push_back(HeldModifier::leftControl);
        if (mods.contains(Modifiers::option)) hold.modifiers.push_back(HeldModifier::leftOption);
        if (mods.contains(Modifiers::shift)) hold.modifiers.push_back(HeldModifier::leftShift);
        if (mods.contains(Modifiers::command)) hold.modifiers.push_back(HeldModifier::leftCommand);
        return hold;
    }
    return std::nullopt;
}

std::string toText(const KeyHolder& holder) {
    if (const auto* button = holder.as<KeyHolder::Button>()) {
        return "button(" + hexText(button->sender.rawValue) + "," +
               std::to_string(button->number) + ")";
    }
    const auto& control = std::get<KeyHolder::Control>(holder.value);
    return "control(" + toText(control.device) + "," + hexText(control.cid.rawValue) + ")";
}

bool releaseOrderBefore(const KeyHolder& a, const KeyHolder& b) {
    if (a.value.index() != b.value.index()) return a.value.index() < b.value.index();
    if (const auto* button = a.as<KeyHolder::Button>()) {
        const auto* other = b.as<KeyHolder::Button>();
        if (button->number != other->number) return button->number < other->number;
        return button->sender < other->sender;
    }
    const auto& ca = *a.as<KeyHolder::Control>();
    const auto& cb = *b.as<KeyHolder::Control>();
    if (ca.device != cb.device) return ca.device < cb.device;
    return ca.cid.rawValue < cb.cid.rawValue;
}

std::uint64_t eventFlags(HeldModifier modifier) {
    return quartzFlags(generic(modifier)) | deviceFlag(modifier);
}

std::uint64_t HeldKeys::base(std::uint64_t flags) const {
    return flags & keyflags::modifierMask & ~heldFlags_;
}

std::vector<KeyEvent> HeldKeys::receive(const KeyHoldEvent& event, std::uint64_t flags) {
    const std::uint64_t baseFlags = base(flags);
    if (const auto* release = event.as<KeyHoldEvent::Release>()) {
        return this->release(release->holder, baseFlags);
    }
    const auto& press = std::get<KeyHoldEvent::Press>(event.value);
    std::vector<KeyEvent> events = release(press.holder, baseFlags);

    for (HeldModifier modifier : press.hold.modifiers) {
        if (!held_.insert(modifier).second) continue;  // another holder or an earlier entry
        heldFlags_ |= eventFlags(modifier);
        events.push_back(flagsChanged(modifier, heldFlags_ | baseFlags));
    }
    if (press.hold.key) {
        const bool keyAlreadyDown = std::any_of(holds_.begin(), holds_.end(), [&](const auto& h) {
            return h.second.key == press.hold.key;
        });
        if (!keyAlreadyDown) {
            events.push_back({EventType::keyDown, *press.hold.key,
                              heldFlags_ | baseFlags | keyflags::nonCoalesced});
        }
    }
    holds_.insert_or_assign(press.holder, press.hold);
    refreshHeld();
    return events;
}

std::vector<KeyEvent> HeldKeys::release(const KeyHolder& holder, std::uint64_t base) {
    const auto found = holds_.find(holder);
    if (found == holds_.end()) return {};
    const KeyHold removed = std::move(found->second);
    holds_.erase(found);
    refreshHeld();

    const std::set<HeldModifier>& remaining = held_;
    std::set<HeldModifier> down = remaining;
    down.insert(removed.modifiers.begin(), removed.modifiers.end());

    std::vector<KeyEvent> events;
    if (removed.key) {
        const bool stillHeld = std::any_of(holds_.begin(), holds_.end(), [&](const auto& h) {
            return h.second.key == removed.key;
        });
        if (!stillHeld) {
            events.push_back(
                {EventType::keyUp, *removed.key, flagsOf(down) | base | keyflags::nonCoalesced});
        }
    }
    for (auto it = removed.modifiers.rbegin(); it != removed.modifiers.rend(); ++it) {
        if (remaining.contains(*it)) continue;  // another holder still holds it
        if (down.erase(*it) == 0) continue;     // a repeat within this hold, already let go
        events.push_back(flagsChanged(*it, flagsOf(down) | base));
    }
    return events;
}

std::vector<KeyEvent> HeldKeys::releaseAll(std::uint64_t flags) {
    const std::uint64_t baseFlags = base(flags);
    std::vector<KeyHolder> holders;
    holders.reserve(holds_.size());
    for (const auto& entry : holds_) holders.push_back(entry.first);
    std::sort(holders.begin(), holders.end(), releaseOrderBefore);

    std::vector<KeyEvent> events;
    for (const KeyHolder& holder : holders) {
        auto released = release(holder, baseFlags);
        events.insert(events.end(), released.begin(), released.end());
    }
    return events;
}

void HeldKeys::refreshHeld() {
    held_.clear();
    for (const auto& entry : holds_) {
        held_.insert(entry.second.modifiers.begin(), entry.second.modifiers.end());
    }
    heldFlags_ = flagsOf(held_);
}

}  // namespace tindlewave

std::size_t std::hash<tindlewave::KeyHold>::operator()(
    const tindlewave::KeyHold& hold) const noexcept {
    using tindlewave::hashCombine, tindlewave::hashOf;
    std::size_t seed = hold.modifiers.size();
    for (auto modifier : hold.modifiers) hashCombine(seed, hashOf(modifier));
    hashCombine(seed, hashOf(hold.key));
    return seed;
}

std::size_t std::hash<tindlewave::KeyHolder>::operator()(
    const tindlewave::KeyHolder& holder) const noexcept {
    using tindlewave::KeyHolder, tindlewave::hashCombine, tindlewave::hashOf;
    std::size_t seed = holder.value.index();
    if (const auto* button = holder.as<KeyHolder::Button>()) {
        hashCombine(seed, hashOf(button->sender));
        hashCombine(seed, hashOf(button->number));
        return seed;
    }
    const auto& control = *holder.as<KeyHolder::Control>();
    hashCombine(seed, hashOf(control.device));
    hashCombine(seed, hashOf(control.cid));
    return seed;
}
