#pragma once

#include <QString>

class QPushButton;

namespace tindlewave {

// One segment of a segmented picker: a checkable push button whose chosen state is filled with
// the palette's highlight (and its text in the highlighted-text colour), so the choice reads at a
// glance in a light and a dark window alike. Put the segments in an exclusive QButtonGroup.
QPushButton* makeSegment(const QString& title);

}  // namespace tindlewave
