#include "Core/Keys/HeldKeys.h"

#include <algorithm>
#include <span>

#include "Model/Hash.h"
#include "Model/HexCoding.h"
#include "Model/Rule.h"

namespace tindlewave {

namespace {

KeyEvent flagsChanged(HeldModifier modifier, std::uint64_t flags) {
    return {EventType::flagsChanged, KeyCode{virtualKeyCode(modifier)},
            flags | keyflags::nonCoalesced};
}

// The side-specific device bits of a set of modifiers.
std::uint64_t deviceFlags(HeldModifierSet modifiers) {
    std::uint64_t flags = 0;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if (modifiers.contains(m)) flags |= deviceFlag(m);
    }
    return flags;
}

// The generic modifiers of a set of side modifiers.
Modifiers generics(HeldModifierSet modifiers) {
    Modifiers all;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if (modifiers.contains(m)) all |= generic(m);
    }
    return all;
}

}  // namespace

std::optional<KeyHold> KeyHold::fromAction(const Action& action) {
    if (const auto* modifier = as<Action::Modifier>(action)) {
        return KeyHold{{modifier->modifier}, std::nullopt};
    }
    if (const auto* shortcut = as<Action::Shortcut>(action)) {
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
    if (const auto* button = as<KeyHolder::Button>(holder)) {
        return "button(" + hexText(button->sender.rawValue) + "," + std::to_string(button->number) +
               ")";
    }
    const auto& control = std::get<KeyHolder::Control>(holder.value);
    return "control(" + toText(control.device) + "," + hexText(control.cid.rawValue) + ")";
}

bool releaseOrderBefore(const KeyHolder& a, const KeyHolder& b) {
    if (a.value.index() != b.value.index()) return a.value.index() < b.value.index();
    if (const auto* button = as<KeyHolder::Button>(a)) {
        const auto* other = as<KeyHolder::Button>(b);
        if (button->number != other->number) return button->number < other->number;
        return button->sender < other->sender;
    }
    const auto& ca = *as<KeyHolder::Control>(a);
    const auto& cb = *as<KeyHolder::Control>(b);
    if (ca.device != cb.device) return ca.device < cb.device;
    return ca.cid.rawValue < cb.cid.rawValue;
}

std::uint64_t eventFlags(HeldModifier modifier) {
    return quartzFlags(generic(modifier)) | deviceFlag(modifier);
}

std::uint64_t eventFlags(HeldModifierSet modifiers) {
    return quartzFlags(generics(modifiers)) | deviceFlags(modifiers);
}

std::uint64_t HeldKeys::base(std::uint64_t flags) const {
    const std::uint64_t users = flags & keyflags::modifierMask & ~deviceFlags(held_);
    return withoutModifiers(users, generics(held_));
}

const HeldKeys::Entry* HeldKeys::find(const KeyHolder& holder) const {
    return std::find_if(holds_.begin(), holds_.end(),
                        [&](const Entry& entry) { return entry.holder == holder; });
}

bool HeldKeys::keyHeld(KeyCode key) const {
    return std::any_of(holds_.begin(), holds_.end(),
                       [&](const Entry& entry) { return entry.hold.key == key; });
}

HeldKeys::Events HeldKeys::receive(const KeyHoldEvent& event, std::uint64_t flags) {
    const std::uint64_t baseFlags = base(flags);
    if (const auto* release = as<KeyHoldEvent::Release>(event)) {
        return this->release(release->holder, baseFlags);
    }
    const auto& press = std::get<KeyHoldEvent::Press>(event.value);
    if (holds_.full() && find(press.holder) == holds_.end()) return {};  // no room: holds nothing
    Events events = release(press.holder, baseFlags);

    for (HeldModifier modifier : press.hold.modifiers) {
        if (held_.contains(modifier)) continue;  // another holder holds it
        held_.insert(modifier);
        heldFlags_ |= eventFlags(modifier);
        if ((baseFlags & deviceFlag(modifier)) != 0) {
            usersOwn_.insert(modifier);  // its key is down already: the user's to let go
            continue;
        }
        events.push_back(flagsChanged(modifier, heldFlags_ | baseFlags));
    }
    if (press.hold.key && !keyHeld(*press.hold.key)) {
        events.push_back(
            {EventType::keyDown, *press.hold.key, heldFlags_ | baseFlags | keyflags::nonCoalesced});
    }
    holds_.push_back({press.holder, press.hold});
    return events;
}

HeldKeys::Events HeldKeys::release(const KeyHolder& holder, std::uint64_t base) {
    const Entry* found = find(holder);
    if (found == holds_.end()) return {};
    const KeyHold removed = found->hold;
    holds_.erase(found);
    const HeldModifierSet usersOwn = usersOwn_;
    refreshHeld();

    const HeldModifierSet remaining = held_;
    HeldModifierSet down = remaining;
    for (HeldModifier modifier : removed.modifiers) down.insert(modifier);

    Events events;
    if (removed.key && !keyHeld(*removed.key)) {
        events.push_back(
            {EventType::keyUp, *removed.key, eventFlags(down) | base | keyflags::nonCoalesced});
    }
    for (auto it = removed.modifiers.rbegin(); it != removed.modifiers.rend(); ++it) {
        if (remaining.contains(*it)) continue;  // another holder still holds it
        if (usersOwn.contains(*it)) continue;   // the user holds it: it stays down
        down.erase(*it);
        events.push_back(flagsChanged(*it, eventFlags(down) | base));
    }
    return events;
}

std::vector<KeyEvent> HeldKeys::releaseAll(std::uint64_t flags) {
    const std::uint64_t baseFlags = base(flags);
    std::vector<KeyHolder> holders;
    holders.reserve(holds_.size());
    for (const Entry& entry : holds_) holders.push_back(entry.holder);
    std::sort(holders.begin(), holders.end(), releaseOrderBefore);

    std::vector<KeyEvent> events;
    for (const KeyHolder& holder : holders) {
        const Events released = release(holder, baseFlags);
        events.insert(events.end(), released.begin(), released.end());
    }
    return events;
}

void HeldKeys::refreshHeld() {
    held_ = {};
    for (const Entry& entry : holds_) {
        for (HeldModifier modifier : entry.hold.modifiers) held_.insert(modifier);
    }
    usersOwn_.bits &= held_.bits;  // a modifier let go is no longer anyone's
    heldFlags_ = eventFlags(held_);
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
    if (const auto* button = as<KeyHolder::Button>(holder)) {
        hashCombine(seed, hashOf(button->sender));
        hashCombine(seed, hashOf(button->number));
        return seed;
    }
    const auto& control = *as<KeyHolder::Control>(holder);
    hashCombine(seed, hashOf(control.device));
    hashCombine(seed, hashOf(control.cid));
    return seed;
}
