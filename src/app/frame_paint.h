// Drawing functions shared by the frame, the welcome screen, the page strip and the preview.
#pragma once

#include "app/frame_layout.h"
#include "view/view_paint.h"

class QPainter;

namespace frame {

using view::Colour;
using view::FrameRect;
using view::StatusFont;

// Fills the panel's outer rectangle, frames it with edge and its inner rectangle with innerEdge.
void DrawPanel(QPainter &p, const Panel &panel, unsigned fill, unsigned edge, unsigned innerEdge);

} // namespace frame
