#include "Core/HIDPP/Request.h"

#include <algorithm>

namespace tindlewave {

namespace {
constexpr std::uint8_t divertValid = 0x02;
constexpr std::uint8_t rawXYValid = 0x20;
constexpr std::uint8_t divertBit = 0x01;
constexpr std::uint8_t rawXYBit = 0x10;
}  // namespace

HIDPPRequest HIDPPRequest::getControlCount() {
    return {HIDPPFeature::reprogControls, 0, {}};
}

HIDPPRequest HIDPPRequest::getThumbWheelReporting() {
    return {HIDPPFeature::thumbWheel, 1, {}};
}

HIDPPRequest HIDPPRequest::setControlReporting(CID cid, ControlReporting reporting) {
    std::uint8_t flags = divertValid | rawXYValid;
    if (reporting.divert) flags |= divertBit;
    if (reporting.rawXY) flags |= rawXYBit;
    return {HIDPPFeature::reprogControls,
            3,
            {static_cast<std::uint8_t>(cid.rawValue >> 8),
             static_cast<std::uint8_t>(cid.rawValue & 0xFF), flags, 0, 0}};
}

HIDPPReport HIDPPRequest::report(std::uint8_t featureIndex, std::uint8_t deviceIndex) const {
    HIDPPReport bytes{};
    bytes[0] = hidppLongReportID;
    bytes[1] = deviceIndex;
    bytes[2] = featureIndex;
    bytes[3] = static_cast<std::uint8_t>(((function & 0x0F) << 4) | hidppSoftwareID);
    const std::size_t count = std::min(params.size(), hidppPayloadLength);
    std::copy_n(params.begin(), count, bytes.begin() + 4);
    return bytes;
}

}  // namespace tindlewave
