#pragma once

#include <optional>
#include <variant>
#include <vector>

#include "Core/Apply/ApplyScheduler.h"
#include "Core/HIDPP/Report.h"
#include "Core/HIDPP/Step.h"
#include "Core/Keys/HeldKeys.h"
#include "Core/Scrolling/HoldScrollPlan.h"
#include "Core/Instant.h"
#include "Core/Listening/Listener.h"
#include "Model/Capabilities.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What the link reports to its session, in the order it happened.
struct HIDPPEvent {
    // A discovery finished consistently.
    struct Discovered {
        HIDPPCapabilities capabilities;
        bool operator==(const Discovered&) const = default;
    };
    struct ApplyStarted {
        ApplyScheduler::Job job;
        bool operator==(const ApplyStarted&) const = default;
    };
    struct ApplyFinished {
        ApplyScheduler::Job job;
        HIDPPOutcome outcome;
        bool operator==(const ApplyFinished&) const = default;
    };
    // An action is due.
    struct Perform {
        Action action;
        bool operator==(const Perform&) const = default;
    };
    struct HoldScroll {
        HoldScrollEvent event;
        bool operator==(const HoldScroll&) const = default;
    };
    // A control starts holding keys.
    struct HoldKeys {
        CID cid;
        KeyHold hold;
        bool operator==(const HoldKeys&) const = default;
    };
    // A control stops holding keys.
    struct ReleaseKeys {
        CID cid;
        bool operator==(const ReleaseKeys&) const = default;
    };
    // A press or a wheel turn while listening.
    struct Heard {
        ListenPress press;
        bool operator==(const Heard&) const = default;
    };

    std::variant<Discovered, ApplyStarted, ApplyFinished, Perform, HoldScroll, HoldKeys,
                 ReleaseKeys, Heard>
        value;

    static HIDPPEvent discovered(HIDPPCapabilities capabilities) {
        return {Discovered{std::move(capabilities)}};
    }
    static HIDPPEvent applyStarted(ApplyScheduler::Job job) {
        return {ApplyStarted{std::move(job)}};
    }
    static HIDPPEvent applyFinished(ApplyScheduler::Job job, HIDPPOutcome outcome) {
        return {ApplyFinished{std::move(job), std::move(outcome)}};
    }
    static HIDPPEvent perform(Action action) { return {Perform{std::move(action)}}; }
    static HIDPPEvent holdScroll(HoldScrollEvent event) { return {HoldScroll{std::move(event)}}; }
    static HIDPPEvent holdKeys(CID cid, KeyHold hold) { return {HoldKeys{cid, std::move(hold)}}; }
    static HIDPPEvent releaseKeys(CID cid) { return {ReleaseKeys{cid}}; }
    static HIDPPEvent heard(ListenPress press) { return {Heard{std::move(press)}}; }

    bool operator==(const HIDPPEvent&) const = default;
};

// The whole effect of one entry of the link: reports to write (in order), then events to deliver
// (in order), and when the link must next be ticked.
struct HIDPPOutput {
    std::vector<HIDPPReport> reports;
    std::vector<HIDPPEvent> events;
    std::optional<Instant> deadline;

    bool operator==(const HIDPPOutput&) const = default;
};

}  // namespace tindlewave
