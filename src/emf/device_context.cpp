#include "emf/device_context.h"

#include "emf/metafile.h"

#include <QPolygonF>
#include <array>
#include <cmath>
#include <cstdlib>

namespace emf {

ObjectRef stockObject(uint32_t index) {
  static const std::array<ObjectRef, 20> table = [] {
    std::array<ObjectRef, 20> t{};
    auto brush = [](QRgb c, uint32_t style = BS_SOLID) {
      GdiBrush b;
      b.style = style;
      b.color = c;
      return std::make_shared<const GdiObject>(b);
    };
    auto pen = [](QRgb c, uint32_t style = PS_SOLID) {
      GdiPen p;
      p.style = style;
      p.color = c;
      return std::make_shared<const GdiObject>(p);
    };
    auto font = [](const char *face, int height, uint8_t pitch) {
      GdiFont f;
      f.face = QString::fromLatin1(face);
      f.height = height;
      f.pitchAndFamily = pitch;
      return std::make_shared<const GdiObject>(f);
    };
    t[WHITE_BRUSH] = brush(0xffffff);
    t[LTGRAY_BRUSH] = brush(0xc0c0c0);
    t[GRAY_BRUSH] = brush(0x808080);
    t[DKGRAY_BRUSH] = brush(0x404040);
    t[BLACK_BRUSH] = brush(0x000000);
    t[NULL_BRUSH] = brush(0, BS_NULL);
    t[WHITE_PEN] = pen(0xffffff);
    t[BLACK_PEN] = pen(0x000000);
    t[NULL_PEN] = pen(0, PS_NULL);
    t[OEM_FIXED_FONT] = font("Courier New", 12, 1);
    t[ANSI_FIXED_FONT] = font("Courier New", 12, 1);
    t[ANSI_VAR_FONT] = font("Arial", 12, 2);
    t[SYSTEM_FONT] = font("Arial", 16, 2);
    t[DEVICE_DEFAULT_FONT] = font("Arial", 16, 2);
    t[SYSTEM_FIXED_FONT] = font("Courier New", 16, 1);
    t[DEFAULT_GUI_FONT] = font("Arial", -11, 2);
    // The default palette: the twenty static colours of the system palette.
    t[DEFAULT_PALETTE] = std::make_shared<const GdiObject>(GdiPalette{{
        qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),   qRgb(0, 0, 128),
        qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192), qRgb(192, 220, 192), qRgb(166, 202, 240),
        qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),
        qRgb(255, 255, 0),   qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255),
    }});
    t[DC_BRUSH] = brush(0xffffff);
    t[DC_PEN] = pen(0x000000);
    return t;
  }();
  return index < table.size() ? table[index] : nullptr;
}

FrameMapping frameMapping(const ENHMETAHEADER &h, const QRect &dest) {
  FrameMapping fm;
  // A reference device without sensible sizes is taken as a 96 dpi screen.
  const bool devOk = h.szlDevice.cx > 0 && h.szlDevice.cy > 0 && h.szlMillimeters.cx > 0 && h.szlMillimeters.cy > 0;
  fm.refWidthPx = devOk ? h.szlDevice.cx : 1024;
  fm.refHeightPx = devOk ? h.szlDevice.cy : 768;
  fm.refWidthMm = devOk ? h.szlMillimeters.cx : 1024 * 25.4 / 96;
  fm.refHeightMm = devOk ? h.szlMillimeters.cy : 768 * 25.4 / 96;
  const double pxPerFrameUnitX = fm.refWidthPx / (fm.refWidthMm * 100.0);
  const double pxPerFrameUnitY = fm.refHeightPx / (fm.refHeightMm * 100.0);
  double fl = h.rclFrame.left * pxPerFrameUnitX, fr = h.rclFrame.right * pxPerFrameUnitX;
  double ft = h.rclFrame.top * pxPerFrameUnitY, fb = h.rclFrame.bottom * pxPerFrameUnitY;
  if (!(std::abs(fr - fl) > 1e-9) || !(std::abs(fb - ft) > 1e-9)) {
    // A degenerate frame: fall back to the bounds (inclusive, device units), then to a unit square.
    fl = h.rclBounds.left;
    ft = h.rclBounds.top;
    fr = double(h.rclBounds.right) + 1;
    fb = double(h.rclBounds.bottom) + 1;
    if (!(fr - fl > 0) || !(fb - ft > 0)) {
      fl = ft = 0;
      fr = fb = 1;
    }
  }
  const double sx = dest.width() / (fr - fl);
  const double sy = dest.height() / (fb - ft);
  fm.deviceToTarget = QTransform(sx, 0, 0, sy, dest.left() - fl * sx, dest.top() - ft * sy);
  return fm;
}

