#include "Core/Devices/ReportDescriptor.h"

#include <algorithm>
#include <map>

namespace tindlewave {

namespace {

constexpr std::uint32_t maxReportSize = 256;     // bits per field value
constexpr std::uint32_t maxReportCount = 12288;  // values per field
constexpr std::size_t maxDepth = 32;             // of collections, and of pushed globals

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportID = 0;
};

std::string at(std::size_t offset, const std::string& cause) {
    return "at byte " + std::to_string(offset) + ": " + cause;
}

}  // namespace

std::size_t ReportDescriptorInfo::maxInputReportSize() const {
    std::size_t largest = 0;
    for (const auto& report : inputReports) largest = std::max(largest, report.bytes);
    return largest == 0 ? 0 : largest + (numbered ? 1 : 0);
}

std::size_t ReportDescriptorInfo::inputReportBytes(std::uint8_t id) const {
    for (const auto& report : inputReports)
        if (report.id == id) return report.bytes;
    return 0;
}

Result<ReportDescriptorInfo, std::string> readReportDescriptor(std::span<const std::uint8_t> bytes) {
    ReportDescriptorInfo info;
    Globals globals;
    std::vector<Globals> pushed;
    // Plain values rather than optionals: GCC 12 at -O3 takes an optional's payload for unset.
    std::uint32_t firstUsage = 0;  // local: the first usage since the last main item
    bool haveUsage = false;
    std::size_t depth = 0;
    constexpr std::size_t none = std::size_t(-1);
    std::size_t application = none;  // the top-level application collection open now
    std::map<std::uint8_t, std::uint64_t> inputBits;

    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t start = offset;
        const std::uint8_t prefix = bytes[offset++];
        if (prefix == 0xFE) {  // a long item: size, tag, data; nothing here uses one
            if (bytes.size() - offset < 2) return at(start, "long item runs past the end");
            const std::size_t size = bytes[offset];
            offset += 2;
            if (bytes.size() - offset < size) return at(start, "long item runs past the end");
            offset += size;
            continue;
        }
        const std::size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (bytes.size() - offset < size) return at(start, "item runs past the end");
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t(bytes[offset + i]) << (8 * i);
        offset += size;
        const std::uint8_t type = (prefix >> 2) & 0x03;
        const std::uint8_t tag = prefix >> 4;

        if (type == 1) {  // global
            switch (tag) {
                case 0x0: globals.usagePage = value; break;
                case 0x7:
                    if (value > maxReportSize) return at(start, "report size above 256 bits");
                    globals.reportSize = value;
                    break;
                case 0x8:
                    if (value == 0 || value > 0xFF) return at(start, "report id outside 1-255");
                    globals.reportID = std::uint8_t(value);
                    info.numbered = true;
                    break;
                case 0x9:
                    if (value > maxReportCount) return at(start, "report count above 12288");
                    globals.reportCount = value;
                    break;
                case 0xA:
                    if (pushed.size() >= maxDepth) return at(start, "pushed deeper than 32");
                    pushed.push_back(globals);
                    break;
                case 0xB:
                    if (pushed.empty()) return at(start, "pop without push");
                    globals = pushed.back();
                    pushed.pop_back();
                    break;
                default: break;  // logical and physical ranges, units: not needed here
            }
            continue;
        }
        if (type == 2) {  // local
            if ((tag == 0x0 || tag == 0x1) && !haveUsage) {  // a usage, or the start of a range
                // A four-byte usage carries its own page in the upper half.
                firstUsage = size == 4 ? value : (globals.usagePage << 16) | (value & 0xFFFF);
                haveUsage = true;
            }
            continue;
        }
        if (type != 0) continue;  // reserved

        switch (tag) {
            case 0x8: {  // input
                const std::uint64_t bits = std::uint64_t(globals.reportSize) * globals.reportCount;
                inputBits[globals.reportID] += bits;
                if (application != none) {
                    auto& ids = info.applications[application].inputReportIDs;
                    if (std::find(ids.begin(), ids.end(), globals.reportID) == ids.end())
                        ids.push_back(globals.reportID);
                }
                break;
            }
            case 0xA:  // collection
                if (depth >= maxDepth) return at(start, "collections nested deeper than 32");
                if (depth == 0 && (value & 0xFF) == 0x01) {
                    const std::uint32_t usage = haveUsage ? firstUsage : globals.usagePage << 16;
                    application = info.applications.size();
                    info.applications.push_back(
                        {{std::int64_t(usage >> 16), std::int64_t(usage & 0xFFFF)}, {}});
                }
                ++depth;
                break;
            case 0xC:  // end collection
                if (depth == 0) return at(start, "end of a collection that was not begun");
                if (--depth == 0) application = none;
                break;
            default: break;  // output, feature and reserved main items
        }
        haveUsage = false;  // locals end with every main item
    }
    if (depth != 0) return at(bytes.size(), "a collection is left open");
    for (const auto& [id, bits] : inputBits) {
        if (bits == 0) continue;
        info.inputReports.push_back({id, std::size_t((bits + 7) / 8)});
    }
    return info;
}

}  // namespace tindlewave
