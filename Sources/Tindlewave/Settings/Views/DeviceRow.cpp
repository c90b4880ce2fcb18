#include "Settings/Views/DeviceRow.h"

#include <QComboBox>
#include <algorithm>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/ClockTime.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/NameField.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

namespace {
// "New": small, medium weight, dimmed, on a faint capsule.
class NewBadge final : public QLabel {
  public:
    NewBadge() : QLabel("New") {
        QFont caption = font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        caption.setWeight(QFont::Medium);
        setFont(caption);
        setContentsMargins(5, 1, 5, 1);
        dimText(this);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.1f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        painter.end();
        QLabel::paintEvent(event);
    }
};

QString cardText(const StatusCard& card) { return qText(card.title + ". " + card.detail); }

QWidget* indented(QWidget* content, int left, int top) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(left, top, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(content, 1);
    return box;
}
}  // namespace

DeviceRow::DeviceRow(SettingsModel& model, const SettingsDevice& device, QWidget* parent)
    : QWidget(parent), model_(model), device_(device) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(3);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    dot_ = new ConnectionDot(false);
    top->addWidget(dot_, 0, Qt::AlignVCenter);
    if (!device.isNew()) {
        name_ = new NameField(device.name, [this](const std::string& name, NameField::Refused refused) {
            send(SettingsEdit::rename(device_.match, name), std::move(refused));
        });
        top->addWidget(name_, 1);
        kind_ = new QComboBox;
        kind_->addItem("Mouse");
        kind_->addItem("Keyboard");
        kind_->setAccessibleName("Kind");
        kind_->setToolTip("A mouse gets the Buttons and Scrolling tabs. A keyboard can have the hyper key.");
        kind_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(kind_, &QComboBox::activated, this, [this](int index) {
            const DeviceKind kind = index == 1 ? DeviceKind::keyboard : DeviceKind::mouse;
            if (kind != device_.kind) send(SettingsEdit::kind(device_.match, kind));
        });
        top->addWidget(kind_);
        auto* forget = new QPushButton("Forget\u2026");
        forget->setToolTip("Remove this device's settings from the config file");
        connect(forget, &QPushButton::clicked, this, [this] { confirmForget(); });
        top->addWidget(forget);
    } else {
        newName_ = plainLabel(qText(device.name));
        top->addWidget(newName_);
        top->addWidget(new NewBadge, 0, Qt::AlignVCenter);
        top->addStretch(1);
    }
    column->addLayout(top);

    card_ = new Explanation({});
    column->addWidget(indented(card_, 16, 0));

    if (device.isNew()) {
        auto* actions = new QWidget;
        auto* row = new QHBoxLayout(actions);
        row->setContentsMargins(16, 4, 0, 0);
        row->setSpacing(8);
        setUp_ = new SetUpButton(model_, device);
        row->addWidget(setUp_);
        auto* ignore = new QPushButton("Ignore");
        ignore->setToolTip("Stop listing this device as new. Tindlewave leaves it as the system has it.");
        connect(ignore, &QPushButton::clicked, this, [this] { send(SettingsEdit::ignore(device_.match, true)); });
        row->addWidget(ignore);
        row->addStretch(1);
        column->addWidget(actions);
    }
}

void DeviceRow::refresh(const SettingsDevice& device, bool paused) {
    device_ = device;
    const StatusCard card = device.card(paused, clockTime);
    dot_->setConnected(card.connected);
    card_->setText(cardText(card));
    if (name_) name_->setName(device.name);
    if (kind_) {
        const QSignalBlocker blocker(kind_);
        kind_->setCurrentIndex(device.kind == DeviceKind::keyboard ? 1 : 0);
    }
    if (newName_) newName_->setText(qText(device.name));
    if (setUp_) setUp_->refresh(device);
}

QMessageBox* DeviceRow::confirmation() const {
    return confirmation_.data();
}

void DeviceRow::send(SettingsEdit edit, std::function<void()> refused) {
    if (model_.editable())
        model_.send(std::move(edit), std::move(refused));
    else if (refused)
        refused();
}

void DeviceRow::confirmForget() {
    if (confirmation_) return;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setText(qText("Forget " + device_.name + "?"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText("Tindlewave removes its rules and settings from the config file and leaves it as "
                            "the system has it. If it is connected, it shows here as new.");
    auto* forget = box->addButton("Forget", QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, forget](QAbstractButton* button) {
        if (button == forget) send(SettingsEdit::forget(device_.match));
    });
    confirmation_ = box;
    box->open();
}

DeviceList::DeviceList(SettingsModel& model, const QString& none, QWidget* parent)
    : QWidget(parent), model_(model) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(6);
    none_ = plainLabel(none);
    dimText(none_);
    none_->setContentsMargins(0, 4, 0, 0);
    layout_->addWidget(none_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void DeviceList::refresh(const std::vector<SettingsDevice>& devices, bool paused) {
    none_->setVisible(devices.empty());
    std::vector<DeviceRow*> kept;
    for (const auto& device : devices) {
        auto found = std::find_if(rows_.begin(), rows_.end(), [&](DeviceRow* row) {
            return row && row->device().match == device.match && row->device().isNew() == device.isNew();
        });
        DeviceRow* row = nullptr;
        if (found != rows_.end()) {
            row = *found;
            *found = nullptr;
        } else {
            row = new DeviceRow(model_, device, this);
        }
        row->refresh(device, paused);
        kept.push_back(row);
    }
    for (DeviceRow* gone : rows_) {
        if (!gone) continue;
        layout_->removeWidget(gone);
        gone->hide();
        gone->deleteLater();
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        layout_->removeWidget(kept[i]);
        layout_->insertWidget(int(i) + 1, kept[i]);
        kept[i]->show();
    }
    rows_ = std::move(kept);
}

}  // namespace tindlewave
