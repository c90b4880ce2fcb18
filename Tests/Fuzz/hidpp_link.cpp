// Drives the HID++ link against the virtual mouse on a virtual clock, with requests, faults,
// presses, reconnects, stray reports and the passing of time chosen by the input. While a run is
// owed the link always has a deadline, and every run ends; once the faults stop and the neutral
// set-up is applied, nothing on the mouse is diverted any more.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Fuzz/FuzzInput.h"
#include "TestKit/LinkHarness.h"
#include "TestKit/RandomLinkSchedule.h"

using namespace tindlewave;
using fuzzing::check;
using fuzzing::FuzzInput;
using std::chrono::milliseconds;

namespace {

// The recorded mice, and a made-up one with a control that is divertable but not raw-movement
// capable and one that is not divertable at all.
const std::vector<VirtualMouseDescription>& mice() {
    static const std::vector<VirtualMouseDescription> all = [] {
        std::vector<VirtualMouseDescription> found;
        if (auto files = recordedMouseFiles(TW_DATA_ROOT "/devices")) {
            for (const auto& file : *files) {
                if (auto mouse = loadVirtualMouse(file)) found.push_back(*mouse);
            }
        }
        using Control = VirtualMouseDescription::Control;
        const auto divertable = static_cast<std::uint8_t>(VirtualMouseDescription::divertableFlag |
                                                          VirtualMouseDescription::reprogrammableFlag);
        found.push_back(VirtualMouseDescription::basic(
            {Control{0x50, 0x38, VirtualMouseDescription::mouseButtonFlag},
             Control{0x52, 0x3A, divertable, VirtualMouseDescription::rawXYFlag},
             Control{0x53, 0x3C, divertable}, Control{0x56, 0x3E, 0}},
            true));
        return found;
    }();
    return all;
}

const ApplyReason reasons[] = {ApplyReason::launch,       ApplyReason::connected,
                               ApplyReason::deviceAsked,  ApplyReason::configChanged,
                               ApplyReason::permissionChanged, ApplyReason::pauseChanged,
                               ApplyReason::manual,       ApplyReason::wake,
                               ApplyReason::retry,        ApplyReason::listen};

// While a run is in progress or a retry is waiting, the session has a wake-up to arm.
void checkOwedWorkHasDeadline(const testing::LinkHarness& harness) {
    if (harness.link.run || harness.link.retryAt) check(harness.deadline.has_value());
}

// Advances until nothing is scheduled; a link that keeps asking for wake-ups without end stalls.
void runUntilIdle(testing::LinkHarness& harness) {
    const Instant limit = harness.now + std::chrono::hours(1);
    int steps = 0;
    while (harness.step(limit)) {
        checkOwedWorkHasDeadline(harness);
        check(++steps < 100000);
    }
    check(!harness.deadline && !harness.link.run && !harness.mouse.nextReportAt());
}

std::uint16_t someControl(const VirtualHidppMouse& mouse, FuzzInput& input) {
    const auto& controls = mouse.description().controls;
    if (controls.empty()) return 0x52;
    return controls[static_cast<std::size_t>(input.between(0, static_cast<int>(controls.size()) - 1))].cid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const auto& all = mice();
    testing::LinkHarness harness(all[static_cast<std::size_t>(input.between(0, static_cast<int>(all.size()) - 1))]);
    auto& mouse = harness.mouse;

    harness.request(ApplyReason::launch, testing::randomPlan(mouse.description(), input));
    checkOwedWorkHasDeadline(harness);
    for (int op = 0; op < 200 && !input.empty(); ++op) {
        switch (input.between(0, 9)) {
            case 0: {
                const ApplyReason reason = reasons[input.between(0, std::size(reasons) - 1)];
                if (input.chance(0.2)) {
                    harness.request(reason, std::nullopt);
                } else {
                    harness.request(reason, testing::randomPlan(mouse.description(), input));
                }
                break;
            }
            case 1:
                testing::armRandomFault(mouse.faults, input);
                break;
            case 2:
                harness.runFor(milliseconds(input.between(0, 5000)));
                break;
            case 3:
                harness.runFor(milliseconds(input.between(0, 30)));
                harness.reconnect();
                break;
            case 4:
                harness.press(someControl(mouse, input));
                break;
            case 5:
                harness.release(someControl(mouse, input));
                break;
            case 6:
                harness.move(static_cast<std::int16_t>(input.between(-300, 300)),
                             static_cast<std::int16_t>(input.between(-300, 300)));
                break;
            case 7:
                harness.turnThumbWheel(static_cast<std::int16_t>(input.between(-50, 50)));
                break;
            case 8: {
                // A report from nowhere, often in the long HID++ layout so that it is read.
                std::vector<std::uint8_t> report(static_cast<std::size_t>(input.between(0, 24)));
                for (auto& byte : report) byte = input.byte();
                if (report.size() >= 2 && input.chance(0.7)) {
                    report[0] = 0x11;
                    report[1] = 0xFF;
                }
                harness.deliver(std::move(report));
                break;
            }
            default:
                harness.step(harness.now + milliseconds(input.between(0, 3000)));
                break;
        }
        checkOwedWorkHasDeadline(harness);
    }

    // The faults stop, every control is let go, and the neutral set-up is asked for.
    mouse.faults = {};
    for (const auto& control : mouse.description().controls) harness.release(control.cid);
    runUntilIdle(harness);
    harness.request(ApplyReason::quit, HIDPPSetup::native());
    runUntilIdle(harness);
    for (const auto& control : mouse.description().controls) {
        if (const auto reporting = mouse.reporting(control.cid)) {
            check(!reporting->divert && !reporting->rawXY);
        }
    }
    if (const auto wheel = mouse.thumbWheelReporting()) check(!wheel->diverted);
    return 0;
}
