// The design's fonts, chosen the same way for every window.
#pragma once

#include <QFont>

namespace tarnwick {

// "MS Sans Serif", the design's dialog font, or the first installed of its metric-compatible
// stand-ins; regular.
QFont DialogFont(qreal points);
// "Arial" or the first installed of its metric-compatible stand-ins.
QFont ArialFont(qreal points, bool bold);

} // namespace tarnwick
