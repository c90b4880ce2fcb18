#include "Core/Devices/ReportDescriptor.h"

#include <gtest/gtest.h>

#include "TestKit/ReportDescriptorBuilder.h"

namespace tindlewave {
namespace {

using testkit::ReportDescriptorBuilder;
using Application = ReportDescriptorInfo::Application;

// A mouse collection (report 2: 16 buttons, 12-bit X and Y, wheel, pan) and a HID++ collection
// with a 19-byte input report 0x11 inside a physical collection.
std::vector<std::uint8_t> hidppMouse() {
    ReportDescriptorBuilder d;
    d.usagePage(0x01).usage(0x02).application()
        .reportID(0x02).usage(0x01).physical()
        .usagePage(0x09).usageRange(1, 16).logical(0, 1).reportSize(1).reportCount(16).input()
        .usagePage(0x01).logical(-2047, 2047).reportSize(12).reportCount(2)
        .usage(0x30).usage(0x31).input(0x06)
        .reportSize(8).reportCount(2).usage(0x38).input(0x06)
        .end().end();
    d.usagePage(0xFF43).usage(0x0202).application()
        .reportID(0x11).usage(0x0202).physical().bytesIn(19).end().usage(0x0202).bytesOut(19)
        .end();
    return d.bytes();
}

TEST(ReportDescriptor, ApplicationsAndInputReportSizes) {
    auto info = readReportDescriptor(hidppMouse());
    ASSERT_TRUE(info) << info.error();
    EXPECT_EQ(info->applications,
              (std::vector<Application>{{{1, 2}, {0x02}}, {{0xFF43, 0x0202}, {0x11}}}));
    EXPECT_TRUE(info->numbered);
    EXPECT_EQ(info->inputReportBytes(0x02), 7u);
    EXPECT_EQ(info->inputReportBytes(0x11), 19u);
    EXPECT_EQ(info->inputReportBytes(0x10), 0u);
    EXPECT_EQ(info->maxInputReportSize(), 20u);

    // Unnumbered: 8 bytes of keyboard report (modifiers, a constant byte, six keys); the LED
    // output and its padding do not count.
    ReportDescriptorBuilder keyboard;
    keyboard.usagePage(0x01).usage(0x06).application()
        .usagePage(0x07).usageRange(0xE0, 0xE7).reportSize(1).reportCount(8).input()
        .reportSize(8).reportCount(1).input(0x01)
        .usagePage(0x08).usageRange(1, 5).reportSize(1).reportCount(5).output()
        .reportSize(3).reportCount(1).output(0x01)
        .usagePage(0x07).usageRange(0, 0x65).reportSize(8).reportCount(6).input(0x00)
        .end();
    info = readReportDescriptor(keyboard.bytes());
    ASSERT_TRUE(info) << info.error();
    EXPECT_EQ(info->applications, (std::vector<Application>{{{1, 6}, {0}}}));
    EXPECT_FALSE(info->numbered);
    EXPECT_EQ(info->maxInputReportSize(), 8u);
}

TEST(ReportDescriptor, ExtendedUsagesPushPopAndLongItems) {
    ReportDescriptorBuilder d;
    // A four-byte usage names its own page; the page pushed is restored by pop; a long item is
    // stepped over; a top-level collection that is not an application is no application.
    d.usagePage(0x0C).item(0x08, 0x000D0005, 4).application().end()
        .push().usagePage(0xFF00).pop().usage(0x01).application().end()
        .raw({0xFE, 0x02, 0x10, 0xAA, 0xBB})
        .usage(0x03).physical().end();
    auto info = readReportDescriptor(d.bytes());
    ASSERT_TRUE(info) << info.error();
    EXPECT_EQ(info->applications,
              (std::vector<Application>{{{0x0D, 0x05}, {}}, {{0x0C, 0x01}, {}}}));
    EXPECT_EQ(info->maxInputReportSize(), 0u);
    // Nothing at all is an empty descriptor, not an error.
    EXPECT_TRUE(readReportDescriptor({}));
}

TEST(ReportDescriptor, RefusesWhatItCannotReadWithTheOffset) {
    auto refused = [](std::vector<std::uint8_t> bytes) {
        auto info = readReportDescriptor(bytes);
        return info ? std::string("read") : info.error();
    };
    EXPECT_EQ(refused({0x05, 0x01, 0x09}), "at byte 2: item runs past the end");
    EXPECT_EQ(refused({0x06, 0x00}), "at byte 0: item runs past the end");
    EXPECT_EQ(refused({0xFE, 0x04, 0x00, 0x01}), "at byte 0: long item runs past the end");
    EXPECT_EQ(refused({0xC0}), "at byte 0: end of a collection that was not begun");
    EXPECT_EQ(refused({0x09, 0x02, 0xA1, 0x01}), "at byte 4: a collection is left open");
    EXPECT_EQ(refused({0x85, 0x00}), "at byte 0: report id outside 1-255");
    EXPECT_EQ(refused({0x86, 0x00, 0x01}), "at byte 0: report id outside 1-255");
    EXPECT_EQ(refused({0xB4}), "at byte 0: pop without push");
    EXPECT_EQ(refused({0x75, 0x08, 0x76, 0x01, 0x01}), "at byte 2: report size above 256 bits");
    EXPECT_EQ(refused({0x96, 0x01, 0x40}), "at byte 0: report count above 12288");
    std::vector<std::uint8_t> deep;
    for (int i = 0; i < 33; ++i) deep.insert(deep.end(), {0xA1, 0x00});
    EXPECT_EQ(refused(deep), "at byte 64: collections nested deeper than 32");

    // Every cut of a good descriptor is read or refused, never read past.
    const auto whole = hidppMouse();
    for (std::size_t size = 0; size < whole.size(); ++size) {
        std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(size));
        (void)readReportDescriptor(cut);
    }
}

}  // namespace
}  // namespace tindlewave
