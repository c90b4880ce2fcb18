#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace tindlewave {

// The few symbols the program shows, drawn in code (no image files): the tab icons, the warning
// and pencil marks, the log's document, the granted check mark and the menu-bar cursor.
enum class Symbol { gear, command, mouse, upDown, list, warning, pencil, document, checkmark, cursorRays };

// `size` in points; drawn at the device pixel ratio given.
QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, qreal devicePixelRatio = 2);
QIcon symbolIcon(Symbol symbol, const QColor& color);

}  // namespace tindlewave
