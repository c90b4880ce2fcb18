#include "Core/HIDPP/ControlInfo.h"

#include "Core/HIDPP/Report.h"

namespace tindlewave {

namespace {
constexpr std::uint8_t virtualFlag = 0x80;     // byte 4
constexpr std::uint8_t divertableFlag = 0x20;  // byte 4
constexpr std::uint8_t rawXYFlag = 0x01;       // byte 8, the additional flags
}  // namespace

std::optional<HIDPPCapabilities::Control> controlFromCidInfo(
    std::span<const std::uint8_t> cidInfo) {
    if (cidInfo.size() < hidppPayloadLength) return std::nullopt;
    if (cidInfo[4] & virtualFlag) return std::nullopt;
    HIDPPCapabilities::Control control;
    control.cid = CID{static_cast<std::uint16_t>((cidInfo[0] << 8) | cidInfo[1])};
    control.divertable = (cidInfo[4] & divertableFlag) != 0;
    control.rawXY = (cidInfo[8] & rawXYFlag) != 0;
    return control;
}

}  // namespace tindlewave
