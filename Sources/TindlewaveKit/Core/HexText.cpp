#include "Core/HexText.h"

namespace tindlewave {

std::string hexText(std::uint64_t value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    char buffer[16];
    std::size_t n = 0;
    do {
        buffer[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string text = "0x";
    while (n > 0) text.push_back(buffer[--n]);
    return text;
}

}  // namespace tindlewave
