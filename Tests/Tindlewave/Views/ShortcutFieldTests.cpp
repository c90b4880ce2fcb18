#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <optional>

#include "Settings/Views/RecorderField.h"
#include "Settings/Views/ShortcutField.h"

namespace tindlewave {
namespace {

// X key codes of the keys the tests press.
constexpr quint32 scanS = 39, scanSuper = 133, scanRightAlt = 108, scanLeftShift = 50, scanEscape = 9,
                  scanControl = 37, scanUnnamed = 250;

struct Window {
    QWidget window;
    QLineEdit* edit = new QLineEdit;
    ShortcutField* field = new ShortcutField;
    std::optional<Action> recorded;
    int cancels = 0;

    Window() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(field);
        field->onRecord = [this](const Action& action) {
            recorded = action;
            field->hide();
        };
        field->onCancel = [this] {
            ++cancels;
            field->hide();
        };
        window.show();
        edit->setFocus();
    }

    void key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, quint32 scanCode,
             const QString& text = {}) {
        QKeyEvent event(type, key, modifiers, scanCode, 0, 0, text);
        QApplication::sendEvent(edit, &event);
    }
    void press(int k, Qt::KeyboardModifiers m, quint32 scan, const QString& text = {}) {
        key(QEvent::KeyPress, k, m, scan, text);
    }
    void release(int k, Qt::KeyboardModifiers m, quint32 scan) { key(QEvent::KeyRelease, k, m, scan); }
    const RecorderFieldState& shown() const { return field->field()->state(); }
};

TEST(ShortcutField, CommandThenSRecordsAndSwallowsTheKey) {
    Window w;
    ASSERT_TRUE(w.field->isWatching());
    w.press(Qt::Key_Super_L, Qt::NoModifier, scanSuper);
    EXPECT_EQ(w.shown(), RecorderFieldState::recording({"⌘"}, RecorderHint::prompt("Let go to use Left Command")));
    w.press(Qt::Key_S, Qt::MetaModifier, scanS, "s");
    ASSERT_TRUE(w.recorded);
    EXPECT_EQ(*w.recorded, Action::shortcut(Chord{KeyCode{1}, Modifiers::command}));
    EXPECT_TRUE(w.edit->text().isEmpty());
    // Closed: keys reach the application again.
    EXPECT_FALSE(w.field->isWatching());
    w.press(Qt::Key_S, Qt::NoModifier, scanS, "s");
    EXPECT_EQ(w.edit->text(), "s");
}

TEST(ShortcutField, RightOptionAloneRecordsTheHeldModifier) {
    Window w;
    w.press(Qt::Key_AltGr, Qt::NoModifier, scanRightAlt);
    EXPECT_EQ(w.shown(), RecorderFieldState::recording({"⌥"}, RecorderHint::prompt("Let go to use Right Option")));
    EXPECT_EQ(w.field->field()->accessibleName(), "Let go to use Right Option, ⌥");
    w.release(Qt::Key_AltGr, Qt::AltModifier, scanRightAlt);
    ASSERT_TRUE(w.recorded);
    EXPECT_EQ(*w.recorded, Action::modifier(HeldModifier::rightOption));
}

TEST(ShortcutField, AnUnnamedKeyRecordsNothingAndKeepsTheProblem) {
    Window w;
    w.press(Qt::Key_Shift, Qt::NoModifier, scanLeftShift);
    w.press(Qt::Key_unknown, Qt::ShiftModifier, scanUnnamed);
    w.release(Qt::Key_Shift, Qt::ShiftModifier, scanLeftShift);
    EXPECT_FALSE(w.recorded);
    EXPECT_EQ(w.shown(),
              RecorderFieldState::recording({}, RecorderHint::problem("Can't use that key. Try another.")));
    EXPECT_TRUE(w.field->isVisible());
}

TEST(ShortcutField, EscapeAloneCancelsAndControlEscapeRecords) {
    Window w;
    w.press(Qt::Key_Escape, Qt::NoModifier, scanEscape);
    EXPECT_EQ(w.cancels, 1);
    EXPECT_FALSE(w.recorded);

    Window v;
    v.press(Qt::Key_Control, Qt::NoModifier, scanControl);
    v.press(Qt::Key_Escape, Qt::ControlModifier, scanEscape);
    EXPECT_EQ(v.cancels, 0);
    ASSERT_TRUE(v.recorded);
    EXPECT_EQ(*v.recorded, Action::shortcut(Chord{KeyCode{53}, Modifiers::control}));
}

TEST(RecorderField, ShowsItsStateAndCallsItsActions) {
    RecorderField field;
    int starts = 0, cancels = 0;
    field.onStart = [&] { ++starts; };
    field.onCancel = [&] { ++cancels; };
    field.resize(300, 24);
    field.show();
    EXPECT_EQ(field.accessibleName(), "");
    field.setState(RecorderFieldState::idle({"⌘", "S"}));
    EXPECT_EQ(field.accessibleName(), "⌘, S");
    EXPECT_FALSE(field.cancelButton()->isVisible());
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(100, 12));
    EXPECT_EQ(starts, 1);

    field.setState(RecorderFieldState::recording({}, RecorderHint::gettingReady("Getting ready…"), "9 s"));
    ASSERT_NE(field.dot(), nullptr);
    EXPECT_FALSE(field.dot()->pulses());
    EXPECT_DOUBLE_EQ(field.dot()->opacity(), 0.35);
    EXPECT_EQ(field.accessibleName(), "Getting ready…, 9 s");
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(starts, 1);  // a click on the recording capsule does nothing
    field.cancelButton()->click();
    EXPECT_EQ(cancels, 1);

    field.setState(RecorderFieldState::recording({}, RecorderHint::prompt("Press a button")));
    EXPECT_TRUE(field.dot()->pulses());
}

}  // namespace
}  // namespace tindlewave
