#include "app/frame_paint.h"

#include <QPainter>

namespace frame {

void DrawPanel(QPainter &p, const Panel &panel, unsigned fill, unsigned edge, unsigned innerEdge) {
  p.fillRect(panel.outer, Colour(fill));
  FrameRect(p, panel.outer, Colour(edge));
  FrameRect(p, panel.inner, Colour(innerEdge));
}

} // namespace frame
