#include "Settings/Views/ScrollingSettings.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Settings/Model/Scrolling/ScrollingRules.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/Scrolling/SlowRollStutter.h"
#include "Settings/Views/CheckBox.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/HoldToScrollSettings.h"
#include "Settings/Views/KnobRow.h"
#include "Settings/Views/SpeedGraph.h"
#include "Settings/Views/StutterWarning.h"
#include "Settings/Views/UnavailableRow.h"

namespace tindlewave {

namespace {
struct KnobTexts {
    const char* title;
    const char* detail;
    KnobUnit unit;
};

KnobTexts knobTexts(SmoothKnob knob) {
    switch (knob) {
        case SmoothKnob::duration:
            return {"Glide after you stop",
                    "How long the page keeps moving after the last wheel step, in seconds.",
                    KnobUnit::tenthsOfASecond};
        case SmoothKnob::brake:
            return {"How hard the glide stops",
                    "At 1 the glide slows evenly. Higher values slow hard at first, then coast to "
                    "a soft stop.",
                    KnobUnit::none};
        case SmoothKnob::easeIn:
            return {"Ease into each step",
                    "How long a wheel step takes to reach full speed, in milliseconds, so the page "
                    "never jumps from "
                    "rest. At 0 a step starts at full speed.",
                    KnobUnit::milliseconds};
    }
    return {"", "", KnobUnit::none};
}

QWidget* column(int spacing) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QVBoxLayout* rows(QWidget* box) {
    return static_cast<QVBoxLayout*>(box->layout());
}
}  // namespace

ScrollingSettings::ScrollingSettings(SettingsModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(12);

    auto* smoothContent = column(5);
    smoothContent->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);  // its text wraps at the column's width
    switch_ = new CheckBox;
    switch_->setAccessibleName("Smooth scrolling");
    connect(switch_, &QCheckBox::clicked, this, [this](bool on) {
        send(SettingsEdit::smooth(
            device_.match, on ? std::optional(model_.smoothWhenOn(device_.match)) : std::nullopt));
    });
    rows(smoothContent)->addWidget(switch_, 0, Qt::AlignLeft);
    rows(smoothContent)
        ->addWidget(new Explanation(
            "The wheel glides like a trackpad instead of jumping a few lines per step."));
    setUp_ = column(5);
    rows(setUp_)->addWidget(new Explanation("Set this mouse up first."));
    rows(smoothContent)->addWidget(setUp_);
    smoothRow_ = new FormRow("Smooth scrolling", std::nullopt, smoothContent);
    page->addWidget(smoothRow_);
    page->addWidget(new Divider);

    block_ = column(12);
    heading_ = column(4);
    auto* heading = heading_;
    rows(heading)->addWidget(new GroupHeading("How fast the page scrolls"));
    rows(heading)->addWidget(
        new Explanation("Spin the wheel faster and the page scrolls faster. The shaded bands are "
                        "how fast this wheel spins."));
    rows(block_)->addWidget(heading);
    const SmoothScroll& defaults = SmoothScroll::defaults();
    graph_ = new SpeedGraph(defaults.curve, [this](const SpeedCurve& curve, SpeedGraph::Refused refused) {
        send(SettingsEdit::curve(device_.match, curve), std::move(refused));
    });
    rows(block_)->addWidget(graph_);
    rows(block_)->addWidget(new Divider);
    stutter_ = new StutterWarning([this](double duration) {
        send(SettingsEdit::smoothKnob(device_.match, SmoothKnob::duration, duration));
    });
    for (SmoothKnob knob : allCases<SmoothKnob>()) {
        const KnobTexts texts = knobTexts(knob);
        auto* row = new KnobRow(
            texts.title, texts.detail, ScrollingRules::knobScale(knob), texts.unit,
            knobValue(defaults, knob),
            [this, knob](double value, KnobRow::Refused refused) {
                send(SettingsEdit::smoothKnob(device_.match, knob, value), std::move(refused));
            },
            knob == SmoothKnob::duration ? stutter_ : nullptr);
        knobs_[std::size_t(knob)] = row;
        rows(block_)->addWidget(row);
    }
    reset_ = new QPushButton("Reset to Defaults");
    connect(reset_, &QPushButton::clicked, this,
            [this] { send(SettingsEdit::smooth(device_.match, SmoothScroll::defaults())); });
    resetRow_ = new FormRow(
        "", QString("Puts the scroll speed and every glide setting back to how Tindlewave ships."),
        reset_);
    rows(block_)->addWidget(resetRow_);
    page->addWidget(block_);
    page->addWidget(new Divider);

    hold_ = new HoldToScrollSettings(model_);
    page->addWidget(hold_);
    page->addWidget(new Divider);
    hiRes_ = makeUnavailableRow("High-resolution wheel",
                                "Reads the wheel's finer steps for smoother input.");
    page->addWidget(hiRes_);
    page->addWidget(makeUnavailableRow("Click-through",
                                       "A click on a background window would act right away "
                                       "instead of only bringing it forward."));
}

void ScrollingSettings::send(const SettingsEdit& edit, std::function<void()> refused) {
    if (model_.editable())
        model_.send(edit, std::move(refused));
    else if (refused)
        refused();
}

void ScrollingSettings::setUpButton(const SettingsDevice& device) {
    if (!device.isNew()) {
        setUp_->hide();
        return;
    }
    if (!setUpButton_) {
        setUpButton_ = new SetUpButton(model_, device);
        rows(setUp_)->insertWidget(0, setUpButton_, 0, Qt::AlignLeft);
    } else {
        setUpButton_->refresh(device);
    }
    setUp_->show();
}

void ScrollingSettings::refresh(const SettingsDevice& device) {
    // A position left pending on one mouse's knob is not shown on the next.
    const bool anotherMouse = device.match != device_.match;
    device_ = device;
    const bool editable = model_.editable();
    const auto smooth = ScrollingRules::smooth(device);
    const SmoothScroll shown = smooth ? *smooth : model_.smoothWhenOn(device.match);

    smoothRow_->setEnabled(editable);
    switch_->setEnabled(device.profile.has_value());
    if (switch_->isChecked() != smooth.has_value()) {
        const QSignalBlocker blocker(switch_);
        switch_->setChecked(smooth.has_value());
    }
    setUpButton(device);

    // The block is disabled control by control: a disabled graph must still follow the pointer.
    const bool tunable = editable && smooth.has_value();
    graph_->setCurve(shown.curve);
    graph_->setEditable(tunable);
    for (SmoothKnob knob : allCases<SmoothKnob>()) {
        KnobRow* row = knobs_[std::size_t(knob)];
        // A position pending on another mouse is not shown here (one whose save is refused is
        // dropped by the refusal).
        if (anotherMouse)
            row->showAnew(knobValue(shown, knob));
        else
            row->setValue(knobValue(shown, knob));
        row->setEnabled(tunable);
    }
    stutter_->setStutter(SlowRollStutter::of(smooth));
    const bool canReset = ScrollingRules::canReset(smooth);
    // A focused button that is disabled hands the focus to the next control, and the page would
    // scroll to it: the reset just pressed lets go of the focus instead.
    if (!canReset && reset_->hasFocus()) reset_->clearFocus();
    reset_->setEnabled(canReset);
    resetRow_->setEnabled(tunable);
    heading_->setEnabled(tunable);

    hold_->refresh(device);
    hiRes_->setVisible(device.speaksHIDPP());
}

}  // namespace tindlewave
