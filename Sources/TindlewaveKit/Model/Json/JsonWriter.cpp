#include "Model/Json/JsonWriter.h"

#include <cassert>
#include <charconv>
#include <cmath>

namespace tindlewave {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Length of the UTF-8 sequence that starts at `i`, or 0 when it is malformed.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t i) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    }
    return length;
}

// Appends `text` as a quoted JSON string; false when it is not valid UTF-8.
bool appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t runStart = 0;
    std::size_t i = 0;
    auto flush = [&] { out.append(text.data() + runStart, i - runStart); };
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) return false;
            i += length;
            continue;
        }
        if (c >= 0x20 && c != '"' && c != '\\') {
            ++i;
            continue;
        }
        flush();
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            default:
                out.append("\\u00");
                out.push_back(hexDigits[c >> 4]);
                out.push_back(hexDigits[c & 0xF]);
        }
        ++i;
        runStart = i;
    }
    flush();
    out.push_back('"');
    return true;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = utf8SequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::optional<std::string> jsonNumberText(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    char buffer[32];
    std::to_chars_result result;
    // Whole numbers of a size that integers hold exactly are written as integers ("4", not "4.0"
    // or "4e+00"); everything else with the shortest round-trip digits.
    if (std::trunc(value) == value && std::fabs(value) < 1e17) {
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value));
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    }
    return std::string(buffer, result.ptr);
}

JsonWriter::JsonWriter(Layout layout, std::size_t reserve) : layout_(layout) {
    out_.reserve(reserve);
    levels_.reserve(8);
}

void JsonWriter::indent(std::size_t depth) {
    out_.append(2 * depth, ' ');
}

void JsonWriter::beforeValue() {
    if (levels_.empty()) return;
    Level& level = levels_.back();
    if (level.object) {
        assert(afterKey_ && "a member's value needs its key first");
        afterKey_ = false;
        return;
    }
    if (!level.empty) out_.push_back(',');
    level.empty = false;
    if (layout_ == Layout::pretty) {
        out_.push_back('\n');
        indent(levels_.size());
    }
}

void JsonWriter::open(char bracket, bool object) {
    if (failure_) return;
    beforeValue();
    out_.push_back(bracket);
    Level level;
    level.object = object;
    levels_.push_back(std::move(level));
}

void JsonWriter::close(char bracket) {
    if (failure_) return;
    assert(!levels_.empty() && !afterKey_);
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (layout_ == Layout::pretty) {
        out_.append(empty ? "\n\n" : "\n");
        indent(levels_.size());
    }
    out_.push_back(bracket);
}

void JsonWriter::beginObject() {
    open('{', true);
}
void JsonWriter::endObject() {
    close('}');
}
void JsonWriter::beginList() {
    open('[', false);
}
void JsonWriter::endList() {
    close(']');
}

void JsonWriter::key(std::string_view name) {
    if (failure_) return;
    assert(!levels_.empty() && levels_.back().object && !afterKey_);
    Level& level = levels_.back();
#ifndef NDEBUG
    assert((level.empty || level.lastKey < name) && "keys must be written in ascending order");
    level.lastKey = name;
#endif
    if (!level.empty) out_.push_back(',');
    level.empty = false;
    if (layout_ == Layout::pretty) {
        out_.push_back('\n');
        indent(levels_.size());
    }
    if (!appendQuoted(out_, name)) return fail("not valid UTF-8");
    out_.append(layout_ == Layout::pretty ? " : " : ":");
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
    if (failure_) return;
    beforeValue();
    if (!appendQuoted(out_, text)) fail("not valid UTF-8");
}

void JsonWriter::number(double value) {
    if (failure_) return;
    const auto text = jsonNumberText(value);
    if (!text) return fail("not a finite number");
    beforeValue();
    out_.append(*text);
}

void JsonWriter::integer(std::int64_t value) {
    if (failure_) return;
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void JsonWriter::boolean(bool value) {
    if (failure_) return;
    beforeValue();
    out_.append(value ? "true" : "false");
}

void JsonWriter::fail(std::string message) {
    if (!failure_) failure_ = std::move(message);
}

void JsonWriter::finish() {
    if (failure_) return;
    assert(levels_.empty());
    if (layout_ == Layout::pretty) out_.push_back('\n');
}

}  // namespace tindlewave
