#pragma once

#include <QWidget>
#include <functional>

#include "Model/Rule.h"
#include "Settings/Model/Buttons/ShortcutKeys.h"
#include "Settings/Views/KeyAdapter.h"

namespace tindlewave {

class RecorderField;

// Records the shortcut, or the one modifier, a rule is to send. While it is shown it watches every
// key event of the program: it takes each key press (so no other control or shortcut sees it),
// and lets modifier keys and key releases pass. It calls `onRecord` once with the action, or
// `onCancel` for Escape alone or its Cancel button; the owner then closes it.
class ShortcutField final : public QWidget {
  public:
    explicit ShortcutField(QWidget* parent = nullptr);
    ~ShortcutField() override;

    std::function<void(const Action&)> onRecord;
    std::function<void()> onCancel;

    RecorderField* field() const { return field_; }
    bool isWatching() const { return watching_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watch(bool on);
    void handle(const ShortcutKeys::Outcome& outcome);

    RecorderField* field_;
    ShortcutKeys keys_;
    KeyAdapter adapter_;
    bool watching_ = false;
    // The last modifier event handled: an event passed on is offered again to each parent.
    const QEvent* lastModifierEvent_ = nullptr;
    int lastModifierType_ = 0;
    quint32 lastModifierScanCode_ = 0;
    int lastModifierKey_ = 0;
};

}  // namespace tindlewave
