#include "Settings/Views/RecorderField.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QVariantAnimation>

#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

namespace {

constexpr int fieldHeight = 24;
const QColor red(255, 59, 48);
const QColor orange(230, 126, 0);

QColor separatorColor(const QWidget& widget) {
    QColor color = widget.palette().color(QPalette::WindowText);
    color.setAlphaF(0.2f);
    return color;
}

// A label that cuts its text short with "…" instead of growing.
class ElidedLabel final : public QLabel {
  public:
    ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), full_(text) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(20);
        setText(full_);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(full_), QLabel::sizeHint().height()}; }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        setText(fontMetrics().elidedText(full_, Qt::ElideRight, width()));
    }

  private:
    QString full_;
};

// The "record" symbol: a ring with a dot, in the secondary colour.
class RecordSymbol final : public QWidget {
  public:
    explicit RecordSymbol(QWidget* parent) : QWidget(parent) { setFixedSize(14, 14); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor color = secondaryColor(*this);
        painter.setPen(QPen(color, 1.2));
        painter.drawEllipse(QRectF(1.5, 1.5, 11, 11));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(4.5, 4.5, 5, 5));
    }
};

QWidget* chipRow(const std::vector<std::string>& chips, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    for (const auto& chip : chips) layout->addWidget(new KeyChip(qText(chip), row), 0, Qt::AlignVCenter);
    return row;
}

}  // namespace

KeyChip::KeyChip(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    QFont chipFont = font();
    chipFont.setPointSizeF(chipFont.pointSizeF() * 0.85);  // a little smaller than the page's text
    chipFont.setWeight(QFont::Medium);
    setFont(chipFont);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

QSize KeyChip::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 10, metrics.height() + 2};
}

void KeyChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(separatorColor(*this), 1));
    painter.setBrush(palette().color(QPalette::Button));
    painter.drawRoundedRect(box, 5, 5);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

RecordingDot::RecordingDot(bool dimmed, QWidget* parent)
    : QWidget(parent), opacity_(dimmed ? 0.35 : 1.0) {
    setFixedSize(7, 7);
    if (dimmed) return;
    pulse_ = new QVariantAnimation(this);
    pulse_->setStartValue(1.0);
    pulse_->setKeyValueAt(0.5, 0.4);
    pulse_->setEndValue(1.0);
    pulse_->setDuration(1800);  // 0.9 s down, 0.9 s up
    pulse_->setEasingCurve(QEasingCurve::InOutSine);
    pulse_->setLoopCount(-1);
    connect(pulse_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        opacity_ = value.toDouble();
        update();
    });
    pulse_->start();
}

RecordingDot::~RecordingDot() = default;

bool RecordingDot::pulses() const { return pulse_ && pulse_->state() == QAbstractAnimation::Running; }

void RecordingDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    painter.setPen(Qt::NoPen);
    painter.setBrush(red);
    painter.drawEllipse(QRectF(rect()));
}

RecorderField::RecorderField(QWidget* parent)
    : QWidget(parent), row_(new QHBoxLayout(this)), cancel_(new QPushButton("Cancel", this)),
      escape_(new QShortcut(QKeySequence(Qt::Key_Escape), this)) {
    setFixedHeight(fieldHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    row_->setSpacing(6);
    QFont small = cancel_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    cancel_->setFont(small);
    cancel_->setFixedHeight(fieldHeight - 6);
    cancel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cancel_->setFocusPolicy(Qt::NoFocus);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    escape_->setContext(Qt::WindowShortcut);
    connect(escape_, &QShortcut::activated, this, [this] { cancel(); });
    rebuild();
}

void RecorderField::setState(const State& state) {
    if (state == state_) return;
    state_ = state;
    rebuild();
}

void RecorderField::cancel() {
    if (state_.isRecording() && isEnabled() && onCancel) onCancel();
}

void RecorderField::rebuild() {
    while (auto* item = row_->takeAt(0)) {
        if (auto* widget = item->widget(); widget && widget != cancel_) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    dot_ = nullptr;
    const bool recording = state_.isRecording();
    row_->setContentsMargins(5, 0, recording ? 3 : 5, 0);
    if (const auto* idle = as<State::Idle>(state_)) {
        if (!idle->chips.empty()) row_->addWidget(chipRow(idle->chips, this), 0, Qt::AlignVCenter);
        if (idle->label) row_->addWidget(new ElidedLabel(qText(*idle->label), this), 1);
        else if (idle->chips.empty()) row_->addWidget(new RecordSymbol(this), 0, Qt::AlignVCenter);
        row_->addStretch(1);
        cancel_->hide();
        escape_->setEnabled(false);
        setCursor(Qt::PointingHandCursor);
    } else {
        const auto& rec = std::get<State::Recording>(state_.value);
        dot_ = new RecordingDot(rec.hint.kind == Hint::Kind::gettingReady, this);
        row_->addWidget(dot_, 0, Qt::AlignVCenter);
        if (!rec.chips.empty()) row_->addWidget(chipRow(rec.chips, this), 0, Qt::AlignVCenter);
        auto* hint = new ElidedLabel(qText(rec.hint.text), this);
        if (rec.hint.kind == Hint::Kind::problem) {
            QPalette palette = hint->palette();
            palette.setColor(QPalette::WindowText, orange);
            hint->setPalette(palette);
        }
        hint->setObjectName("hint");
        row_->addWidget(hint, 1);
        if (rec.trailing) {
            auto* trailing = plainLabel(qText(*rec.trailing), this);
            trailing->setObjectName("trailing");
            // Room for two digits, so the countdown does not shift as it ticks.
            trailing->setMinimumWidth(trailing->fontMetrics().horizontalAdvance(QStringLiteral("00 s")));
            trailing->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            dimText(trailing);
            trailing->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
            row_->addWidget(trailing);
        }
        row_->addWidget(cancel_, 0, Qt::AlignVCenter);
        cancel_->show();
        escape_->setEnabled(true);
        unsetCursor();
    }
    setAccessibleName(qText(state_.accessibilityLabel()));
    update();
}

QSize RecorderField::sizeHint() const { return {QWidget::sizeHint().width(), fieldHeight}; }

void RecorderField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (state_.isRecording()) {
        QColor fill = red, border = red;
        fill.setAlphaF(0.12f);
        border.setAlphaF(0.5f);
        painter.setPen(QPen(border, 1));
        painter.setBrush(fill);
    } else {
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.06f);
        painter.setPen(QPen(separatorColor(*this), 1));
        painter.setBrush(fill);
    }
    painter.drawRoundedRect(box, 8, 8);
}

void RecorderField::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !state_.isRecording() && rect().contains(event->pos()) &&
        onStart) {
        onStart();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void RecorderField::keyPressEvent(QKeyEvent* event) {
    if (!state_.isRecording() && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) && onStart) {
        onStart();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace tindlewave
