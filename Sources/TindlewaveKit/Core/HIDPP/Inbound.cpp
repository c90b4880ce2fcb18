#include "Core/HIDPP/Inbound.h"

#include <algorithm>

namespace tindlewave {

HIDPPInbound HIDPPInbound::read(std::span<const std::uint8_t> bytes, std::uint8_t deviceIndex) {
    if (bytes.size() < hidppReportLength || bytes[0] != hidppLongReportID ||
        bytes[1] != deviceIndex) {
        return other();
    }
    if (bytes[2] == hidppErrorIndex) {
        if ((bytes[4] & 0x0F) != hidppSoftwareID) return other();
        return error(bytes[3], static_cast<std::uint8_t>(bytes[4] >> 4), bytes[5]);
    }
    const std::uint8_t softwareID = bytes[3] & 0x0F;
    const auto function = static_cast<std::uint8_t>(bytes[3] >> 4);
    if (softwareID == hidppSoftwareID) {
        std::array<std::uint8_t, hidppPayloadLength> payload{};
        std::copy_n(bytes.begin() + 4, hidppPayloadLength, payload.begin());
        return reply(bytes[2], function, payload);
    }
    if (softwareID == 0) return notice(bytes[2], function);
    return other();
}

}  // namespace tindlewave
