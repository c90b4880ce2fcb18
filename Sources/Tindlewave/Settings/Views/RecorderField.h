#pragma once

#include <QWidget>
#include <functional>

#include "Settings/Model/Buttons/RecorderFieldState.h"

class QHBoxLayout;
class QPushButton;
class QShortcut;
class QVariantAnimation;

namespace tindlewave {

// One key chip: the text in a small rounded box.
class KeyChip final : public QWidget {
  public:
    explicit KeyChip(const QString& text, QWidget* parent = nullptr);
    QString text() const { return text_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

// The red dot of a field that records: dim and still while getting ready, else pulsing. The
// desktop reports no wish for reduced motion, so a dot that is not dim always pulses.
class RecordingDot final : public QWidget {
  public:
    explicit RecordingDot(bool dimmed, QWidget* parent = nullptr);
    ~RecordingDot() override;
    bool pulses() const;
    double opacity() const { return opacity_; }
    QSize sizeHint() const override { return {7, 7}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double opacity_;
    QVariantAnimation* pulse_ = nullptr;
};

// The capsule that records input. At rest it shows what is recorded and a click calls `onStart`;
// while recording it is red, with the dot, the chips so far, a hint, a trailing text and a Cancel
// button (also Escape) that calls `onCancel`. It keeps nothing but the state it is given.
class RecorderField final : public QWidget {
  public:
    using State = RecorderFieldState;
    using Hint = RecorderHint;

    explicit RecorderField(QWidget* parent = nullptr);

    void setState(const State& state);
    const State& state() const { return state_; }

    std::function<void()> onStart;
    std::function<void()> onCancel;

    QPushButton* cancelButton() const { return cancel_; }
    RecordingDot* dot() const { return dot_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void rebuild();
    void cancel();

    State state_;
    QHBoxLayout* row_;
    QPushButton* cancel_;
    QShortcut* escape_;
    RecordingDot* dot_ = nullptr;
};

}  // namespace tindlewave
