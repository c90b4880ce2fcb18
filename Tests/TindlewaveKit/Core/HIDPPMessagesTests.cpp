#include <gtest/gtest.h>

#include <vector>

#include "Core/HIDPP/ControlInfo.h"
#include "Core/HIDPP/Inbound.h"
#include "Core/HIDPP/Notice.h"
#include "Core/HIDPP/Step.h"

namespace tindlewave {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A long report from the device: the given leading bytes, zeros up to 20.
Bytes report(std::initializer_list<std::uint8_t> head, std::size_t size = 20) {
    Bytes bytes(head);
    bytes.resize(size, 0);
    return bytes;
}

Bytes concat(std::initializer_list<std::uint8_t> head, std::size_t zeros) {
    Bytes bytes(head);
    bytes.insert(bytes.end(), zeros, 0);
    return bytes;
}

Bytes asBytes(const HIDPPReport& r) {
    return Bytes(r.begin(), r.end());
}

TEST(HIDPPFeature, KnowsExactlyFourIds) {
    EXPECT_EQ(hidppFeature(0x1B04), HIDPPFeature::reprogControls);
    EXPECT_EQ(hidppFeature(0x0000), HIDPPFeature::root);
    EXPECT_EQ(hidppFeature(0x2150), HIDPPFeature::thumbWheel);
    EXPECT_EQ(hidppFeature(0x1D4B), HIDPPFeature::wirelessStatus);
    EXPECT_EQ(hidppFeature(0x1B05), std::nullopt);
    EXPECT_EQ(allHIDPPFeatures[1], HIDPPFeature::reprogControls);
    EXPECT_EQ(allHIDPPFeatures[2], HIDPPFeature::wirelessStatus);

    FeatureMap map;
    EXPECT_EQ(map.index(HIDPPFeature::root), 0);
    EXPECT_EQ(map.feature(0), HIDPPFeature::root);
    map.record(HIDPPFeature::reprogControls, 9);
    EXPECT_EQ(map.index(HIDPPFeature::reprogControls), 9);
    EXPECT_EQ(map.feature(9), HIDPPFeature::reprogControls);
    EXPECT_EQ(map.index(HIDPPFeature::thumbWheel), std::nullopt);
}

TEST(HIDPPStep, BuildsTheExactRequestReports) {
    EXPECT_EQ(asBytes(HIDPPStep::setReporting(CID{0xC3}, {true, true}).request().report(6)),
              concat({0x11, 0xFF, 0x06, 0x3B, 0x00, 0xC3, 0x33, 0x00, 0x00}, 11));
    EXPECT_EQ(asBytes(HIDPPStep::setReporting(CID{0xC3}, {}).request().report(6)),
              concat({0x11, 0xFF, 0x06, 0x3B, 0x00, 0xC3, 0x22, 0x00, 0x00}, 11));
    EXPECT_EQ(asBytes(HIDPPStep::setReporting(CID{0x1234}, {true, false}).request().report(9)),
              concat({0x11, 0xFF, 0x09, 0x3B, 0x12, 0x34, 0x23}, 13));
    EXPECT_EQ(asBytes(HIDPPStep::setReporting(CID{0x52}, {false, true}).request().report(9))[6],
              0x32);
    EXPECT_EQ(asBytes(HIDPPStep::findFeature(HIDPPFeature::thumbWheel).request().report(0)),
              concat({0x11, 0xFF, 0x00, 0x0B, 0x21, 0x50}, 14));
    EXPECT_EQ(asBytes(HIDPPStep::describeControl(7).request().report(9)),
              concat({0x11, 0xFF, 0x09, 0x1B, 0x07}, 15));
    EXPECT_EQ(asBytes(HIDPPStep::checkReporting(CID{0xC4}, {true, true}).request().report(9)),
              concat({0x11, 0xFF, 0x09, 0x2B, 0x00, 0xC4}, 14));
    EXPECT_EQ(asBytes(HIDPPStep::setThumbWheel({true, false}).request().report(15)),
              concat({0x11, 0xFF, 0x0F, 0x2B, 0x01, 0x00}, 14));
    EXPECT_EQ(asBytes(HIDPPStep::setThumbWheel({false, true}).request().report(15)),
              concat({0x11, 0xFF, 0x0F, 0x2B, 0x00, 0x01}, 14));
    EXPECT_EQ(asBytes(HIDPPStep::checkThumbWheel({}).request().report(15)),
              concat({0x11, 0xFF, 0x0F, 0x1B}, 16));
    EXPECT_EQ(asBytes(HIDPPStep::countControls().request().report(9)),
              concat({0x11, 0xFF, 0x09, 0x0B}, 16));

    // Only the low nibble of the function is sent, and parameters never run past the report.
    HIDPPRequest odd{HIDPPFeature::root, 0x1F, Bytes(30, 0xAA)};
    const HIDPPReport bytes = odd.report(1);
    EXPECT_EQ(bytes[3], 0xFB);
    EXPECT_EQ(bytes[19], 0xAA);
}

TEST(HIDPPStep, FailureWordsNameTheStep) {
    using F = HIDPPFailure;
    const auto findRoot = HIDPPStep::findFeature(HIDPPFeature::root);
    EXPECT_EQ(findRoot.description(), "find feature 0x0");
    EXPECT_EQ(HIDPPStep::findFeature(HIDPPFeature::reprogControls).description(),
              "find feature 0x1B04");
    EXPECT_EQ(HIDPPStep::describeControl(12).description(), "describe control 12");
    EXPECT_EQ(HIDPPStep::setReporting(CID{0xC3}, {}).description(), "divert 0xC3");
    EXPECT_EQ(HIDPPStep::setReporting(CID{0x5}, {}).description(), "divert 0x5");
    EXPECT_EQ(HIDPPStep::checkReporting(CID{0x1A0}, {}).description(), "read back 0x1A0");
    EXPECT_EQ(HIDPPStep::setThumbWheel({}).description(), "set the thumb wheel");
    EXPECT_EQ(HIDPPStep::checkThumbWheel({}).description(), "read back the thumb wheel");
    EXPECT_EQ(HIDPPStep::countControls().description(), "count controls");

    EXPECT_EQ(F::timedOut(HIDPPStep::countControls()).description(), "no reply to count controls");
    EXPECT_EQ(F::deviceError(HIDPPStep::setReporting(CID{0xC3}, {}), 255).description(),
              "divert 0xC3 failed with HID++ error 255");
    EXPECT_EQ(F::mismatch(HIDPPStep::checkThumbWheel({})).description(),
              "read back the thumb wheel did not match");
    EXPECT_EQ(F::inconsistentDiscovery().description(), "discovery got crossed replies");

    // Steps, failures and outcomes compare with their payloads.
    EXPECT_NE(HIDPPStep::checkReporting(CID{0xC3}, {true, false}),
              HIDPPStep::checkReporting(CID{0xC3}, {true, true}));
    EXPECT_NE(HIDPPStep::setReporting(CID{0xC3}, {}), HIDPPStep::checkReporting(CID{0xC3}, {}));
    EXPECT_NE(HIDPPOutcome::failed(F::deviceError(findRoot, 1)),
              HIDPPOutcome::failed(F::deviceError(findRoot, 2)));
    EXPECT_EQ(HIDPPOutcome::applied(), HIDPPOutcome::applied());
}

TEST(HIDPPInbound, ClassifiesEveryKind) {
    using I = HIDPPInbound;
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0xFF, 0x04, 0x1B, 0x05})), I::error(4, 1, 5));
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0xFF, 0x04, 0x1A, 0x05})), I::other());

    Bytes reply = report({0x11, 0xFF, 0x09, 0x1B, 0x00, 0xC3});
    reply[19] = 0x7E;
    std::array<std::uint8_t, 16> payload{};
    payload[1] = 0xC3;
    payload[15] = 0x7E;
    EXPECT_EQ(I::read(reply), I::reply(9, 1, payload));

    EXPECT_EQ(I::read(report({0x11, 0xFF, 0x09, 0x10, 0x00, 0xC3})), I::notice(9, 1));
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0x09, 0x1C})), I::other());  // another program's reply

    // Not a long report from a directly attached device: ignored whatever it holds.
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0xFF, 0x04, 0x1B, 0x05}, 19)), I::other());
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0x09, 0x1B}, 19)), I::other());
    EXPECT_EQ(I::read(report({0x11, 0x01, 0x09, 0x1B})), I::other());
    EXPECT_EQ(I::read(report({0x10, 0xFF, 0x09, 0x1B})), I::other());
    EXPECT_EQ(I::read({}), I::other());
    // A longer buffer is read as its first 20 bytes.
    EXPECT_EQ(I::read(report({0x11, 0xFF, 0x09, 0x00}, 64)), I::notice(9, 0));
}

