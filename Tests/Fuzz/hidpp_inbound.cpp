// Feeds arbitrary bytes to the reading of device input reports: classification, the decoding of
// every notice, and the control-info payload of a reply. None of it may read past the bytes, and
// what is read, written back in the report's layout, gives the bytes it was read from.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "Core/HIDPP/ControlInfo.h"
#include "Core/HIDPP/Inbound.h"
#include "Core/HIDPP/Notice.h"

using namespace tindlewave;

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

std::uint8_t high(int value) {
    return static_cast<std::uint8_t>((static_cast<unsigned>(value) >> 8) & 0xFF);
}
std::uint8_t low(int value) {
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFF);
}

// A notice's decoded values, written back where the layout keeps them.
void checkNotice(const HIDPPNotice& notice, std::span<const std::uint8_t> bytes) {
    if (const auto* buttons = as<HIDPPNotice::DivertedButtons>(notice)) {
        check(buttons->cids.size() <= 4);
        std::size_t at = 4;
        for (CID cid : buttons->cids) {
            check(cid.rawValue != 0);
            check(bytes[at] == high(cid.rawValue) && bytes[at + 1] == low(cid.rawValue));
            at += 2;
        }
        if (buttons->cids.size() < 4) check(bytes[at] == 0 && bytes[at + 1] == 0);
    } else if (const auto* movement = as<HIDPPNotice::RawXY>(notice)) {
        check(bytes[4] == high(movement->dx) && bytes[5] == low(movement->dx));
        check(bytes[6] == high(movement->dy) && bytes[7] == low(movement->dy));
    } else if (const auto* wheel = as<HIDPPNotice::ThumbWheel>(notice)) {
        check(wheel->rotation != 0);
        check(bytes[4] == high(wheel->rotation) && bytes[5] == low(wheel->rotation));
    } else if (const auto* status = as<HIDPPNotice::WirelessStatus>(notice)) {
        check(status->reconfigure == (bytes[5] == 1));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past the report.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::span<const std::uint8_t> view(bytes.data(), bytes.size());

    const HIDPPInbound inbound = HIDPPInbound::read(view);
    if (!is<HIDPPInbound::Other>(inbound)) {
        check(size >= hidppReportLength && bytes[0] == hidppLongReportID &&
              bytes[1] == hidppDeviceIndex);
    }
    if (const auto* notice = as<HIDPPInbound::Notice>(inbound)) {
        check(bytes[2] == notice->featureIndex && bytes[3] == (notice->event << 4));
        for (HIDPPFeature feature : allHIDPPFeatures) {
            if (auto decoded = HIDPPNotice::decode(view, feature, notice->event)) {
                checkNotice(*decoded, view);
            }
        }
    } else if (const auto* reply = as<HIDPPInbound::Reply>(inbound)) {
        // Every byte of a reply is kept: header and payload write back to the report.
        check(bytes[2] == reply->featureIndex &&
              bytes[3] == ((reply->function << 4) | hidppSoftwareID));
        for (std::size_t i = 0; i < hidppPayloadLength; ++i) check(bytes[4 + i] == reply->payload[i]);
        if (auto control = controlFromCidInfo(reply->payload)) {
            check(reply->payload[0] == high(control->cid.rawValue) &&
                  reply->payload[1] == low(control->cid.rawValue));
        }
    } else if (const auto* error = as<HIDPPInbound::Error>(inbound)) {
        check(bytes[2] == hidppErrorIndex && bytes[3] == error->featureIndex &&
              bytes[4] == ((error->function << 4) | hidppSoftwareID) && bytes[5] == error->code);
    }
    // The decoders must stay safe on bytes that were never classified, too.
    for (HIDPPFeature feature : allHIDPPFeatures) {
        for (std::uint8_t event = 0; event < 3; ++event) {
            (void)HIDPPNotice::decode(view, feature, event);
        }
    }
    (void)controlFromCidInfo(view);
    return 0;
}
