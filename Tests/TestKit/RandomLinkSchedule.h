#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "Core/HIDPP/Setup.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

// Random plans and fault schedules for a link driven against the virtual mouse. `Random` gives
// `between(lo, hi)` (inclusive) and `chance(p)`: a seeded engine in tests, the input of a fuzz run.

namespace tindlewave::testing {

// A random plan for the mouse: each control pressed, gestured, holding a key, native or left out;
// sometimes listening.
template <class Random>
HIDPPSetup randomPlan(const VirtualMouseDescription& mouse, Random& random) {
    const Action action = Action::system(SystemAction::spaceRight);
    HIDPPSetup plan;
    for (const auto& control : mouse.controls) {
        const CID cid{control.cid};
        switch (random.between(0, 5)) {
            case 0:
                plan.controls.insert({cid, ControlBehavior::press(action)});
                break;
            case 1:
                plan.controls.insert({cid, ControlBehavior::gesture(GesturePlan{
                                               30, action,
                                               GestureMoves::swipes({{Direction::left, action}},
                                                                    GestureFire::onRelease)})});
                break;
            case 2:
                plan.controls.insert(
                    {cid, ControlBehavior::hold(KeyHold{{HeldModifier::rightOption}, {}})});
                break;
            case 3:
                plan.controls.insert({cid, ControlBehavior::native()});
                break;
            default:
                break;  // no entry
        }
    }
    plan.thumbWheelInverted = random.chance(0.5);
    if (random.chance(0.15)) {
        plan.listening = true;
        plan.thumbWheelDiverted = true;
    }
    return plan;
}

// Arms one more random fault of the mouse.
template <class Random>
void armRandomFault(VirtualMouseFaults& faults, Random& random) {
    switch (random.between(0, 6)) {
        case 0:
            faults.dropReplies += random.between(1, 3);
            break;
        case 1:
            faults.delayReplies += random.between(1, 2);
            faults.delayBy = std::chrono::milliseconds(random.between(2100, 5000));
            break;
        case 2: {
            const std::uint16_t features[] = {0x0000, 0x1B04, 0x2150};
            faults.errors.push_back({features[random.between(0, 2)],
                                     static_cast<std::uint8_t>(random.between(0, 3)), std::nullopt,
                                     static_cast<std::uint8_t>(random.between(1, 9)),
                                     random.between(1, 2)});
            break;
        }
        case 3:
            faults.crossReplies += 1;
            break;
        case 4:
            faults.corruptReadBacks += random.between(1, 2);
            break;
        case 5:
            faults.foreignSoftwareId += random.between(1, 3);
            break;
        default:
            faults.shortReports += random.between(1, 3);
            break;
    }
}

}  // namespace tindlewave::testing
