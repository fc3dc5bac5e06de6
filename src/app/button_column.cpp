#include "app/button_column.h"

#include <QMouseEvent>
#include <QPainter>
#include <array>

static void InitFrameResources() { Q_INIT_RESOURCE(frame); }

namespace frame {
namespace {

void EnsureResources() {
  static const bool done = [] {
    InitFrameResources();
    return true;
  }();
  (void)done;
}

QPixmap Load(const QString &path, int w, int h) {
  EnsureResources();
  QPixmap p(path);
  if (p.isNull()) {
    // A missing picture must not leave a hole in the column: a plain tile in the frame's colours stands in.
    p = QPixmap(w, h);
    p.fill(QColor(0x71, 0x6D, 0xB9));
  } else if (p.width() != w || p.height() != h) {
    p = p.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return p;
}

} // namespace

QPixmap ButtonPicture(int index, bool underMouse) {
  static std::array<QPixmap, kButtonCount * 2> cache;
  if (index < 0 || index >= kButtonCount)
    return {};
  QPixmap &p = cache[index * 2 + (underMouse ? 1 : 0)];
  if (p.isNull())
    p = Load(QStringLiteral(":/frame/button%1%2.png").arg(index).arg(underMouse ? "-hover" : ""), kButtonWidth,
             kButtonHeight);
  return p;
}

QPixmap LampPixmap(LampPicture which) {
  static std::array<QPixmap, 4> cache;
  static const char *const kNames[4] = {"lamp-green", "lamp-yellow", "lamp-red-lit", "lamp-red-dark"};
  const int i = static_cast<int>(which);
  if (cache[i].isNull())
    cache[i] = Load(QStringLiteral(":/frame/%1.png").arg(QLatin1String(kNames[i])), kLampWidth, kLampHeight);
  return cache[i];
}

QIcon AppIcon() {
  EnsureResources();
  return QIcon(QStringLiteral(":/frame/app-icon.png"));
}

FrameButton::FrameButton(int index, QWidget *parent) : QWidget(parent), index_(index) {
  setFixedSize(kButtonWidth, kButtonHeight);
  setMouseTracking(true);
  setToolTip(ButtonTooltip(index));
  setCursor(Qt::PointingHandCursor);
  setObjectName(QStringLiteral("button%1").arg(index));
}

void FrameButton::setUnderMouse(bool on) {
  if (on != underMouse_) {
    underMouse_ = on;
    update();
  }
}

void FrameButton::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawPixmap(0, 0, ButtonPicture(index_, underMouse_));
  if (lamp_)
    p.drawPixmap(0, 0, LampPixmap(lamp_(underMouse_)));
}

void FrameButton::mouseMoveEvent(QMouseEvent *e) {
  emit hovered(index_);
  e->accept();
}

void FrameButton::mousePressEvent(QMouseEvent *e) {
  if (e->button() == Qt::LeftButton)
    emit pressed(index_, e->globalPosition().toPoint());
  e->accept();
}

void FrameButton::mouseReleaseEvent(QMouseEvent *e) { e->accept(); }

} // namespace frame
