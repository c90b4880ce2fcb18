#include "Settings/Views/Segment.h"

#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionButton>

namespace tindlewave {

namespace {
// The common style draws a checked button as a slightly sunken one, which a dark palette hides.
// The colours come from the option's palette at paint time, so they follow the window's.
class SegmentStyle final : public QProxyStyle {
  public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const bool chosen = option->state & State_On;
        if (chosen && element == CE_PushButtonBevel) {
            const QColor fill = option->palette.color(QPalette::Highlight);
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(fill.darker(115));
            painter->setBrush(fill);
            painter->drawRoundedRect(QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
            painter->restore();
            return;
        }
        if (chosen && element == CE_PushButtonLabel) {
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
                QStyleOptionButton text = *button;
                text.palette.setColor(QPalette::ButtonText,
                                      option->palette.color(QPalette::HighlightedText));
                QProxyStyle::drawControl(element, &text, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};
}  // namespace

QPushButton* makeSegment(const QString& title) {
    auto* segment = new QPushButton(title);
    segment->setCheckable(true);
    auto* style = new SegmentStyle;
    style->setParent(segment);
    segment->setStyle(style);
    return segment;
}

}  // namespace tindlewave
