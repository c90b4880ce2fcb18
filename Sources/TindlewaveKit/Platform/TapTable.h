#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/EventSystem.h"

namespace tindlewave {

// The taps of one event system and how an event goes through them: head-inserted taps newest
// first, then tail-appended ones oldest first, each valid, enabled and attached tap whose mask
// holds the type, until one swallows the event. A listen-only tap gets a copy. A tap invalidated
// from inside a callback keeps its callback alive until the dispatch ends.
//
// Not thread-safe: the event system keeps it on its input executor.
class TapTable {
  public:
    TapPort create(const TapSpec& spec, TapCallback callback);
    bool attach(TapPort port);
    void detach(TapPort port);
    void enable(TapPort port, bool enabled);
    bool isEnabled(TapPort port) const;
    bool isValid(TapPort port) const;
    void invalidate(TapPort port);

    // Runs the event through the taps, changing it in place, each tap told its `origin`;
    // whether it passes.
    bool dispatch(Event& event, const std::optional<HIDOrigin>& origin);

    // The system disabled the tap: its callback gets the notice (tapDisabledByTimeout or
    // tapDisabledByUserInput) unless `notice` is none or the tap is not attached.
    void disable(TapPort port, std::optional<EventType> notice);
    // Every enabled, attached tap is disabled and told.
    void disableAll(EventType notice);

    // The types that some valid, enabled, attached tap sees: an event of none of them needs no
    // dispatch.
    std::uint64_t activeMask() const { return activeMask_; }
    std::size_t count() const;

  private:
    struct Tap {
        std::uint64_t id = 0;
        TapSpec spec;
        TapCallback callback;
        bool attached = false;
        bool enabled = true;
        bool valid = true;
    };

    Tap* find(TapPort port) const;
    bool offer(Tap& tap, EventType type, Event& event, const std::optional<HIDOrigin>& origin);
    void notify(Tap& tap, EventType notice);
    void purge();
    void refreshMask();

    std::vector<std::unique_ptr<Tap>> taps_;  // creation order
    std::uint64_t nextTap_ = 1;
    int dispatching_ = 0;
    bool invalidated_ = false;  // invalid taps wait to be dropped
    std::uint64_t activeMask_ = 0;
};

}  // namespace tindlewave
