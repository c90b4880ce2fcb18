#include "Settings/Views/ShortcutField.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>

#include "Settings/Views/RecorderField.h"

namespace tindlewave {

ShortcutField::ShortcutField(QWidget* parent) : QWidget(parent), field_(new RecorderField(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    field_->setState(keys_.display());
    field_->onCancel = [this] {
        if (onCancel) onCancel();
    };
}

ShortcutField::~ShortcutField() { watch(false); }

void ShortcutField::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    watch(true);
}

void ShortcutField::hideEvent(QHideEvent* event) {
    watch(false);
    QWidget::hideEvent(event);
}

void ShortcutField::watch(bool on) {
    if (on == watching_) return;
    watching_ = on;
    if (on) qApp->installEventFilter(this);
    else qApp->removeEventFilter(this);
}

void ShortcutField::handle(const ShortcutKeys::Outcome& outcome) {
    field_->setState(keys_.display());
    if (const auto* record = std::get_if<ShortcutKeys::Record>(&outcome)) {
        watch(false);
        if (onRecord) onRecord(record->action);
    } else if (std::holds_alternative<ShortcutKeys::Cancel>(outcome)) {
        watch(false);
        if (onCancel) onCancel();
    }
}

bool ShortcutField::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return QWidget::eventFilter(watched, event);
    if (!watching_ || !isEnabled()) return false;
    auto& key = static_cast<QKeyEvent&>(*event);
    const bool isModifier = KeyAdapter::modifier(key).has_value();
    if (type == QEvent::ShortcutOverride) {
        // Claim the key, so no default button, Escape binding or menu shortcut takes it first.
        if (isModifier) return false;
        event->accept();
        return true;
    }
    if (isModifier) {
        // A modifier event passed on is offered again to each parent: handle it once.
        const bool again = event == lastModifierEvent_ && static_cast<int>(type) == lastModifierType_ &&
                           key.nativeScanCode() == lastModifierScanCode_ && key.key() == lastModifierKey_;
        if (again) return false;
        lastModifierEvent_ = event;
        lastModifierType_ = static_cast<int>(type);
        lastModifierScanCode_ = key.nativeScanCode();
        lastModifierKey_ = key.key();
        const auto translated = adapter_.translate(key);
        if (translated.kind == KeyAdapter::Event::Kind::flagsChanged && translated.keyCode)
            handle(keys_.flagsChanged(*translated.keyCode, translated.flags));
        return false;
    }
    if (type == QEvent::KeyRelease) return false;
    const auto translated = adapter_.translate(key);
    if (translated.kind != KeyAdapter::Event::Kind::keyDown) return true;
    handle(keys_.keyDown(translated.keyCode, translated.flags));
    return true;
}

}  // namespace tindlewave
