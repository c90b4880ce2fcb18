#include "Model/HexCoding.h"

namespace tindlewave {

std::string hexText(std::uint64_t value, int digits) {
    constexpr char upper[] = "0123456789ABCDEF";
    char buffer[16];
    int count = 0;
    do {
        buffer[count++] = upper[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string text = "0x";
    if (digits > count) text.append(static_cast<std::size_t>(digits - count), '0');
    while (count > 0) text.push_back(buffer[--count]);
    return text;
}

std::optional<std::uint16_t> readHex(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text.substr(2)) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
        if (value > 0xFFFF) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace tindlewave
