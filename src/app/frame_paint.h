// Drawing functions shared by the frame, the welcome screen, the page strip and the preview.
#pragma once

#include "app/frame_layout.h"

#include <QColor>
#include <QFont>

class QPainter;

namespace frame {

// A colour from a 0x00BBGGRR value.
inline QColor Colour(unsigned bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
// The status font (the system's small variable-width font): the status line, the welcome screen, strip labels.
QFont StatusFont();
// A one-pixel outline just inside r.
void FrameRect(QPainter &p, const QRect &r, const QColor &c);
// Fills the panel's outer rectangle, frames it with edge and its inner rectangle with innerEdge.
void DrawPanel(QPainter &p, const Panel &panel, unsigned fill, unsigned edge, unsigned innerEdge);

} // namespace frame