namespace {

// Isotropic mode keeps one unit the same physical size along both axes by shrinking the larger viewport scale.
void fixIsotropic(DeviceContext &dc, const FrameMapping &fm) {
  if (dc.mapMode != MM_ISOTROPIC || dc.windowExt.width() == 0 || dc.windowExt.height() == 0)
    return;
  const double xdim = double(dc.viewportExt.width()) * fm.refWidthMm / (double(dc.windowExt.width()) * fm.refWidthPx);
  const double ydim =
      double(dc.viewportExt.height()) * fm.refHeightMm / (double(dc.windowExt.height()) * fm.refHeightPx);
  if (xdim == 0 || ydim == 0)
    return;
  auto clampInt = [](double v) { return int(std::clamp(std::lround(v), -2147483647L, 2147483647L)); };
  if (std::abs(xdim) > std::abs(ydim))
    dc.viewportExt.setWidth(clampInt(dc.viewportExt.width() * std::abs(ydim / xdim)));
  else
    dc.viewportExt.setHeight(clampInt(dc.viewportExt.height() * std::abs(xdim / ydim)));
}

bool fixedMode(int mode) { return mode != MM_ISOTROPIC && mode != MM_ANISOTROPIC; }

} // namespace

void setMapMode(DeviceContext &dc, int mode, const FrameMapping &fm) {
  if (mode < MM_TEXT || mode > MM_ANISOTROPIC)
    return;
  const int hres = int(std::lround(fm.refWidthPx)), vres = int(std::lround(fm.refHeightPx));
  const double hmm = fm.refWidthMm, vmm = fm.refHeightMm;
  auto ext = [](double v) { return int(std::lround(v)); };
  dc.mapMode = mode;
  switch (mode) {
  case MM_TEXT:
    dc.windowExt = QSize(1, 1);
    dc.viewportExt = QSize(1, 1);
    break;
  case MM_LOMETRIC:
  case MM_ISOTROPIC:
    dc.windowExt = QSize(ext(hmm * 10), ext(vmm * 10));
    dc.viewportExt = QSize(hres, -vres);
    break;
  case MM_HIMETRIC:
    dc.windowExt = QSize(ext(hmm * 100), ext(vmm * 100));
    dc.viewportExt = QSize(hres, -vres);
    break;
  case MM_LOENGLISH:
    dc.windowExt = QSize(ext(hmm * 1000 / 254), ext(vmm * 1000 / 254));
    dc.viewportExt = QSize(hres, -vres);
    break;
  case MM_HIENGLISH:
    dc.windowExt = QSize(ext(hmm * 10000 / 254), ext(vmm * 10000 / 254));
    dc.viewportExt = QSize(hres, -vres);
    break;
  case MM_TWIPS:
    dc.windowExt = QSize(ext(hmm * 14400 / 254), ext(vmm * 14400 / 254));
    dc.viewportExt = QSize(hres, -vres);
    break;
  case MM_ANISOTROPIC:
    break; // keeps the current extents
  }
}

void setWindowExt(DeviceContext &dc, QSize ext, const FrameMapping &fm) {
  if (fixedMode(dc.mapMode) || ext.width() == 0 || ext.height() == 0)
    return;
  dc.windowExt = ext;
  fixIsotropic(dc, fm);
}

void setViewportExt(DeviceContext &dc, QSize ext, const FrameMapping &fm) {
  if (fixedMode(dc.mapMode) || ext.width() == 0 || ext.height() == 0)
    return;
  dc.viewportExt = ext;
  fixIsotropic(dc, fm);
}

namespace {
bool scaledExt(QSize &ext, int xNum, int xDenom, int yNum, int yDenom) {
  if (xDenom == 0 || yDenom == 0)
    return false;
  const int64_t w = int64_t(ext.width()) * xNum / xDenom, h = int64_t(ext.height()) * yNum / yDenom;
  if (w == 0 || h == 0 || std::llabs(w) > INT32_MAX || std::llabs(h) > INT32_MAX)
    return false;
  ext = QSize(int(w), int(h));
  return true;
}
} // namespace

