// The link against a misbehaving virtual mouse: many random, seeded fault schedules.

#include <gtest/gtest.h>

#include <random>

#include "TestKit/RandomLinkSchedule.h"
#include "TindlewaveKit/Platform/Simulated/HID/LinkHarness.h"
#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave {
namespace {

using std::chrono::milliseconds;
using testing::expectMouseIn;
using testing::LinkHarness;
using testing::armRandomFault;
using testing::randomPlan;

class Random {
  public:
    explicit Random(unsigned seed) : engine_(seed) {}
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }

  private:
    std::mt19937 engine_;
};

// A reply or error report, read independently of the link, that answers `request`.
bool answers(const std::vector<std::uint8_t>& report, const HIDPPReport& request,
             std::uint8_t reprogIndex) {
    if (report.size() < 20 || report[0] != 0x11 || report[1] != 0xFF) return false;
    if (report[2] == 0xFF) {
        return (report[4] & 0x0F) == 0x0B && report[3] == request[2] &&
               (report[4] >> 4) == (request[3] >> 4);
    }
    if ((report[3] & 0x0F) != 0x0B || report[2] != request[2] ||
        (report[3] >> 4) != (request[3] >> 4)) {
        return false;
    }
    const int function = request[3] >> 4;
    if (request[2] == reprogIndex && (function == 2 || function == 3)) {
        return report[4] == request[4] && report[5] == request[5];
    }
    if (request[2] == 0 && function == 1) return report[6] == request[6];  // a ping's echo
    return true;
}

// Checks the whole trace: one report per entry at most, a new request only once the previous
// one was answered or its run ended, at most three copies of a request, and every run ending
// with exactly one outcome.
void checkTrace(const LinkHarness& harness) {
    const std::uint8_t reprogIndex = harness.mouse.description().indexOf(0x1B04);
    std::optional<HIDPPReport> awaiting;
    int copies = 0;
    std::optional<ApplyScheduler::Job> open;
    for (const auto& entry : harness.entries) {
        ASSERT_LE(entry.output.reports.size(), 1u);
        if (entry.kind == LinkHarness::Entry::Kind::receive && awaiting &&
            answers(entry.input, *awaiting, reprogIndex)) {
            awaiting.reset();
        }
        for (const auto& event : entry.output.events) {
            if (const auto* started = as<HIDPPEvent::ApplyStarted>(event)) {
                ASSERT_FALSE(open) << "a run started while another was open";
                open = started->job;
            } else if (const auto* finished = as<HIDPPEvent::ApplyFinished>(event)) {
                ASSERT_TRUE(open) << "a run finished that never started";
                ASSERT_EQ(finished->job, *open);
                open.reset();
                awaiting.reset();
            }
        }
        for (const auto& report : entry.output.reports) {
            if (awaiting) {
                ASSERT_EQ(report, *awaiting) << "a second request while one is in flight";
                ASSERT_LE(++copies, 3) << "more than three copies of one request";
            } else {
                awaiting = report;
                copies = 1;
            }
        }
    }
    ASSERT_FALSE(open) << "a run never ended";
}

// Whether the link holds another feature table or other capabilities than the mouse has.
bool fooledDiscovery(const LinkHarness& harness) {
    const auto& mouse = harness.mouse.description();
    HIDPPCapabilities truth{{}, mouse.thumbWheel.has_value()};
    for (const auto& control : mouse.controls) {
        if (!control.isVirtual()) {
            truth.controls.push_back({CID{control.cid}, control.divertable(), control.rawXY()});
        }
    }
    for (HIDPPFeature feature :
         {HIDPPFeature::reprogControls, HIDPPFeature::wirelessStatus, HIDPPFeature::thumbWheel}) {
        if (harness.link.features.index(feature).value_or(0) != mouse.indexOf(rawValue(feature))) {
            return true;
        }
    }
    for (const auto& emitted : harness.events) {
        const auto* discovered = as<HIDPPEvent::Discovered>(emitted.event);
        if (discovered && discovered->capabilities != truth) return true;
    }
    return harness.link.capabilities != truth;
}

TEST(LinkProperty, SurvivesRandomFaultSchedules) {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    ASSERT_TRUE(files && !files->empty());
    std::vector<VirtualMouseDescription> mice;
    for (const auto& file : *files) {
        auto mouse = loadVirtualMouse(file);
        ASSERT_TRUE(mouse) << mouse.error();
        mice.push_back(*mouse);
    }

    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random random(seed);
        LinkHarness harness(mice[seed % mice.size()]);
        HIDPPSetup plan = randomPlan(harness.mouse.description(), random);
        harness.request(ApplyReason::launch, plan);

        const int rounds = random.between(1, 8);
        for (int round = 0; round < rounds; ++round) {
            armRandomFault(harness.mouse.faults, random);
            if (random.chance(0.2)) {
                plan = randomPlan(harness.mouse.description(), random);
                harness.request(ApplyReason::configChanged, plan);
            }
            if (random.chance(0.2)) {
                // Often in the middle of a run: the mouse forgets what was set so far.
                harness.runFor(milliseconds(random.between(0, 30)));
                harness.reconnect();
            }
            harness.runFor(milliseconds(random.between(0, 4000)));
        }

        // The faults stop.
        harness.mouse.faults = {};
        harness.runUntilQuiet();
        if (harness.lastOutcome() != HIDPPOutcome::applied()) {
            // The link gave up after six failed runs; a new reason revives it.
            harness.request(ApplyReason::manual, plan);
            harness.runUntilQuiet();
        }
        checkTrace(harness);
        ASSERT_FALSE(fooledDiscovery(harness)) << "a late or crossed reply was taken for another";
        ASSERT_TRUE(harness.appliedOffPlan.empty())
            << harness.appliedOffPlan.size()
            << " runs reported applied while the mouse was not set as asked";
        ASSERT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
        ASSERT_TRUE(harness.link.capabilities);
        expectMouseIn(harness.mouse, plan);
        ASSERT_EQ(harness.deadline, std::nullopt);
    }
}

}  // namespace
}  // namespace tindlewave
