// Feeds arbitrary bytes to the reading of device input reports: classification, the decoding of
// every notice, and the control-info payload of a reply. None of it may read past the bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Core/HIDPP/ControlInfo.h"
#include "Core/HIDPP/Inbound.h"
#include "Core/HIDPP/Notice.h"

using namespace tindlewave;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past the report.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::span<const std::uint8_t> view(bytes.data(), bytes.size());

    const HIDPPInbound inbound = HIDPPInbound::read(view);
    if (const auto* notice = inbound.as<HIDPPInbound::Notice>()) {
        for (HIDPPFeature feature : allHIDPPFeatures) {
            (void)HIDPPNotice::decode(view, feature, notice->event);
        }
    } else if (const auto* reply = inbound.as<HIDPPInbound::Reply>()) {
        (void)controlFromCidInfo(reply->payload);
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
