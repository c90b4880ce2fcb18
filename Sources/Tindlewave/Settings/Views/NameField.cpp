#include "Settings/Views/NameField.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>

#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

NameField::NameField(std::string name, Save save, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), save_(std::move(save)), editor_(new QLineEdit(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4 + 14 + 4, 4);  // room for the ring and the pencil
    row->setSpacing(4);
    editor_->setFrame(false);
    editor_->setAccessibleName("Name in Tindlewave");
    editor_->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette clear = editor_->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    editor_->setPalette(clear);
    editor_->installEventFilter(this);
    row->addWidget(editor_);
    setToolTip("Click to rename");
    setAttribute(Qt::WA_Hover);
    showText();

    connect(editor_, &QLineEdit::textEdited, this,
            [this](const QString& text) { draft_.typed(text.toStdString()); });
    // Return and losing focus both finish editing.
    connect(editor_, &QLineEdit::editingFinished, this, [this] { commit(); });
}

void NameField::setName(const std::string& name) {
    const std::string old = std::exchange(name_, name);
    draft_.nameChanged(old, name);
    if (!draft_.draft()) showText();
}

void NameField::showText() {
    const QString shown = qText(draft_.shown(name_));
    if (editor_->text() != shown) editor_->setText(shown);
    editor_->setCursorPosition(0);
    update();
}

void NameField::commit() {
    if (auto name = draft_.commit(name_)) {
        if (save_)
            save_(*name, [field = QPointer<NameField>(this), name = *name] {
                if (!field) return;
                field->draft_.refused(name);
                if (!field->draft_.draft()) field->showText();
            });
    } else {
        showText();
    }
    update();
}

bool NameField::pencilShown() const {
    return hovering_ && !editor_->hasFocus() && isEnabled();
}

bool NameField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            draft_.cancel();
            showText();
            return true;
        }
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) update();
    }
    return QWidget::eventFilter(watched, event);
}

void NameField::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QWidget::enterEvent(event);
}

void NameField::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QWidget::leaveEvent(event);
}

void NameField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (editor_->hasFocus()) {
        painter.setBrush(palette().color(QPalette::Base));
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
    }
    if (pencilShown()) {
        const int size = 14;
        const QRect editorRect = editor_->geometry();
        painter.drawPixmap(editorRect.right() + 4, editorRect.center().y() - size / 2,
                           symbolPixmap(Symbol::pencil, size, secondaryColor(*this),
                                        devicePixelRatioF()));
    }
}

}  // namespace tindlewave
