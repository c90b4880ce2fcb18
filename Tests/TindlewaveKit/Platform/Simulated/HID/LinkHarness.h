#pragma once

#include <gtest/gtest.h>

#include "TestKit/LinkHarness.h"

namespace tindlewave::testing {

// Checks that the mouse is set exactly as `plan` asks, control by control.
inline void expectMouseIn(const VirtualHidppMouse& mouse, const HIDPPSetup& plan) {
    for (const auto& control : mouse.description().controls) {
        EXPECT_EQ(mouse.reporting(control.cid), wantedReporting(control, plan))
            << "control " << control.cid;
    }
    if (mouse.description().thumbWheel) {
        EXPECT_EQ(mouse.thumbWheelReporting(), wantedThumbWheel(plan));
    }
}

}  // namespace tindlewave::testing
