#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "Core/HIDPP/Link.h"
#include "Platform/Simulated/VirtualHidppMouse.h"

namespace tindlewave::testing {

// Drives a link against a virtual mouse on a virtual clock, as the session would: the link's
// reports are written to the mouse, the mouse's reports are handed to the link, and the clock
// jumps to the earlier of the mouse's next report and the link's deadline. Everything is recorded
// with its time.
struct LinkHarness {
    using Bytes = std::vector<std::uint8_t>;

    struct Sent {  // link to mouse
        Instant at;
        HIDPPReport report;
        bool operator==(const Sent&) const = default;
    };
    struct Delivered {  // mouse to link
        Instant at;
        Bytes report;
    };
    struct Emitted {
        Instant at;
        HIDPPEvent event;
        bool operator==(const Emitted&) const = default;
    };
    // One entry of the link and its whole effect.
    struct Entry {
        enum class Kind { request, receive, tick };
        Kind kind;
        Instant at;
        Bytes input;  // the report, for `receive`
        HIDPPOutput output;
    };

    explicit LinkHarness(VirtualMouseDescription description) : mouse(std::move(description)) {}

    HIDPPLink link;
    VirtualHidppMouse mouse;
    Instant now{};
    std::optional<Instant> deadline;  // from the last output, as the session keeps it
    std::vector<Sent> sent;
    std::vector<Delivered> delivered;
    std::vector<Emitted> events;
    std::vector<Entry> entries;

    void request(ApplyReason reason, std::optional<HIDPPSetup> plan) {
        carryOut(Entry::Kind::request, {}, link.request(reason, std::move(plan), now));
    }

    // Advances to the next thing due, if it is at or before `until`. Reports due at the same
    // instant as the deadline go first.
    bool step(Instant until) {
        const auto report = mouse.nextReportAt();
        if (report && *report <= until && (!deadline || *report <= *deadline)) {
            now = std::max(now, *report);
            for (auto& bytes : mouse.takeReports(now)) deliver(std::move(bytes));
            return true;
        }
        if (deadline && *deadline <= until) {
            now = std::max(now, *deadline);
            carryOut(Entry::Kind::tick, {}, link.tick(now));
            return true;
        }
        return false;
    }

    void runUntil(Instant until) {
        while (step(until)) {
        }
        now = std::max(now, until);
    }
    void runFor(Duration span) { runUntil(now + span); }

    // Runs until nothing is scheduled any more: no report on its way, no deadline.
    void runUntilQuiet() {
        const Instant limit = now + std::chrono::hours(1);
        while (step(limit)) {
        }
    }

    // Acting the mouse out; the notices reach the link at once.
    void press(std::uint16_t cid) {
        mouse.press(cid, now);
        deliverDue();
    }
    void release(std::uint16_t cid) {
        mouse.release(cid, now);
        deliverDue();
    }
    void move(std::int16_t dx, std::int16_t dy) {
        mouse.move(dx, dy, now);
        deliverDue();
    }
    void turnThumbWheel(std::int16_t rotation) {
        mouse.turnThumbWheel(rotation, now);
        deliverDue();
    }
    void reconnect() {
        mouse.reconnect(now);
        deliverDue();
    }

    // The events recorded since `from`, without their times.
    std::vector<HIDPPEvent> eventsSince(std::size_t from = 0) const {
        std::vector<HIDPPEvent> result;
        for (std::size_t i = from; i < events.size(); ++i) result.push_back(events[i].event);
        return result;
    }

    // The outcome of the last finished run, if any.
    std::optional<HIDPPOutcome> lastOutcome() const {
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (const auto* finished = it->event.as<HIDPPEvent::ApplyFinished>()) {
                return finished->outcome;
            }
        }
        return std::nullopt;
    }

  private:
    void deliverDue() {
        for (auto& bytes : mouse.takeReports(now)) deliver(std::move(bytes));
    }

    void deliver(Bytes bytes) {
        delivered.push_back({now, bytes});
        HIDPPOutput out = link.receive(bytes, now);
        carryOut(Entry::Kind::receive, std::move(bytes), std::move(out));
    }

    void carryOut(Entry::Kind kind, Bytes input, HIDPPOutput out) {
        for (const auto& report : out.reports) {
            sent.push_back({now, report});
            mouse.write(report, now);
        }
        deadline = out.deadline;
        for (const auto& event : out.events) events.push_back({now, event});
        entries.push_back({kind, now, std::move(input), std::move(out)});
    }
};

// Checks that the mouse is set exactly as `plan` asks, worked out from its description.
inline void expectMouseIn(const VirtualHidppMouse& mouse, const HIDPPSetup& plan) {
    for (const auto& control : mouse.description().controls) {
        VirtualHidppMouse::ControlReporting wanted;
        if (control.divertable() && !control.isVirtual()) {
            const auto entry = plan.controls.find(CID{control.cid});
            if (plan.listening) {
                wanted.divert = control.cid != 0x50;
            } else if (entry != plan.controls.end() &&
                       !entry->second.is<ControlBehavior::Native>()) {
                wanted.divert = true;
                wanted.rawXY = entry->second.is<ControlBehavior::Gesture>() && control.rawXY();
            }
        }
        EXPECT_EQ(mouse.reporting(control.cid), wanted) << "control " << control.cid;
    }
    if (mouse.description().thumbWheel) {
        EXPECT_EQ(mouse.thumbWheelReporting(),
                  (VirtualHidppMouse::ThumbWheelReporting{plan.thumbWheelDiverted,
                                                          plan.thumbWheelInverted}));
    }
}

}  // namespace tindlewave::testing
