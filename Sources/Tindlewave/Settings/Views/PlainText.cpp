#include "Settings/Views/PlainText.h"

#include <QLabel>

namespace tindlewave {

QString actionText(const QString& text) {
    QString doubled = text;
    doubled.replace(QLatin1Char('&'), QLatin1String("&&"));
    return doubled;
}

QString actionText(std::string_view text) {
    return actionText(qText(text));
}

QString toolTipText(std::string_view text) {
    if (text.empty()) return {};
    return "<p style='white-space:pre-wrap'>" + qText(text).toHtmlEscaped() + "</p>";
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

}  // namespace tindlewave
