#include "Settings/Views/HyperKeyTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "Settings/Model/General/HyperKeyChoices.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/CheckBox.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/RefreshOncePerTurn.h"

namespace tindlewave {

namespace {
QVBoxLayout* columnOf(QWidget* box, int spacing) {
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QLabel* wrapping(const QString& text) {
    auto* label = plainLabel(text);
    label->setWordWrap(true);
    // On the label's line: given more height than its lines need, a label would centre them.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return label;
}
}  // namespace

KeyboardToggle::KeyboardToggle(SettingsModel& model, const SettingsDevice& keyboard, QWidget* parent)
    : QWidget(parent), model_(model), keyboard_(keyboard) {
    auto* column = columnOf(this, 1);
    box_ = new CheckBox(actionText(keyboard.name));
    detail_ = new Explanation({});
    detail_->setContentsMargins(20, 0, 0, 0);
    column->addWidget(box_);
    column->addWidget(detail_);
    connect(box_, &QCheckBox::clicked, this, [this](bool on) {
        if (model_.editable()) model_.send(HyperKeyChoices::toggled(keyboard_, on));
    });
    refresh(keyboard);
}

void KeyboardToggle::refresh(const SettingsDevice& keyboard) {
    keyboard_ = keyboard;
    const QSignalBlocker blocker(box_);
    box_->setText(actionText(keyboard.name));
    box_->setChecked(HyperKeyChoices::isOn(keyboard));
    detail_->setText(qText(HyperKeyChoices::detail(keyboard)));
}

HyperKeyTab::HyperKeyTab(SettingsModel& model, SettingsPage& page) : model_(model) {
    hide();  // the rows live in the page's column; this widget takes no room there
    body_ = new QWidget;
    auto* body = columnOf(body_, 12);

    editableColumn_ = new QWidget;
    auto* column = columnOf(editableColumn_, 12);
    master_ = new CheckBox;
    master_->setAccessibleName("Hyper key");
    connect(master_, &QCheckBox::clicked, this, [this](bool on) {
        if (model_.editable()) model_.send(SettingsEdit::hyperEnabled(on));
    });
    column->addWidget(new FormRow("Hyper key",
                                  QString("Turns it off on every keyboard at once. Each keyboard keeps its own "
                                          "setting for when you turn it back on."),
                                  master_));
    column->addWidget(new Divider);

    group_ = new QWidget;
    auto* group = columnOf(group_, 12);
    key_ = new QComboBox;
    key_->setAccessibleName("Key");
    key_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(key_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || std::size_t(index) >= keysShown_.size() || !model_.editable()) return;
        model_.send(SettingsEdit::hyperKey(keysShown_[std::size_t(index)]));
    });
    const auto texts = HyperKeyChoices::pageTexts();
    group->addWidget(new FormRow("Key", QString::fromStdString(texts.keyHelp), key_));
    auto* symbols = plainLabel(QString::fromStdString(texts.heldSymbols));
    // In the body font: a fixed-pitch font has none of these, and its fallback draws them small
    // and above the line.
    group->addWidget(new FormRow("While held", QString::fromStdString(texts.whileHeldHelp), symbols));
    auto* nothing = plainLabel("Does nothing");
    dimText(nothing);
    group->addWidget(new FormRow("Tapped alone", QString("Other tap actions are not available yet."), nothing));
    group->addWidget(new Divider);
    keyboardList_ = new QWidget;
    columnOf(keyboardList_, 8);
    keyboardList_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    group->addWidget(
        new FormRow("Use on", QString("Keyboards you connect later show up here, switched off."), keyboardList_));
    column->addWidget(group_);
    body->addWidget(editableColumn_);
    body->addWidget(new Divider);

    auto* how = new QWidget;
    auto* howColumn = columnOf(how, 5);
    howColumn->addWidget(wrapping(QString::fromStdString(texts.howItWorks)));
    if (texts.caveat) howColumn->addWidget(new Explanation(QString::fromStdString(*texts.caveat)));
    how->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    body->addWidget(new FormRow("How it works", std::nullopt, how));
    page.content()->addWidget(body_);

    observation_ = refreshOncePerTurn(model_, *this, [this] { refresh(); }, [](SettingsField field) {
        // A refusal shows what is stored again in the control it was refused to.
        return field == SettingsField::snapshot || field == SettingsField::status ||
               field == SettingsField::refusals;
    });
    refresh();
}

HyperKeyTab::~HyperKeyTab() = default;

void HyperKeyTab::refresh() {
    const auto& snapshot = model_.snapshot();
    const bool hasConfig = snapshot && snapshot->config;
    body_->setVisible(hasConfig);
    if (!hasConfig) return;
    const HyperSettings& hyper = snapshot->config->hyper;
    editableColumn_->setEnabled(model_.editable());
    group_->setEnabled(hyper.enabled);
    {
        const QSignalBlocker blocker(master_);
        master_->setChecked(hyper.enabled);
    }
    auto keys = HyperKeyChoices::offered(hyper.key);
    const QSignalBlocker blocker(key_);
    if (keys != keysShown_) {
        key_->clear();
        for (HIDUsage usage : keys) key_->addItem(qText(HyperKeyChoices::keyLabel(usage)));
        keysShown_ = std::move(keys);
    }
    const auto at = std::find(keysShown_.begin(), keysShown_.end(), hyper.key);
    key_->setCurrentIndex(int(at - keysShown_.begin()));
    refreshKeyboards();
}

void HyperKeyTab::refreshKeyboards() {
    std::vector<SettingsDevice> keyboards = model_.devices();
    std::erase_if(keyboards, [](const SettingsDevice& device) { return device.kind != DeviceKind::keyboard; });
    auto* layout = static_cast<QVBoxLayout*>(keyboardList_->layout());
    std::vector<KeyboardToggle*> kept;
    for (const auto& keyboard : keyboards) {
        auto found = std::find_if(keyboards_.begin(), keyboards_.end(), [&](KeyboardToggle* toggle) {
            return toggle && toggle->keyboard().match == keyboard.match;
        });
        KeyboardToggle* toggle = nullptr;
        if (found != keyboards_.end()) {
            toggle = *found;
            *found = nullptr;
            toggle->refresh(keyboard);
        } else {
            toggle = new KeyboardToggle(model_, keyboard, keyboardList_);
        }
        kept.push_back(toggle);
    }
    for (KeyboardToggle* gone : keyboards_) {
        if (!gone) continue;
        layout->removeWidget(gone);
        gone->hide();
        gone->deleteLater();
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        layout->removeWidget(kept[i]);
        layout->insertWidget(int(i), kept[i]);
        kept[i]->show();
    }
    keyboards_ = std::move(kept);
}

}  // namespace tindlewave
