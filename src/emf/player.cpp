// The drawing side of playback: one Player turns the device-context state and each record into QPainter calls
// on the target image, plus the per-pixel operations QPainter lacks (raster operations, masks).
#include "emf/player.h"

#include "emf/device_context.h"
#include "emf/dib.h"
#include "emf/emf_reader.h"
#include "emf/emf_records.h"
#include "emf/gdi_text.h"
#include "emf/metafile.h"
#include "emf/rop.h"

#include <QImage>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>

namespace emf {

namespace {

// Limits on what a record may ask for.
constexpr uint32_t kMaxPoints = 4'000'000;               // points in one drawing record
constexpr uint32_t kMaxPolys = 1'000'000;                // polygons in one poly-poly record
constexpr uint32_t kMaxTextChars = 100'000;              // characters in one text record
constexpr uint32_t kMaxSaveDepth = 4096;                 // nested SAVEDC levels
constexpr uint32_t kMaxRegionRects = 250'000;            // rectangles in one region
constexpr uint64_t kMaxGradientPixels = 64ull * 1000000; // pixels one GRADIENTFILL record may shade
constexpr double kMaxCoord = 1e8;                        // target coordinates beyond this are not drawn
constexpr uint64_t kMaxBlitPixels = 120ull * 1000000;
constexpr uint64_t kStripPixels = 1ull << 22; // pixels stretched or decoded at a time by a blit

// Rounds to int, keeping far-off values far off instead of overflowing.
int toInt(double v) {
  if (!std::isfinite(v))
    return 0;
  return int(std::lround(std::clamp(v, -1e9, 1e9)));
}

QRgb colorRef(uint32_t c) { return qRgb(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }

struct Rectl {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

Rectl readRectl(Reader &r) {
  Rectl rc;
  rc.left = r.i32();
  rc.top = r.i32();
  rc.right = r.i32();
  rc.bottom = r.i32();
  return rc;
}

QTransform readXform(Reader &r) {
  const double m11 = r.f32(), m12 = r.f32(), m21 = r.f32(), m22 = r.f32(), dx = r.f32(), dy = r.f32();
  return QTransform(m11, m12, m21, m22, dx, dy);
}

bool finiteTransform(const QTransform &t) {
  const double v[] = {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
  for (double x : v)
    if (!std::isfinite(x) || std::abs(x) > 1e12)
      return false;
  return true;
}

// The pixels of an 8x8 hatch, one byte per row, most significant bit leftmost.
const uint8_t kHatchBits[6][8] = {
    {0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00}, // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08}, // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01}, // forward diagonal: top left to bottom right
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80}, // backward diagonal: bottom left to top right
    {0x08, 0x08, 0x08, 0xff, 0x08, 0x08, 0x08, 0x08}, // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81}, // diagonal cross
};

QImage hatchImage(uint32_t hatch, QRgb fg, QRgb bg, bool opaque) {
  QImage img(8, 8, QImage::Format_ARGB32);
  const uint8_t *bits = kHatchBits[hatch < 6 ? hatch : 0];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool on = bits[y] & (0x80 >> x);
      img.setPixel(x, y, on ? (fg | 0xff000000) : (opaque ? (bg | 0xff000000) : 0u));
    }
  return img;
}

QPainter::CompositionMode rop2Mode(int rop2) {
  switch (rop2) {
  case R2_BLACK:
    return QPainter::RasterOp_ClearDestination;
  case R2_NOTMERGEPEN:
    return QPainter::RasterOp_NotSourceAndNotDestination;
  case R2_MASKNOTPEN:
    return QPainter::RasterOp_NotSourceAndDestination;
  case R2_NOTCOPYPEN:
    return QPainter::RasterOp_NotSource;
  case R2_MASKPENNOT:
    return QPainter::RasterOp_SourceAndNotDestination;
  case R2_NOT:
    return QPainter::RasterOp_NotDestination;
  case R2_XORPEN:
    return QPainter::RasterOp_SourceXorDestination;
  case R2_NOTMASKPEN:
    return QPainter::RasterOp_NotSourceOrNotDestination;
  case R2_MASKPEN:
    return QPainter::RasterOp_SourceAndDestination;
  case R2_NOTXORPEN:
    return QPainter::RasterOp_NotSourceXorDestination;
  case R2_MERGENOTPEN:
    return QPainter::RasterOp_NotSourceOrDestination;
  case R2_MERGEPENNOT:
    return QPainter::RasterOp_SourceOrNotDestination;
  case R2_MERGEPEN:
    return QPainter::RasterOp_SourceOrDestination;
  case R2_WHITE:
    return QPainter::RasterOp_SetDestination;
  default:
    return QPainter::CompositionMode_SourceOver;
  }
}

bool pathFinite(const QPainterPath &path) {
  const QRectF b = path.controlPointRect();
  return std::isfinite(b.left()) && std::isfinite(b.top()) && std::isfinite(b.right()) && std::isfinite(b.bottom()) &&
         std::abs(b.left()) < kMaxCoord && std::abs(b.right()) < kMaxCoord && std::abs(b.top()) < kMaxCoord &&
         std::abs(b.bottom()) < kMaxCoord;
}

// Matched fonts are kept per thread across playbacks: every band of a page asks for the same fonts again.
FontCache &threadFonts() {
  thread_local FontCache cache;
  return cache;
}

class Player {
public:
  Player(QImage &target, const EnhMetaFile &mf, const QRect &dest, PlaybackCache &cache)
      : img_(target), mf_(mf), fm_(frameMapping(mf.header(), dest)), cache_(cache),
        baseDeviceToTarget_(fm_.deviceToTarget), mirrorSum_(2.0 * dest.left() + dest.width()), page_(dest) {
    handles_.resize(std::max<size_t>(1, mf.header().nHandles));
    resetDc();
    beginPainter();
  }

  // The painter must not be active while pixels are changed directly: it keeps state about the image that
  // direct writes invalidate (clipping was seen to go wrong). Per-pixel work runs between these two.
  void beginPainter() {
    if (painter_.isActive())
      return;
    painter_.begin(&img_);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, false);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
  void endPainter() {
    if (painter_.isActive())
      painter_.end();
  }

  void run() {
    const auto &bytes = mf_.bytes();
    for (const RecordRef &rec : mf_.records()) {
      Reader r(std::span<const uint8_t>(bytes.data() + rec.offset, rec.size));
      r.skip(8);
      play(rec.type, r);
      if (rec.type == EMR_EOF)
        break;
    }
  }

private:
  QImage &img_;
  const EnhMetaFile &mf_;
  FrameMapping fm_;
  PlaybackCache &cache_;
  // A right-to-left layout mirrors the picture about the middle of its destination: x becomes mirrorSum_ - x.
  QTransform baseDeviceToTarget_;
  double mirrorSum_ = 0;
  // The whole picture in target pixels (the image may hold only a band of it).
  QRect page_;
  bool rtl() const { return dc_.layout & LAYOUT_RTL; }
  // Lines run through pixel centres: half a pixel right and down of a device point, left and down when mirrored.
  QPointF pixelCentre() const { return QPointF(rtl() && !boxIndices_ ? -0.5 : 0.5, 0.5); }
  // Set while a box whose corners were rounded to pixel indices is drawn: mirrored, its outline is already in place
  // and its interior moves one pixel right, so the box is the exact mirror of the left-to-right one.
  bool boxIndices_ = false;
  bool bitmapsPreserved() const { return rtl() && (dc_.layout & LAYOUT_BITMAPORIENTATIONPRESERVED); }
  void applyLayout() {
    fm_.deviceToTarget = rtl() ? baseDeviceToTarget_ * QTransform(-1, 0, 0, 1, mirrorSum_, 0) : baseDeviceToTarget_;
    updateXf();
  }
  QPainter painter_;
  DeviceContext dc_;
  std::vector<DeviceContext> saved_;
  std::vector<ObjectRef> handles_;
  QTransform xf_; // logical to target, kept current
  FontCache &fonts_ = threadFonts();
  bool pathNeedsMove_ = true;

  void resetDc() {
    dc_ = DeviceContext{};
    dc_.pen = stockObject(BLACK_PEN);
    dc_.brush = stockObject(WHITE_BRUSH);
    dc_.font = stockObject(SYSTEM_FONT);
    dc_.palette = stockObject(DEFAULT_PALETTE);
    updateXf();
  }
  void updateXf() {
    xf_ = logicalToTarget(dc_, fm_);
    if (!finiteTransform(xf_))
      xf_ = fm_.deviceToTarget;
  }

  // ---- helpers on the state ----
  QPointF toTarget(QPointF p) const { return xf_.map(p); }
  // Length in target pixels of a logical distance, as pen widths and font sizes use it.
  double scaleX() const { return std::hypot(xf_.m11(), xf_.m12()); }
  double scaleY() const { return std::hypot(xf_.m21(), xf_.m22()); }

  const GdiPen &pen() const {
    static const GdiPen black;
    if (dc_.pen)
      if (auto *p = std::get_if<GdiPen>(dc_.pen.get()))
        return *p;
    return black;
  }
  const GdiBrush &brush() const {
    static const GdiBrush white;
    if (dc_.brush)
      if (auto *b = std::get_if<GdiBrush>(dc_.brush.get()))
        return *b;
    return white;
  }
  const GdiFont &font() const {
    static const GdiFont sys = std::get<GdiFont>(*stockObject(SYSTEM_FONT));
    if (dc_.font)
      if (auto *f = std::get_if<GdiFont>(dc_.font.get()))
        return *f;
    return sys;
  }

  // Sets the painter's clip; false when nothing can be drawn (a clip that misses the image entirely must not
  // reach the painter, which would then draw unclipped).
  bool applyClip() {
    const auto clip = effectiveClip(dc_);
    if (!clip) {
      painter_.setClipping(false);
      return true;
    }
    const QRegion visible = clip->intersected(img_.rect());
    if (visible.isEmpty())
      return false;
    if (visible.rectCount() == 1) {
      painter_.setClipRegion(visible);
      return true;
    }
    // Qt's raster engine was seen to ignore a many-rectangle clip region after some sequences of painting; the
    // same area as a clip path is honoured. The conversion is kept while the region stays the same.
    if (visible != clipPathRegion_) {
      clipPathRegion_ = visible;
      clipPath_ = QPainterPath();
      clipPath_.addRegion(visible);
    }
    painter_.setClipPath(clipPath_);
    return true;
  }
  QRegion clipPathRegion_;
  QPainterPath clipPath_;

  bool hasPen() const { return !pen().isNull() && dc_.rop2 != R2_NOP; }
  bool hasBrush() const { return brush().style != BS_NULL && dc_.rop2 != R2_NOP; }

  // ---- pens and brushes as Qt objects in target pixels ----
  double penWidthPx() const {
    const GdiPen &p = pen();
    if (p.extended && !p.geometric())
      return 1.0;
    if (p.width <= 0)
      return 1.0;
    // The width is a distance along the x axis: its length once transformed (a page scaled differently across and
    // down, or a reference device whose pixels are not square, does not widen a pen by the other axis).
    const double w = p.width * std::hypot(xf_.m11(), xf_.m12());
    return std::max(1.0, std::min(w, 1e6));
  }
  bool cosmeticPen() const { return penWidthPx() <= 1.0; }

  QBrush penBrush() const {
    const GdiPen &p = pen();
    // An unknown hatch paints the pen colour, as it does for a brush.
    if (p.extended && p.brushStyle == BS_HATCHED && p.hatch <= HS_DIAGCROSS)
      return texture(hatchImage(p.hatch, p.color, dc_.bkColor, dc_.bkMode == OPAQUE));
    if (p.extended && !p.pattern.isNull() &&
        (p.brushStyle == BS_DIBPATTERNPT || p.brushStyle == BS_DIBPATTERN || p.brushStyle == BS_PATTERN))
      return texture(p.pattern);
    return QBrush(QColor::fromRgb(p.color));
  }

  QBrush texture(const QImage &image) const {
    QBrush b(image);
    b.setTransform(QTransform::fromTranslate(dc_.brushOrg.x(), dc_.brushOrg.y()));
    return b;
  }

  QPen makePen(bool forGap = false) const {
    const GdiPen &gp = pen();
    const double w = penWidthPx();
    QPen qp(forGap ? QBrush(QColor::fromRgb(dc_.bkColor)) : penBrush(), w <= 1.0 ? 0.0 : w);
    const bool geometric = w > 1.0;
    if (!geometric) {
      qp.setCapStyle(Qt::FlatCap);
      qp.setJoinStyle(Qt::MiterJoin);
    } else if (gp.extended) {
      switch (gp.style & PS_ENDCAP_MASK) {
      case PS_ENDCAP_SQUARE:
        qp.setCapStyle(Qt::SquareCap);
        break;
      case PS_ENDCAP_FLAT:
        qp.setCapStyle(Qt::FlatCap);
        break;
      default:
        qp.setCapStyle(Qt::RoundCap);
      }
      switch (gp.style & PS_JOIN_MASK) {
      case PS_JOIN_BEVEL:
        qp.setJoinStyle(Qt::BevelJoin);
        break;
      case PS_JOIN_MITER:
        qp.setJoinStyle(Qt::MiterJoin);
        qp.setMiterLimit(std::clamp<double>(dc_.miterLimit, 1.0, 100.0));
        break;
      default:
        qp.setJoinStyle(Qt::RoundJoin);
      }
    } else {
      qp.setCapStyle(Qt::RoundCap);
      qp.setJoinStyle(Qt::RoundJoin);
    }
    if (forGap)
      return qp;
    QList<qreal> dashes;
    uint32_t ds = gp.dashStyle();
    if (!gp.extended && gp.width > 1 && ds >= PS_DASH && ds <= PS_DASHDOTDOT)
      ds = PS_SOLID; // pens of the simple kind wider than one unit draw their styles solid
    if (geometric) {
      switch (ds) {
      case PS_DASH:
        dashes = {3, 1};
        break;
      case PS_DOT:
        dashes = {1, 1};
        break;
      case PS_DASHDOT:
        dashes = {3, 1, 1, 1};
        break;
      case PS_DASHDOTDOT:
        dashes = {3, 1, 1, 1, 1, 1};
        break;
      default:
        break;
      }
    } else {
      switch (ds) {
      case PS_DASH:
        dashes = {18, 6};
        break;
      case PS_DOT:
        dashes = {3, 3};
        break;
      case PS_DASHDOT:
        dashes = {9, 6, 3, 6};
        break;
      case PS_DASHDOTDOT:
        dashes = {9, 3, 3, 3, 3, 3};
        break;
      case PS_ALTERNATE:
        dashes = {1, 1};
        break;
      default:
        break;
      }
    }
    if (ds == PS_USERSTYLE && !gp.styleEntries.empty()) {
      // Entries are in logical units for geometric pens (Qt measures dashes in pen widths), pixels otherwise.
      const double unit = geometric && gp.width > 0 ? 1.0 / gp.width : 1.0;
      for (uint32_t e : gp.styleEntries)
        dashes.append(std::max(0.0, std::min(double(e) * unit, 1e6)));
      if (dashes.size() % 2)
        dashes.append(dashes.back());
      bool any = false;
      for (qreal d : dashes)
        any = any || d > 0;
      if (!any)
        dashes.clear();
    }
    if (!dashes.isEmpty()) {
      if (geometric && qp.capStyle() != Qt::FlatCap) {
        // Caps grow each dash by half a width at both ends; keep the period by shortening the dashes.
        for (qsizetype i = 0; i + 1 < dashes.size(); i += 2) {
          dashes[i] = std::max(0.0, dashes[i] - 1.0);
          dashes[i + 1] += 1.0;
        }
      }
      qp.setDashPattern(dashes);
    }
    return qp;
  }

  bool styledPen() const {
    const uint32_t ds = pen().dashStyle();
    return ds == PS_DASH || ds == PS_DOT || ds == PS_DASHDOT || ds == PS_DASHDOTDOT || ds == PS_ALTERNATE ||
           ds == PS_USERSTYLE;
  }

  QBrush makeBrush() const {
    const GdiBrush &b = brush();
    switch (b.style) {
    case BS_SOLID:
      return QBrush(QColor::fromRgb(b.color));
    case BS_HATCHED:
      return texture(hatchImage(b.hatch, b.color, dc_.bkColor, dc_.bkMode == OPAQUE));
    case BS_PATTERN:
    case BS_MONOPATTERN:
      if (!b.monoIndices.isNull()) {
        DecodedDib d;
        d.monochrome = true;
        d.indices = b.monoIndices;
        d.image = b.pattern;
        return texture(recolorMonochrome(d, dc_.textColor, dc_.bkColor));
      }
      [[fallthrough]];
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
      if (!b.pattern.isNull())
        return texture(b.pattern);
      return QBrush(QColor::fromRgb(b.color));
    default:
      return QBrush(Qt::NoBrush);
    }
  }

  // ---- the drawing primitives, in target pixels ----
  void fillTarget(const QPainterPath &path, const QBrush &br) {
    if (path.isEmpty() || !pathFinite(path) || br.style() == Qt::NoBrush)
      return;
    if (!applyClip())
      return;
    painter_.setCompositionMode(rop2Mode(dc_.rop2));
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(br);
    painter_.drawPath(path);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  void fillPathWithBrush(const QPainterPath &path) {
    if (hasBrush())
      fillTarget(path, makeBrush());
  }
  // Strokes a path whose points are GDI device points (pixel (x, y) is at x, y).
  void strokeTarget(const QPainterPath &devPath) {
    if (!hasPen() || devPath.isEmpty() || !pathFinite(devPath))
      return;
    const GdiPen &gp = pen();
    QPainterPath path = devPath.translated(pixelCentre());
    if (!applyClip())
      return;
    painter_.setCompositionMode(rop2Mode(dc_.rop2));
    painter_.setBrush(Qt::NoBrush);
    if (dc_.bkMode == OPAQUE && styledPen() && !gp.geometric()) {
      painter_.setPen(makePen(true));
      painter_.drawPath(path);
    }
    painter_.setPen(makePen());
    if (gp.dashStyle() == PS_INSIDEFRAME && penWidthPx() > 1.0) {
      // Inside-frame pens keep their whole width inside the figure's bounds.
      const QRectF b = path.boundingRect();
      const double w = penWidthPx();
      if (b.width() > w && b.height() > w) {
        QTransform shrink;
        shrink.translate(b.center().x(), b.center().y());
        shrink.scale((b.width() - w) / b.width(), (b.height() - w) / b.height());
        shrink.translate(-b.center().x(), -b.center().y());
        path = shrink.map(path);
      }
    }
    painter_.drawPath(path);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  void strokePolyline(const QPolygonF &devPoly) {
    if (devPoly.size() < 2 || !hasPen())
      return;
    QPainterPath pp;
    pp.addPolygon(devPoly);
    strokeTarget(pp);
  }
  Qt::FillRule fillRule() const { return dc_.polyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill; }

  // A figure: either added to the open path or filled and outlined now.
  void figure(QPainterPath devPath, bool closed) {
    if (dc_.pathOpen) {
      dc_.path.addPath(devPath);
      pathNeedsMove_ = true;
      return;
    }
    if (closed) {
      devPath.setFillRule(fillRule());
      const QPainterPath area = boxIndices_ ? devPath.translated(1, 0) : devPath;
      if (hasPen() && hasBrush() && dc_.rop2 != R2_COPYPEN && pathFinite(devPath) && devPath.elementCount() < 5000) {
        // Under a mixing operation each pixel is combined once: the interior stops where the wide outline begins.
        QPainterPathStroker stroker;
        stroker.setWidth(penWidthPx());
        QPainterPath inner = area.subtracted(stroker.createStroke(devPath.translated(pixelCentre())));
        inner.setFillRule(fillRule());
        fillPathWithBrush(inner);
      } else {
        fillPathWithBrush(area);
      }
    }
    strokeTarget(devPath);
  }

  // ---- points ----
  template <bool Short> bool readPoints(Reader &r, uint32_t count, QPolygonF &out) {
    const size_t each = Short ? 4 : 8;
    if (count > kMaxPoints || !r.has(size_t(count) * each))
      return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      double x, y;
      if constexpr (Short) {
        x = r.i16();
        y = r.i16();
      } else {
        x = r.i32();
        y = r.i32();
      }
      out[i] = toTarget(QPointF(x, y));
    }
    return r.ok();
  }

  // ---- the record dispatch ----
  void play(uint32_t type, Reader &r);

  // drawing records
  void polyRecord(uint32_t type, Reader &r);
  void polyPolyRecord(uint32_t type, Reader &r);
  void polyDraw(uint32_t type, Reader &r);
  void lineTo(Reader &r);
  void boxRecord(uint32_t type, Reader &r);
  void arcRecord(uint32_t type, Reader &r);
  void angleArc(Reader &r);
  void setPixel(Reader &r);
  // objects
  void createPen(Reader &r);
  void extCreatePen(Reader &r, std::span<const uint8_t> rec);
  void createBrush(Reader &r);
  void createDibBrush(uint32_t type, Reader &r, std::span<const uint8_t> rec);
  void createFont(Reader &r);
  void createPalette(Reader &r);
  void selectObject(Reader &r);
  void deleteObject(Reader &r);
  bool storeObject(uint32_t index, GdiObject obj);
  // paths and clipping
  void pathRecord(uint32_t type);
  void selectClipPath(Reader &r);
  void clipRect(uint32_t type, Reader &r);
  void extSelectClipRgn(Reader &r);
  void offsetClip(Reader &r);
  bool readRegion(Reader &r, uint32_t cb, const QTransform &m, QRegion &out);
  void regionRecord(uint32_t type, Reader &r);
  // text
  void extTextOut(uint32_t type, Reader &r);
  void textItem(Reader &r, bool wide, const std::span<const uint8_t> rec, uint32_t emrTextPos);
  void smallTextOut(Reader &r);
  void polyTextOut(uint32_t type, Reader &r);
  void outputText(QPointF refLogical, const QString &text, const std::vector<quint32> *glyphs, uint32_t options,
                  const Rectl *rcl, const std::vector<int32_t> *dx, bool pdy);
  // bitmaps
  void bitmapRecord(uint32_t type, Reader &r);
  void gradientFill(Reader &r);
  struct BlitArgs {
    double xDest = 0, yDest = 0, cxDest = 0, cyDest = 0;
    int32_t xSrc = 0, ySrc = 0, cxSrc = 0, cySrc = 0;
    uint32_t rop = SRCCOPY;
    uint32_t usage = DIB_RGB_COLORS;
    std::span<const uint8_t> bmi, bits;
    bool keepAlpha = false;
    bool bottomUpSrcY = false; // ySrc counts from the bottom row (StretchDIBits and SetDIBitsToDevice)
  };
  bool pageEdgeCut(QRect &dst, QRect &src, bool mirrorX, bool mirrorY, QPoint &maskOrigin) const;
  void blit(const BlitArgs &a, uint32_t type, const BlendFunction *blend, const uint32_t *transparent,
            const DecodedDib *mask, QPoint maskOrigin);
  // Draws srcRect of a bitmap through the painter with transform m (source pixels to target pixels).
  void drawTransformed(const DibRows &dib, const QRect &srcRect, QTransform m);
  // A COLORREF as drawn on a true-colour device: a palette index (high byte 1) takes that entry of the selected
  // palette (its first entry for an index past its end), a palette-relative colour (high byte 2) is its RGB value.
  QRgb color(uint32_t c) const {
    if ((c >> 24) == 1) {
      const std::vector<QRgb> pal = paletteEntries();
      if (pal.empty())
        return 0;
      const size_t i = c & 0xffff;
      return pal[i < pal.size() ? i : 0] | 0xff000000;
    }
    return colorRef(c);
  }
  std::vector<QRgb> paletteEntries() const {
    if (dc_.palette)
      if (auto *p = std::get_if<GdiPalette>(dc_.palette.get()))
        return p->entries;
    return {};
  }
  std::span<const uint8_t> recordBytes_;
};

void Player::play(uint32_t type, Reader &r) {
  recordBytes_ = r.data();
  switch (type) {
  case EMR_HEADER:
  case EMR_EOF:
    return;
  // ---- state ----
  case EMR_SETMAPMODE: {
    const int32_t m = r.i32();
    if (r.ok()) {
      setMapMode(dc_, m, fm_);
      updateXf();
    }
    return;
  }
  case EMR_SETWINDOWEXTEX:
  case EMR_SETVIEWPORTEXTEX: {
    const int32_t cx = r.i32(), cy = r.i32();
    if (!r.ok())
      return;
    if (type == EMR_SETWINDOWEXTEX)
      setWindowExt(dc_, QSize(cx, cy), fm_);
    else
      setViewportExt(dc_, QSize(cx, cy), fm_);
    updateXf();
    return;
  }
  case EMR_SETWINDOWORGEX:
  case EMR_SETVIEWPORTORGEX: {
    const int32_t x = r.i32(), y = r.i32();
    if (!r.ok())
      return;
    (type == EMR_SETWINDOWORGEX ? dc_.windowOrg : dc_.viewportOrg) = QPoint(x, y);
    updateXf();
    return;
  }
  case EMR_SCALEVIEWPORTEXTEX:
  case EMR_SCALEWINDOWEXTEX: {
    const int32_t xn = r.i32(), xd = r.i32(), yn = r.i32(), yd = r.i32();
    if (!r.ok())
      return;
    if (type == EMR_SCALEWINDOWEXTEX)
      scaleWindowExt(dc_, xn, xd, yn, yd, fm_);
    else
      scaleViewportExt(dc_, xn, xd, yn, yd, fm_);
    updateXf();
    return;
  }
  case EMR_SETWORLDTRANSFORM: {
    const QTransform t = readXform(r);
    if (r.ok() && finiteTransform(t) && t.isInvertible()) {
      dc_.world = t;
      updateXf();
    }
    return;
  }
  case EMR_MODIFYWORLDTRANSFORM: {
    const QTransform t = readXform(r);
    const uint32_t mode = r.u32();
    if (!r.ok() || !finiteTransform(t))
      return;
    switch (mode) {
    case MWT_IDENTITY:
      dc_.world = QTransform();
      break;
    case MWT_LEFTMULTIPLY:
      dc_.world = t * dc_.world;
      break;
    case MWT_RIGHTMULTIPLY:
      dc_.world = dc_.world * t;
      break;
    case MWT_SET:
      dc_.world = t;
      break;
    default:
      return;
    }
    if (!finiteTransform(dc_.world) || !dc_.world.isInvertible())
      dc_.world = QTransform();
    updateXf();
    return;
  }
  case EMR_SETBRUSHORGEX: {
    const int32_t x = r.i32(), y = r.i32();
    if (r.ok()) {
      // The brush origin is in reference-device pixels; patterns are aligned in target pixels.
      const QPointF t = fm_.deviceToTarget.map(QPointF(x, y));
      dc_.brushOrg =
          QPoint(int(std::lround(std::clamp(t.x(), -1e9, 1e9))), int(std::lround(std::clamp(t.y(), -1e9, 1e9))));
    }
    return;
  }
  case EMR_SETTEXTCOLOR:
  case EMR_SETBKCOLOR: {
    const uint32_t c = r.u32();
    if (r.ok())
      (type == EMR_SETTEXTCOLOR ? dc_.textColor : dc_.bkColor) = color(c);
    return;
  }
  case EMR_SETBKMODE: {
    const uint32_t m = r.u32();
    if (r.ok() && (m == TRANSPARENT || m == OPAQUE))
      dc_.bkMode = int(m);
    return;
  }
  case EMR_SETPOLYFILLMODE: {
    const uint32_t m = r.u32();
    if (r.ok() && (m == ALTERNATE || m == WINDING))
      dc_.polyFillMode = int(m);
    return;
  }
  case EMR_SETROP2: {
    const uint32_t m = r.u32();
    if (r.ok() && m >= 1 && m <= 16)
      dc_.rop2 = int(m);
    return;
  }
  case EMR_SETSTRETCHBLTMODE: {
    const uint32_t m = r.u32();
    if (r.ok() && m >= 1 && m <= 4)
      dc_.stretchMode = int(m);
    return;
  }
  case EMR_SETTEXTALIGN: {
    const uint32_t a = r.u32();
    if (r.ok())
      dc_.textAlign = a;
    return;
  }
  case EMR_SETARCDIRECTION: {
    const uint32_t d = r.u32();
    if (r.ok() && (d == AD_COUNTERCLOCKWISE || d == AD_CLOCKWISE))
      dc_.arcDirection = int(d);
    return;
  }
  case EMR_SETMITERLIMIT: {
    const uint32_t raw = r.u32();
    if (!r.ok())
      return;
    // Stored as a float by most producers; an integer-looking value is taken as an integer.
    float f;
    std::memcpy(&f, &raw, 4);
    double v = (raw < 0x10000) ? double(raw) : double(f);
    if (std::isfinite(v) && v >= 1.0)
      dc_.miterLimit = float(std::min(v, 1000.0));
    return;
  }
  case EMR_SETLAYOUT: {
    const uint32_t l = r.u32();
    if (r.ok()) {
      dc_.layout = l;
      applyLayout();
    }
    return;
  }
  case EMR_MOVETOEX: {
    const int32_t x = r.i32(), y = r.i32();
    if (!r.ok())
      return;
    dc_.currentPos = QPoint(x, y);
    if (dc_.pathOpen) {
      dc_.path.moveTo(toTarget(dc_.currentPos));
      pathNeedsMove_ = false;
    }
    return;
  }
  case EMR_SAVEDC:
    if (saved_.size() < kMaxSaveDepth)
      saved_.push_back(dc_);
    return;
  case EMR_RESTOREDC: {
    const int32_t n = r.i32();
    if (!r.ok() || n == 0)
      return;
    int64_t level = n < 0 ? int64_t(saved_.size()) + n : int64_t(n) - 1;
    if (level < 0 || level >= int64_t(saved_.size()))
      return;
    dc_ = saved_[size_t(level)];
    saved_.resize(size_t(level));
    applyLayout();
    return;
  }
  // ---- objects ----
  case EMR_CREATEPEN:
    createPen(r);
    return;
  case EMR_EXTCREATEPEN:
    extCreatePen(r, r.data());
    return;
  case EMR_CREATEBRUSHINDIRECT:
    createBrush(r);
    return;
  case EMR_CREATEDIBPATTERNBRUSHPT:
  case EMR_CREATEMONOBRUSH:
    createDibBrush(type, r, r.data());
    return;
  case EMR_EXTCREATEFONTINDIRECTW:
    createFont(r);
    return;
  case EMR_CREATEPALETTE:
    createPalette(r);
    return;
  case EMR_SELECTOBJECT:
  case EMR_SELECTPALETTE:
    selectObject(r);
    return;
  case EMR_DELETEOBJECT:
    deleteObject(r);
    return;
  case EMR_REALIZEPALETTE:
  case EMR_SETPALETTEENTRIES:
  case EMR_RESIZEPALETTE:
    return;
  // ---- drawing ----
  case EMR_POLYBEZIER:
  case EMR_POLYGON:
  case EMR_POLYLINE:
  case EMR_POLYBEZIERTO:
  case EMR_POLYLINETO:
  case EMR_POLYBEZIER16:
  case EMR_POLYGON16:
  case EMR_POLYLINE16:
  case EMR_POLYBEZIERTO16:
  case EMR_POLYLINETO16:
    polyRecord(type, r);
    return;
  case EMR_POLYPOLYLINE:
  case EMR_POLYPOLYGON:
  case EMR_POLYPOLYLINE16:
  case EMR_POLYPOLYGON16:
    polyPolyRecord(type, r);
    return;
  case EMR_POLYDRAW:
  case EMR_POLYDRAW16:
    polyDraw(type, r);
    return;
  case EMR_LINETO:
    lineTo(r);
    return;
  case EMR_RECTANGLE:
  case EMR_ELLIPSE:
  case EMR_ROUNDRECT:
    boxRecord(type, r);
    return;
  case EMR_ARC:
  case EMR_ARCTO:
  case EMR_CHORD:
  case EMR_PIE:
    arcRecord(type, r);
    return;
  case EMR_ANGLEARC:
    angleArc(r);
    return;
  case EMR_SETPIXELV:
    setPixel(r);
    return;
  case EMR_FILLRGN:
  case EMR_FRAMERGN:
  case EMR_INVERTRGN:
  case EMR_PAINTRGN:
    regionRecord(type, r);
    return;
  case EMR_GRADIENTFILL:
    gradientFill(r);
    return;
  // ---- paths ----
  case EMR_BEGINPATH:
  case EMR_ENDPATH:
  case EMR_CLOSEFIGURE:
  case EMR_FILLPATH:
  case EMR_STROKEPATH:
  case EMR_STROKEANDFILLPATH:
  case EMR_ABORTPATH:
  case EMR_FLATTENPATH:
  case EMR_WIDENPATH:
    pathRecord(type);
    return;
  case EMR_SELECTCLIPPATH:
    selectClipPath(r);
    return;
  // ---- clipping ----
  case EMR_INTERSECTCLIPRECT:
  case EMR_EXCLUDECLIPRECT:
    clipRect(type, r);
    return;
  case EMR_EXTSELECTCLIPRGN:
    extSelectClipRgn(r);
    return;
  case EMR_OFFSETCLIPRGN:
    offsetClip(r);
    return;
  case EMR_SETMETARGN:
    dc_.meta = effectiveClip(dc_);
    dc_.clip.reset();
    return;
  // ---- text ----
  case EMR_EXTTEXTOUTA:
  case EMR_EXTTEXTOUTW:
    extTextOut(type, r);
    return;
  case EMR_SMALLTEXTOUT:
    smallTextOut(r);
    return;
  case EMR_POLYTEXTOUTA:
  case EMR_POLYTEXTOUTW:
    polyTextOut(type, r);
    return;
  // ---- bitmaps ----
  case EMR_BITBLT:
  case EMR_STRETCHBLT:
  case EMR_STRETCHDIBITS:
  case EMR_SETDIBITSTODEVICE:
  case EMR_MASKBLT:
  case EMR_PLGBLT:
  case EMR_ALPHABLEND:
  case EMR_TRANSPARENTBLT:
    bitmapRecord(type, r);
    return;
  default:
    // Comments (EMF+ included), escapes, colour management and anything unknown draw nothing.
    return;
  }
}

// ---- objects ----

bool Player::storeObject(uint32_t index, GdiObject obj) {
  if (index == 0 || index >= handles_.size() || (index & STOCK_OBJECT_FLAG))
    return false;
  handles_[index] = std::make_shared<const GdiObject>(std::move(obj));
  return true;
}

void Player::createPen(Reader &r) {
  const uint32_t index = r.u32();
  GdiPen p;
  p.style = r.u32();
  p.width = r.i32();
  r.i32(); // the y of the width point is unused
  p.color = color(r.u32());
  if (r.ok())
    storeObject(index, std::move(p));
}

void Player::extCreatePen(Reader &r, std::span<const uint8_t> rec) {
  const uint32_t index = r.u32();
  const uint32_t offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
  GdiPen p;
  p.extended = true;
  p.style = r.u32();
  p.width = int32_t(std::min<uint32_t>(r.u32(), 1u << 24));
  p.brushStyle = r.u32();
  p.color = color(r.u32());
  p.hatch = uint32_t(r.u32());
  const uint32_t numEntries = r.u32();
  if (!r.ok())
    return;
  if (numEntries > 0 && numEntries <= 64 && r.has(size_t(numEntries) * 4))
    for (uint32_t i = 0; i < numEntries; ++i)
      p.styleEntries.push_back(r.u32());
  if (cbBmi > 0 && (p.brushStyle == BS_DIBPATTERNPT || p.brushStyle == BS_DIBPATTERN || p.brushStyle == BS_PATTERN)) {
    Reader whole(rec);
    auto bmi = whole.bytesAt(offBmi, cbBmi);
    auto bits = whole.bytesAt(offBits, cbBits);
    if (whole.ok()) {
      const DecodedDib d = cache_.whole().get(bmi, bits, DIB_RGB_COLORS);
      if (!d.isNull())
        p.pattern = d.image.convertToFormat(QImage::Format_RGB32);
    }
  }
  storeObject(index, std::move(p));
}

void Player::createBrush(Reader &r) {
  const uint32_t index = r.u32();
  GdiBrush b;
  b.style = r.u32();
  b.color = color(r.u32());
  b.hatch = r.u32();
  if (!r.ok())
    return;
  if (b.style != BS_SOLID && b.style != BS_NULL && b.style != BS_HATCHED)
    b.style = BS_SOLID; // other styles cannot be made from this record
  if (b.style == BS_HATCHED && b.hatch > HS_DIAGCROSS)
    b.style = BS_SOLID; // an unknown hatch paints the brush colour
  storeObject(index, std::move(b));
}

void Player::createDibBrush(uint32_t type, Reader &r, std::span<const uint8_t> rec) {
  const uint32_t index = r.u32();
  const uint32_t usage = r.u32();
  const uint32_t offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
  if (!r.ok())
    return;
  Reader whole(rec);
  auto bmi = whole.bytesAt(offBmi, cbBmi);
  auto bits = whole.bytesAt(offBits, cbBits);
  if (!whole.ok())
    return;
  const std::vector<QRgb> pal = paletteEntries();
  const DecodedDib d = cache_.whole().get(bmi, bits, type == EMR_CREATEMONOBRUSH ? DIB_RGB_COLORS : usage, pal);
  if (d.isNull())
    return;
  GdiBrush b;
  if (type == EMR_CREATEMONOBRUSH && d.monochrome) {
    b.style = BS_MONOPATTERN;
    b.monoIndices = d.indices;
    b.pattern = d.image;
  } else {
    b.style = BS_DIBPATTERNPT;
    b.pattern = d.image.convertToFormat(QImage::Format_RGB32);
  }
  storeObject(index, std::move(b));
}

void Player::createFont(Reader &r) {
  const uint32_t index = r.u32();
  GdiFont f;
  f.height = r.i32();
  f.width = r.i32();
  f.escapement = r.i32();
  f.orientation = r.i32();
  f.weight = r.i32();
  f.italic = r.u8();
  f.underline = r.u8();
  f.strikeOut = r.u8();
  f.charSet = r.u8();
  r.u8(); // out precision
  r.u8(); // clip precision
  r.u8(); // quality
  f.pitchAndFamily = r.u8();
  char16_t face[32];
  for (char16_t &c : face)
    c = r.u16();
  if (!r.ok())
    return;
  int len = 0;
  while (len < 32 && face[len])
    ++len;
  f.face = QString::fromUtf16(face, len);
  // Negative zero heights and absurd sizes are kept within reason.
  f.height = std::clamp(f.height, -1000000, 1000000);
  f.width = std::clamp(f.width, -1000000, 1000000);
  storeObject(index, std::move(f));
}

void Player::createPalette(Reader &r) {
  const uint32_t index = r.u32();
  r.u16(); // version
  const uint16_t n = r.u16();
  if (!r.ok() || !r.has(size_t(n) * 4))
    return;
  GdiPalette p;
  for (uint16_t i = 0; i < n; ++i) {
    const uint8_t red = r.u8(), green = r.u8(), blue = r.u8();
    r.u8();
    p.entries.push_back(qRgb(red, green, blue));
  }
  storeObject(index, std::move(p));
}

void Player::selectObject(Reader &r) {
  const uint32_t index = r.u32();
  if (!r.ok())
    return;
  ObjectRef obj;
  if (index & STOCK_OBJECT_FLAG)
    obj = stockObject(index & ~STOCK_OBJECT_FLAG);
  else if (index < handles_.size())
    obj = handles_[index];
  if (!obj)
    return;
  if (std::holds_alternative<GdiPen>(*obj))
    dc_.pen = obj;
  else if (std::holds_alternative<GdiBrush>(*obj))
    dc_.brush = obj;
  else if (std::holds_alternative<GdiFont>(*obj))
    dc_.font = obj;
  else if (std::holds_alternative<GdiPalette>(*obj))
    dc_.palette = obj;
}

void Player::deleteObject(Reader &r) {
  const uint32_t index = r.u32();
  if (r.ok() && index > 0 && index < handles_.size())
    handles_[index].reset(); // a selected object stays in use until something else is selected
}

// ---- drawing ----

void Player::polyRecord(uint32_t type, Reader &r) {
  const bool isShort = type >= EMR_POLYBEZIER16 && type <= EMR_POLYLINETO16;
  r.skip(16); // bounds
  const uint32_t count = r.u32();
  QPolygonF pts;
  if (!r.ok() || !(isShort ? readPoints<true>(r, count, pts) : readPoints<false>(r, count, pts)))
    return;
  const uint32_t base = isShort ? type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : type;
  const QPointF cp = toTarget(dc_.currentPos);
  QPainterPath path;
  switch (base) {
  case EMR_POLYLINE:
  case EMR_POLYGON:
    if (pts.size() < 2)
      return;
    path.addPolygon(pts);
    if (base == EMR_POLYGON)
      path.closeSubpath();
    figure(path, base == EMR_POLYGON);
    return;
  case EMR_POLYBEZIER:
    if (pts.size() < 4 || (pts.size() - 1) % 3 != 0)
      return;
    path.moveTo(pts[0]);
    for (qsizetype i = 1; i + 2 < pts.size(); i += 3)
      path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    figure(path, false);
    return;
  case EMR_POLYLINETO:
  case EMR_POLYBEZIERTO: {
    if (pts.isEmpty())
      return;
    const bool bez = base == EMR_POLYBEZIERTO;
    if (bez && pts.size() % 3 != 0)
      return;
    if (dc_.pathOpen) {
      if (pathNeedsMove_ || dc_.path.elementCount() == 0)
        dc_.path.moveTo(cp);
      pathNeedsMove_ = false;
      if (bez)
        for (qsizetype i = 0; i + 2 < pts.size(); i += 3)
          dc_.path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
      else
        for (const QPointF &p : pts)
          dc_.path.lineTo(p);
    } else {
      path.moveTo(cp);
      if (bez)
        for (qsizetype i = 0; i + 2 < pts.size(); i += 3)
          path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
      else
        for (const QPointF &p : pts)
          path.lineTo(p);
      strokeTarget(path);
    }
    // The current position is the last point, in logical units.
    Reader again(r.data());
    again.seek(r.pos() - (isShort ? 4 : 8));
    const int32_t x = isShort ? again.i16() : again.i32();
    const int32_t y = isShort ? again.i16() : again.i32();
    if (again.ok())
      dc_.currentPos = QPoint(x, y);
    return;
  }
  default:
    return;
  }
}

void Player::polyPolyRecord(uint32_t type, Reader &r) {
  const bool isShort = type == EMR_POLYPOLYLINE16 || type == EMR_POLYPOLYGON16;
  const bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
  r.skip(16);
  const uint32_t nPolys = r.u32();
  const uint32_t total = r.u32();
  if (!r.ok() || nPolys > kMaxPolys || total > kMaxPoints || !r.has(size_t(nPolys) * 4))
    return;
  std::vector<uint32_t> counts(nPolys);
  uint64_t sum = 0;
  for (uint32_t &c : counts) {
    c = r.u32();
    sum += c;
  }
  if (sum > total)
    return;
  QPolygonF pts;
  if (!(isShort ? readPoints<true>(r, total, pts) : readPoints<false>(r, total, pts)))
    return;
  QPainterPath path;
  path.setFillRule(fillRule());
  qsizetype at = 0;
  for (uint32_t c : counts) {
    if (c >= 2) {
      path.addPolygon(pts.mid(at, c));
      if (polygon)
        path.closeSubpath();
    }
    at += c;
  }
  figure(path, polygon);
}

void Player::polyDraw(uint32_t type, Reader &r) {
  const bool isShort = type == EMR_POLYDRAW16;
  r.skip(16);
  const uint32_t count = r.u32();
  QPolygonF pts;
  if (!r.ok() || !(isShort ? readPoints<true>(r, count, pts) : readPoints<false>(r, count, pts)) || !r.has(count))
    return;
  std::vector<uint8_t> types(count);
  for (uint8_t &t : types)
    t = r.u8();
  // The logical points again, for the current position.
  QPainterPath path;
  QPointF cp = toTarget(dc_.currentPos);
  path.moveTo(cp);
  QPointF figureStart = cp;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t t = types[i] & ~PT_CLOSEFIGURE;
    if (t == PT_MOVETO) {
      path.moveTo(pts[i]);
      figureStart = pts[i];
    } else if (t == PT_LINETO) {
      path.lineTo(pts[i]);
    } else if (t == PT_BEZIERTO && i + 2 < count) {
      path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
      i += 2;
    } else {
      return; // an invalid type ends the record without drawing, as GDI refuses it
    }
    if (types[i] & PT_CLOSEFIGURE)
      path.lineTo(figureStart), path.moveTo(figureStart);
  }
  if (count > 0) {
    const QPointF last = pts[count - 1];
    const QTransform inv = xf_.inverted();
    const QPointF l = inv.map(last);
    dc_.currentPos =
        QPoint(int(std::lround(std::clamp(l.x(), -2e9, 2e9))), int(std::lround(std::clamp(l.y(), -2e9, 2e9))));
  }
  if (dc_.pathOpen) {
    dc_.path.addPath(path);
    return;
  }
  strokeTarget(path);
}

void Player::lineTo(Reader &r) {
  const int32_t x = r.i32(), y = r.i32();
  if (!r.ok())
    return;
  const QPointF from = toTarget(dc_.currentPos);
  const QPointF to = toTarget(QPointF(x, y));
  dc_.currentPos = QPoint(x, y);
  if (dc_.pathOpen) {
    if (pathNeedsMove_ || dc_.path.elementCount() == 0)
      dc_.path.moveTo(from);
    pathNeedsMove_ = false;
    dc_.path.lineTo(to);
    return;
  }
  QPainterPath path;
  path.moveTo(from);
  path.lineTo(to);
  strokeTarget(path);
}

void Player::boxRecord(uint32_t type, Reader &r) {
  const Rectl box = readRectl(r);
  QSizeF corner;
  if (type == EMR_ROUNDRECT) {
    const int32_t cw = r.i32(), ch = r.i32();
    corner = QSizeF(cw, ch);
  }
  if (!r.ok())
    return;
  QPainterPath path;
  if (xf_.type() <= QTransform::TxScale) {
    // Right and bottom edges are excluded: the figure spans the pixels from the first corner to one before the
    // second.
    const QPointF a = toTarget(QPointF(box.left, box.top)), b = toTarget(QPointF(box.right, box.bottom));
    double l = std::round(std::min(a.x(), b.x())), rr = std::round(std::max(a.x(), b.x())) - 1;
    double t = std::round(std::min(a.y(), b.y())), bb = std::round(std::max(a.y(), b.y())) - 1;
    if (rr < l)
      rr = l;
    if (bb < t)
      bb = t;
    const QRectF rc(QPointF(l, t), QPointF(rr, bb));
    if (type == EMR_RECTANGLE)
      path.addRect(rc);
    else if (type == EMR_ELLIPSE)
      path.addEllipse(rc);
    else
      path.addRoundedRect(rc, std::abs(corner.width() * scaleX()) / 2, std::abs(corner.height() * scaleY()) / 2);
    boxIndices_ = rtl() && !dc_.pathOpen;
  } else {
    QPainterPath logical;
    const QRectF rc = QRectF(QPointF(box.left, box.top), QPointF(box.right, box.bottom)).normalized();
    if (type == EMR_RECTANGLE)
      logical.addRect(rc);
    else if (type == EMR_ELLIPSE)
      logical.addEllipse(rc);
    else
      logical.addRoundedRect(rc, std::abs(corner.width()) / 2, std::abs(corner.height()) / 2);
    path = xf_.map(logical);
  }
  path.closeSubpath();
  figure(path, true);
  boxIndices_ = false;
}

void Player::arcRecord(uint32_t type, Reader &r) {
  const Rectl box = readRectl(r);
  const int32_t sx = r.i32(), sy = r.i32(), ex = r.i32(), ey = r.i32();
  if (!r.ok())
    return;
  // The arc is built on the box in logical units and mapped; angles come from the radials through the points.
  const QRectF rc = QRectF(QPointF(box.left, box.top), QPointF(box.right, box.bottom)).normalized();
  if (rc.width() <= 0 || rc.height() <= 0)
    return;
  const QPointF c = rc.center();
  auto angleOf = [&](double px, double py) {
    const double nx = (px - c.x()) / (rc.width() / 2), ny = (py - c.y()) / (rc.height() / 2);
    return std::atan2(-ny, nx) * 180.0 / M_PI;
  };
  const double a0 = angleOf(sx, sy), a1 = angleOf(ex, ey);
  // Counter-clockwise as seen on the device; a mapping that flips one axis flips the direction in logical space.
  const bool flipped = (xf_.m11() * xf_.m22() - xf_.m12() * xf_.m21()) < 0;
  bool ccw = dc_.arcDirection == AD_COUNTERCLOCKWISE;
  if (flipped)
    ccw = !ccw;
  double sweep = ccw ? a1 - a0 : -(a0 - a1);
  if (ccw) {
    while (sweep <= 0)
      sweep += 360;
  } else {
    while (sweep >= 0)
      sweep -= 360;
  }
  QPainterPath logical;
  QPointF start;
  {
    QPainterPath tmp;
    tmp.arcMoveTo(rc, a0);
    start = tmp.currentPosition();
  }
  if (type == EMR_PIE) {
    logical.moveTo(c);
    logical.lineTo(start);
  } else if (type == EMR_ARCTO) {
    logical.moveTo(dc_.currentPos);
    logical.lineTo(start);
  } else {
    logical.moveTo(start);
  }
  logical.arcTo(rc, a0, sweep);
  if (type == EMR_PIE || type == EMR_CHORD)
    logical.closeSubpath();
  if (type == EMR_ARCTO) {
    const QPointF end = logical.currentPosition();
    dc_.currentPos = QPoint(toInt(end.x()), toInt(end.y()));
  }
  QPainterPath path = xf_.map(logical);
  if (type == EMR_ARCTO && dc_.pathOpen) {
    dc_.path.connectPath(path);
    return;
  }
  figure(path, type == EMR_PIE || type == EMR_CHORD);
}

void Player::angleArc(Reader &r) {
  const int32_t cx = r.i32(), cy = r.i32();
  const uint32_t radius = r.u32();
  const float start = r.f32(), sweep = r.f32();
  if (!r.ok() || !std::isfinite(start) || !std::isfinite(sweep) || radius > (1u << 30))
    return;
  const double rad = radius;
  const QRectF rc(cx - rad, cy - rad, 2 * rad, 2 * rad);
  QPainterPath logical;
  logical.moveTo(dc_.currentPos);
  const double s = std::fmod(double(start), 360.0);
  const double sw = std::clamp(double(sweep), -3600.0, 3600.0);
  QPainterPath tmp;
  tmp.arcMoveTo(rc, s);
  logical.lineTo(tmp.currentPosition());
  logical.arcTo(rc, s, sw);
  const QPointF end = logical.currentPosition();
  dc_.currentPos = QPoint(toInt(end.x()), toInt(end.y()));
  QPainterPath path = xf_.map(logical);
  if (dc_.pathOpen) {
    dc_.path.connectPath(path);
    return;
  }
  strokeTarget(path);
}

void Player::setPixel(Reader &r) {
  const int32_t x = r.i32(), y = r.i32();
  const uint32_t c = r.u32();
  if (!r.ok())
    return;
  const QPointF p = toTarget(QPointF(x, y));
  if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
    return;
  // One device pixel of the picture: with a supersampled target it covers the scaled pixel.
  const double sx = std::max(1.0, std::abs(fm_.deviceToTarget.m11())), sy = std::max(1.0, fm_.deviceToTarget.m22());
  // mirrored, the pixel's top-left corner lands on its right edge
  const double left = rtl() ? std::floor(p.x() - std::round(sx)) : std::floor(p.x());
  const QRectF px(left, std::floor(p.y()), std::round(sx), std::round(sy));
  if (!px.intersects(QRectF(img_.rect())))
    return;
  if (!applyClip())
    return;
  painter_.fillRect(px, QColor::fromRgb(color(c)));
}

// ---- paths and clipping ----

void Player::pathRecord(uint32_t type) {
  switch (type) {
  case EMR_BEGINPATH:
    dc_.path = QPainterPath();
    dc_.pathOpen = true;
    dc_.pathValid = false;
    pathNeedsMove_ = true;
    return;
  case EMR_ENDPATH:
    if (dc_.pathOpen) {
      dc_.pathOpen = false;
      dc_.pathValid = true;
    }
    return;
  case EMR_CLOSEFIGURE:
    if (dc_.pathOpen && dc_.path.elementCount() > 0) {
      dc_.path.closeSubpath();
      pathNeedsMove_ = true;
    }
    return;
  case EMR_ABORTPATH:
    dc_.path = QPainterPath();
    dc_.pathOpen = false;
    dc_.pathValid = false;
    return;
  default:
    break;
  }
  if (dc_.pathOpen || !dc_.pathValid)
    return;
  QPainterPath path = dc_.path;
  path.setFillRule(fillRule());
  switch (type) {
  case EMR_FILLPATH:
    fillPathWithBrush(path);
    break;
  case EMR_STROKEPATH:
    strokeTarget(path);
    break;
  case EMR_STROKEANDFILLPATH:
    fillPathWithBrush(path);
    strokeTarget(path);
    break;
  case EMR_FLATTENPATH: {
    QPainterPath flat;
    for (const QPolygonF &poly : path.toSubpathPolygons())
      flat.addPolygon(poly);
    dc_.path = flat;
    return; // the path stays
  }
  case EMR_WIDENPATH: {
    if (pen().isNull())
      return;
    QPainterPathStroker stroker(makePen());
    stroker.setWidth(penWidthPx());
    dc_.path = stroker.createStroke(path).simplified();
    return;
  }
  default:
    return;
  }
  dc_.path = QPainterPath();
  dc_.pathValid = false;
}

void Player::selectClipPath(Reader &r) {
  const int32_t mode = r.i32();
  if (!r.ok() || dc_.pathOpen || !dc_.pathValid)
    return;
  QPainterPath path = dc_.path;
  path.setFillRule(fillRule());
  QRegion rgn;
  if (pathFinite(path)) {
    const QPolygonF poly = path.toFillPolygon();
    QPolygon ip;
    ip.reserve(poly.size());
    for (const QPointF &p : poly)
      ip << QPoint(int(std::lround(p.x())), int(std::lround(p.y())));
    rgn = QRegion(ip, fillRule());
  }
  if (mode >= RGN_AND && mode <= RGN_COPY)
    combineClip(dc_, rgn, mode);
  dc_.path = QPainterPath();
  dc_.pathValid = false;
}

void Player::clipRect(uint32_t type, Reader &r) {
  const Rectl rc = readRectl(r);
  if (!r.ok())
    return;
  const QRegion rgn = logicalRectRegion(rc.left, rc.top, rc.right, rc.bottom, xf_);
  combineClip(dc_, rgn, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
}

bool Player::readRegion(Reader &r, uint32_t cb, const QTransform &m, QRegion &out) {
  if (cb < 32 || !r.has(cb))
    return false;
  const size_t start = r.pos();
  const uint32_t dwSize = r.u32();
  r.u32(); // type
  const uint32_t count = r.u32();
  r.u32(); // size of the rectangles
  r.skip(16);
  (void)dwSize;
  if (!r.ok() || count > kMaxRegionRects || size_t(count) * 16 > cb - 32)
    return false;
  std::vector<QRect> rects;
  rects.reserve(count);
  const bool simple = m.type() <= QTransform::TxScale;
  QRegion slow;
  for (uint32_t i = 0; i < count; ++i) {
    const Rectl rc = readRectl(r);
    if (simple) {
      const QRegion one = logicalRectRegion(rc.left, rc.top, rc.right, rc.bottom, m);
      if (!one.isEmpty())
        rects.push_back(one.boundingRect());
    } else {
      slow += logicalRectRegion(rc.left, rc.top, rc.right, rc.bottom, m);
    }
  }
  if (!r.ok())
    return false;
  r.seek(start + cb);
  if (simple) {
    // Pairwise unions keep the work near n log n whatever order and banding the file uses.
    std::vector<QRegion> parts;
    parts.reserve(rects.size());
    for (const QRect &q : rects)
      parts.emplace_back(q);
    while (parts.size() > 1) {
      std::vector<QRegion> next;
      next.reserve(parts.size() / 2 + 1);
      for (size_t i = 0; i + 1 < parts.size(); i += 2)
        next.push_back(parts[i].united(parts[i + 1]));
      if (parts.size() % 2)
        next.push_back(parts.back());
      parts.swap(next);
    }
    out = parts.empty() ? QRegion() : parts.front();
  } else {
    out = slow;
  }
  return true;
}

void Player::extSelectClipRgn(Reader &r) {
  const uint32_t cb = r.u32();
  const uint32_t mode = r.u32();
  if (!r.ok() || mode < RGN_AND || mode > RGN_COPY)
    return;
  if (cb == 0 || cb < 32) {
    // No region: only RGN_COPY is meaningful and resets the clip to the whole surface.
    if (mode == RGN_COPY)
      combineClip(dc_, std::nullopt, RGN_COPY);
    return;
  }
  QRegion rgn;
  // The region is in device units of the picture.
  if (!readRegion(r, cb, fm_.deviceToTarget, rgn))
    return;
  combineClip(dc_, rgn, int(mode));
}

void Player::offsetClip(Reader &r) {
  const int32_t x = r.i32(), y = r.i32();
  if (!r.ok() || !dc_.clip)
    return;
  const QPointF o = xf_.map(QPointF(x, y)) - xf_.map(QPointF(0, 0));
  if (!std::isfinite(o.x()) || !std::isfinite(o.y()) || std::abs(o.x()) > 1e8 || std::abs(o.y()) > 1e8)
    return;
  dc_.clip->translate(int(std::lround(o.x())), int(std::lround(o.y())));
}

void Player::regionRecord(uint32_t type, Reader &r) {
  r.skip(16); // bounds
  const uint32_t cb = r.u32();
  uint32_t brushIndex = 0;
  int32_t strokeW = 1, strokeH = 1;
  if (type == EMR_FILLRGN || type == EMR_FRAMERGN)
    brushIndex = r.u32();
  if (type == EMR_FRAMERGN) {
    strokeW = r.i32();
    strokeH = r.i32();
  }
  QRegion rgn;
  if (!r.ok() || !readRegion(r, cb, xf_, rgn) || dc_.rop2 == R2_NOP)
    return;
  ObjectRef brushObj = dc_.brush;
  if (type == EMR_FILLRGN || type == EMR_FRAMERGN) {
    brushObj = (brushIndex & STOCK_OBJECT_FLAG) ? stockObject(brushIndex & ~STOCK_OBJECT_FLAG)
               : brushIndex < handles_.size()   ? handles_[brushIndex]
                                                : nullptr;
    if (!brushObj || !std::holds_alternative<GdiBrush>(*brushObj))
      return;
  }
  if (!applyClip())
    return;
  if (type == EMR_INVERTRGN) {
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    for (const QRect &rc : rgn)
      painter_.fillRect(rc, Qt::black);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    return;
  }
  const ObjectRef keep = dc_.brush;
  dc_.brush = brushObj;
  const QBrush qb = makeBrush();
  dc_.brush = keep;
  if (qb.style() == Qt::NoBrush)
    return;
  if (type == EMR_FRAMERGN) {
    // The frame: the region minus itself shrunk by the stroke size on each side.
    const int w = std::clamp(toInt(std::abs(double(strokeW)) * scaleX()), 1, 1 << 20);
    const int h = std::clamp(toInt(std::abs(double(strokeH)) * scaleY()), 1, 1 << 20);
    QRegion inner = rgn;
    inner = inner.intersected(rgn.translated(w, 0)).intersected(rgn.translated(-w, 0));
    inner = inner.intersected(rgn.translated(0, h)).intersected(rgn.translated(0, -h));
    rgn = rgn.subtracted(inner);
  }
  painter_.setCompositionMode(rop2Mode(dc_.rop2));
  for (const QRect &rc : rgn)
    painter_.fillRect(rc, qb);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// ---- text ----

void Player::outputText(QPointF refLogical, const QString &text, const std::vector<quint32> *glyphs, uint32_t options,
                        const Rectl *rcl, const std::vector<int32_t> *dx, bool pdy) {
  const bool updateCp = dc_.textAlign & TA_UPDATECP;
  if (updateCp)
    refLogical = dc_.currentPos;
  const GdiFont &f = font();
  const double sy = scaleY(), sx = scaleX();
  const double heightPx = f.height == 0 ? 16 * fm_.deviceToTarget.m22() : f.height * sy;
  const double widthPx = f.width * sx;
  SizedFont sf = fonts_.resolve(f, heightPx, widthPx);
  // Glyphs of their natural width are that wide in reference-device pixels: a device whose pixels are not square
  // (more pixels per millimetre across than down, or fewer) draws them narrower or wider on the page.
  if (f.width == 0) {
    const double aspect = std::abs(fm_.deviceToTarget.m11()) / std::max(1e-9, std::abs(fm_.deviceToTarget.m22()));
    sf.stretch *= std::clamp(aspect, 0.01, 100.0);
  }
  // Text stays upright on the page: a mapping that flips the y axis turns the escapement the other way.
  if (xf_.m22() < 0)
    sf.angleDeg = -sf.angleDeg;
  std::vector<double> adx, ady;
  const size_t n = glyphs ? glyphs->size() : size_t(text.size());
  if (dx && !dx->empty()) {
    const size_t step = pdy ? 2 : 1;
    if (dx->size() >= n * step) {
      adx.resize(n);
      if (pdy)
        ady.resize(n);
      for (size_t i = 0; i < n; ++i) {
        adx[i] = (*dx)[i * step] * sx;
        if (pdy)
          ady[i] = -(*dx)[i * step + 1] * sy * (xf_.m22() < 0 ? -1 : 1);
      }
    }
  }
  const QPointF refT = toTarget(refLogical);
  if (!std::isfinite(refT.x()) || !std::isfinite(refT.y()) || std::abs(refT.x()) > kMaxCoord ||
      std::abs(refT.y()) > kMaxCoord)
    return;
  if (!updateCp && !dc_.pathOpen && !(rcl && (options & ETO_OPAQUE))) {
    // Text that cannot reach this image (another band of the page) is not even laid out: everything it draws lies
    // within its whole advance plus a few ems of the reference point, whatever the alignment and direction.
    const double em = sf.raw.isValid() ? sf.raw.pixelSize() : std::abs(heightPx);
    double reach = 0;
    if (!adx.empty()) {
      for (size_t i = 0; i < adx.size(); ++i)
        reach += std::abs(adx[i]) + (ady.empty() ? 0.0 : std::abs(ady[i]));
    } else {
      reach = double(n) * em * 2 * sf.stretch;
    }
    reach += 4 * em;
    // Under a rotating or shearing transform the glyph size in the target can exceed the vertical scale.
    if (!(xf_.type() <= QTransform::TxScale))
      reach *= 1 + std::max(sx, sy) / std::max(1e-9, std::min(sx, sy));
    const QRectF area(refT.x() - reach, refT.y() - reach, 2 * reach, 2 * reach);
    QRect limit = img_.rect();
    if (const auto c = effectiveClip(dc_))
      limit = limit.intersected(c->boundingRect());
    if (!area.intersects(QRectF(limit)))
      return;
  }
  TextLayout layout = layoutText(sf, text, glyphs, adx.empty() ? nullptr : &adx, ady.empty() ? nullptr : &ady);
  // A world transform that rotates, shears or mirrors turns the text with it: the glyphs are laid out at their
  // upright target size, brought back to logical units and mapped like every other figure.
  const bool upright = dc_.world.type() <= QTransform::TxScale && dc_.world.m11() > 0 && dc_.world.m22() > 0 &&
                       xf_.type() <= QTransform::TxScale && (rtl() ? xf_.m11() < 0 : xf_.m11() > 0);
  TextPlacement place;
  if (upright && rtl()) {
    // Right to left: the glyphs stay readable, the reference point is mirrored and the text runs from it the other
    // way (left and right alignment swap).
    uint32_t align = dc_.textAlign;
    const uint32_t h = align & TA_CENTER;
    if (h != TA_CENTER)
      align = (align & ~TA_CENTER) | (h == TA_RIGHT ? TA_LEFT : TA_RIGHT);
    place = placeText(sf, layout, refT, align);
  } else if (upright) {
    place = placeText(sf, layout, refT, dc_.textAlign);
  } else {
    const QTransform page = pageTransform(dc_) * fm_.deviceToTarget;
    const double k = std::max(1e-9, sy);
    const TextPlacement local = placeText(sf, layout, QPointF(0, 0), dc_.textAlign);
    place.box = local.box;
    place.toTarget = local.toTarget * QTransform::fromScale(1 / k, page.m22() < 0 ? -1 / k : 1 / k) *
                     QTransform::fromTranslate(refLogical.x(), refLogical.y()) * xf_;
    if (!finiteTransform(place.toTarget))
      return;
  }
  if (dc_.pathOpen) {
    // Inside a path bracket the glyph outlines join the path and nothing is drawn.
    dc_.path.addPath(textOutline(sf, layout, place));
    pathNeedsMove_ = true;
    return;
  }

  std::optional<QRegion> clip = effectiveClip(dc_);
  QRegion rclRegion;
  const bool haveRect = rcl && (options & (ETO_OPAQUE | ETO_CLIPPED));
  if (haveRect)
    rclRegion = logicalRectRegion(rcl->left, rcl->top, rcl->right, rcl->bottom, xf_);
  if (haveRect && (options & ETO_OPAQUE) && !rclRegion.isEmpty()) {
    if (applyClip())
      for (const QRect &rc : rclRegion)
        painter_.fillRect(rc, QColor::fromRgb(dc_.bkColor));
  }
  // Only text that can land on the image is drawn.
  const QRectF bounds = place.toTarget.mapRect(
      place.box.adjusted(-sf.raw.pixelSize(), -sf.raw.pixelSize(), sf.raw.pixelSize(), sf.raw.pixelSize()));
  QRegion textClip = clip ? *clip : QRegion(img_.rect());
  if (haveRect && (options & ETO_CLIPPED))
    textClip = textClip.intersected(rclRegion);
  textClip = textClip.intersected(img_.rect());
  if (updateCp) {
    // The current position moves along the baseline by the text's width (logical units).
    // With a dx array the move is its sum in logical units; with ETO_PDY the dy values move it too (up).
    double w = layout.width() / std::max(1e-9, sx), up = 0;
    if (!adx.empty()) {
      const size_t step = pdy ? 2 : 1;
      w = 0;
      for (size_t i = 0; i < n; ++i) {
        w += (*dx)[i * step];
        if (pdy)
          up += (*dx)[i * step + 1];
      }
    }
    w = std::clamp(w, -1e9, 1e9);
    const uint32_t h = dc_.textAlign & TA_CENTER;
    const double x = dc_.currentPos.x() + (h == TA_LEFT ? w : h == TA_RIGHT ? -w : 0.0);
    const double y = dc_.currentPos.y() - (h == TA_CENTER ? 0.0 : std::clamp(up, -1e9, 1e9));
    dc_.currentPos = QPoint(int(std::clamp(std::round(x), -2147483647.0, 2147483647.0)),
                            int(std::clamp(std::round(y), -2147483647.0, 2147483647.0)));
  }
  if (!bounds.intersects(QRectF(textClip.boundingRect())))
    return;
  {
    // Through the same path as every other clip (see applyClip).
    const auto keep = dc_.clip;
    const auto keepMeta = dc_.meta;
    dc_.clip = textClip;
    dc_.meta.reset();
    const bool ok = applyClip();
    dc_.clip = keep;
    dc_.meta = keepMeta;
    if (!ok)
      return;
  }
  if (dc_.bkMode == OPAQUE && !(options & ETO_OPAQUE)) {
    painter_.save();
    painter_.setTransform(place.toTarget);
    painter_.fillRect(place.box, QColor::fromRgb(dc_.bkColor));
    painter_.restore();
  }
  drawText(painter_, sf, layout, place, dc_.textColor);
}

void Player::textItem(Reader &r, bool wide, const std::span<const uint8_t> rec, uint32_t emrTextPos) {
  Reader t(rec);
  t.seek(emrTextPos);
  const int32_t rx = t.i32(), ry = t.i32();
  const uint32_t nChars = t.u32(), offString = t.u32(), options = t.u32();
  const Rectl rcl = readRectl(t);
  const uint32_t offDx = t.u32();
  (void)r;
  if (!t.ok() || nChars > kMaxTextChars)
    return;
  const uint32_t fOptions = options;
  auto strBytes = t.bytesAt(offString, size_t(nChars) * (wide ? 2 : 1));
  if (!t.ok() && nChars > 0)
    return;
  QString text;
  std::vector<quint32> glyphs;
  const bool glyphMode = fOptions & ETO_GLYPH_INDEX;
  for (uint32_t i = 0; i < nChars; ++i) {
    const uint32_t c = wide ? uint32_t(strBytes[2 * i] | (strBytes[2 * i + 1] << 8)) : strBytes[i];
    if (glyphMode)
      glyphs.push_back(c);
    else
      text.append(QChar(char16_t(c)));
  }
  std::vector<int32_t> dx;
  const bool pdy = fOptions & ETO_PDY;
  if (offDx != 0 && nChars > 0) {
    Reader d(rec);
    const size_t n = size_t(nChars) * (pdy ? 2 : 1);
    if (d.seek(offDx) && d.has(n * 4)) {
      dx.resize(n);
      for (auto &v : dx)
        v = d.i32();
    }
  }
  if (glyphMode && glyphs.empty() && !(fOptions & ETO_OPAQUE))
    return;
  if (!glyphMode && text.isEmpty() && !(fOptions & ETO_OPAQUE))
    return;
  // Characters outside the BMP's surrogates still map one to one: the dx array counts UTF-16 units.
  outputText(QPointF(rx, ry), text, glyphMode ? &glyphs : nullptr, fOptions, &rcl, &dx, pdy);
}

void Player::extTextOut(uint32_t type, Reader &r) {
  r.skip(16); // bounds
  r.u32();    // graphics mode
  r.skip(8);  // scales
  const size_t emrText = r.pos();
  if (!r.ok())
    return;
  textItem(r, type == EMR_EXTTEXTOUTW, recordBytes_, uint32_t(emrText));
}

void Player::polyTextOut(uint32_t type, Reader &r) {
  r.skip(16);
  r.u32();
  r.skip(8);
  const uint32_t n = r.u32();
  if (!r.ok() || n > 100000 || !r.has(size_t(n) * 40))
    return;
  for (uint32_t i = 0; i < n; ++i)
    textItem(r, type == EMR_POLYTEXTOUTW, recordBytes_, uint32_t(r.pos() + size_t(i) * 40));
}

void Player::smallTextOut(Reader &r) {
  const int32_t x = r.i32(), y = r.i32();
  const uint32_t nChars = r.u32(), options = r.u32();
  r.u32(); // graphics mode
  r.skip(8);
  Rectl rcl;
  if (!(options & ETO_NO_RECT))
    rcl = readRectl(r);
  if (!r.ok() || nChars > kMaxTextChars)
    return;
  const bool small = options & ETO_SMALL_CHARS;
  if (!r.has(size_t(nChars) * (small ? 1 : 2)))
    return;
  QString text;
  std::vector<quint32> glyphs;
  for (uint32_t i = 0; i < nChars; ++i) {
    const uint32_t c = small ? r.u8() : r.u16();
    if (options & ETO_GLYPH_INDEX)
      glyphs.push_back(c);
    else
      text.append(QChar(char16_t(c)));
  }
  outputText(QPointF(x, y), text, (options & ETO_GLYPH_INDEX) ? &glyphs : nullptr, options,
             (options & ETO_NO_RECT) ? nullptr : &rcl, nullptr, false);
}

// ---- bitmaps ----

// A SetDIBitsToDevice record may carry only some rows of its bitmap: scanCount rows starting at scan firstScan,
// counted from the bottom. For an uncompressed bottom-up bitmap the header is rewritten to describe just those rows
// (into ownHeader) and the source row moved to match, so the rows outside stay undrawn. Returns false when the
// rows asked for cannot be taken from this bitmap.
bool limitToScans(std::span<const uint8_t> &bmi, int32_t &ySrc, uint32_t firstScan, uint32_t scanCount,
                  std::vector<uint8_t> &ownHeader) {
  if (bmi.size() < 40)
    return true; // core headers and short headers are decoded as they stand
  auto rd32 = [&bmi](size_t at) {
    return uint32_t(bmi[at]) | uint32_t(bmi[at + 1]) << 8 | uint32_t(bmi[at + 2]) << 16 | uint32_t(bmi[at + 3]) << 24;
  };
  const uint32_t headerSize = rd32(0);
  const int32_t height = int32_t(rd32(8));
  const uint32_t compression = rd32(16);
  if (headerSize < 40 || height <= 0 || (compression != 0 && compression != 3))
    return true; // top-down and compressed bitmaps always carry every row
  if (scanCount == 0 || firstScan >= uint32_t(height))
    return false;
  if (firstScan == 0 && scanCount >= uint32_t(height))
    return true;
  const uint32_t rows = std::min<uint32_t>(scanCount, uint32_t(height) - firstScan);
  ownHeader.assign(bmi.begin(), bmi.end());
  ownHeader[8] = uint8_t(rows);
  ownHeader[9] = uint8_t(rows >> 8);
  ownHeader[10] = uint8_t(rows >> 16);
  ownHeader[11] = uint8_t(rows >> 24);
  bmi = ownHeader;
  ySrc = int32_t(std::clamp<int64_t>(int64_t(ySrc) - firstScan, INT32_MIN, INT32_MAX));
  return true;
}

void Player::bitmapRecord(uint32_t type, Reader &r) {
  const auto rec = recordBytes_;
  BlitArgs a;
  r.skip(16); // bounds
  uint32_t offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0;
  uint32_t firstScan = 0, scanCount = 0; // SetDIBitsToDevice: the rows the record carries
  BlendFunction blend;
  uint32_t transparent = 0;
  uint32_t offBmiMask = 0, cbBmiMask = 0, offBitsMask = 0, cbBitsMask = 0, usageMask = 0;
  int32_t xMask = 0, yMask = 0;
  QTransform xformSrc;
  switch (type) {
  case EMR_BITBLT:
  case EMR_STRETCHBLT:
  case EMR_MASKBLT:
  case EMR_ALPHABLEND:
  case EMR_TRANSPARENTBLT: {
    a.xDest = r.i32();
    a.yDest = r.i32();
    a.cxDest = r.i32();
    a.cyDest = r.i32();
    a.rop = r.u32();
    a.xSrc = r.i32();
    a.ySrc = r.i32();
    xformSrc = readXform(r);
    r.u32(); // background colour of the source
    a.usage = r.u32();
    offBmi = r.u32();
    cbBmi = r.u32();
    offBits = r.u32();
    cbBits = r.u32();
    if (type == EMR_STRETCHBLT || type == EMR_ALPHABLEND || type == EMR_TRANSPARENTBLT) {
      a.cxSrc = r.i32();
      a.cySrc = r.i32();
    } else if (type == EMR_MASKBLT) {
      xMask = r.i32();
      yMask = r.i32();
      usageMask = r.u32();
      offBmiMask = r.u32();
      cbBmiMask = r.u32();
      offBitsMask = r.u32();
      cbBitsMask = r.u32();
      a.cxSrc = int32_t(a.cxDest);
      a.cySrc = int32_t(a.cyDest);
    } else {
      a.cxSrc = int32_t(a.cxDest);
      a.cySrc = int32_t(a.cyDest);
    }
    break;
  }
  case EMR_STRETCHDIBITS:
  case EMR_SETDIBITSTODEVICE: {
    a.xDest = r.i32();
    a.yDest = r.i32();
    a.xSrc = r.i32();
    a.ySrc = r.i32();
    a.cxSrc = r.i32();
    a.cySrc = r.i32();
    offBmi = r.u32();
    cbBmi = r.u32();
    offBits = r.u32();
    cbBits = r.u32();
    a.usage = r.u32();
    if (type == EMR_STRETCHDIBITS) {
      a.rop = r.u32();
      a.cxDest = r.i32();
      a.cyDest = r.i32();
    } else {
      firstScan = r.u32();
      scanCount = r.u32();
      a.cxDest = a.cxSrc;
      a.cyDest = a.cySrc;
    }
    a.bottomUpSrcY = true;
    break;
  }
  case EMR_PLGBLT: {
    // The parallelogram's three corners: upper-left, upper-right, lower-left.
    QPointF pts[3];
    for (auto &p : pts) {
      const int32_t x = r.i32(), y = r.i32();
      p = QPointF(x, y);
    }
    a.xSrc = r.i32();
    a.ySrc = r.i32();
    a.cxSrc = r.i32();
    a.cySrc = r.i32();
    xformSrc = readXform(r);
    r.u32();
    a.usage = r.u32();
    offBmi = r.u32();
    cbBmi = r.u32();
    offBits = r.u32();
    cbBits = r.u32();
    if (!r.ok() || a.cxSrc <= 0 || a.cySrc <= 0)
      return;
    Reader whole(rec);
    auto bmi = whole.bytesAt(offBmi, cbBmi);
    auto bits = whole.bytesAt(offBits, cbBits);
    if (!whole.ok() || cbBmi == 0)
      return;
    const auto dib = cache_.rows(bmi, bits, a.usage, paletteEntries(), false);
    if (!dib)
      return;
    // Source rectangle to parallelogram: an affine map, drawn through the painter.
    const QTransform toPara((pts[1].x() - pts[0].x()) / a.cxSrc, (pts[1].y() - pts[0].y()) / a.cxSrc,
                            (pts[2].x() - pts[0].x()) / a.cySrc, (pts[2].y() - pts[0].y()) / a.cySrc, pts[0].x(),
                            pts[0].y());
    const QTransform m = QTransform::fromTranslate(-a.xSrc, -a.ySrc) * toPara * xf_;
    if (!finiteTransform(m))
      return;
    drawTransformed(*dib, QRect(a.xSrc, a.ySrc, a.cxSrc, a.cySrc), m);
    return;
  }
  default:
    return;
  }
  if (!r.ok())
    return;
  if (type == EMR_ALPHABLEND) {
    blend.blendOp = uint8_t(a.rop & 0xff);
    blend.blendFlags = uint8_t((a.rop >> 8) & 0xff);
    blend.sourceConstantAlpha = uint8_t((a.rop >> 16) & 0xff);
    blend.alphaFormat = uint8_t((a.rop >> 24) & 0xff);
    a.keepAlpha = true;
    a.rop = SRCCOPY;
  } else if (type == EMR_TRANSPARENTBLT) {
    transparent = colorRef(a.rop) & 0xffffff;
    a.rop = SRCCOPY;
  }
  // The source position goes through the source's transform (normally the identity).
  if (!xformSrc.isIdentity() && finiteTransform(xformSrc)) {
    const QPointF s = xformSrc.map(QPointF(a.xSrc, a.ySrc));
    a.xSrc = int32_t(std::lround(std::clamp(s.x(), -1e9, 1e9)));
    a.ySrc = int32_t(std::lround(std::clamp(s.y(), -1e9, 1e9)));
  }
  std::vector<uint8_t> bandHeader;
  if (cbBmi > 0) {
    Reader whole(rec);
    a.bmi = whole.bytesAt(offBmi, cbBmi);
    a.bits = whole.bytesAt(offBits, cbBits);
    if (!whole.ok())
      return;
    if (type == EMR_SETDIBITSTODEVICE && !limitToScans(a.bmi, a.ySrc, firstScan, scanCount, bandHeader))
      return;
  } else if (ropUsesSource(a.rop)) {
    return; // a source is needed and missing
  }
  DecodedDib mask;
  if (type == EMR_MASKBLT && cbBmiMask > 0) {
    Reader whole(rec);
    auto mb = whole.bytesAt(offBmiMask, cbBmiMask);
    auto mbits = whole.bytesAt(offBitsMask, cbBitsMask);
    if (whole.ok())
      mask = cache_.whole().get(mb, mbits, usageMask);
  }
  blit(a, type, type == EMR_ALPHABLEND ? &blend : nullptr, type == EMR_TRANSPARENTBLT ? &transparent : nullptr,
       (type == EMR_MASKBLT && !mask.isNull()) ? &mask : nullptr, QPoint(xMask, yMask));
}

namespace {

// Whether the source pixel under the centre of destination pixel d (of a span stretched by f >= 1 from the source span
// [s0, s0 + sn), mirrored or not) lies in [lo, hi]: destination pixels over no existing source pixel stay untouched.
bool underCentre(int d, double f, int s0, int sn, bool mirror, int lo, int hi) {
  double u = (d + 0.5) / f;
  if (mirror)
    u = sn - u;
  const int c = s0 + int(std::floor(u));
  return c >= lo && c <= hi;
}

// Halftone enlarging by f >= 1: destination pixel d takes the average of the source area it covers, one destination
// pixel wide (1/f source pixels), placed so that the destination pixel's corner falls on a source pixel's centre. At
// a whole factor every destination pixel lies inside one source pixel and the picture stays crisp; otherwise a
// destination pixel on a boundary blends the two source pixels it straddles. Returns the two source pixels (clamped to
// [lo, hi]) and the weight of the second.
struct BoxTaps {
  int i0, i1;
  double w;
};
BoxTaps boxTaps(int d, double f, int s0, int sn, bool mirror, int lo, int hi) {
  const double o = 0.5 - 0.5 / f;
  double a = d / f + o, b = (d + 1) / f + o;
  if (mirror) {
    const double t = sn - b;
    b = sn - a;
    a = t;
  }
  const int i0 = int(std::floor(a));
  const double w = std::clamp((b - (i0 + 1)) * f, 0.0, 1.0);
  return {std::clamp(s0 + i0, lo, hi), std::clamp(s0 + i0 + 1, lo, hi), w};
}

} // namespace

// A halftone bitmap reaching past the edge of the picture is drawn from the whole source pixels that show on the page,
// stretched over the part of the page it covers: a picture of a few pixels whose frame ends a pixel short of its
// bitmap (a frame that names its last pixel) still shows the whole bitmap instead of losing its last row and column.
// Other stretch modes keep the exact stretch and cut it at the edge. Inside the picture (band edges included) the
// stretch stays exact, so bands join seamlessly. Returns false when nothing of the bitmap lies on the page.
bool Player::pageEdgeCut(QRect &dst, QRect &src, bool mirrorX, bool mirrorY, QPoint &maskOrigin) const {
  const QRect vis = dst.intersected(page_);
  if (vis.isEmpty())
    return false;
  if (vis == dst)
    return true;
  // One axis: the destination span [d0, d0 + dn) shows [v0, v0 + vn); the source span [s0, s0 + sn) shrinks to the
  // whole pixels under the visible part.
  auto cut = [](int d0, int dn, int v0, int vn, int &s0, int &sn, bool mirror) {
    if (vn == dn)
      return 0;
    const double f = double(sn) / dn;
    double a = (v0 - d0) * f, b = (v0 + vn - d0) * f;
    if (mirror) {
      const double t = sn - b;
      b = sn - a;
      a = t;
    }
    const int lo = std::clamp(int(std::floor(a + 1e-9)), 0, sn - 1);
    const int hi = std::clamp(int(std::ceil(b - 1e-9)), lo + 1, sn);
    s0 += lo;
    sn = hi - lo;
    return lo;
  };
  int sx = src.x(), sw = src.width(), sy = src.y(), sh = src.height();
  const int dx = cut(dst.x(), dst.width(), vis.x(), vis.width(), sx, sw, mirrorX);
  const int dy = cut(dst.y(), dst.height(), vis.y(), vis.height(), sy, sh, mirrorY);
  maskOrigin += QPoint(dx, dy);
  src = QRect(sx, sy, sw, sh);
  dst = vis;
  return true;
}

void Player::blit(const BlitArgs &a, uint32_t type, const BlendFunction *blend, const uint32_t *transparent,
                  const DecodedDib *mask, QPoint maskOrigin) {
  if (a.cxDest == 0 || a.cyDest == 0)
    return;
  const QPointF p0 = toTarget(QPointF(a.xDest, a.yDest));
  const QPointF p1 = toTarget(QPointF(a.xDest + a.cxDest, a.yDest + a.cyDest));
  if (!std::isfinite(p0.x()) || !std::isfinite(p0.y()) || !std::isfinite(p1.x()) || !std::isfinite(p1.y()))
    return;
  const bool axisAligned = xf_.type() <= QTransform::TxScale;
  // Destination rectangle in target pixels; the mirror flags come from the signs after mapping.
  const double dl = std::round(std::min(p0.x(), p1.x())), dr = std::round(std::max(p0.x(), p1.x()));
  const double dt = std::round(std::min(p0.y(), p1.y())), db = std::round(std::max(p0.y(), p1.y()));
  if (!(dr - dl >= 1) || !(db - dt >= 1) || std::abs(dl) > kMaxCoord || std::abs(dr) > kMaxCoord ||
      std::abs(dt) > kMaxCoord || std::abs(db) > kMaxCoord)
    return;
  QRect dstRect(int(dl), int(dt), int(dr - dl), int(db - dt));
  QRect visible = dstRect.intersected(img_.rect());
  const auto clip = effectiveClip(dc_);
  if (clip)
    visible = visible.intersected(clip->boundingRect());
  if (visible.isEmpty())
    return; // nothing of it reaches this image: the bitmap is not even decoded

  // Pattern: the selected brush.
  const GdiBrush &br = brush();
  QImage patImage;
  RopPattern pattern;
  pattern.color = br.color & 0xffffff;
  pattern.origin = dc_.brushOrg;
  if (br.style == BS_HATCHED)
    patImage = hatchImage(br.hatch, br.color, dc_.bkColor, true).convertToFormat(QImage::Format_RGB32);
  else if (!br.pattern.isNull())
    patImage = br.pattern;
  if (!patImage.isNull())
    pattern.image = &patImage;

  if (a.bmi.empty()) {
    endPainter();
    applyRop3(img_, visible, nullptr, QPoint(), pattern, a.rop, clip ? &*clip : nullptr);
    beginPainter();
    return;
  }
  const auto dib = cache_.rows(a.bmi, a.bits, a.usage, paletteEntries(), a.keepAlpha);
  if (!dib)
    return;
  // Bitmaps in records are device-independent: even a 1-bit one keeps the colours of its own table.
  // Source rectangle in top-down image rows, worked out in 64 bits: the fields are the file's.
  bool mirrorX = (p1.x() < p0.x()) != bitmapsPreserved(), mirrorY = (p1.y() < p0.y());
  int64_t sx0 = a.xSrc, sy0 = a.ySrc, sw = a.cxSrc, sh = a.cySrc;
  if (sw < 0) {
    sx0 += sw;
    sw = -sw;
    mirrorX = !mirrorX;
  }
  if (sh < 0) {
    sy0 += sh;
    sh = -sh;
    mirrorY = !mirrorY;
  }
  if (a.bottomUpSrcY) {
    DibHeader h;
    if (parseDibHeader(a.bmi, h) && !h.topDown)
      sy0 = int64_t(dib->height()) - sy0 - sh;
  }
  constexpr int64_t kLimit = int64_t(1) << 28;
  if (sw == 0 || sh == 0 || sw > kLimit || sh > kLimit || std::llabs(sx0) > kLimit || std::llabs(sy0) > kLimit)
    return;
  QRect srcRect{int(sx0), int(sy0), int(sw), int(sh)};
  if (axisAligned && dc_.stretchMode == HALFTONE && !blend) {
    if (!pageEdgeCut(dstRect, srcRect, mirrorX, mirrorY, maskOrigin))
      return;
    visible = visible.intersected(dstRect);
    if (visible.isEmpty())
      return;
  }

  if (!axisAligned) {
    // Rotated or sheared: the painter maps the source rectangle (copy only).
    const QTransform m = QTransform::fromTranslate(-srcRect.x(), -srcRect.y()) *
                         QTransform::fromScale(a.cxDest / srcRect.width(), a.cyDest / srcRect.height()) *
                         QTransform::fromTranslate(a.xDest, a.yDest) * xf_;
    if (finiteTransform(m))
      drawTransformed(*dib, srcRect, m);
    return;
  }

  const double fx = double(dstRect.width()) / srcRect.width(), fy = double(dstRect.height()) / srcRect.height();
  if (uint64_t(visible.width()) * uint64_t(visible.height()) > kMaxBlitPixels)
    return;
  // Enlarging repeats the pixel under each destination pixel's centre; shrinking merges as the stretch mode says.
  const bool repeat = fx >= 1.0 || fy >= 1.0 || type == EMR_TRANSPARENTBLT;
  // Blending carries alpha through the stretch: AND / OR merging of shrunk pixels would mix alpha into colour.
  const int mode = blend ? COLORONCOLOR : dc_.stretchMode;
  QImage maskImage;
  QPoint maskAt;
  if (mask) {
    // The mask lines up with the source: its pixel for a destination pixel sits at the same source offset.
    maskImage = mask->indices.isNull() ? mask->image.convertToFormat(QImage::Format_Grayscale8) : mask->indices;
    if (fx != 1.0 || fy != 1.0) {
      const double mw = maskImage.width() * fx, mh = maskImage.height() * fy;
      if (!(mw >= 1 && mh >= 1) || mw * mh > double(kMaxBlitPixels))
        return;
      maskImage = maskImage.scaled(toInt(mw), toInt(mh));
    }
    maskAt = dstRect.topLeft() - QPoint(int(std::clamp(std::round(maskOrigin.x() * fx), -1e8, 1e8)),
                                        int(std::clamp(std::round(maskOrigin.y() * fy), -1e8, 1e8)));
  }
  const QRegion *clipPtr = clip ? &*clip : nullptr;
  DibRowReader reader(*dib);
  // The visible part is stretched and transferred a strip of rows at a time: memory stays small whatever the size of
  // the bitmap or of the band, and only the source rows the strip shows are decoded.
  const int stripRows = std::clamp(int(kStripPixels / uint64_t(visible.width())), 1, visible.height());
  std::vector<int> xs;
  if (repeat) {
    xs.resize(size_t(visible.width()));
    for (int x = 0; x < visible.width(); ++x) {
      double u = (x + visible.left() - dstRect.left() + 0.5) / fx;
      if (mirrorX)
        u = srcRect.width() - u;
      xs[size_t(x)] = srcRect.left() + int(std::floor(u));
    }
  }
  endPainter();
  for (int top = visible.top(); top <= visible.bottom(); top += stripRows) {
    const QRect strip(visible.left(), top, visible.width(), std::min(stripRows, visible.bottom() - top + 1));
    QImage stretched;
    QRect area;
    if (repeat) {
      stretched = QImage(strip.size(), QImage::Format_ARGB32);
      if (stretched.isNull())
        break;
      stretched.fill(0);
      int firstX = strip.width(), lastX = -1; // the columns whose source lies inside the bitmap
      for (int x = 0; x < strip.width(); ++x)
        if (xs[size_t(x)] >= 0 && xs[size_t(x)] < dib->width()) {
          firstX = std::min(firstX, x);
          lastX = x;
        }
      int firstY = strip.height(), lastY = -1;
      // Halftone enlarging averages the source area under each destination pixel (see boxTaps).
      const bool smooth = mode == HALFTONE && fx >= 1.0 && fy >= 1.0 && !blend && !transparent;
      if (smooth) {
        std::vector<QRgb> r0(size_t(dib->width())), r1(size_t(dib->width()));
        int have0 = -1, have1 = -1; // the source rows held in r0 and r1
        const int W = dib->width(), H = dib->height();
        const int sxLo = std::max(0, srcRect.left()), sxHi = std::min(W - 1, srcRect.right());
        const int syLo = std::max(0, srcRect.top()), syHi = std::min(H - 1, srcRect.bottom());
        for (int y = 0; y < strip.height(); ++y) {
          const int dy = y + strip.top() - dstRect.top();
          if (!underCentre(dy, fy, srcRect.top(), srcRect.height(), mirrorY, syLo, syHi) || lastX < firstX)
            continue;
          const BoxTaps ty = boxTaps(dy, fy, srcRect.top(), srcRect.height(), mirrorY, syLo, syHi);
          const int y0 = ty.i0, y1 = ty.i1;
          const double wy = ty.w;
          if (have0 != y0) {
            if (have1 == y0) {
              std::swap(r0, r1);
              std::swap(have0, have1);
            } else {
              const QRgb *row = reader.row(y0);
              if (!row)
                break;
              std::copy(row, row + W, r0.begin());
              have0 = y0;
            }
          }
          if (have1 != y1) {
            const QRgb *row = reader.row(y1);
            if (!row)
              break;
            std::copy(row, row + W, r1.begin());
            have1 = y1;
          }
          firstY = std::min(firstY, y);
          lastY = y;
          QRgb *out = reinterpret_cast<QRgb *>(stretched.scanLine(y));
          for (int x = firstX; x <= lastX; ++x) {
            const int dx = x + strip.left() - dstRect.left();
            if (!underCentre(dx, fx, srcRect.left(), srcRect.width(), mirrorX, sxLo, sxHi))
              continue;
            const BoxTaps tx = boxTaps(dx, fx, srcRect.left(), srcRect.width(), mirrorX, sxLo, sxHi);
            const int x0 = tx.i0, x1 = tx.i1;
            const double wx = tx.w;
            auto mix = [&](int sh) {
              const double top = ((r0[x0] >> sh) & 0xff) * (1 - wx) + ((r0[x1] >> sh) & 0xff) * wx;
              const double bot = ((r1[x0] >> sh) & 0xff) * (1 - wx) + ((r1[x1] >> sh) & 0xff) * wx;
              return uint32_t(std::lround(top * (1 - wy) + bot * wy)) << sh;
            };
            out[x] = mix(24) | mix(16) | mix(8) | mix(0);
          }
        }
        if (lastX < firstX || lastY < firstY)
          continue;
        area = QRect(strip.left() + firstX, strip.top() + firstY, lastX - firstX + 1, lastY - firstY + 1);
      }
      for (int y = 0; y < strip.height() && !smooth; ++y) {
        double v = (y + strip.top() - dstRect.top() + 0.5) / fy;
        if (mirrorY)
          v = srcRect.height() - v;
        const int sy = srcRect.top() + int(std::floor(v));
        if (sy < 0 || sy >= dib->height() || lastX < firstX)
          continue;
        const QRgb *in = reader.row(sy);
        if (!in)
          break;
        firstY = std::min(firstY, y);
        lastY = y;
        QRgb *out = reinterpret_cast<QRgb *>(stretched.scanLine(y));
        for (int x = firstX; x <= lastX; ++x) {
          const int sx = xs[size_t(x)];
          if (sx >= 0 && sx < dib->width())
            out[x] = in[sx];
        }
      }
      // A source rectangle reaching outside the bitmap draws only the part that exists.
      if (!smooth) {
        if (lastX < firstX || lastY < firstY)
          continue;
        area = QRect(strip.left() + firstX, strip.top() + firstY, lastX - firstX + 1, lastY - firstY + 1);
      }
    } else {
      QRect valid;
      const QRect part = strip.translated(-dstRect.topLeft());
      stretched = stretchForBlt(reader, false, srcRect, dstRect.size(), mode, mirrorX, mirrorY, &valid, &part);
      if (stretched.isNull())
        continue;
      area = strip.intersected(valid.translated(strip.topLeft()));
      if (area.isEmpty())
        continue;
    }
    const QPoint origin = strip.topLeft();
    if (blend)
      alphaBlend(img_, area, stretched, origin, *blend, clipPtr);
    else if (transparent)
      transparentBlt(img_, area, stretched, origin, *transparent, clipPtr);
    else if (mask)
      applyRop4(img_, area, &stretched, origin, pattern, a.rop, &maskImage, maskAt, clipPtr);
    else
      applyRop3(img_, area, &stretched, origin, pattern, a.rop, clipPtr);
  }
  beginPainter();
}

void Player::drawTransformed(const DibRows &dib, const QRect &srcRect, QTransform m) {
  const QRect src = srcRect.intersected(QRect(0, 0, dib.width(), dib.height()));
  if (bitmapsPreserved()) // the bitmap turned back so that the mirror leaves it as it was
    m = QTransform(-1, 0, 0, 1, 2.0 * srcRect.left() + srcRect.width(), 0) * m;
  if (src.isEmpty() || !m.isInvertible() || !applyClip())
    return;
  // Only the source rows that can reach the visible area are decoded, a chunk of rows at a time.
  QRect limit = img_.rect();
  if (const auto clip = effectiveClip(dc_))
    limit = limit.intersected(clip->boundingRect());
  const QRectF back = m.inverted().mapRect(QRectF(limit));
  const int r0 = std::max(src.top(), int(std::clamp(std::floor(back.top()) - 1, -1e9, 1e9)));
  const int r1 = std::min(src.bottom() + 1, int(std::clamp(std::ceil(back.bottom()) + 1, -1e9, 1e9)));
  if (r1 <= r0)
    return;
  const int chunk = std::clamp(int(kStripPixels / uint64_t(dib.width())), 1, r1 - r0);
  QImage rows(dib.width(), chunk, QImage::Format_ARGB32);
  if (rows.isNull())
    return;
  painter_.save();
  painter_.setTransform(m);
  for (int y = r0; y < r1; y += chunk) {
    const int n = std::min(chunk, r1 - y);
    dib.decodeRows(y, y + n, rows);
    painter_.drawImage(QRectF(src.left(), y, src.width(), n), rows, QRectF(src.left(), 0, src.width(), n));
  }
  painter_.restore();
}

void Player::gradientFill(Reader &r) {
  r.skip(16);
  const uint32_t nVer = r.u32(), nTri = r.u32(), mode = r.u32();
  if (!r.ok() || nVer > 100000 || nTri > 100000 || !r.has(size_t(nVer) * 16))
    return;
  struct Vertex {
    QPointF p;
    double c[3];
  };
  std::vector<Vertex> v(nVer);
  for (auto &vx : v) {
    const int32_t x = r.i32(), y = r.i32();
    vx.p = toTarget(QPointF(x, y));
    for (double &c : vx.c)
      c = r.u16() / 256.0;
    r.u16();
  }
  if (!r.ok())
    return;
  if (!applyClip())
    return;
  const auto clip = effectiveClip(dc_);
  QRect limit = img_.rect();
  if (clip)
    limit = limit.intersected(clip->boundingRect());
  if (mode == GRADIENT_FILL_RECT_H || mode == GRADIENT_FILL_RECT_V) {
    if (!r.has(size_t(nTri) * 8))
      return;
    for (uint32_t i = 0; i < nTri; ++i) {
      const uint32_t ul = r.u32(), lr = r.u32();
      if (ul >= nVer || lr >= nVer)
        continue;
      const Vertex &a = v[ul], &b = v[lr];
      const QRectF rc = QRectF(a.p, b.p).normalized();
      const QRect ir(QPoint(toInt(rc.left()), toInt(rc.top())), QPoint(toInt(rc.right()) - 1, toInt(rc.bottom()) - 1));
      if (ir.isEmpty() || !ir.intersects(limit))
        continue;
      QLinearGradient g(a.p, mode == GRADIENT_FILL_RECT_H ? QPointF(b.p.x(), a.p.y()) : QPointF(a.p.x(), b.p.y()));
      g.setColorAt(0, QColor(int(a.c[0]), int(a.c[1]), int(a.c[2])));
      g.setColorAt(1, QColor(int(b.c[0]), int(b.c[1]), int(b.c[2])));
      painter_.fillRect(ir, g);
    }
  } else if (mode == GRADIENT_FILL_TRIANGLE) {
    if (!r.has(size_t(nTri) * 12))
      return;
    uint64_t budget = kMaxGradientPixels;
    for (uint32_t i = 0; i < nTri; ++i) {
      const uint32_t i0 = r.u32(), i1 = r.u32(), i2 = r.u32();
      if (i0 >= nVer || i1 >= nVer || i2 >= nVer)
        continue;
      const Vertex &A = v[i0], &B = v[i1], &C = v[i2];
      const QRectF bb = QPolygonF({A.p, B.p, C.p}).boundingRect();
      const QRect box =
          QRect(QPoint(int(std::floor(std::max(bb.left(), -1e8))), int(std::floor(std::max(bb.top(), -1e8)))),
                QPoint(int(std::ceil(std::min(bb.right(), 1e8))), int(std::ceil(std::min(bb.bottom(), 1e8)))))
              .intersected(limit);
      const double den = (B.p.y() - C.p.y()) * (A.p.x() - C.p.x()) + (C.p.x() - B.p.x()) * (A.p.y() - C.p.y());
      if (box.isEmpty() || std::abs(den) < 1e-12)
        continue;
      const uint64_t area = uint64_t(box.width()) * uint64_t(box.height());
      if (area > budget)
        break; // a record asking for more shading than any page needs stops here
      budget -= area;
      endPainter();
      for (int y = box.top(); y <= box.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img_.scanLine(y));
        for (int x = box.left(); x <= box.right(); ++x) {
          const double px = x + 0.5, py = y + 0.5;
          const double w0 = ((B.p.y() - C.p.y()) * (px - C.p.x()) + (C.p.x() - B.p.x()) * (py - C.p.y())) / den;
          const double w1 = ((C.p.y() - A.p.y()) * (px - C.p.x()) + (A.p.x() - C.p.x()) * (py - C.p.y())) / den;
          const double w2 = 1 - w0 - w1;
          if (w0 < 0 || w1 < 0 || w2 < 0)
            continue;
          if (clip && !clip->contains(QPoint(x, y)))
            continue;
          int c[3];
          for (int k = 0; k < 3; ++k)
            c[k] = std::clamp(int(w0 * A.c[k] + w1 * B.c[k] + w2 * C.c[k]), 0, 255);
          line[x] = qRgb(c[0], c[1], c[2]);
        }
      }
      beginPainter();
    }
  }
}

} // namespace

struct PlaybackCache::State {
  std::mutex mutex;
  struct Entry {
    const uint8_t *bmi, *bits;
    size_t bmiSize, bitsSize;
    uint32_t usage;
    bool keepAlpha;
    size_t paletteHash;
    std::shared_ptr<const DibRows> rows;
    std::string reason;
    size_t bytes;
  };
  std::list<Entry> entries; // most recently used first
  size_t bytes = 0;
  size_t prepared = 0;
  size_t budget = 0;
  std::unique_ptr<DibCache> whole;
};

PlaybackCache::PlaybackCache(size_t byteBudget) : d_(std::make_unique<State>()) {
  d_->budget = byteBudget / 2;
  d_->whole = std::make_unique<DibCache>(byteBudget / 2);
}
PlaybackCache::~PlaybackCache() = default;
DibCache &PlaybackCache::whole() { return *d_->whole; }
size_t PlaybackCache::preparedCount() const {
  std::lock_guard lock(d_->mutex);
  return d_->prepared;
}

std::shared_ptr<const DibRows> PlaybackCache::rows(std::span<const uint8_t> bmi, std::span<const uint8_t> bits,
                                                   uint32_t usage, std::span<const QRgb> palette, bool keepAlpha,
                                                   std::string *reason) {
  const size_t paletteHash =
      qHashBits(palette.data(), palette.size() * sizeof(QRgb), size_t(palette.size()) * 0x9e3779b97f4a7c15ull);
  auto same = [&](const State::Entry &e) {
    return e.bmi == bmi.data() && e.bmiSize == bmi.size() && e.bits == bits.data() && e.bitsSize == bits.size() &&
           e.usage == usage && e.keepAlpha == keepAlpha && e.paletteHash == paletteHash;
  };
  State &st = *d_;
  {
    std::lock_guard lock(st.mutex);
    for (auto it = st.entries.begin(); it != st.entries.end(); ++it)
      if (same(*it)) {
        st.entries.splice(st.entries.begin(), st.entries, it);
        if (reason)
          *reason = it->reason;
        return it->rows;
      }
  }
  std::string why;
  std::shared_ptr<const DibRows> made = DibRows::make(bmi, bits, usage, palette, keepAlpha, &why);
  if (reason)
    *reason = why;
  const size_t bytes = (made ? made->bytesHeld() : 0) + 256;
  std::lock_guard lock(st.mutex);
  ++st.prepared;
  if (bytes > st.budget)
    return made;
  st.entries.push_front(
      State::Entry{bmi.data(), bits.data(), bmi.size(), bits.size(), usage, keepAlpha, paletteHash, made, why, bytes});
  st.bytes += bytes;
  while (st.bytes > st.budget && !st.entries.empty()) {
    st.bytes -= st.entries.back().bytes;
    st.entries.pop_back();
  }
  return made;
}

bool playMetafile(QImage &target, const EnhMetaFile &mf, const QRect &dest, PlaybackCache *cache) {
  if (target.isNull() || dest.isEmpty())
    return false;
  std::optional<PlaybackCache> own;
  if (!cache)
    cache = &own.emplace();
  Player player(target, mf, dest, *cache);
  player.run();
  return true;
}

} // namespace emf
