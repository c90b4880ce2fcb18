#include "Settings/Views/WindowPicture.h"

#include <QApplication>
#include <QPixmap>
#include <QSaveFile>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

namespace tindlewave {

void writeWindowPNG(QWidget& window, const std::string& path) {
    const QPixmap picture = window.grab();
    if (picture.isNull()) return;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return;
    if (!picture.save(&file, "PNG")) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

QScrollArea* tallestScrollArea(QWidget& root) {
    QScrollArea* tallest = nullptr;
    int height = -1;
    auto consider = [&](QScrollArea* area) {
        if (!area->isVisible()) return;
        const int documentHeight = area->widget() ? area->widget()->height() : 0;
        if (documentHeight > height) {  // on equal heights the earlier one stays
            tallest = area;
            height = documentHeight;
        }
    };
    if (auto* self = qobject_cast<QScrollArea*>(&root)) consider(self);
    for (auto* area : root.findChildren<QScrollArea*>()) consider(area);
    return tallest;
}

QPalette lightPalette() { return withDisabledDimmedTexts(QApplication::style()->standardPalette()); }

QPalette withDisabledDimmedTexts(QPalette palette) {
    const QColor dimmed = palette.color(QPalette::Active, QPalette::PlaceholderText);
    if (palette.color(QPalette::Disabled, QPalette::PlaceholderText) != dimmed) return palette;
    // Half way from the dimmed text as it shows (it may be translucent) to the window.
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    const auto half = [&](double text, double back) {
        const double shown = text * dimmed.alphaF() + back * (1 - dimmed.alphaF());
        return (shown + back) / 2;
    };
    palette.setColor(QPalette::Disabled, QPalette::PlaceholderText,
                     QColor::fromRgbF(half(dimmed.redF(), window.redF()), half(dimmed.greenF(), window.greenF()),
                                      half(dimmed.blueF(), window.blueF())));
    return palette;
}

QPalette darkPalette() {
    QPalette dark;
    const QColor window(0x2B, 0x2B, 0x2E), base(0x1E, 0x1E, 0x20), text(0xE8, 0xE8, 0xEA);
    const QColor dimmed(0x80, 0x80, 0x86), button(0x3A, 0x3A, 0x3E), accent(0x2F, 0x7C, 0xF6);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        dark.setColor(group, QPalette::Window, window);
        dark.setColor(group, QPalette::WindowText, text);
        dark.setColor(group, QPalette::Base, base);
        dark.setColor(group, QPalette::AlternateBase, window);
        dark.setColor(group, QPalette::Text, text);
        dark.setColor(group, QPalette::Button, button);
        dark.setColor(group, QPalette::ButtonText, text);
        dark.setColor(group, QPalette::BrightText, Qt::white);
        dark.setColor(group, QPalette::Highlight, accent);
        dark.setColor(group, QPalette::HighlightedText, Qt::white);
        dark.setColor(group, QPalette::Link, QColor(0x6C, 0xA8, 0xFF));
        dark.setColor(group, QPalette::PlaceholderText, dimmed);
        dark.setColor(group, QPalette::ToolTipBase, button);
        dark.setColor(group, QPalette::ToolTipText, text);
        dark.setColor(group, QPalette::Light, QColor(0x4A, 0x4A, 0x4F));
        dark.setColor(group, QPalette::Midlight, QColor(0x40, 0x40, 0x44));
        dark.setColor(group, QPalette::Mid, QColor(0x30, 0x30, 0x33));
        dark.setColor(group, QPalette::Dark, QColor(0x18, 0x18, 0x1A));
        dark.setColor(group, QPalette::Shadow, Qt::black);
    }
    dark.setColor(QPalette::Disabled, QPalette::Window, window);
    dark.setColor(QPalette::Disabled, QPalette::Base, base);
    dark.setColor(QPalette::Disabled, QPalette::Button, button);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText})
        dark.setColor(QPalette::Disabled, role, QColor(0x6A, 0x6A, 0x70));
    dark.setColor(QPalette::Disabled, QPalette::Highlight, button);
    dark.setColor(QPalette::Disabled, QPalette::HighlightedText, dimmed);
    return dark;
}

}  // namespace tindlewave
