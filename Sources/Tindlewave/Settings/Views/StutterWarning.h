#pragma once

#include <QToolButton>
#include <functional>
#include <optional>

#include "Settings/Model/Scrolling/SlowRollStutter.h"

class QFrame;
class QLabel;
class QPushButton;

namespace tindlewave {

// The warning mark after the glide knob: while slow rolls would stutter it shows, and a click
// opens a popup below it (above it near the screen's bottom, always within the free area of the
// screen it is on: `popupFrame`) that explains why and offers the glide duration that fixes it.
// With nothing to warn about it stays in its place, invisible and disabled.
class StutterWarning final : public QToolButton {
  public:
    using Fix = std::function<void(double smoothDuration)>;

    explicit StutterWarning(Fix fix, QWidget* parent = nullptr);

    void setStutter(const std::optional<SlowRollStutter>& stutter);
    const std::optional<SlowRollStutter>& stutter() const { return stutter_; }
    // The popup, while it is open.
    bool isOpen() const;
    QPushButton* fixButton() const { return fixButton_; }

  private:
    void open();

    Fix fix_;
    std::optional<SlowRollStutter> stutter_;
    QFrame* popup_;
    QLabel* detail_;
    QPushButton* fixButton_;
};

}  // namespace tindlewave
