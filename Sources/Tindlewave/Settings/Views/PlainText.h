#pragma once

#include <QString>
#include <string_view>

class QLabel;
class QWidget;

namespace tindlewave {

// Text from the configuration, a device or an error goes on screen as it is: never as rich text
// and never with "&" taken for a mnemonic.
inline QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
// For actions, buttons and menu items, whose "&" marks a mnemonic: every "&" doubled.
QString actionText(std::string_view text);
QString actionText(const QString& text);
// A tool tip that shows `text` as it is (tool tips take text that looks like markup for rich text).
QString toolTipText(std::string_view text);
// A label that shows `text` as plain text.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr);

}  // namespace tindlewave
