#include "Core/HIDPP/Notice.h"

#include "Core/HIDPP/Report.h"

namespace tindlewave {

namespace {

std::uint16_t word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::int16_t signedWord(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int16_t>(word(bytes, at));
}

}  // namespace

std::optional<HIDPPNotice> HIDPPNotice::decode(std::span<const std::uint8_t> bytes,
                                               HIDPPFeature feature, std::uint8_t event) {
    if (bytes.size() < hidppReportLength) return std::nullopt;
    switch (feature) {
        case HIDPPFeature::reprogControls:
            if (event == 0) {
                std::vector<CID> cids;
                for (std::size_t at = 4; at <= 10; at += 2) {
                    const std::uint16_t cid = word(bytes, at);
                    if (cid == 0) break;
                    cids.push_back(CID{cid});
                }
                return divertedButtons(std::move(cids));
            }
            if (event == 1) return rawXY(signedWord(bytes, 4), signedWord(bytes, 6));
            return std::nullopt;
        case HIDPPFeature::wirelessStatus:
            if (event == 0) return wirelessStatus(bytes[5] == 1);
            return std::nullopt;
        case HIDPPFeature::thumbWheel:
            if (event == 0) {
                const std::int16_t rotation = signedWord(bytes, 4);
                if (rotation == 0) return std::nullopt;
                return thumbWheel(rotation);
            }
            return std::nullopt;
        case HIDPPFeature::root:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tindlewave
