#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "Core/HIDPP/Feature.h"
#include "Model/Identifiers.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// A decoded notice of one of the features whose events the program uses.
struct HIDPPNotice {
    // The diverted controls that are down now, in the device's order; empty when all are up.
    struct DivertedButtons {
        std::vector<CID> cids;
        bool operator==(const DivertedButtons&) const = default;
    };
    // Raw movement while a control diverted with raw movement is held.
    struct RawXY {
        std::int16_t dx;
        std::int16_t dy;
        bool operator==(const RawXY&) const = default;
    };
    // The wireless-status broadcast; `reconfigure` when the device asks to be set up again.
    struct WirelessStatus {
        bool reconfigure;
        bool operator==(const WirelessStatus&) const = default;
    };
    // A turn of the diverted thumb wheel (never zero).
    struct ThumbWheel {
        std::int16_t rotation;
        bool operator==(const ThumbWheel&) const = default;
    };

    std::variant<DivertedButtons, RawXY, WirelessStatus, ThumbWheel> value;

    static HIDPPNotice divertedButtons(std::vector<CID> cids) {
        return {DivertedButtons{std::move(cids)}};
    }
    static HIDPPNotice rawXY(std::int16_t dx, std::int16_t dy) { return {RawXY{dx, dy}}; }
    static HIDPPNotice wirelessStatus(bool reconfigure) { return {WirelessStatus{reconfigure}}; }
    static HIDPPNotice thumbWheel(std::int16_t rotation) { return {ThumbWheel{rotation}}; }

    // Decodes the report bytes of a notice whose feature index the link has mapped to `feature`.
    // Nothing for an unknown feature or event, or for bytes shorter than a long report.
    static std::optional<HIDPPNotice> decode(std::span<const std::uint8_t> bytes,
                                             HIDPPFeature feature, std::uint8_t event);

    bool operator==(const HIDPPNotice&) const = default;
};

}  // namespace tindlewave
