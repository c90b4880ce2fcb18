#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/Result.h"

namespace tindlewave {

// What a HID report descriptor says about an interface: its top-level application collections
// and the sizes of its input reports. The bytes come from the device (through the kernel), so
// they are untrusted: the reader never reads past them and refuses what it cannot read, naming
// the offset and the cause.
struct ReportDescriptorInfo {
    struct Application {
        UsagePair usage;
        std::vector<std::uint8_t> inputReportIDs;  // ids of the input reports it holds (0: none)
        bool operator==(const Application&) const = default;
    };
    struct InputReport {
        std::uint8_t id = 0;    // 0 when the descriptor numbers no report
        std::size_t bytes = 0;  // the data, without the id byte
        bool operator==(const InputReport&) const = default;
    };

    std::vector<Application> applications;  // in descriptor order
    std::vector<InputReport> inputReports;   // by id
    bool numbered = false;                   // reports carry their id as byte 0

    // The largest input report as read from the device: data, plus the id byte when numbered.
    std::size_t maxInputReportSize() const;
    // The data bytes of one input report, 0 when there is none.
    std::size_t inputReportBytes(std::uint8_t id) const;

    bool operator==(const ReportDescriptorInfo&) const = default;
};

// Reads a report descriptor. Fails with "at byte N: <cause>" (an item running past the end, a
// collection ended twice or left open, report id 0 or above 255, a report size above 256 bits or
// a count above 12288, pop without push, nesting deeper than 32).
Result<ReportDescriptorInfo, std::string> readReportDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace tindlewave
