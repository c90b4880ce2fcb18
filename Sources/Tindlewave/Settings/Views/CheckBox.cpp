#include "Settings/Views/CheckBox.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace tindlewave {

namespace {
class OutlinedBoxStyle final : public QProxyStyle {
  public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox) return;
        const QColor text = option->palette.color(QPalette::WindowText);
        const QColor window = option->palette.color(QPalette::Window);
        const QColor edge = QColor::fromRgbF((text.redF() + window.redF()) / 2,
                                             (text.greenF() + window.greenF()) / 2,
                                             (text.blueF() + window.blueF()) / 2);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(edge, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        painter->restore();
    }
};
}  // namespace

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    auto* style = new OutlinedBoxStyle;
    style->setParent(this);
    setStyle(style);
}

}  // namespace tindlewave
