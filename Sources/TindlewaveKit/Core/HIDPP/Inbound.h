#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <variant>

#include "Core/HIDPP/Report.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What one input report from the device is. Anything malformed or meant for another program is
// `other`; reading never goes past the bytes delivered.
struct HIDPPInbound {
    // A reply to one of our requests (our software id).
    struct Reply {
        std::uint8_t featureIndex;
        std::uint8_t function;
        std::array<std::uint8_t, hidppPayloadLength> payload;
        bool operator==(const Reply&) const = default;
    };
    // An error report about one of our requests.
    struct Error {
        std::uint8_t featureIndex;
        std::uint8_t function;
        std::uint8_t code;
        bool operator==(const Error&) const = default;
    };
    // An event the device sends by itself (software id 0); decoded by HIDPPNotice.
    struct Notice {
        std::uint8_t featureIndex;
        std::uint8_t event;
        bool operator==(const Notice&) const = default;
    };
    struct Other {
        bool operator==(const Other&) const = default;
    };

    std::variant<Reply, Error, Notice, Other> value;

    static HIDPPInbound reply(std::uint8_t featureIndex, std::uint8_t function,
                              const std::array<std::uint8_t, hidppPayloadLength>& payload) {
        return {Reply{featureIndex, function, payload}};
    }
    static HIDPPInbound error(std::uint8_t featureIndex, std::uint8_t function, std::uint8_t code) {
        return {Error{featureIndex, function, code}};
    }
    static HIDPPInbound notice(std::uint8_t featureIndex, std::uint8_t event) {
        return {Notice{featureIndex, event}};
    }
    static HIDPPInbound other() { return {Other{}}; }

    // Classifies the bytes of one input report as the device delivered them; a report from
    // another device index than `deviceIndex` is `other`.
    static HIDPPInbound read(std::span<const std::uint8_t> bytes,
                             std::uint8_t deviceIndex = hidppDeviceIndex);

    bool operator==(const HIDPPInbound&) const = default;
};

}  // namespace tindlewave
