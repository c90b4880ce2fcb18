#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tindlewave {

// One HID++ 2.0 long report: report id, device index, feature index, function and software id,
// then 16 bytes of parameters or payload.
inline constexpr std::size_t hidppReportLength = 20;
using HIDPPReport = std::array<std::uint8_t, hidppReportLength>;

inline constexpr std::uint8_t hidppLongReportID = 0x11;
// The device index of a directly attached device. A device reached through a receiver has its
// pairing slot (1 to 6) instead, which its link is given.
inline constexpr std::uint8_t hidppDeviceIndex = 0xFF;
// The feature index that marks an error report.
inline constexpr std::uint8_t hidppErrorIndex = 0xFF;
// Our software id: the low nibble of byte 3 of every request, echoed in its reply.
inline constexpr std::uint8_t hidppSoftwareID = 0x0B;
// The bytes of a reply's payload (and the most parameters a request can carry).
inline constexpr std::size_t hidppPayloadLength = 16;

}  // namespace tindlewave
