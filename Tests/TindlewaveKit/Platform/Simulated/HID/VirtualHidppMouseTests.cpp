#include "Platform/Simulated/HID/VirtualHidppMouse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Reports = std::vector<Bytes>;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Instant t0{};

// A long request with the host's software id 0xB, written out by hand.
Bytes request(std::uint8_t index, std::uint8_t function,
              std::initializer_list<std::uint8_t> params) {
    Bytes bytes(20, 0);
    bytes[0] = 0x11;
    bytes[1] = 0xFF;
    bytes[2] = index;
    bytes[3] = static_cast<std::uint8_t>((function << 4) | 0x0B);
    std::copy(params.begin(), params.end(), bytes.begin() + 4);
    return bytes;
}

Bytes report(std::initializer_list<std::uint8_t> head) {
    Bytes bytes(20, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

using Control = VirtualMouseDescription::Control;

// Middle (divertable, raw), back (divertable), left (native only), gesture button (virtual).
VirtualMouseDescription madeUp(bool wheel = true) {
    return VirtualMouseDescription::basic({{0x50, 0x38, 0x01, 0x04, 0, 1, 0x01},
                                           {0x52, 0x3A, 0x31, 0x05, 0, 3, 0x07},
                                           {0x53, 0x3C, 0x31, 0x04, 0, 2, 0x03},
                                           {0xD7, 0xB4, 0xA0, 0x03, 0, 4, 0x00}},
                                          wheel);
}
// basic() puts root 0, fillers 1 and 2, reprogrammable controls 3, wireless status 4, wheel 5.
constexpr std::uint8_t reprog = 3;
constexpr std::uint8_t wireless = 4;
constexpr std::uint8_t wheel = 5;

// Writes one request and returns what comes back within the reply latency.
std::vector<Bytes> ask(VirtualHidppMouse& mouse, const Bytes& bytes, Instant now = t0) {
    mouse.write(bytes, now);
    return mouse.takeReports(now + mouse.replyLatency);
}

TEST(VirtualMouseDescription, LoadsEveryRecordedMouse) {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    ASSERT_TRUE(files) << files.error();
    ASSERT_GE(files->size(), 3u);
    for (const auto& file : *files) {
        auto mouse = loadVirtualMouse(file);
        ASSERT_TRUE(mouse) << mouse.error();
        EXPECT_EQ(mouse->deviceIndex, 0xFF) << file;
        // The ids and the connection come from the file, as a simulated device presents them.
        EXPECT_EQ(mouse->vendorID, 0x046D) << file;
        EXPECT_NE(mouse->productID, 0) << file;
        EXPECT_EQ(mouse->connection, "bluetooth") << file;
        EXPECT_NE(mouse->indexOf(VirtualMouseDescription::reprogControlsFeature), 0) << file;
        // What real mice show: left button not divertable, the virtual gesture button virtual.
        const auto& controls = mouse->controls;
        const auto left = std::find_if(controls.begin(), controls.end(),
                                       [](const Control& c) { return c.cid == 0x50; });
        ASSERT_NE(left, controls.end()) << file;
        EXPECT_FALSE(left->divertable()) << file;
        for (const auto& control : controls) {
            if (control.cid == 0xD7) {
                EXPECT_TRUE(control.isVirtual()) << file;
            }
        }
        EXPECT_EQ(mouse->thumbWheel.has_value(),
                  mouse->indexOf(VirtualMouseDescription::thumbWheelFeature) != 0);
    }
}

// A recording of a mouse paired to a receiver loads as a mouse at its slot, 1 unless it says.
TEST(VirtualMouseDescription, AMousePairedToAReceiverAnswersAtItsSlot) {
    const std::string features =
        R"("features": [{"index": 0, "id": "0x0000", "flags": "0x00"},
                        {"index": 1, "id": "0x1B04", "flags": "0x00"}])";
    auto paired = parseVirtualMouse("{" + features + R"(, "connection": "receiver"})", "paired.json");
    ASSERT_TRUE(paired) << paired.error();
    EXPECT_EQ(paired->connection, "receiver");
    EXPECT_EQ(paired->deviceIndex, 1);
    auto third = parseVirtualMouse("{" + features + R"(, "connection": "receiver", "deviceIndex": 3})",
                                   "paired.json");
    ASSERT_TRUE(third) << third.error();
    EXPECT_EQ(third->deviceIndex, 3);
}

