#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Core/Apply/ApplyScheduler.h"
#include "Core/Gestures/GestureMachine.h"
#include "Core/HIDPP/Feature.h"
#include "Core/HIDPP/LinkOutput.h"
#include "Core/HIDPP/Notice.h"
#include "Core/HIDPP/Setup.h"
#include "Core/HIDPP/Step.h"
#include "Core/Instant.h"
#include "Model/Capabilities.h"

namespace tindlewave {

// The I/O-free state machine of one HID++ interface of one mouse: it discovers the device's
// features and controls, brings the device to the desired set-up and reads every setting back,
// resends and times out requests, retries failed runs with back-off, and turns the device's
// notices into presses, held keys, gestures and actions. Every entry takes the current instant
// and returns its whole effect; the session writes the reports, re-arms one wake-up for the
// deadline and delivers the events.
struct HIDPPLink {
    // How long a request waits for its reply before it is sent again; a request goes out at most
    // three times.
    static constexpr Duration replyTimeout = std::chrono::seconds(2);
    static constexpr int maxSends = 3;

    // The one request awaiting its reply.
    struct InFlight {
        HIDPPStep step;
        std::uint8_t featureIndex = 0;  // where it was sent
        int attempts = 1;               // sends so far
        Instant deadline;
        bool operator==(const InFlight&) const = default;
    };

    // What a discovery run has found so far.
    struct Discovery {
        FeatureMap features;
        std::vector<HIDPPCapabilities::Control> controls;  // in reply order
        // A reply came that answered none of the look-ups: the device answered one of them
        // twice, so another look-up may have taken an answer that was not its own.
        bool strayReply = false;

        // The features found are at different indices, no control is listed twice and no reply
        // went astray; a crossed reply shows up as one of these.
        bool isConsistent() const;
        bool operator==(const Discovery&) const = default;
    };

    // The job in progress.
    struct Run {
        ApplyScheduler::Job job;
        std::optional<HIDPPSetup> plan;  // the plan when the run started
        std::vector<HIDPPStep> steps;
        std::size_t next = 0;
        std::optional<InFlight> inFlight;
        std::optional<Discovery> discovery;  // present while the run is still discovering
        bool operator==(const Run&) const = default;
    };

    static const std::array<HIDPPStep, 4>& discoverySteps();

    // The steps that bring a device with these capabilities to the plan: every divertable
    // control's reporting, the thumb wheel, then every read-back in the same order.
    static std::vector<HIDPPStep> applySteps(const std::optional<HIDPPSetup>& plan,
                                             const HIDPPCapabilities& capabilities);

    // The device index the link writes and expects: 0xFF for a device attached directly, the
    // pairing slot for one behind a receiver. Reports from any other index are ignored.
    std::uint8_t deviceIndex = hidppDeviceIndex;
    std::optional<HIDPPCapabilities> capabilities;
    FeatureMap features;
    std::optional<HIDPPSetup> plan;  // the desired set-up last handed in
    ApplyScheduler scheduler;
    std::optional<Run> run;
    std::optional<Instant> retryAt;
    // Diverted controls down at the last notice, in the device's order; a control leaves it
    // also when a job undiverts it or the device reconnects.
    std::vector<CID> held;
    GestureMachine gesture;
    std::optional<CID> gestureControl;
    std::vector<CID> keyHolds;  // controls holding keys, in press order

    // Replies carry no sequence number: a late answer to an earlier copy of a request would be
    // taken for the next request to the same feature index and function. The device answers in
    // order, so once it has echoed a ping every answer it still owed has arrived, and each was
    // ignored as matching nothing.
    enum class LateAnswers {
        none,
        // A request that went out more than once was answered: ping before the next request.
        pingFirst,
        // A request went unanswered to its last send. The device may be gone, so the next
        // request goes out as usual, but its first answer is not trusted: the link pings, then
        // asks again.
        doubtNextAnswer,
    };
    LateAnswers lateAnswers = LateAnswers::none;
    std::uint8_t lastPing = 0;  // the data byte of the last ping; each ping carries a new one

    // A new desired set-up and why: it replaces the plan at once; a job starts unless one runs.
    HIDPPOutput request(ApplyReason reason, std::optional<HIDPPSetup> newPlan, Instant now);
    // One input report with report id 0x11, as delivered.
    HIDPPOutput receive(std::span<const std::uint8_t> report, Instant now);
    // The same into an output the caller keeps: `out` is emptied first, and its lists keep
    // their capacity, so a stream of raw-movement notices allocates nothing.
    void receive(std::span<const std::uint8_t> report, Instant now, HIDPPOutput& out);
    // The last output's deadline has come.
    HIDPPOutput tick(Instant now);
    // The session closes: the gesture is cancelled and every key hold released. Events only.
    HIDPPOutput finish();

    // The earlier of the in-flight request's deadline and the retry time.
    std::optional<Instant> deadline() const;

  private:
    void startNextJob(Instant now, HIDPPOutput& out);
    void sendNext(Instant now, HIDPPOutput& out);
    void send(HIDPPStep step, std::uint8_t featureIndex, Instant now, HIDPPOutput& out);
    std::optional<HIDPPStep> answered(Instant now, HIDPPOutput& out);
    void replied(const HIDPPStep& step, std::span<const std::uint8_t> payload, Instant now,
                 HIDPPOutput& out);
    void endRun(HIDPPOutcome outcome, Instant now, HIDPPOutput& out);

    // The input half.
    void handle(const HIDPPNotice& notice, Instant now, HIDPPOutput& out);
    void pressed(CID cid, HIDPPOutput& out);
    void released(CID cid, HIDPPOutput& out);
    // A control that the device no longer reports as diverted leaves `held`, released.
    void forget(CID cid, HIDPPOutput& out);
    void perform(const std::optional<GestureMachine::Output>& gestureOutput, HIDPPOutput& out);
    void releaseKeys(HIDPPOutput& out);
    // Whatever is held ends without firing: the gesture is cancelled and every key hold released.
    void letGo(HIDPPOutput& out);
};

}  // namespace tindlewave
