#pragma once

// Builds HID report descriptors item by item for test fixtures, so that a fixture says what it
// holds ("an application collection on page 0xFF43 with input report 0x11 of 19 bytes") instead
// of carrying opaque hex.

#include <cstdint>
#include <vector>

namespace tindlewave::testkit {

class ReportDescriptorBuilder {
  public:
    // Main items.
    ReportDescriptorBuilder& input(std::uint32_t flags = 0x02) { return item(0x80, flags); }
    ReportDescriptorBuilder& output(std::uint32_t flags = 0x02) { return item(0x90, flags); }
    ReportDescriptorBuilder& feature(std::uint32_t flags = 0x02) { return item(0xB0, flags); }
    ReportDescriptorBuilder& collection(std::uint8_t kind) { return item(0xA0, kind); }
    ReportDescriptorBuilder& application() { return collection(0x01); }
    ReportDescriptorBuilder& physical() { return collection(0x00); }
    ReportDescriptorBuilder& end() {
        bytes_.push_back(0xC0);
        return *this;
    }
    // Global items.
    ReportDescriptorBuilder& usagePage(std::uint32_t page) { return item(0x04, page); }
    ReportDescriptorBuilder& logical(std::int32_t min, std::int32_t max) {
        return item(0x14, std::uint32_t(min)).item(0x24, std::uint32_t(max));
    }
    ReportDescriptorBuilder& reportSize(std::uint32_t bits) { return item(0x74, bits); }
    ReportDescriptorBuilder& reportID(std::uint8_t id) { return item(0x84, id); }
    ReportDescriptorBuilder& reportCount(std::uint32_t count) { return item(0x94, count); }
    ReportDescriptorBuilder& push() { return item(0xA4, 0, 0); }
    ReportDescriptorBuilder& pop() { return item(0xB4, 0, 0); }
    // Local items.
    ReportDescriptorBuilder& usage(std::uint32_t usage) { return item(0x08, usage); }
    ReportDescriptorBuilder& usageRange(std::uint32_t min, std::uint32_t max) {
        return item(0x18, min).item(0x28, max);
    }

    // A field of `count` values of `bits` bits each.
    ReportDescriptorBuilder& bytesIn(std::uint32_t count) {
        return reportSize(8).reportCount(count).input();
    }
    ReportDescriptorBuilder& bytesOut(std::uint32_t count) {
        return reportSize(8).reportCount(count).output();
    }

    // Any item: its prefix's tag and type (the low two bits are filled in) and data of the
    // smallest size that holds `value` (or exactly `size` bytes when given: 0, 1, 2 or 4).
    ReportDescriptorBuilder& item(std::uint8_t tagAndType, std::uint32_t value, int size = -1) {
        if (size < 0) size = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
        std::uint8_t code = size == 0 ? 0 : size == 1 ? 1 : size == 2 ? 2 : 3;
        bytes_.push_back(std::uint8_t(tagAndType | code));
        for (int i = 0; i < size; ++i) bytes_.push_back(std::uint8_t(value >> (8 * i)));
        return *this;
    }
    ReportDescriptorBuilder& raw(std::vector<std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace tindlewave::testkit
