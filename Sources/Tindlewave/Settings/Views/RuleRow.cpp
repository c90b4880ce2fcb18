#include "Settings/Views/RuleRow.h"

#include <QActionGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVariantAnimation>

#include "Settings/Model/Buttons/AddRuleTexts.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/RecorderField.h"
#include "Settings/Views/ShortcutField.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

namespace {
constexpr int buttonColumnWidth = 152;
constexpr int whenColumnWidth = 150;
constexpr int columnGap = 10;

// The info mark: an "i" in a ring, 14 points across.
QPixmap infoMark(const QColor& color, qreal ratio) {
    QPixmap pixmap(QSize(14, 14) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.2));
    painter.drawEllipse(QRectF(1, 1, 12, 12));
    QFont font = painter.font();
    font.setPixelSize(9);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 14, 14), Qt::AlignCenter, "i");
    return pixmap;
}
}  // namespace

RuleRow::RuleRow(Input input, Actions actions, QWidget* parent)
    : QWidget(parent), input_(std::move(input)), actions_(std::move(actions)),
      buttonField_(new RecorderField), buttonColumn_(new QWidget(this)), chevron_(new QToolButton),
      controlMenu_(new QMenu(this)), when_(new QComboBox(this)), do_(new QComboBox(this)),
      mark_(new QLabel(this)), remove_(new QToolButton(this)),
      highlightAnimation_(new QVariantAnimation(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(columnGap);

    auto* button = new QHBoxLayout(buttonColumn_);
    button->setContentsMargins(0, 0, 0, 0);
    button->setSpacing(2);
    button->addWidget(buttonField_, 1);
    button->addWidget(chevron_);
    buttonField_->onStart = [this] {
        if (actions_.startListening) actions_.startListening();
    };
    buttonField_->onCancel = [this] {
        if (actions_.stopListening) actions_.stopListening();
    };
    chevron_->setText(QString::fromUtf8("⌄"));
    chevron_->setAutoRaise(true);
    // The menu opens on a click rather than as the button's own: a button with a menu gets an
    // arrow of its own, and a style sheet to hide it would keep the button's colours from
    // following the window's palette.
    connect(chevron_, &QToolButton::clicked, this, [this] {
        controlMenu_->popup(chevron_->mapToGlobal(QPoint(0, chevron_->height())));
    });
    chevron_->setToolTip("Choose a button");
    chevron_->setAccessibleName("Choose a button");
    row->addWidget(buttonColumn_);

    when_->setFixedWidth(whenColumnWidth);
    when_->setAccessibleName("When");
    connect(when_, &QComboBox::activated, this, [this](int index) { pickTrigger(index); });
    row->addWidget(when_);
    do_->setAccessibleName("Do");
    do_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    do_->setMinimumContentsLength(12);
    do_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(do_, &QComboBox::activated, this, [this](int index) { pickAction(index); });
    row->addWidget(do_, 1);

    mark_->setFixedWidth(16);
    mark_->setAlignment(Qt::AlignCenter);
    row->addWidget(mark_);

    remove_->setAutoRaise(true);
    remove_->setText(QString::fromUtf8("⊖"));
    remove_->setToolTip("Remove this rule");
    remove_->setAccessibleName("Remove rule");
    connect(remove_, &QToolButton::clicked, this, [this] {
        if (values().listens() && actions_.stopListening) actions_.stopListening();
        if (actions_.remove) actions_.remove();
    });
    row->addWidget(remove_);

    highlightAnimation_->setDuration(300);
    highlightAnimation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(highlightAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        highlight_ = value.toDouble();
        QWidget::update();
    });
    setContentsMargins(4, 4, 4, 4);
    highlight_ = input_.highlighted ? 1 : 0;
    refresh(false);
}

RuleRow::~RuleRow() = default;

void RuleRow::update(Input input) {
    const bool highlightChanged = input.highlighted != input_.highlighted;
    input_ = std::move(input);
    refresh(highlightChanged);
}