TEST(VirtualMouseDescription, RefusesBadFilesNamingTheFieldAndFile) {
    const std::string features =
        R"("features": [{"index": 0, "id": "0x0000", "flags": "0x00"},
                        {"index": 1, "id": "0x1B04", "flags": "0x00"}])";
    const auto error = [](const std::string& text) {
        auto mouse = parseVirtualMouse(text, "mouse.json");
        return mouse ? std::string("(loaded)") : mouse.error();
    };
    EXPECT_EQ(error("{"), "mouse.json: not valid JSON");
    EXPECT_EQ(error("{}"), "mouse.json: features: is missing");
    EXPECT_EQ(error("{" + features + R"(, "controls": [{"index": 0, "cid": 82}]})"),
              "mouse.json: controls[0].cid: expected a hexadecimal text such as \"0x1B04\"");
    EXPECT_EQ(error("{" + features + R"(, "controls": [{"index": 1}]})"),
              "mouse.json: controls[0].index: is 1, but controls are listed in the device's "
              "order, so it must be 0");
    EXPECT_EQ(error("{" + features + R"(, "controls": [
                  {"index": 0, "cid": "0x52", "tid": "0x3A", "flags": "0x31",
                   "additionalFlags": "0x05", "pos": 0, "group": 3, "groupMask": "0x07"},
                  {"index": 1, "cid": "0x53", "tid": "0x3C", "flags": "0x31",
                   "additionalFlags": "0x04", "pos": 0, "group": 2, "groupMask": "0x03"},
                  {"index": 2, "cid": "0x52", "tid": "0x3A", "flags": "0x31",
                   "additionalFlags": "0x05", "pos": 0, "group": 3, "groupMask": "0x07"}]})"),
              "mouse.json: controls[2].cid: control 0x52 is already listed at index 0");
    EXPECT_EQ(error("{" + features + R"(, "thumbWheel": true})"),
              "mouse.json: thumbWheel: is true, but the feature table lacks 0x2150");
    EXPECT_EQ(error(R"({"features": [{"index": 0, "id": "0x1B04", "flags": "0x00"}]})"),
              "mouse.json: features[0].id: index 0 must be the root feature 0x0000");
    EXPECT_EQ(error(R"({"features": [{"index": 0, "id": "0x0000", "flags": "0x100"}]})"),
              "mouse.json: features[0].flags: 0x100 is larger than 0xFF");
    EXPECT_EQ(error("{" + features + R"(, "productID": "B025"})"),
              "mouse.json: productID: expected a hexadecimal text such as \"0x1B04\", got "
              "\"B025\"");
    EXPECT_EQ(error("{" + features + R"(, "connection": "cable"})"),
              "mouse.json: connection: expected \"bluetooth\", \"usb\" or \"receiver\"");
    EXPECT_EQ(error("{" + features + R"(, "connection": "receiver", "deviceIndex": 7})"),
              "mouse.json: deviceIndex: expected a whole number from 0 to 6");
    EXPECT_EQ(error("{" + features + R"(, "connection": "receiver", "deviceIndex": 0})"),
              "mouse.json: deviceIndex: expected a receiver slot from 1 to 6");
    EXPECT_EQ(error("{" + features + R"(, "connection": "bluetooth", "deviceIndex": 2})"),
              "mouse.json: deviceIndex: only a mouse paired to a receiver (\"connection\": "
              "\"receiver\") has a slot");

    auto missing = loadVirtualMouse("/nonexistent/mouse.json");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "/nonexistent/mouse.json: No such file or directory");
    // Neither read from nor waited on: a device that never ends, a FIFO nobody writes.
    auto device = loadVirtualMouse("/dev/zero");
    ASSERT_FALSE(device);
    EXPECT_EQ(device.error(), "/dev/zero: not a regular file");
    EXPECT_FALSE(recordedMouseFiles("/nonexistent"));
}

