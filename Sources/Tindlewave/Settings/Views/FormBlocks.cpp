#include "Settings/Views/FormBlocks.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

QColor secondaryColor(const QWidget& widget) {
    QColor color = widget.palette().color(QPalette::WindowText);
    color.setAlphaF(0.6f);
    return color;
}

void dimText(QWidget* widget) { widget->setForegroundRole(QPalette::PlaceholderText); }

Explanation::Explanation(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont smaller = font();
    smaller.setPointSizeF(smaller.pointSizeF() * 0.9);
    setFont(smaller);
    dimText(this);
    // Its height follows the width it gets: held to the height of its narrowest form, a text
    // that fits one line would keep the room of two.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void Explanation::keepOnOneLine() {
    oneLine_ = true;
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    updateGeometry();
}

QString Explanation::shownText() const {
    if (!oneLine_) return text();
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize Explanation::minimumSizeHint() const {
    if (!oneLine_) return QLabel::minimumSizeHint();
    return {0, QLabel::minimumSizeHint().height()};
}

void Explanation::paintEvent(QPaintEvent* event) {
    if (!oneLine_) return QLabel::paintEvent(event);
    const QString shown = shownText();
    const QString tip = shown == text() ? QString() : toolTipText(text().toStdString());
    if (toolTip() != tip) setToolTip(tip);
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shown);
}

GroupHeading::GroupHeading(const QString& title, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(title);
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    setContentsMargins(0, 2, 0, 0);
}

FormRow::FormRow(const QString& label, const std::optional<QString>& detail, QWidget* content,
                 QWidget* parent)
    : QWidget(parent), label_(plainLabel(label.isEmpty() ? QString() : label + ":", this)),
      content_(content) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    label_->setFixedWidth(labelColumnWidth);
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label_->setContentsMargins(0, 4, 0, 0);
    row->addWidget(label_, 0, Qt::AlignTop);
    // The column keeps to the top when the label needs more height than it does.
    auto* column = new QWidget(this);
    column_ = new QVBoxLayout(column);
    column_->setSpacing(5);
    column_->setContentsMargins(0, 0, 0, 0);
    // Content that asks to expand takes the column's width (its text wraps there); other
    // content keeps its own width at the leading edge.
    if (content_) {
        const bool expands = content_->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag;
        column_->addWidget(content_, 0, expands ? Qt::Alignment() : Qt::AlignLeft);
    }
    row->addWidget(column, 1, Qt::AlignTop);
    setDetail(detail);
}

void FormRow::setDetail(const std::optional<QString>& detail) {
    if (!detail) {
        delete detail_;
        detail_ = nullptr;
        return;
    }
    if (detail_) {
        if (detail_->text() != *detail) detail_->setText(*detail);
        return;
    }
    detail_ = new Explanation(*detail, this);
    column_->addWidget(detail_);
}

Divider::Divider(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::HLine);
    setFrameShadow(QFrame::Sunken);
}

ConnectionDot::ConnectionDot(bool connected, QWidget* parent) : QWidget(parent), connected_(!connected) {
    setFixedSize(8, 8);
    setConnected(connected);
}

void ConnectionDot::setConnected(bool connected) {
    if (connected_ == connected) return;
    connected_ = connected;
    setAccessibleName(connected ? "Connected" : "Not connected");
    update();
}

void ConnectionDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (connected_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x34, 0xC7, 0x59));
        painter.drawEllipse(QRectF(0, 0, 8, 8));
    } else {
        painter.setPen(QPen(secondaryColor(*this), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(0.75, 0.75, 6.5, 6.5));  // the border inside the circle
    }
}

FormRow* makeNoMouseRow(QWidget* parent) {
    auto* none = plainLabel("No mouse yet");
    dimText(none);
    return new FormRow("Device", QString("Connect a mouse and it shows up here."), none, parent);
}

QWidget* makeWarningLabel(const QString& text, QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* mark = new QLabel(box);
    mark->setPixmap(symbolPixmap(Symbol::warning, 16, Qt::black, box->devicePixelRatioF()));
    row->addWidget(mark, 0, Qt::AlignTop);
    auto* words = plainLabel(text, box);
    words->setWordWrap(true);
    words->setObjectName("warningText");
    row->addWidget(words, 1);
    return box;
}

}  // namespace tindlewave
