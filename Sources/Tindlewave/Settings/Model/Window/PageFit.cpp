#include "Settings/Model/Window/PageFit.h"

namespace tindlewave {

void PageFit::place(ContentSize size, const std::optional<DeviceMatch>& subject) {
    const bool replaced = subject != subject_;
    subject_ = subject;
    if (size_ == size) return;
    size_ = size;
    if (resized_) resized_(replaced);
}

void PageFit::setScrolls(bool scrolls) {
    if (scrolls_ == scrolls) return;
    scrolls_ = scrolls;
    if (scrollsChanged_) scrollsChanged_(scrolls);
}

}  // namespace tindlewave
