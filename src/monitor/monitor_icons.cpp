#include "monitor/monitor_icons.h"

#include <QPainter>
#include <QPainterPath>

namespace monitor {
namespace {

QPixmap blank(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  return pm;
}

// Base sign of a printers-list image: 0 plus, 1 minus, 2 question mark.
void drawSign(QPainter &p, int sign) {
  p.setRenderHint(QPainter::Antialiasing);
  const QColor fill = sign == 0 ? QColor(46, 160, 67) : sign == 1 ? QColor(120, 128, 140) : QColor(40, 110, 210);
  p.setPen(QPen(fill.darker(130), 0.8));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(0.5, 0.5, 11, 11), 2.5, 2.5);
  p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
  if (sign == 0) {
    p.drawLine(QPointF(3.2, 6), QPointF(8.8, 6));
    p.drawLine(QPointF(6, 3.2), QPointF(6, 8.8));
  } else if (sign == 1) {
    p.drawLine(QPointF(3.2, 6), QPointF(8.8, 6));
  } else {
    QPainterPath q;
    q.moveTo(4.0, 4.4);
    q.cubicTo(4.0, 2.4, 8.2, 2.4, 8.0, 4.5);
    q.cubicTo(7.9, 5.8, 6.0, 5.9, 6.0, 7.4);
    p.setBrush(Qt::NoBrush);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(6.0, 9.6), 0.95, 0.95);
  }
}

// The changed mark: a small red exclamation mark in the lower right corner.
void drawMark(QPainter &p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 1));
  p.setBrush(QColor(220, 30, 30));
  p.drawEllipse(QRectF(6.0, 5.5, 6.0, 6.0));
  p.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.0, 6.9), QPointF(9.0, 8.9));
  p.drawPoint(QPointF(9.0, 10.4));
}

QPixmap printerIcon(int size) {
  QPixmap pm = blank(size);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  // sheet coming out at the top
  p.setPen(QPen(QColor(90, 90, 100), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9.5, 2.5, 13, 10));
  // body
  QLinearGradient g(0, 10, 0, 26);
  g.setColorAt(0, QColor(96, 125, 160));
  g.setColorAt(1, QColor(52, 74, 104));
  p.setBrush(g);
  p.setPen(QPen(QColor(35, 50, 72), 1));
  p.drawRoundedRect(QRectF(3.5, 10.5, 25, 13), 3, 3);
  // output slot and sheet
  p.setBrush(QColor(30, 40, 55));
  p.drawRect(QRectF(8.5, 19.5, 15, 2));
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(90, 90, 100), 1));
  p.drawRect(QRectF(9.5, 21.5, 13, 8));
  p.setPen(QPen(QColor(150, 150, 160), 1));
  p.drawLine(QPointF(11.5, 24.5), QPointF(20.5, 24.5));
  p.drawLine(QPointF(11.5, 27), QPointF(18, 27));
  // lamp
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(80, 220, 90));
  p.drawEllipse(QPointF(24.5, 14.5), 1.6, 1.6);
  return pm;
}

} // namespace

QIcon appIcon() {
  QIcon icon;
  for (int s : {16, 32, 48})
    icon.addPixmap(printerIcon(s));
  return icon;
}

std::vector<QPixmap> printerListImages() {
  std::vector<QPixmap> out;
  for (int i = 0; i < 6; ++i) {
    QPixmap pm = blank(12);
    QPainter p(&pm);
    static const int sign[6] = {0, 1, 2, 0, 2, 1}; // 3 plus, 4 question, 5 minus: each with the mark
    drawSign(p, sign[i]);
    if (i >= 3)
      drawMark(p);
    out.push_back(pm);
  }
  return out;
}

std::vector<QPixmap> infoImages() {
  std::vector<QPixmap> out;
  for (int i = 0; i < 3; ++i) {
    QPixmap pm = blank(16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (i == 2) {
      QPainterPath tri;
      tri.moveTo(8, 1.2);
      tri.lineTo(15.2, 14.6);
      tri.lineTo(0.8, 14.6);
      tri.closeSubpath();
      p.setPen(QPen(QColor(150, 110, 0), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(255, 205, 40));
      p.drawPath(tri);
      p.setPen(QPen(QColor(40, 30, 0), 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 5.5), QPointF(8, 9.6));
      p.drawPoint(QPointF(8, 12.2));
    } else {
      p.setPen(Qt::NoPen);
      p.setBrush(i == 0 ? QColor(35, 120, 220) : QColor(215, 35, 35));
      p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
      if (i == 0) {
        p.drawLine(QPointF(8, 7), QPointF(8, 12));
        p.drawPoint(QPointF(8, 4.2));
      } else {
        p.drawLine(QPointF(5, 5), QPointF(11, 11));
        p.drawLine(QPointF(11, 5), QPointF(5, 11));
      }
    }
    out.push_back(pm);
  }
  return out;
}

} // namespace monitor
