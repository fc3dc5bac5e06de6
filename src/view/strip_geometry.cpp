#include "view/strip_geometry.h"

#include <algorithm>
#include <cmath>

namespace view {

QString StripLabel(const QString &fileName) {
  QString label = QStringLiteral("0000-0000");
  const qsizetype n = fileName.size();
  // Label position p (0..8) takes name[n - 13 + p]: position 8 is the last character before ".emf".
  for (int p = 8; p >= 0; --p) {
    const qsizetype k = n - 13 + p;
    if (k < 0)
      break;
    label[p] = fileName[k];
  }
  return label;
}

int LastPageMaxPosition(const ThumbRect &last, int clientBottom) {
  return static_cast<int>(std::trunc(last.y - clientBottom + 1.5 * last.h));
}

double StripRatio(int maxPosition, int rangeMin, int rangeMax) {
  if (rangeMax == rangeMin)
    return 0.0;
  return static_cast<double>(maxPosition) / (rangeMax - rangeMin);
}

StripScrollResult StripScroll(ScrollRequest request, int position, int maxPosition, double ratio, int thumb) {
  StripScrollResult r;
  int pos = position;
  switch (request) {
  case ScrollRequest::LineUp:
    if (pos > 0)
      pos = std::max(pos - kStripLineUp, 0);
    break;
  case ScrollRequest::LineDown:
    if (pos < maxPosition)
      pos = std::min(pos + kStripLineDown, maxPosition);
    break;
  case ScrollRequest::PageUp:
    if (pos > 0)
      pos = std::max(pos - kStripPage, 0);
    break;
  case ScrollRequest::PageDown:
    // Page down may go up to 299 pixels past the maximum; it never scrolls above the top of the list, which a
    // list shorter than the window (a negative maximum) would otherwise do.
    if (pos < maxPosition)
      pos += kStripPage;
    else
      pos = std::max(maxPosition, 0);
    break;
  case ScrollRequest::ThumbPosition:
  case ScrollRequest::ThumbTrack:
    if (pos >= 0 && pos <= maxPosition)
      pos = static_cast<int>(std::ceil(ratio * thumb - 1e-9));
    break;
  case ScrollRequest::Top:
    r.repaintAll = true;
    break;
  case ScrollRequest::Bottom:
    if (pos < maxPosition)
      pos = maxPosition;
    r.repaintAll = true;
    break;
  case ScrollRequest::EndScroll:
    break;
  }
  r.position = std::max(pos, 0);
  // A hair below ceil so that position = maximum lands exactly on the range's end despite rounding in the ratio.
  r.boxPosition = ratio > 0.0 ? static_cast<int>(std::ceil(r.position / ratio - 1e-9)) : 0;
  return r;
}

bool ThumbHit(const ThumbRect &t, int scrollPosition, QPoint p) {
  return t.x <= p.x() && p.x() <= t.x + t.w && t.y - scrollPosition <= p.y() && p.y() <= t.y + t.h - scrollPosition;
}

int PositionShowing(const ThumbRect &r, int scrollPosition, int clientHeight) {
  const int top = r.y - 10;
  const int bottom = r.y + r.h + kStripLabelHeight;
  if (top < scrollPosition || bottom - top >= clientHeight)
    return std::max(top, 0);
  if (bottom > scrollPosition + clientHeight)
    return bottom - clientHeight;
  return scrollPosition;
}

QRect ThumbOnScreen(const ThumbRect &r, int scrollPosition) { return QRect(r.x, r.y - scrollPosition, r.w, r.h); }

QRect LabelBand(const ThumbRect &r, int scrollPosition, int clientWidth) {
  return QRect(0, r.y + r.h - scrollPosition, clientWidth, kStripLabelHeight);
}

} // namespace view
