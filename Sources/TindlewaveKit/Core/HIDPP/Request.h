#pragma once

#include <cstdint>
#include <vector>

#include "Core/HIDPP/Feature.h"
#include "Core/HIDPP/Report.h"
#include "Model/Identifiers.h"

namespace tindlewave {

// What one control is set to.
struct ControlReporting {
    bool divert = false;  // presses come to the program as notices instead of acting as a button
    bool rawXY = false;   // while the control is held the mouse reports raw movement as notices
    bool operator==(const ControlReporting&) const = default;
};

// What the thumb wheel is set to.
struct ThumbWheelReporting {
    bool diverted = false;  // rotation comes as notices
    bool inverted = false;  // the device reverses the wheel's native direction
    bool operator==(const ThumbWheelReporting&) const = default;
};

// One request to a feature of the device.
struct HIDPPRequest {
    HIDPPFeature feature = HIDPPFeature::root;
    std::uint8_t function = 0;         // only the low four bits are sent
    std::vector<std::uint8_t> params;  // at most 16 bytes

    static HIDPPRequest getControlCount();
    static HIDPPRequest getThumbWheelReporting();
    // CID, then the flags (divert and raw movement valid, plus the wanted values), then two zero
    // bytes that leave the control's remapping untouched.
    static HIDPPRequest setControlReporting(CID cid, ControlReporting reporting);

    // The long report for the feature at `featureIndex` of the device at `deviceIndex`: header,
    // parameters, zeros. Parameters beyond the 16 bytes a report holds are never written.
    HIDPPReport report(std::uint8_t featureIndex,
                       std::uint8_t deviceIndex = hidppDeviceIndex) const;

    bool operator==(const HIDPPRequest&) const = default;
};

}  // namespace tindlewave