void scaleWindowExt(DeviceContext &dc, int xNum, int xDenom, int yNum, int yDenom, const FrameMapping &fm) {
  QSize e = dc.windowExt;
  if (!fixedMode(dc.mapMode) && scaledExt(e, xNum, xDenom, yNum, yDenom)) {
    dc.windowExt = e;
    fixIsotropic(dc, fm);
  }
}

void scaleViewportExt(DeviceContext &dc, int xNum, int xDenom, int yNum, int yDenom, const FrameMapping &fm) {
  QSize e = dc.viewportExt;
  if (!fixedMode(dc.mapMode) && scaledExt(e, xNum, xDenom, yNum, yDenom)) {
    dc.viewportExt = e;
    fixIsotropic(dc, fm);
  }
}

QTransform pageTransform(const DeviceContext &dc) {
  const double sx = dc.windowExt.width() ? double(dc.viewportExt.width()) / dc.windowExt.width() : 1.0;
  const double sy = dc.windowExt.height() ? double(dc.viewportExt.height()) / dc.windowExt.height() : 1.0;
  return QTransform(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx,
                    dc.viewportOrg.y() - dc.windowOrg.y() * sy);
}

QTransform logicalToTarget(const DeviceContext &dc, const FrameMapping &fm) {
  return dc.world * pageTransform(dc) * fm.deviceToTarget;
}

void combineClip(DeviceContext &dc, const std::optional<QRegion> &rgn, int mode) {
  if (mode == RGN_COPY) {
    dc.clip = rgn;
    return;
  }
  if (!rgn)
    return; // only RGN_COPY accepts a missing region
  if (!dc.clip) {
    // No clip region means "everything": AND gives the new region, OR keeps everything, DIFF and XOR need a bound.
    switch (mode) {
    case RGN_AND:
      dc.clip = *rgn;
      return;
    case RGN_OR:
      return;
    default: {
      const QRegion everything(QRect(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25));
      dc.clip = mode == RGN_DIFF ? everything.subtracted(*rgn) : everything.xored(*rgn);
      return;
    }
    }
  }
  switch (mode) {
  case RGN_AND:
    dc.clip = dc.clip->intersected(*rgn);
    break;
  case RGN_OR:
    dc.clip = dc.clip->united(*rgn);
    break;
  case RGN_XOR:
    dc.clip = dc.clip->xored(*rgn);
    break;
  case RGN_DIFF:
    dc.clip = dc.clip->subtracted(*rgn);
    break;
  default:
    break;
  }
}

std::optional<QRegion> effectiveClip(const DeviceContext &dc) {
  if (dc.clip && dc.meta)
    return dc.clip->intersected(*dc.meta);
  if (dc.clip)
    return dc.clip;
  return dc.meta;
}

QRegion logicalRectRegion(double left, double top, double right, double bottom, const QTransform &m) {
  // Exclusive right/bottom edges: the pixels from the first corner up to, not including, the second.
  const QPolygonF poly = m.map(QPolygonF(QRectF(QPointF(left, top), QPointF(right, bottom)).normalized()));
  if (m.type() <= QTransform::TxScale) {
    const QRectF b = poly.boundingRect();
    const double l = std::round(b.left()), t = std::round(b.top()), rr = std::round(b.right()),
                 bb = std::round(b.bottom());
    if (!(rr > l) || !(bb > t) || std::abs(l) > 1e9 || std::abs(t) > 1e9 || std::abs(rr) > 1e9 || std::abs(bb) > 1e9)
      return {};
    const double lim = 1 << 29;
    const int il = int(std::clamp(l, -lim, lim)), it = int(std::clamp(t, -lim, lim));
    const int ir = int(std::clamp(rr, -lim, lim)), ib = int(std::clamp(bb, -lim, lim));
    return QRegion(il, it, ir - il, ib - it);
  }
  QPolygon ip;
  for (const QPointF &p : poly)
    ip << QPoint(int(std::lround(std::clamp(p.x(), -1e9, 1e9))), int(std::lround(std::clamp(p.y(), -1e9, 1e9))));
  return QRegion(ip, Qt::OddEvenFill);
}

} // namespace emf
