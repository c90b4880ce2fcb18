#include "Settings/Views/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tindlewave {

namespace {
// Every symbol is drawn in a 24 x 24 box.
void draw(QPainter& p, Symbol symbol, const QColor& color) {
    QPen pen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::gear: {
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(12 + 7 * std::cos(a), 12 + 7 * std::sin(a)),
                       QPointF(12 + 10 * std::cos(a), 12 + 10 * std::sin(a)));
        }
        p.drawEllipse(QPointF(12, 12), 7, 7);
        p.drawEllipse(QPointF(12, 12), 3, 3);
        break;
    }
    case Symbol::command: {
        QPainterPath path;
        path.addEllipse(QPointF(7, 7), 3, 3);
        path.addEllipse(QPointF(17, 7), 3, 3);
        path.addEllipse(QPointF(7, 17), 3, 3);
        path.addEllipse(QPointF(17, 17), 3, 3);
        p.drawPath(path);
        p.drawRect(QRectF(9, 9, 6, 6));
        break;
    }
    case Symbol::mouse:
        p.drawRoundedRect(QRectF(6, 2, 12, 20), 6, 6);
        p.drawLine(QPointF(12, 2), QPointF(12, 9));
        p.drawLine(QPointF(6, 9), QPointF(18, 9));
        break;
    case Symbol::upDown:
        p.drawLine(QPointF(8, 3), QPointF(8, 21));
        p.drawLine(QPointF(4, 7), QPointF(8, 3));
        p.drawLine(QPointF(12, 7), QPointF(8, 3));
        p.drawLine(QPointF(16, 3), QPointF(16, 21));
        p.drawLine(QPointF(12, 17), QPointF(16, 21));
        p.drawLine(QPointF(20, 17), QPointF(16, 21));
        break;
    case Symbol::list:
        for (int row = 0; row < 3; ++row) {
            const double y = 6 + row * 6;
            p.drawPoint(QPointF(4, y));
            p.drawLine(QPointF(9, y), QPointF(21, y));
        }
        break;
    case Symbol::warning: {
        QPainterPath triangle;
        triangle.moveTo(12, 2);
        triangle.lineTo(23, 21);
        triangle.lineTo(1, 21);
        triangle.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xF5, 0xA6, 0x23));
        p.drawPath(triangle);
        p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 8), QPointF(12, 14));
        p.drawPoint(QPointF(12, 18));
        break;
    }
    case Symbol::pencil:
        p.drawLine(QPointF(4, 20), QPointF(6, 14));
        p.drawLine(QPointF(4, 20), QPointF(10, 18));
        p.drawLine(QPointF(6, 14), QPointF(16, 4));
        p.drawLine(QPointF(10, 18), QPointF(20, 8));
        p.drawLine(QPointF(16, 4), QPointF(20, 8));
        break;
    case Symbol::document:
        p.drawRoundedRect(QRectF(5, 2, 14, 20), 2, 2);
        for (int row = 0; row < 3; ++row) p.drawLine(QPointF(9, 9 + 4 * row), QPointF(15, 9 + 4 * row));
        break;
    case Symbol::checkmark:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(7, 12), QPointF(10.5, 15.5), QPointF(17, 8.5)}));
        break;
    case Symbol::cursorRays: {
        QPainterPath arrow;
        arrow.moveTo(9, 8);
        arrow.lineTo(9, 21);
        arrow.lineTo(12.5, 17.5);
        arrow.lineTo(15, 22);
        arrow.lineTo(17, 21);
        arrow.lineTo(14.5, 16.5);
        arrow.lineTo(19, 16);
        arrow.closeSubpath();
        p.setBrush(color);
        p.setPen(QPen(color, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(arrow);
        p.setPen(pen);
        p.drawLine(QPointF(9, 2), QPointF(9, 5));
        p.drawLine(QPointF(3, 8), QPointF(6, 8));
        p.drawLine(QPointF(4.5, 3.5), QPointF(6.5, 5.5));
        p.drawLine(QPointF(13.5, 3.5), QPointF(11.5, 5.5));
        break;
    }
    }
}
}  // namespace

QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, qreal devicePixelRatio) {
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QPixmap pixmap(pixels, pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    draw(painter, symbol, color);
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, const QColor& color) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) icon.addPixmap(symbolPixmap(symbol, size, color, 1));
    for (int size : {16, 24, 32}) icon.addPixmap(symbolPixmap(symbol, size, color, 2));
    return icon;
}

}  // namespace tindlewave
