#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
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
