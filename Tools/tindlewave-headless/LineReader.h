#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tindlewave::headless {

// Splits bytes into lines as they arrive, looking at each byte once: a chunk is searched for line
// breaks, never what came before it. A line longer than the limit is not kept: its bytes are
// dropped as they come, and it is handed on as too long, without its text, once it ends.
class LineReader {
  public:
    // Far longer than any command (a path is at most 4096 bytes).
    static constexpr std::size_t lineLengthLimit = 64 * 1024;

    struct Line {
        std::string text;         // without its line break; empty when too long
        std::size_t number = 0;   // from 1
        bool tooLong = false;
    };

    explicit LineReader(std::size_t limit = lineLengthLimit) : limit_(limit) {}

    // Hands each line that `bytes` ends to `each`, in order.
    void append(std::string_view bytes, const std::function<void(Line)>& each);
    // The last line, when the input ended without a line break after it.
    std::optional<Line> finish();

    std::size_t limit() const { return limit_; }

  private:
    Line take();

    std::size_t limit_;
    std::string partial_;
    bool tooLong_ = false;
    std::size_t lines_ = 0;
};

}  // namespace tindlewave::headless
