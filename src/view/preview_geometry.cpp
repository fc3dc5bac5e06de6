#include "view/preview_geometry.h"

#include <algorithm>

namespace view {

PreviewBars ComputePreviewBars(int windowW, int windowH, int imageW, int imageH, int barThickness) {
  PreviewBars b;
  b.clientW = windowW;
  b.clientH = windowH;
  if (b.clientW < imageW) {
    b.hShown = true;
    b.clientH -= barThickness;
    b.hMax = imageW - b.clientW + kPreviewRangeSlack;
  }
  if (b.clientH < imageH) {
    b.vShown = true;
    b.clientW -= barThickness;
    b.vMax = imageH - b.clientH + kPreviewRangeSlack;
  }
  return b;
}

QPoint ImageOrigin(int areaW, int areaH, int imageW, int imageH, int h, int v) {
  const int e = areaW >= imageW ? (areaW - imageW) / 2 : 0;
  const int g = areaH >= imageH ? (areaH - imageH) / 2 : 0;
  return QPoint(e - h, g - v);
}

int PreviewScroll(ScrollRequest request, int position, int maximum, int thumb) {
  int pos = position;
  switch (request) {
  case ScrollRequest::LineUp:
    if (pos > 0)
      pos = std::max(pos - kPreviewLine, 0);
    break;
  case ScrollRequest::LineDown:
    if (pos < maximum)
      pos = std::min(pos + kPreviewLine, maximum);
    break;
  case ScrollRequest::PageUp:
    if (pos >= 0)
      pos = 0;
    break;
  case ScrollRequest::PageDown:
    if (pos <= maximum)
      pos = maximum;
    break;
  case ScrollRequest::ThumbPosition:
  case ScrollRequest::ThumbTrack:
    if (pos >= 0 && pos <= maximum)
      pos = thumb;
    break;
  case ScrollRequest::Top:
  case ScrollRequest::Bottom:
  case ScrollRequest::EndScroll:
    break;
  }
  return std::clamp(pos, 0, std::max(maximum, 0));
}

} // namespace view
