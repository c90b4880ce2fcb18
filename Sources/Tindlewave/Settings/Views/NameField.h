#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "Settings/Model/Window/NameDraft.h"

class QLineEdit;

namespace tindlewave {

// A device's name that reads as plain text until it is used: a pencil appears on hover, a focus
// ring while editing. Return or losing focus commits (trimmed, saved only when non-empty and
// changed), Escape restores the name. A new name from outside replaces the text only when it
// differs from the one shown before, so a refresh never takes what is being typed. With each name
// saved comes what to call when it is refused: the field then shows the name in force again.
class NameField final : public QWidget {
  public:
    using Refused = std::function<void()>;
    using Save = std::function<void(const std::string& name, Refused refused)>;

    NameField(std::string name, Save save, QWidget* parent = nullptr);

    void setName(const std::string& name);
    const std::string& name() const { return name_; }
    QLineEdit* editor() const { return editor_; }
    const NameDraft& draft() const { return draft_; }
    bool pencilShown() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void commit();
    void showText();

    std::string name_;
    Save save_;
    NameDraft draft_;
    QLineEdit* editor_;
    bool hovering_ = false;
};

}  // namespace tindlewave