TEST(HIDPPNotice, DecodesTheFourNotices) {
    using N = HIDPPNotice;
    const auto decode = [](const Bytes& bytes, HIDPPFeature feature, std::uint8_t event) {
        return N::decode(bytes, feature, event);
    };
    const auto buttons = [](std::initializer_list<std::uint8_t> words) {
        Bytes bytes = report({0x11, 0xFF, 0x09, 0x00});
        std::copy(words.begin(), words.end(), bytes.begin() + 4);
        return bytes;
    };
    const auto reprog = HIDPPFeature::reprogControls;

    EXPECT_EQ(decode(buttons({0, 0xC3, 0, 0xC4, 0, 0, 0, 0}), reprog, 0),
              N::divertedButtons({CID{0xC3}, CID{0xC4}}));
    EXPECT_EQ(decode(buttons({0, 0xC3, 0, 0, 0, 0xC4, 0, 0}), reprog, 0),
              N::divertedButtons({CID{0xC3}}));
    EXPECT_EQ(decode(buttons({0, 0x52, 0, 0x53, 0, 0x56, 0x01, 0xC3, 0, 0x99}), reprog, 0),
              N::divertedButtons({CID{0x52}, CID{0x53}, CID{0x56}, CID{0x1C3}}));
    EXPECT_EQ(decode(buttons({}), reprog, 0), N::divertedButtons({}));

    EXPECT_EQ(decode(buttons({0xFF, 0xFE, 0x00, 0x05}), reprog, 1), N::rawXY(-2, 5));
    EXPECT_EQ(decode(buttons({0x80, 0x00, 0x7F, 0xFF}), reprog, 1), N::rawXY(-32768, 32767));
    EXPECT_EQ(decode(buttons({}), reprog, 2), std::nullopt);

    const auto wireless = HIDPPFeature::wirelessStatus;
    EXPECT_EQ(decode(buttons({0x01, 0x01}), wireless, 0), N::wirelessStatus(true));
    EXPECT_EQ(decode(buttons({0x01, 0x03}), wireless, 0), N::wirelessStatus(false));
    EXPECT_EQ(decode(buttons({0x01, 0x00}), wireless, 0), N::wirelessStatus(false));

    const auto wheel = HIDPPFeature::thumbWheel;
    EXPECT_EQ(decode(buttons({0xFF, 0xFE}), wheel, 0), N::thumbWheel(-2));
    EXPECT_EQ(decode(buttons({0x00, 0x03}), wheel, 0), N::thumbWheel(3));
    EXPECT_EQ(decode(buttons({0x00, 0x00}), wheel, 0), std::nullopt);
    EXPECT_EQ(decode(buttons({0x00, 0x03}), wheel, 1), std::nullopt);

    EXPECT_EQ(decode(buttons({0, 0xC3}), HIDPPFeature::root, 0), std::nullopt);
    // Short bytes never decode, whatever the feature.
    EXPECT_EQ(decode(Bytes{0x11, 0xFF, 0x09, 0x00, 0x00, 0xC3}, reprog, 0), std::nullopt);
}

