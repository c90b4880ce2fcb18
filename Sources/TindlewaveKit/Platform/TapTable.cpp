#include "Platform/TapTable.h"

#include <algorithm>
#include <utility>

namespace tindlewave {

TapTable::Tap* TapTable::find(TapPort port) const {
    for (const auto& tap : taps_)
        if (tap->id == port.rawValue) return tap->valid ? tap.get() : nullptr;
    return nullptr;
}

TapPort TapTable::create(const TapSpec& spec, TapCallback callback) {
    auto tap = std::make_unique<Tap>();
    tap->id = nextTap_++;
    tap->spec = spec;
    tap->callback = std::move(callback);
    taps_.push_back(std::move(tap));
    return TapPort{taps_.back()->id};
}

bool TapTable::attach(TapPort port) {
    Tap* tap = find(port);
    if (!tap) return false;
    tap->attached = true;
    refreshMask();
    return true;
}

void TapTable::detach(TapPort port) {
    if (Tap* tap = find(port)) tap->attached = false;
    refreshMask();
}

void TapTable::enable(TapPort port, bool enabled) {
    if (Tap* tap = find(port)) tap->enabled = enabled;
    refreshMask();
}

bool TapTable::isEnabled(TapPort port) const {
    const Tap* tap = find(port);
    return tap && tap->enabled;
}

bool TapTable::isValid(TapPort port) const { return find(port) != nullptr; }

void TapTable::invalidate(TapPort port) {
    Tap* tap = find(port);
    if (!tap) return;
    tap->valid = false;
    tap->attached = false;
    invalidated_ = true;
    purge();
    refreshMask();
}

void TapTable::purge() {
    if (dispatching_ > 0 || !invalidated_) return;
    invalidated_ = false;
    std::erase_if(taps_, [](const auto& tap) { return !tap->valid; });
}

void TapTable::refreshMask() {
    std::uint64_t mask = 0;
    for (const auto& tap : taps_) {
        if (tap->valid && tap->attached && tap->enabled) mask |= tap->spec.mask;
    }
    activeMask_ = mask;
}

std::size_t TapTable::count() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const auto& tap) { return tap->valid; }));
}

bool TapTable::offer(Tap& tap, EventType type, Event& event,
                     const std::optional<HIDOrigin>& origin) {
    if (!tap.valid || !tap.attached || !tap.enabled) return true;
    if ((tap.spec.mask & eventMaskBit(type)) == 0) return true;
    if (tap.spec.options == TapOptions::listenOnly) {
        Event copy = event;  // a listener may not change what the others see
        tap.callback(type, copy, origin);
        return true;
    }
    return tap.callback(type, event, origin) == TapAnswer::pass;
}

bool TapTable::dispatch(Event& event, const std::optional<HIDOrigin>& origin) {
    ++dispatching_;
    bool passes = true;
    // Head-inserted taps, newest first; a tap made meanwhile does not see this event.
    for (std::size_t i = taps_.size(); passes && i-- > 0;) {
        if (taps_[i]->spec.placement == TapPlacement::headInsert)
            passes = offer(*taps_[i], event.type, event, origin);
    }
    for (std::size_t i = 0, n = taps_.size(); passes && i < n; ++i) {
        if (taps_[i]->spec.placement == TapPlacement::tailAppend)
            passes = offer(*taps_[i], event.type, event, origin);
    }
    --dispatching_;
    purge();
    return passes;
}

void TapTable::notify(Tap& tap, EventType notice) {
    ++dispatching_;
    Event empty;
    empty.type = notice;
    tap.callback(notice, empty, std::nullopt);
    --dispatching_;
}

void TapTable::disable(TapPort port, std::optional<EventType> notice) {
    Tap* tap = find(port);
    if (!tap) return;
    tap->enabled = false;
    refreshMask();
    if (notice && tap->attached) notify(*tap, *notice);
    purge();
    refreshMask();
}

void TapTable::disableAll(EventType notice) {
    std::vector<std::uint64_t> told;
    for (const auto& tap : taps_) {
        if (tap->valid && tap->attached && tap->enabled) told.push_back(tap->id);
    }
    for (std::uint64_t id : told) {
        if (Tap* tap = find(TapPort{id})) tap->enabled = false;
    }
    refreshMask();
    for (std::uint64_t id : told) {
        if (Tap* tap = find(TapPort{id}); tap && tap->attached) notify(*tap, notice);
    }
    purge();
    refreshMask();
}

}  // namespace tindlewave
