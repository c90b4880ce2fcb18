#pragma once

#include <QPalette>
#include <string>

class QScrollArea;
class QWidget;

namespace tindlewave {

// Writes the whole window as a PNG file at the screen's pixel density, through a temporary file
// that replaces `path` only once complete. A failure writes nothing and is not reported.
void writeWindowPNG(QWidget& window, const std::string& path);

// The visible scroll area with the tallest document in a widget tree, or none.
QScrollArea* tallestScrollArea(QWidget& root);

// The two appearances a window can be pictured in: the style's own light palette and a fixed dark one.
QPalette lightPalette();
QPalette darkPalette();
// `palette` with dimmed texts dimmer still where they are disabled, when it draws both alike (the
// common style's light palette does): a block that is off then reads as off. The program's
// palette and both pictured ones go through it.
QPalette withDisabledDimmedTexts(QPalette palette);

}  // namespace tindlewave
