#pragma once

#include <QCheckBox>

namespace tindlewave {

// A check box whose box is outlined half way between the text and the window colour of its
// palette, read at paint time: the common style outlines it in a shade of the window, which
// leaves an unchecked box all but invisible on a dark window.
class CheckBox final : public QCheckBox {
  public:
    explicit CheckBox(const QString& text = {}, QWidget* parent = nullptr);
};

}  // namespace tindlewave
