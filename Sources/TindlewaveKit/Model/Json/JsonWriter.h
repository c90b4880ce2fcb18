#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindlewave {

// Writes JSON text in one pass. Two layouts:
//   pretty:  two spaces per level, `"key" : value`, one member per line, an empty list or object
//            written as the bracket, a blank line and the closing bracket at the parent's indent;
//   compact: no whitespace at all.
// The caller writes each object's keys in ascending order of their UTF-8 bytes (debug builds check
// it). Slashes are never escaped, non-ASCII text is written as UTF-8, whole numbers are written
// without a fraction and other numbers with the shortest digits that read back to the same value.
//
// Writing cannot produce invalid JSON: a number that is not finite or a text that is not valid
// UTF-8 makes the writer fail, and so does `fail(message)`. After the first failure nothing more is
// written and `failure()` holds its message; the caller discards the text.
class JsonWriter {
  public:
    enum class Layout { pretty, compact };

    explicit JsonWriter(Layout layout, std::size_t reserve = 0);

    void beginObject();
    void endObject();
    void beginList();
    void endList();
    // The key of the next member of the current object.
    void key(std::string_view name);

    void string(std::string_view text);
    void number(double value);
    void integer(std::int64_t value);
    void boolean(bool value);

    void fail(std::string message);
    const std::optional<std::string>& failure() const { return failure_; }

    // The text written so far; for pretty text the caller ends the document with `finish()`.
    void finish();
    std::string take() { return std::move(out_); }
    const std::string& text() const { return out_; }

  private:
    struct Level {
        bool object = false;
        bool empty = true;
#ifndef NDEBUG
        std::string lastKey;
#endif
    };

    void beforeValue();
    void open(char bracket, bool object);
    void close(char bracket);
    void indent(std::size_t depth);

    Layout layout_;
    std::string out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
    std::optional<std::string> failure_;
};

// The shortest text that reads back to the same double, without a fraction for whole numbers
// ("4", "0.25", "1e+300"). Independent of the locale. None for NaN and the infinities.
std::optional<std::string> jsonNumberText(double value);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace tindlewave
