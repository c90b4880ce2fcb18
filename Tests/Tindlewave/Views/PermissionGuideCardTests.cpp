#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

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

}  // namespace
}  // namespace tindlewave
