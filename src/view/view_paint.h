// Drawing helpers shared by the page strip, the preview and the frame that holds them.
#pragma once

#include <QColor>
#include <QFont>

class QPainter;
class QRect;

namespace view {

// A colour from a 0x00BBGGRR value.
inline QColor Colour(unsigned bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
// The status font (the system's small variable-width font): the status line, the welcome screen, strip labels.
QFont StatusFont();
// A one-pixel outline just inside r.
void FrameRect(QPainter &p, const QRect &r, const QColor &c);

} // namespace view
