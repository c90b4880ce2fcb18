#include "LineReader.h"

namespace tindlewave::headless {

void LineReader::append(std::string_view bytes, const std::function<void(Line)>& each) {
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        const auto piece = bytes.substr(0, end);
        if (!tooLong_ && partial_.size() + piece.size() > limit_) {
            tooLong_ = true;
            std::string().swap(partial_);
        }
        if (!tooLong_) partial_.append(piece);
        if (end == std::string_view::npos) return;
        bytes.remove_prefix(end + 1);
        each(take());
    }
}

std::optional<LineReader::Line> LineReader::finish() {
    if (partial_.empty() && !tooLong_) return std::nullopt;
    return take();
}

LineReader::Line LineReader::take() {
    Line line{tooLong_ ? std::string() : std::move(partial_), ++lines_, tooLong_};
    partial_.clear();
    tooLong_ = false;
    return line;
}

}  // namespace tindlewave::headless