// The control-info replies of a recorded mouse: cid, flags (byte 4), additional flags (byte 8).
struct RecordedControl {
    std::uint16_t cid;
    std::uint8_t flags;
    std::uint8_t additionalFlags;
};

TEST(HIDPPControlInfo, ReadsARecordedMouse) {
    const RecordedControl recorded[] = {
        {0x50, 0x01, 0x04}, {0x51, 0x01, 0x04}, {0x52, 0x31, 0x05}, {0x53, 0x31, 0x05},
        {0x56, 0x31, 0x05}, {0xC3, 0x31, 0x05}, {0xC4, 0x31, 0x05}, {0xD7, 0xA0, 0x03},
    };
    std::vector<HIDPPCapabilities::Control> controls;
    for (const RecordedControl& r : recorded) {
        Bytes payload = {static_cast<std::uint8_t>(r.cid >> 8),
                         static_cast<std::uint8_t>(r.cid & 0xFF),
                         0x00,
                         0x38,
                         r.flags,
                         0x00,
                         0x01,
                         0x01,
                         r.additionalFlags};
        payload.resize(16, 0);
        if (auto control = controlFromCidInfo(payload)) controls.push_back(*control);
    }
    const std::vector<HIDPPCapabilities::Control> expected = {
        {CID{0x50}, false, false}, {CID{0x51}, false, false}, {CID{0x52}, true, true},
        {CID{0x53}, true, true},   {CID{0x56}, true, true},   {CID{0xC3}, true, true},
        {CID{0xC4}, true, true},
    };
    EXPECT_EQ(controls, expected);  // the virtual gesture button is left out

    Bytes divertableOnly(16, 0);
    divertableOnly[1] = 0x5;
    divertableOnly[4] = 0x20;
    divertableOnly[8] = 0x0E;
    EXPECT_EQ(controlFromCidInfo(divertableOnly),
              (HIDPPCapabilities::Control{CID{5}, true, false}));
    EXPECT_EQ(controlFromCidInfo(Bytes(8, 0)), std::nullopt);
}

}  // namespace
}  // namespace tindlewave
