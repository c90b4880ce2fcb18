#include "Core/HIDPP/Link.h"

#include <algorithm>

#include "Core/HIDPP/ControlInfo.h"
#include "Core/HIDPP/Inbound.h"

namespace tindlewave {

namespace {

constexpr CID leftButton{0x50};

std::uint16_t cidOf(std::span<const std::uint8_t> payload) {
    return static_cast<std::uint16_t>((payload[0] << 8) | payload[1]);
}

// Whether a reply's payload echoes what the step's request named: the CID of a control's
// reporting, the data byte of a ping.
bool echoes(const HIDPPStep& step, std::span<const std::uint8_t> payload) {
    if (const auto* set = as<HIDPPStep::SetReporting>(step)) {
        return set->cid.rawValue == cidOf(payload);
    }
    if (const auto* check = as<HIDPPStep::CheckReporting>(step)) {
        return check->cid.rawValue == cidOf(payload);
    }
    if (const auto* ping = as<HIDPPStep::Ping>(step)) return payload[2] == ping->data;
    return true;
}

ControlReporting reportingFor(const HIDPPSetup& plan, const HIDPPCapabilities::Control& control) {
    if (plan.listening) return {control.cid != leftButton, false};
    const ControlBehavior* behavior = plan.behavior(control.cid);
    if (behavior == nullptr) return {};
    if (is<ControlBehavior::Press>(*behavior) || is<ControlBehavior::Hold>(*behavior)) {
        return {true, false};
    }
    if (is<ControlBehavior::Gesture>(*behavior)) return {true, control.rawXY};
    return {};
}

}  // namespace

bool HIDPPLink::Discovery::isConsistent() const {
    if (strayReply) return false;
    std::vector<std::uint8_t> indices;
    for (HIDPPFeature feature :
         {HIDPPFeature::reprogControls, HIDPPFeature::wirelessStatus, HIDPPFeature::thumbWheel}) {
        if (auto index = features.index(feature)) indices.push_back(*index);
    }
    std::sort(indices.begin(), indices.end());
    if (std::adjacent_find(indices.begin(), indices.end()) != indices.end()) return false;

    std::vector<CID> cids;
    for (const auto& control : controls) cids.push_back(control.cid);
    std::sort(cids.begin(), cids.end());
    return std::adjacent_find(cids.begin(), cids.end()) == cids.end();
}

const std::array<HIDPPStep, 4>& HIDPPLink::discoverySteps() {
    static const std::array<HIDPPStep, 4> steps = {
        HIDPPStep::findFeature(HIDPPFeature::reprogControls),
        HIDPPStep::findFeature(HIDPPFeature::thumbWheel),
        HIDPPStep::findFeature(HIDPPFeature::wirelessStatus),
        HIDPPStep::countControls(),
    };
    return steps;
}

std::vector<HIDPPStep> HIDPPLink::applySteps(const std::optional<HIDPPSetup>& plan,
                                             const HIDPPCapabilities& capabilities) {
    if (!plan) return {};
    std::vector<HIDPPStep> sets;
    std::vector<HIDPPStep> checks;
    for (const auto& control : capabilities.controls) {
        if (!control.divertable) continue;
        const ControlReporting reporting = reportingFor(*plan, control);
        sets.push_back(HIDPPStep::setReporting(control.cid, reporting));
        checks.push_back(HIDPPStep::checkReporting(control.cid, reporting));
    }
    if (capabilities.thumbWheel) {
        const ThumbWheelReporting wheel{plan->thumbWheelDiverted, plan->thumbWheelInverted};
        sets.push_back(HIDPPStep::setThumbWheel(wheel));
        checks.push_back(HIDPPStep::checkThumbWheel(wheel));
    }
    sets.insert(sets.end(), checks.begin(), checks.end());
    return sets;
}

HIDPPOutput HIDPPLink::request(ApplyReason reason, std::optional<HIDPPSetup> newPlan, Instant now) {
    HIDPPOutput out;
    plan = std::move(newPlan);
    if (scheduler.request(reason) == ApplyScheduler::RequestOutcome::start) {
        startNextJob(now, out);
    }
    out.deadline = deadline();
    return out;
}

HIDPPOutput HIDPPLink::receive(std::span<const std::uint8_t> report, Instant now) {
    HIDPPOutput out;
    receive(report, now, out);
    return out;
}

void HIDPPLink::receive(std::span<const std::uint8_t> report, Instant now, HIDPPOutput& out) {
    out.reports.clear();
    out.events.clear();
    const HIDPPInbound inbound = HIDPPInbound::read(report, deviceIndex);
    if (const auto* notice = as<HIDPPInbound::Notice>(inbound)) {
        if (auto feature = features.feature(notice->featureIndex)) {
            if (auto decoded = HIDPPNotice::decode(report, *feature, notice->event)) {
                handle(*decoded, now, out);
            }
        }
    } else if (const auto* reply = as<HIDPPInbound::Reply>(inbound)) {
        if (run && run->inFlight && run->inFlight->featureIndex == reply->featureIndex) {
            const HIDPPStep& step = run->inFlight->step;
            const bool sameFunction = (step.request().function & 0x0F) == reply->function;
            if (sameFunction && echoes(step, reply->payload)) {
                if (auto taken = answered(now, out)) replied(*taken, reply->payload, now, out);
                out.deadline = deadline();
                return;
            }
        }
        // Owed answers come while a ping is in flight or before the first answer that is not
        // trusted; a reply that matches nothing while nothing is owed is an answer given twice.
        if (run && run->discovery && lateAnswers == LateAnswers::none) {
            run->discovery->strayReply = true;
        }
    } else if (const auto* error = as<HIDPPInbound::Error>(inbound)) {
        if (run && run->inFlight && run->inFlight->featureIndex == error->featureIndex &&
            (run->inFlight->step.request().function & 0x0F) == error->function) {
            if (auto taken = answered(now, out)) {
                endRun(
                    HIDPPOutcome::failed(HIDPPFailure::deviceError(std::move(*taken), error->code)),
                    now, out);
            }
        }
    }
    out.deadline = deadline();
}

HIDPPOutput HIDPPLink::tick(Instant now) {
    HIDPPOutput out;
    if (run && run->inFlight && run->inFlight->deadline <= now) {
        InFlight& inFlight = *run->inFlight;
        if (inFlight.attempts < maxSends) {
            ++inFlight.attempts;
            inFlight.deadline = now + replyTimeout;
            out.reports.push_back(inFlight.step.request().report(inFlight.featureIndex, deviceIndex));
        } else {
            // The device may yet answer any of the three copies.
            lateAnswers = LateAnswers::doubtNextAnswer;
            HIDPPStep step = std::move(inFlight.step);
            run->inFlight.reset();
            endRun(HIDPPOutcome::failed(HIDPPFailure::timedOut(std::move(step))), now, out);
        }
    }
    if (retryAt && *retryAt <= now) {
        retryAt.reset();
        if (scheduler.request(ApplyReason::retry) == ApplyScheduler::RequestOutcome::start) {
            startNextJob(now, out);
        }
    }
    out.deadline = deadline();
    return out;
}

std::optional<Instant> HIDPPLink::deadline() const {
    std::optional<Instant> due = retryAt;
    if (run && run->inFlight && (!due || run->inFlight->deadline < *due)) {
        due = run->inFlight->deadline;
    }
    return due;
}

void HIDPPLink::startNextJob(Instant now, HIDPPOutput& out) {
    while (auto job = scheduler.takeJob()) {
        // Nothing to apply to a device whose controls are known: the job is dropped.
        if (!plan && capabilities) {
            scheduler.failures = 0;
            continue;
        }
        retryAt.reset();
        perform(gesture.step(GestureMachine::Input::cancel()), out);
        releaseKeys(out);

        Run next{*job, plan, {}, 0, std::nullopt, std::nullopt};
        if (!capabilities) {
            next.steps.assign(discoverySteps().begin(), discoverySteps().end());
            next.discovery = Discovery{};
        } else {
            next.steps = applySteps(plan, *capabilities);
        }
        run = std::move(next);
        out.events.push_back(HIDPPEvent::applyStarted(run->job));
        sendNext(now, out);
        return;
    }
}

void HIDPPLink::sendNext(Instant now, HIDPPOutput& out) {
    while (run && !run->inFlight) {
        if (run->next < run->steps.size()) {
            const HIDPPStep& step = run->steps[run->next];
            const FeatureMap& map = run->discovery ? run->discovery->features : features;
            const auto index = map.index(step.request().feature);
            if (!index) {  // the device lacks the feature: skip the step
                ++run->next;
                continue;
            }
            if (lateAnswers == LateAnswers::pingFirst) {
                send(HIDPPStep::ping(++lastPing), 0, now, out);
                return;
            }
            ++run->next;
            send(step, *index, now, out);
            return;
        }
        if (!run->discovery) {
            endRun(HIDPPOutcome::applied(), now, out);
            return;
        }
        if (!run->discovery->isConsistent()) {
            endRun(HIDPPOutcome::failed(HIDPPFailure::inconsistentDiscovery()), now, out);
            return;
        }
        Discovery found = std::move(*run->discovery);
        run->discovery.reset();
        const bool thumbWheel = found.features.index(HIDPPFeature::thumbWheel).has_value();
        features = std::move(found.features);
        capabilities = HIDPPCapabilities{std::move(found.controls), thumbWheel};
        const auto steps = applySteps(run->plan, *capabilities);
        run->steps.insert(run->steps.end(), steps.begin(), steps.end());
        out.events.push_back(HIDPPEvent::discovered(*capabilities));
    }
}

void HIDPPLink::send(HIDPPStep step, std::uint8_t featureIndex, Instant now, HIDPPOutput& out) {
    out.reports.push_back(step.request().report(featureIndex, deviceIndex));
    run->inFlight = InFlight{std::move(step), featureIndex, 1, now + replyTimeout};
}

// The in-flight request got its answer: clears it and gives back its step, unless the answer may
// be one the device still owed to an earlier request. Then the step goes back to be asked again
// once a ping has been echoed, and nothing is given back.
std::optional<HIDPPStep> HIDPPLink::answered(Instant now, HIDPPOutput& out) {
    InFlight inFlight = std::move(*run->inFlight);
    run->inFlight.reset();
    if (is<HIDPPStep::Ping>(inFlight.step)) {
        // Answered in order: whatever was owed came before. A ping sent more than once still
        // owes the echoes of its other copies, so it is followed by another ping, as any resent
        // request is. A late echo of this ping cannot match a later one, whose data byte differs.
        lateAnswers = inFlight.attempts > 1 ? LateAnswers::pingFirst : LateAnswers::none;
        return std::move(inFlight.step);
    }
    if (lateAnswers == LateAnswers::doubtNextAnswer) {
        lateAnswers = LateAnswers::pingFirst;
        --run->next;
        sendNext(now, out);
        return std::nullopt;
    }
    if (inFlight.attempts > 1) lateAnswers = LateAnswers::pingFirst;
    return std::move(inFlight.step);
}

void HIDPPLink::replied(const HIDPPStep& step, std::span<const std::uint8_t> payload, Instant now,
                        HIDPPOutput& out) {
    if (const auto* find = as<HIDPPStep::FindFeature>(step)) {
        if (payload[0] != 0 && run->discovery) {
            run->discovery->features.record(find->feature, payload[0]);
        }
    } else if (is<HIDPPStep::DescribeControl>(step)) {
        if (auto control = controlFromCidInfo(payload); control && run->discovery) {
            run->discovery->controls.push_back(*control);
        }
    } else if (is<HIDPPStep::CountControls>(step)) {
        for (unsigned index = 0; index < payload[0]; ++index) {
            run->steps.push_back(HIDPPStep::describeControl(static_cast<std::uint8_t>(index)));
        }
    } else if (const auto* set = as<HIDPPStep::SetReporting>(step)) {
        // An undiverted control reports natively from now on, its release included: the link
        // lets go of it here, or its next press after a new divert would find it still listed.
        if (!set->reporting.divert) forget(set->cid, out);
    } else if (const auto* check = as<HIDPPStep::CheckReporting>(step)) {
        const bool divert = (payload[2] & 0x01) != 0;
        const bool rawXY = (payload[2] & 0x10) != 0;
        if (divert != check->reporting.divert || rawXY != check->reporting.rawXY) {
            endRun(HIDPPOutcome::failed(HIDPPFailure::mismatch(step)), now, out);
            return;
        }
    } else if (const auto* wheel = as<HIDPPStep::CheckThumbWheel>(step)) {
        const bool diverted = (payload[0] & 0x01) != 0;
        const bool inverted = (payload[1] & 0x01) != 0;
        if (diverted != wheel->reporting.diverted || inverted != wheel->reporting.inverted) {
            endRun(HIDPPOutcome::failed(HIDPPFailure::mismatch(step)), now, out);
            return;
        }
    }
    sendNext(now, out);
}

void HIDPPLink::endRun(HIDPPOutcome outcome, Instant now, HIDPPOutput& out) {
    if (!run) return;
    ApplyScheduler::Job job = std::move(run->job);
    run.reset();
    const bool failed = !is<HIDPPOutcome::Applied>(outcome);
    out.events.push_back(HIDPPEvent::applyFinished(std::move(job), std::move(outcome)));
    if (auto delay = scheduler.finished(failed)) retryAt = now + *delay;
    startNextJob(now, out);
}

}  // namespace tindlewave