TEST(VirtualMouseDescription, ProgramsFindTheRecordingsBesideTheirExecutable) {
    EXPECT_EQ(recordedMiceFolderCandidates("/opt/tw/bin/tindlewave"),
              (std::vector<std::string>{"/opt/tw/bin/share/tindlewave/devices",
                                        "/opt/tw/share/tindlewave/devices"}));
    // The build copies the recordings beside its executables, this test's own among them.
    auto folder = shippedRecordedMiceFolder();
    ASSERT_TRUE(folder) << folder.error().text;
    auto shipped = recordedMouseFiles(*folder);
    auto source = recordedMouseFiles(testing::recordedMiceFolder());
    ASSERT_TRUE(shipped && source);
    ASSERT_EQ(shipped->size(), source->size());
    for (std::size_t i = 0; i < shipped->size(); ++i) {
        auto copy = loadVirtualMouse((*shipped)[i]);
        auto original = loadVirtualMouse((*source)[i]);
        ASSERT_TRUE(copy && original);
        EXPECT_EQ(*copy, *original) << (*shipped)[i];
    }
}

TEST(VirtualHidppMouse, AnswersDiscoveryLikeTheRecordedMouse) {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    ASSERT_TRUE(files && !files->empty());
    auto description = loadVirtualMouse(files->front());
    ASSERT_TRUE(description) << description.error();
    VirtualHidppMouse mouse(*description);
    const std::uint8_t index = description->indexOf(0x1B04);

    EXPECT_EQ(ask(mouse, request(0, 0, {0x1B, 0x04})),
              Reports{report({0x11, 0xFF, 0x00, 0x0B, index})});
    EXPECT_EQ(ask(mouse, request(0, 0, {0x12, 0x34})),  // a feature it lacks: index 0
              Reports{report({0x11, 0xFF, 0x00, 0x0B, 0x00})});
    // Ping: the protocol version, then the ping's data byte back.
    EXPECT_EQ(ask(mouse, request(0, 1, {0, 0, 0xA7})),
              Reports{report({0x11, 0xFF, 0x00, 0x1B, description->protocolMajor,
                              description->protocolMinor, 0xA7})});
    EXPECT_EQ(ask(mouse, request(index, 0, {})),
              Reports{report({0x11, 0xFF, index, 0x0B,
                              static_cast<std::uint8_t>(description->controls.size())})});
    const Control& first = description->controls.front();
    EXPECT_EQ(ask(mouse, request(index, 1, {0})),
              Reports{report({0x11, 0xFF, index, 0x1B, 0x00, static_cast<std::uint8_t>(first.cid),
                              0x00, static_cast<std::uint8_t>(first.tid), first.flags, first.pos,
                              first.group, first.groupMask, first.additionalFlags})});
    // Past the last control, an unknown feature index, an unknown function: error reports.
    const auto count = static_cast<std::uint8_t>(description->controls.size());
    EXPECT_EQ(ask(mouse, request(index, 1, {count})),
              Reports{report({0x11, 0xFF, 0xFF, index, 0x1B, 0x02})});
    EXPECT_EQ(ask(mouse, request(0xF0, 0, {})),
              Reports{report({0x11, 0xFF, 0xFF, 0xF0, 0x0B, 0x06})});
    EXPECT_EQ(ask(mouse, request(0, 9, {})), Reports{report({0x11, 0xFF, 0xFF, 0x00, 0x9B, 0x07})});
}

