#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sched.h>
#include <vector>

#include "Platform/EventSystem.h"

namespace tindlewave {

// What the event path asks of the screens on every frame, kept beside the list of screens so that
// any thread reads it without a lock: the centre of the fastest screen (the cursor's place where
// the desktop does not tell it) and which displays there are (the first maxDisplays of them).
// A sequence number, odd while the screens are being published, tells a reader that raced a
// change to read again; every value is an atomic, released by the writer and acquired by readers.
class ScreenGlance {
  public:
    static constexpr std::size_t maxDisplays = 8;

    explicit ScreenGlance(const std::vector<Screen>& screens) { publish(screens); }
    ScreenGlance(const ScreenGlance&) = delete;
    ScreenGlance& operator=(const ScreenGlance&) = delete;

    // Any thread, one at a time (the event system publishes under its screens lock).
    void publish(const std::vector<Screen>& screens) {
        constexpr auto release = std::memory_order_release;
        const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        Event::Location centre;
        if (!screens.empty()) {
            const Screen* fastest = &screens.front();
            for (const Screen& screen : screens)
                if (screen.refreshRate > fastest->refreshRate) fastest = &screen;
            centre = {fastest->area.x + fastest->area.width / 2, fastest->area.y + fastest->area.height / 2};
        }
        x_.store(centre.x, release);
        y_.store(centre.y, release);
        for (std::size_t i = 0; i < screens.size() && i < maxDisplays; ++i) displays_[i].store(screens[i].id, release);
        count_.store(static_cast<std::uint32_t>(screens.size()), release);
        sequence_.store(sequence + 2, release);
    }

    // The centre of the fastest screen (the first of those as fast); the origin without screens.
    Event::Location centre() const {
        return read([&] { return Event::Location{x_.load(acquire), y_.load(acquire)}; });
    }

    // Whether `display` is one of the screens; none when there are more screens than are kept
    // here (the list itself then tells).
    std::optional<bool> has(DisplayID display) const {
        return read([&]() -> std::optional<bool> {
            const std::uint32_t count = count_.load(acquire);
            if (count > maxDisplays) return std::nullopt;
            for (std::uint32_t i = 0; i < count; ++i)
                if (displays_[i].load(acquire) == display) return true;
            return false;
        });
    }

  private:
    static constexpr auto acquire = std::memory_order_acquire;

    // Runs `look` until it ran with no publication under way or in between.
    template <class Look>
    auto read(Look look) const -> decltype(look()) {
        for (;;) {
            const std::uint32_t before = sequence_.load(acquire);
            if ((before & 1) == 0) {
                auto seen = look();
                // The values were loaded with acquire: this load cannot come before them.
                if (sequence_.load(std::memory_order_relaxed) == before) return seen;
            } else {
                sched_yield();  // a publication is a few stores away from done
            }
        }
    }

    std::atomic<std::uint32_t> sequence_{0};
    std::atomic<double> x_{0};
    std::atomic<double> y_{0};
    std::atomic<std::uint32_t> count_{0};
    std::array<std::atomic<DisplayID>, maxDisplays> displays_{};
};

}  // namespace tindlewave