void RuleRow::refresh(bool highlightChanged) {
    const auto state = values().buttonField();
    const bool listens = state.isRecording();
    buttonField_->setState(state);
    buttonField_->setEnabled(listens || !input_.cannotListen);
    buttonField_->setToolTip(toolTipText(AddRuleTexts::rowFieldHelp(input_.cannotListen, input_.device)));
    // While listening the field spans the Button and When columns.
    buttonColumn_->setFixedWidth(listens ? buttonColumnWidth + columnGap + whenColumnWidth : buttonColumnWidth);
    chevron_->setVisible(!listens);
    fillPickers();

    if (input_.recordingShortcut && !shortcut_) {
        shortcut_ = new ShortcutField(this);
        shortcut_->onRecord = [this](const Action& action) {
            const Rule recorded = input_.choices.recorded(action, input_.rule);
            if (actions_.setRecordingShortcut) actions_.setRecordingShortcut(false);
            change(recorded);
        };
        shortcut_->onCancel = [this] {
            if (actions_.setRecordingShortcut) actions_.setRecordingShortcut(false);
        };
        static_cast<QHBoxLayout*>(layout())->insertWidget(1, shortcut_, 1);
    } else if (!input_.recordingShortcut && shortcut_) {
        shortcut_->hide();
        shortcut_->deleteLater();
        shortcut_ = nullptr;
    }
    const bool recording = shortcut_ != nullptr;
    when_->setVisible(!recording && !listens);
    do_->setVisible(!recording);

    if (input_.skipped) {
        mark_->setPixmap(symbolPixmap(Symbol::warning, 14, QColor(230, 126, 0), devicePixelRatioF()));
        mark_->setToolTip("This mouse cannot do this, so Tindlewave skips the rule.");
        mark_->setAccessibleName("Skipped");
    } else if (input_.explanation) {
        mark_->setPixmap(infoMark(secondaryColor(*this), devicePixelRatioF()));
        mark_->setToolTip(toolTipText(*input_.explanation));
        mark_->setAccessibleName(qText(*input_.explanation));
    } else {
        mark_->clear();
        mark_->setToolTip(QString());
        mark_->setAccessibleName(QString());
    }
    if (highlightChanged) {
        highlightAnimation_->stop();
        highlightAnimation_->setStartValue(highlight_);
        highlightAnimation_->setEndValue(input_.highlighted ? 1.0 : 0.0);
        highlightAnimation_->start();
    }
}

void RuleRow::fillPickers() {
    const auto& rule = input_.rule;
    // Each picker is refilled only when what it offers changed (never while the user is in it
    // for nothing), and never from inside an item's own handler: rows change on a later turn.
    auto controls = input_.choices.controls(rule);
    if (controls != controls_ || !controlGroup_) {
        controls_ = std::move(controls);
        controlMenu_->clear();
        delete controlGroup_;
        controlGroup_ = new QActionGroup(controlMenu_);
        controlGroup_->setExclusive(true);
        controlMenu_->addSection("Button");
        for (const auto& control : controls_) {
            auto* item = controlMenu_->addAction(actionText(Labels::control(control)));
            item->setCheckable(true);
            controlGroup_->addAction(item);
            connect(item, &QAction::triggered, this, [this, control] { pickControl(control); });
        }
    }
    const auto items = controlGroup_->actions();
    for (std::size_t i = 0; i < controls_.size() && i < static_cast<std::size_t>(items.size()); ++i)
        items[static_cast<qsizetype>(i)]->setChecked(controls_[i] == rule.control);

    const QSignalBlocker blockWhen(when_);
    auto triggers = input_.choices.triggers(rule.control, &rule);
    if (triggers != triggers_ || when_->count() != static_cast<int>(triggers.size())) {
        triggers_ = std::move(triggers);
        when_->clear();
        for (const auto& trigger : triggers_) when_->addItem(qText(Labels::trigger(trigger)));
    }
    when_->setCurrentIndex(-1);
    for (std::size_t i = 0; i < triggers_.size(); ++i)
        if (triggers_[i] == rule.trigger) when_->setCurrentIndex(static_cast<int>(i));

    const QSignalBlocker blockDo(do_);
    auto choices = values().actionChoices();
    if (choices != actionChoices_ || do_->count() != static_cast<int>(choices.size())) {
        actionChoices_ = std::move(choices);
        do_->clear();
        for (const auto& choice : actionChoices_) do_->addItem(qText(choice.label));
    }
    showRuleAction();
}

void RuleRow::showRuleAction() {
    const QSignalBlocker blockDo(do_);
    do_->setCurrentIndex(-1);
    for (std::size_t i = 0; i < actionChoices_.size(); ++i)
        if (actionChoices_[i].action == input_.rule.action) do_->setCurrentIndex(static_cast<int>(i));
}

void RuleRow::change(const Rule& rule) {
    if (values().listens() && actions_.stopListening) actions_.stopListening();
    if (actions_.replace) actions_.replace(rule);
}

void RuleRow::pickControl(const Control& control) {
    if (control == input_.rule.control) return;
    change(input_.choices.rule(input_.rule, control));
}

void RuleRow::pickTrigger(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= triggers_.size()) return;
    const Trigger trigger = triggers_[static_cast<std::size_t>(index)];
    if (trigger == input_.rule.trigger) return;
    change(values().withTrigger(trigger));
}

void RuleRow::pickAction(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= actionChoices_.size()) return;
    const auto choice = actionChoices_[static_cast<std::size_t>(index)];
    if (!choice.action) {
        // Opening the field sends nothing; the picker goes back to the rule's action.
        showRuleAction();
        if (actions_.setRecordingShortcut) actions_.setRecordingShortcut(true);
        return;
    }
    if (*choice.action == input_.rule.action) return;
    change(values().withAction(*choice.action));
}

void RuleRow::paintEvent(QPaintEvent* event) {
    if (highlight_ > 0) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor accent = palette().color(QPalette::Highlight);
        accent.setAlphaF(static_cast<float>(0.18 * highlight_));
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
    QWidget::paintEvent(event);
}

}  // namespace tindlewave