TEST(VirtualHidppMouse, ReportingFollowsTheValidBits) {
    VirtualHidppMouse mouse(madeUp());
    // Divert with raw movement (0x33): the reply echoes, the read-back shows bits 0 and 4.
    EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x52, 0x33, 0, 0})),
              Reports{report({0x11, 0xFF, reprog, 0x3B, 0x00, 0x52, 0x33})});
    EXPECT_EQ(ask(mouse, request(reprog, 2, {0x00, 0x52})),
              Reports{report({0x11, 0xFF, reprog, 0x2B, 0x00, 0x52, 0x11})});
    // Bits without their valid bits change nothing; 0x02 alone undiverts but keeps raw movement.
    ask(mouse, request(reprog, 3, {0x00, 0x52, 0x00, 0, 0}));
    EXPECT_EQ(mouse.reporting(0x52), (VirtualHidppMouse::ControlReporting{true, true}));
    ask(mouse, request(reprog, 3, {0x00, 0x52, 0x02, 0, 0}));
    EXPECT_EQ(mouse.reporting(0x52), (VirtualHidppMouse::ControlReporting{false, true}));
    ask(mouse, request(reprog, 3, {0x00, 0x52, 0x22, 0, 0}));
    EXPECT_EQ(mouse.reporting(0x52), (VirtualHidppMouse::ControlReporting{false, false}));
    // Diverting what is not divertable, raw movement without the capability, an unknown control.
    EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x50, 0x23, 0, 0})),
              Reports{report({0x11, 0xFF, 0xFF, reprog, 0x3B, 0x02})});
    EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x53, 0x33, 0, 0})),
              Reports{report({0x11, 0xFF, 0xFF, reprog, 0x3B, 0x02})});
    EXPECT_EQ(ask(mouse, request(reprog, 2, {0x00, 0x99})),
              Reports{report({0x11, 0xFF, 0xFF, reprog, 0x2B, 0x02})});
    EXPECT_EQ(mouse.reporting(0x53), (VirtualHidppMouse::ControlReporting{false, false}));

    // The thumb wheel: set mode and inversion, read them back.
    EXPECT_EQ(ask(mouse, request(wheel, 2, {1, 1})),
              Reports{report({0x11, 0xFF, wheel, 0x2B, 0x01, 0x01})});
    EXPECT_EQ(ask(mouse, request(wheel, 1, {})),
              Reports{report({0x11, 0xFF, wheel, 0x1B, 0x01, 0x01})});
    EXPECT_EQ(ask(mouse, request(wheel, 2, {2, 0})),
              Reports{report({0x11, 0xFF, 0xFF, wheel, 0x2B, 0x02})});
    EXPECT_EQ(mouse.thumbWheelReporting(), (VirtualHidppMouse::ThumbWheelReporting{true, true}));

    // Not a long report for this device: no answer at all.
    Bytes shortRequest = request(0, 0, {0x1B, 0x04});
    shortRequest.pop_back();
    EXPECT_TRUE(ask(mouse, shortRequest).empty());
    Bytes otherDevice = request(0, 0, {0x1B, 0x04});
    otherDevice[1] = 0x01;
    EXPECT_TRUE(ask(mouse, otherDevice).empty());
    EXPECT_FALSE(mouse.nextReportAt());
}

TEST(VirtualHidppMouse, ActsOutNoticesOnlyForWhatIsDiverted) {
    VirtualHidppMouse mouse(madeUp());
    // Nothing diverted: presses, movement and rotation act natively.
    mouse.press(0x52, t0);
    mouse.move(5, -3, t0);
    mouse.turnThumbWheel(4, t0);
    mouse.release(0x52, t0);
    EXPECT_TRUE(mouse.takeReports(t0).empty());

    ask(mouse, request(reprog, 3, {0x00, 0x52, 0x33, 0, 0}));
    ask(mouse, request(reprog, 3, {0x00, 0x53, 0x23, 0, 0}));
    ask(mouse, request(wheel, 2, {1, 0}));
    mouse.press(0x53, t0);
    mouse.move(1, 1, t0);  // 0x53 has no raw movement
    mouse.press(0x52, t0);
    mouse.move(-2, 300, t0);
    mouse.press(0x50, t0);  // native: no notice
    mouse.release(0x53, t0);
    mouse.release(0x52, t0);
    mouse.turnThumbWheel(-2, t0);
    mouse.turnThumbWheel(0, t0);
    EXPECT_EQ(
        mouse.takeReports(t0),
        (Reports{report({0x11, 0xFF, reprog, 0x00, 0x00, 0x53}),
                 report({0x11, 0xFF, reprog, 0x00, 0x00, 0x53, 0x00, 0x52}),
                 report({0x11, 0xFF, reprog, 0x10, 0xFF, 0xFE, 0x01, 0x2C}),
                 report({0x11, 0xFF, reprog, 0x00, 0x00, 0x52}), report({0x11, 0xFF, reprog, 0x00}),
                 report({0x11, 0xFF, wheel, 0x00, 0xFF, 0xFE, 0x00, 0x08, 0x02})}));

    // A reconnect forgets the settings and asks to be configured again.
    mouse.reconnect(t0 + seconds(1));
    EXPECT_EQ(mouse.takeReports(t0 + seconds(1)),
              Reports{report({0x11, 0xFF, wireless, 0x00, 0x01, 0x01, 0x01})});
    EXPECT_EQ(mouse.reporting(0x52), (VirtualHidppMouse::ControlReporting{}));
    EXPECT_EQ(mouse.thumbWheelReporting(), (VirtualHidppMouse::ThumbWheelReporting{}));
}

