#pragma once

#include <compare>
#include <cstdint>
#include <functional>

namespace tindlewave {

// A USB vendor id.
struct VendorID {
    std::uint16_t rawValue = 0;

    // The least number of hexadecimal digits of the text form.
    static constexpr int digits = 4;
    // The vendor of HID++ mice.
    static const VendorID logitech;

    bool operator==(const VendorID&) const = default;
    auto operator<=>(const VendorID&) const = default;
};
inline constexpr VendorID VendorID::logitech{0x046D};

// A USB product id.
struct ProductID {
    std::uint16_t rawValue = 0;

    static constexpr int digits = 4;

    bool operator==(const ProductID&) const = default;
    auto operator<=>(const ProductID&) const = default;
};

// A HID++ control id.
struct CID {
    std::uint16_t rawValue = 0;

    static constexpr int digits = 2;

    bool operator==(const CID&) const = default;
    auto operator<=>(const CID&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::VendorID> {
    std::size_t operator()(tindlewave::VendorID id) const noexcept {
        return std::hash<std::uint16_t>{}(id.rawValue);
    }
};

template <>
struct std::hash<tindlewave::ProductID> {
    std::size_t operator()(tindlewave::ProductID id) const noexcept {
        return std::hash<std::uint16_t>{}(id.rawValue);
    }
};

template <>
struct std::hash<tindlewave::CID> {
    std::size_t operator()(tindlewave::CID id) const noexcept {
        return std::hash<std::uint16_t>{}(id.rawValue);
    }
};
