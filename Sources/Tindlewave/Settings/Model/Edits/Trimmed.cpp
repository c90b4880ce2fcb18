#include "Settings/Model/Edits/Trimmed.h"

#include <cstdint>
#include <optional>

namespace tindlewave {

namespace {

bool isSpaceOrBreak(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

// The code point that starts at `at` and its length, or none when the bytes there are not one
// well-formed UTF-8 sequence.
struct Decoded {
    char32_t c;
    std::size_t length;
};
std::optional<Decoded> decodeAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t first = byte(0);
    std::size_t length = 0;
    char32_t c = 0;
    if (first < 0x80) return Decoded{first, 1};
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        c = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        c = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        c = first & 0x07;
    } else {
        return std::nullopt;
    }
    if (at + length > text.size()) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return Decoded{c, length};
}

// The start of the code point that ends at `end` (exclusive), when it is a space or break.
std::optional<std::size_t> spaceEndingAt(std::string_view text, std::size_t end) {
    for (std::size_t length = 1; length <= 4 && length <= end; ++length) {
        const std::size_t start = end - length;
        if (auto decoded = decodeAt(text, start); decoded && decoded->length == length) {
            return isSpaceOrBreak(decoded->c) ? std::optional(start) : std::nullopt;
        }
    }
    return std::nullopt;
}

bool breaksALine(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::string shownName(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto decoded = decodeAt(text, at);
        const std::size_t length = decoded ? decoded->length : 1;
        if (decoded && breaksALine(decoded->c)) shown += ' ';
        else shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}

std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto decoded = decodeAt(text, begin);
        if (!decoded || !isSpaceOrBreak(decoded->c)) break;
        begin += decoded->length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        auto start = spaceEndingAt(text, end);
        if (!start || *start < begin) break;
        end = *start;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace tindlewave
