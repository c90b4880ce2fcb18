// Feeds arbitrary bytes to the report-descriptor reader, as a device could present them through
// the kernel. It must never read past them, a refusal names its offset, and what it reads holds
// together and reads the same again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "Core/Devices/ReportDescriptor.h"

using namespace tindlewave;

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto info = readReportDescriptor(std::span<const std::uint8_t>(data, size));
    if (!info) {
        check(info.error().rfind("at byte ", 0) == 0);
        return 0;
    }
    check(info->applications.size() <= size / 2);
    // Reports sized once each, in id order, none empty; ids only when the descriptor numbers them.
    std::size_t largest = 0;
    for (std::size_t i = 0; i < info->inputReports.size(); ++i) {
        const auto& report = info->inputReports[i];
        check(report.bytes > 0);
        check(i == 0 || info->inputReports[i - 1].id < report.id);
        check(info->numbered || report.id == 0);
        if (report.bytes > largest) largest = report.bytes;
    }
    check(info->maxInputReportSize() == (largest == 0 ? 0 : largest + (info->numbered ? 1 : 0)));
    auto again = readReportDescriptor(std::span<const std::uint8_t>(data, size));
    check(again && *again == *info);
    return 0;
}
