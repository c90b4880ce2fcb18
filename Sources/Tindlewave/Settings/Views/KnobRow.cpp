#include "Settings/Views/KnobRow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/LocaleTexts.h"

namespace tindlewave {

namespace {
// The common style pages a slider when its groove is clicked; ours jumps to the click.
class JumpingSliderStyle final : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};
}  // namespace

KnobRow::KnobRow(const QString& title, const QString& detail, SliderScale scale, KnobUnit unit,
                 double value, Commit commit, QWidget* accessory, QWidget* parent)
    : QWidget(parent), scale_(scale), unit_(unit), value_(value), commit_(std::move(commit)) {
    auto* content = new QWidget;
    auto* line = new QHBoxLayout(content);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(12);
    slider_ = new QSlider(Qt::Horizontal);
    auto* style = new JumpingSliderStyle;
    style->setParent(slider_);
    slider_->setStyle(style);
    slider_->setRange(0, sliderSteps);
    slider_->setFixedWidth(190);
    // A key step moves a twentieth of the way, enough to reach the next value of every scale.
    slider_->setSingleStep(sliderSteps / 20);
    slider_->setPageStep(sliderSteps / 10);
    slider_->setAccessibleName(title);
    slider_->installEventFilter(this);
    valueText_ = new QLabel;
    valueText_->setTextFormat(Qt::PlainText);
    dimText(valueText_);
    line->addWidget(slider_, 0, Qt::AlignVCenter);
    line->addWidget(valueText_, 0, Qt::AlignVCenter);
    if (accessory) line->addWidget(accessory, 0, Qt::AlignVCenter);
    line->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    row_ = new FormRow(title, detail, content);
    layout->addWidget(row_);

    connect(slider_, &QSlider::valueChanged, this, [this](int position) { moved(position); });
    connect(slider_, &QSlider::sliderPressed, this, [this] { editing(true); });
    connect(slider_, &QSlider::sliderReleased, this, [this] { editing(false); });
    showValue();
}

void KnobRow::setValue(double value) {
    const bool changed = value != value_;
    value_ = value;
    draft_.stored(value, changed);
    showValue();
}

void KnobRow::showAnew(double value) {
    value_ = value;
    draft_ = KnobDraft();
    showValue();
}

bool KnobRow::eventFilter(QObject* watched, QEvent* event) {
    // A press on the groove moves the slider before Qt reports the press: the gesture begins
    // here, so the jump is part of the drag and commits only when the button comes up.
    if (watched == slider_ && event->type() == QEvent::Wheel) {
        // The wheel scrolls the page, never a knob in passing.
        if (QWidget* parent = slider_->parentWidget()) QCoreApplication::sendEvent(parent, event);
        return true;
    }
    if (watched == slider_ && slider_->isEnabled()) {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            editing(true);
        else if (event->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            QMetaObject::invokeMethod(
                this, [this] { editing(false); }, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void KnobRow::moved(int position) {
    // A disabled row takes no position: what it would commit could not be saved.
    if (!isEnabled()) {
        showValue();
        return;
    }
    const auto committed = draft_.moved(double(position) / sliderSteps, scale_, value_);
    showValue();
    commit(committed);
}

void KnobRow::editing(bool began) {
    const auto committed = draft_.editing(began, scale_, value_);
    showValue();
    commit(committed);
}

void KnobRow::commit(std::optional<double> value) {
    if (!value || !commit_) return;
    commit_(*value, [row = QPointer<KnobRow>(this), value = *value] {
        if (!row) return;
        row->draft_.refused(value);
        row->showValue();
    });
}

void KnobRow::showValue() {
    const QString text =
        QString::fromStdString(format(unit_, draft_.shown(scale_, value_), localNumbers()));
    valueText_->setText(text);
    slider_->setAccessibleDescription(text);
    const int position = int(std::lround(draft_.position(scale_, value_) * sliderSteps));
    if (slider_->value() != position && !slider_->isSliderDown()) {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(position);
    }
}

}  // namespace tindlewave
