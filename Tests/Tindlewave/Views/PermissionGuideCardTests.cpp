#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextBlock>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Permissions.h"
#include "Shell/PermissionGuide.h"

namespace tindlewave {
namespace {

TEST(GuideCard, ShowsEveryCommandWholeOnItsOwnLineAndCopiesThem) {
    const std::string commands =
        "sudo cp '/a/rather/long/folder/of/a/build/share/tindlewave/udev/70-tindlewave.rules' "
        "/etc/udev/rules.d/70-tindlewave.rules\n"
        "sudo udevadm control --reload\n"
        "sudo udevadm trigger --action=change --subsystem-match=hidraw --subsystem-match=input "
        "--subsystem-match=misc";
    GuideCard card(Permission::accessibility, [] {}, RuleGuide{"Install the rule below once.", commands});
    card.adjustSize();

    auto* lines = card.findChild<QPlainTextEdit*>();
    ASSERT_NE(lines, nullptr);
    EXPECT_TRUE(lines->isReadOnly());
    // No command is broken across lines, and the box is tall enough for all of them.
    EXPECT_EQ(lines->document()->lineCount(), 3);
    EXPECT_EQ(lines->document()->firstBlock().text().toStdString(),
              commands.substr(0, commands.find('\n')));
    EXPECT_GE(lines->viewport()->height(), 3 * QFontMetrics(lines->font()).lineSpacing());
    EXPECT_EQ(card.width(), GuideCard::commandsCardWidth);

    QPushButton* copy = nullptr;
    for (auto* button : card.findChildren<QPushButton*>())
        if (button->text() == "Copy Commands") copy = button;
    ASSERT_NE(copy, nullptr);
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), commands);
}

TEST(GuideCard, WithoutCommandsKeepsItsNarrowInstruction) {
    GuideCard card(Permission::inputMonitoring, [] {});
    EXPECT_EQ(card.width(), GuideCard::cardWidth);
    EXPECT_EQ(card.findChild<QPlainTextEdit*>(), nullptr);
    // The arrow leads the headline, pointing at the list.
    QStringList texts;
    for (auto* label : card.findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains("\u2191 Drag Tindlewave into the list above")) << texts.join("|").toStdString();
}

// Every control of the card lies inside it and clear of the others, its commands' box lets them
// scroll when they are cut, and the last line can be scrolled to.
void expectWholeAndScrolling(GuideCard& card, bool cut) {
    std::vector<QWidget*> controls;
    for (QWidget* control : card.findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control) ||
            qobject_cast<QPlainTextEdit*>(control))
            controls.push_back(control);
    const auto shown = [&](QWidget* control) { return QRect(control->mapTo(&card, QPoint(0, 0)), control->size()); };
    for (QWidget* control : controls) {
        EXPECT_TRUE(card.rect().contains(shown(control))) << control->metaObject()->className();
        for (QWidget* other : controls) {
            if (other == control || control->isAncestorOf(other) || other->isAncestorOf(control)) continue;
            EXPECT_FALSE(shown(control).intersects(shown(other)))
                << control->metaObject()->className() << " and " << other->metaObject()->className();
        }
    }
    auto* lines = card.findChild<QPlainTextEdit*>();
    ASSERT_NE(lines, nullptr);
    QScrollBar* bar = lines->verticalScrollBar();
    // Shown once the box has taken its new height.
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->isVisible() == cut; }, 5000));
    EXPECT_EQ(bar->maximum() > 0, cut);
    bar->setValue(bar->maximum());
    const QString last = lines->document()->lastBlock().text();
    EXPECT_EQ(lines->cursorForPosition(QPoint(4, lines->viewport()->height() - 4)).block().text(), last);
}

// Over real devices the rule's commands run to dozens of lines: on a small screen the card stays
// within the free area, its commands scrolled, its texts and buttons whole and in reach.
TEST(PermissionGuide, ACardTallerThanItsScreenScrollsItsCommandsAndKeepsItsButtons) {
    SimulatedPermissionGrants grants(PermissionState::Grant::denied, PermissionState::Grant::denied);
    Permissions permissions(grants);
    const std::string text =
        "The commands below load the module and install the rule once (your password is asked); then "
        "reconnect the devices. Any program you run can then read these devices while you are logged in "
        "at this computer.";
    std::string commands;
    for (int line = 0; line < 90; ++line) commands += "# line " + std::to_string(line) + " of the rule\n";
    commands += "sudo udevadm control --reload";
    PermissionGuide guide(permissions, [&] { return RuleGuide{text, commands}; });
    guide.show(Permission::accessibility);
    ASSERT_NE(guide.card(), nullptr);
    GuideCard& card = *guide.card();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
    const QRect area = card.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(card.frameGeometry())) << card.frameGeometry().height() << " in " << area.height();
    expectWholeAndScrolling(card, true);
    // From the keyboard too: the commands come before the Copy Commands button, and scroll.
    auto* lines = card.findChild<QPlainTextEdit*>();
    lines->verticalScrollBar()->setValue(0);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&card));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), lines);
    QTest::keyClick(lines, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(lines->cursorForPosition(QPoint(4, lines->viewport()->height() - 4)).block().text().toStdString(),
              "sudo udevadm control --reload");

    // On a narrow, low screen the card is as wide as it may be, and its few commands scroll.
    GuideCard narrow(Permission::accessibility, [] {}, RuleGuide{text, "sudo true\nsudo false\nsudo true\nsudo false\nsudo true"});
    narrow.fitInto(QSize(500, 2000));
    const int whole = narrow.height();
    narrow.fitInto(QSize(500, whole - 20));
    narrow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&narrow));
    EXPECT_EQ(narrow.width(), 500);
    EXPECT_LE(narrow.height(), whole - 20);
    expectWholeAndScrolling(narrow, true);
    // Given room again, it is whole.
    narrow.fitInto(QSize(2000, 2000));
    EXPECT_EQ(narrow.width(), GuideCard::commandsCardWidth);
    expectWholeAndScrolling(narrow, false);
}

// Shown at the user's request from a window, the card comes up active with the focus on its first
// button, Tab reaches its close button, and that button or Escape closes it, giving the focus back
// where it was.
TEST(PermissionGuide, TheCardIsUsedFromTheKeyboardAndEscapeClosesIt) {
    SimulatedPermissionGrants grants(PermissionState::Grant::denied, PermissionState::Grant::denied);
    Permissions permissions(grants);
    QWidget window;
    auto* allow = new QPushButton("Allow", &window);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    allow->setFocus(Qt::TabFocusReason);
    PermissionGuide guide(permissions, [] { return RuleGuide{"Install the rule below once.", "sudo true"}; });

    guide.show(Permission::accessibility);
    ASSERT_NE(guide.card(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(guide.card()));
    auto* copy = qobject_cast<QPushButton*>(QApplication::focusWidget());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "Copy Commands");
    QTest::keyClick(copy, Qt::Key_Tab);
    auto* close = qobject_cast<QToolButton*>(QApplication::focusWidget());
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->accessibleName(), "Close");
    QTest::keyClick(close, Qt::Key_Space);
    EXPECT_EQ(guide.card(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), allow);

    // Without commands the close button starts with the focus; Escape closes the card.
    PermissionGuide plain(permissions);
    plain.show(Permission::inputMonitoring);
    ASSERT_NE(plain.card(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(plain.card()));
    ASSERT_NE(qobject_cast<QToolButton*>(QApplication::focusWidget()), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(plain.card(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), allow);
}

}  // namespace
}  // namespace tindlewave
