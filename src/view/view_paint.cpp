#include "view/view_paint.h"

#include <QPainter>

namespace view {

QFont StatusFont() {
  QFont f(QStringLiteral("Arial"));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(11);
  return f;
}

void FrameRect(QPainter &p, const QRect &r, const QColor &c) {
  if (r.width() <= 0 || r.height() <= 0)
    return;
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), c);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), c);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), c);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), c);
}

} // namespace view
