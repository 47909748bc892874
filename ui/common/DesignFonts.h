// The design's fonts, chosen the same way for every window.
#pragma once

#include <QFont>

namespace tarnwick {

// Starts loading the system's font configuration (fontconfig's files) on another thread, so that it
// is ready by the time the first design font is asked for, which waits for it. Called before
// QApplication, whose start (the display, the platform plugin) runs meanwhile.
void StartLoadingFonts();

// "MS Sans Serif", the design's dialog font, or the first installed of its metric-compatible
// stand-ins; regular.
QFont DialogFont(qreal points);
// "Arial" or the first installed of its metric-compatible stand-ins.
QFont ArialFont(qreal points, bool bold);

} // namespace tarnwick