TEST(VirtualHidppMouse, FaultSwitches) {
    const Bytes lookUp = request(0, 0, {0x1B, 0x04});
    const Bytes answer = report({0x11, 0xFF, 0x00, 0x0B, reprog});
    {  // Dropped replies: the request is carried out, nothing comes back.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.dropReplies = 1;
        EXPECT_TRUE(ask(mouse, request(reprog, 3, {0x00, 0x52, 0x23, 0, 0})).empty());
        EXPECT_TRUE(mouse.reporting(0x52)->divert);
        EXPECT_EQ(ask(mouse, lookUp), Reports{answer});
        EXPECT_FALSE(mouse.faults.any());
    }
    {  // A delayed reply holds back the replies after it: the device answers in order.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.delayReplies = 1;
        mouse.write(lookUp, t0);
        mouse.write(request(0, 0, {0x21, 0x50}), t0 + seconds(2));
        EXPECT_EQ(mouse.nextReportAt(), t0 + milliseconds(2501));
        EXPECT_EQ(mouse.takeReports(t0 + seconds(3)),
                  (Reports{answer, report({0x11, 0xFF, 0x00, 0x0B, wheel})}));
        EXPECT_EQ(ask(mouse, lookUp, t0 + seconds(4)), Reports{answer});
    }
    {  // A chosen step fails with its code, once; other controls are not touched.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.errors.push_back({0x1B04, 3, 0x52, 0x04, 1});
        EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x53, 0x23, 0, 0})).front()[2], reprog);
        EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x52, 0x23, 0, 0})),
                  Reports{report({0x11, 0xFF, 0xFF, reprog, 0x3B, 0x04})});
        EXPECT_FALSE(mouse.reporting(0x52)->divert);
        EXPECT_EQ(ask(mouse, request(reprog, 3, {0x00, 0x52, 0x23, 0, 0})).front()[2], reprog);
    }
    {  // Crossed: the first reply comes again just before the second one's.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.crossReplies = 1;
        EXPECT_EQ(ask(mouse, lookUp), Reports{answer});
        EXPECT_EQ(ask(mouse, request(0, 0, {0x21, 0x50})),
                  (Reports{answer, report({0x11, 0xFF, 0x00, 0x0B, wheel})}));
    }
    {  // A corrupted read-back shows the opposite divert bit, for a control and for the wheel.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.corruptReadBacks = 2;
        EXPECT_EQ(ask(mouse, request(reprog, 2, {0x00, 0x52})),
                  Reports{report({0x11, 0xFF, reprog, 0x2B, 0x00, 0x52, 0x01})});
        EXPECT_EQ(ask(mouse, request(wheel, 1, {})),
                  Reports{report({0x11, 0xFF, wheel, 0x1B, 0x01})});
        EXPECT_EQ(mouse.reporting(0x52), (VirtualHidppMouse::ControlReporting{}));
    }
    {  // Foreign software id, on a reply and on an error; a short report.
        VirtualHidppMouse mouse(madeUp());
        mouse.faults.foreignSoftwareId = 2;
        mouse.faults.shortReports = 1;
        auto foreign = ask(mouse, lookUp);
        ASSERT_EQ(foreign.size(), 1u);
        EXPECT_EQ(foreign[0].size(), 19u);
        EXPECT_EQ(foreign[0][3], 0x01);
        EXPECT_EQ(ask(mouse, request(0xF0, 0, {})),
                  Reports{report({0x11, 0xFF, 0xFF, 0xF0, 0x01, 0x06})});
        EXPECT_EQ(ask(mouse, lookUp), Reports{answer});
    }
}

}  // namespace
}  // namespace tindlewave
