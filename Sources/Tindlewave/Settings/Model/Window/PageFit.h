#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "Model/Config.h"
#include "Settings/Model/Window/WindowFit.h"

namespace tindlewave {

// How one settings page reports its size to the window: the last measured size, the device the
// page showed then, and whether the window found it too tall for the screen (then the page shows
// its scroll bar). Main executor only.
class PageFit {
  public:
    // Called with `replaced`: whether the page now shows another device than at its last
    // measurement.
    using Resized = std::function<void(bool replaced)>;

    explicit PageFit(Resized resized) : resized_(std::move(resized)) {}

    // Records one measurement. The subject is always stored; an unchanged size calls nothing.
    void place(ContentSize size, const std::optional<DeviceMatch>& subject);

    const std::optional<ContentSize>& size() const { return size_; }
    const std::optional<DeviceMatch>& subject() const { return subject_; }

    bool scrolls() const { return scrolls_; }
    // Written by the window; an equal value notifies nothing.
    void setScrolls(bool scrolls);
    void onScrollsChanged(std::function<void(bool)> handler) { scrollsChanged_ = std::move(handler); }

  private:
    Resized resized_;
    std::function<void(bool)> scrollsChanged_;
    std::optional<ContentSize> size_;
    std::optional<DeviceMatch> subject_;
    bool scrolls_ = false;
};

}  // namespace tindlewave
