#pragma once

#include <algorithm>
#include <optional>
#include <vector>

#include "Core/HIDPP/Link.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

namespace tindlewave::testing {

// What `plan` asks of one of the mouse's controls, worked out from its description.
inline VirtualHidppMouse::ControlReporting wantedReporting(
    const VirtualMouseDescription::Control& control, const HIDPPSetup& plan) {
    VirtualHidppMouse::ControlReporting wanted;
    if (control.divertable() && !control.isVirtual()) {
        const auto entry = plan.controls.find(CID{control.cid});
        if (plan.listening) {
            wanted.divert = control.cid != 0x50;
        } else if (entry != plan.controls.end() && !is<ControlBehavior::Native>(entry->second)) {
            wanted.divert = true;
            wanted.rawXY = is<ControlBehavior::Gesture>(entry->second) && control.rawXY();
        }
    }
    return wanted;
}

inline VirtualHidppMouse::ThumbWheelReporting wantedThumbWheel(const HIDPPSetup& plan) {
    return {plan.thumbWheelDiverted, plan.thumbWheelInverted};
}

// Whether the mouse is set exactly as `plan` asks.
inline bool mouseIsIn(const VirtualHidppMouse& mouse, const HIDPPSetup& plan) {
    for (const auto& control : mouse.description().controls) {
        if (mouse.reporting(control.cid) != wantedReporting(control, plan)) return false;
    }
    return !mouse.description().thumbWheel || mouse.thumbWheelReporting() == wantedThumbWheel(plan);
}

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
    // Runs that reported `applied` while the mouse was not set as their plan asks, by the time
    // of the report.
    std::vector<Instant> appliedOffPlan;

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
        reconnectedInRun_ = true;
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
            if (const auto* finished = as<HIDPPEvent::ApplyFinished>(it->event)) {
                return finished->outcome;
            }
        }
        return std::nullopt;
    }

    // A report handed to the link as if the mouse had sent it.
    void deliver(Bytes bytes) {
        delivered.push_back({now, bytes});
        HIDPPOutput out = link.receive(bytes, now);
        carryOut(Entry::Kind::receive, std::move(bytes), std::move(out));
    }

  private:
    void deliverDue() {
        for (auto& bytes : mouse.takeReports(now)) deliver(std::move(bytes));
    }

    void carryOut(Entry::Kind kind, Bytes input, HIDPPOutput out) {
        // Before this entry's reports reach the mouse: they belong to a later request or run.
        for (std::size_t i = 0; i < out.events.size(); ++i) {
            const HIDPPEvent& event = out.events[i];
            if (is<HIDPPEvent::ApplyStarted>(event)) {
                runPlan_ = link.plan;  // a plan changes only before an entry starts a run
                reconnectedInRun_ = false;
            } else if (const auto* finished = as<HIDPPEvent::ApplyFinished>(event)) {
                if (is<HIDPPOutcome::Applied>(finished->outcome) && runPlan_ &&
                    !mouseIsIn(mouse, *runPlan_) && !overtakenByReconnect(out.events, i + 1)) {
                    appliedOffPlan.push_back(now);
                }
            }
        }
        for (const auto& report : out.reports) {
            sent.push_back({now, report});
            mouse.write(report, now);
        }
        deadline = out.deadline;
        for (const auto& event : out.events) events.push_back({now, event});
        entries.push_back({kind, now, std::move(input), std::move(out)});
    }

    // A reconnect during the run wiped what it had set; the device's request to be set up again
    // starts the next job at once, so the run's own outcome is overtaken.
    bool overtakenByReconnect(const std::vector<HIDPPEvent>& output, std::size_t next) const {
        if (!reconnectedInRun_ || next >= output.size()) return false;
        const auto* started = as<HIDPPEvent::ApplyStarted>(output[next]);
        return started != nullptr && started->job.reasons.contains(ApplyReason::deviceAsked);
    }

    std::optional<HIDPPSetup> runPlan_;  // the plan of the run in progress
    bool reconnectedInRun_ = false;
};

}  // namespace tindlewave::testing
