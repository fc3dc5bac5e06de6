#include "render/background.h"

#include "settings/settings.h"

#include <QFont>
#include <QLocale>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace render {

namespace {

QColor colorOf(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The part of the band a pattern element must reach to change pixels.
struct BandArea {
  int width = 0;  // bitmap columns
  int height = 0; // bitmap rows
  int a = 0;      // first bitmap row of the band on the page
  int margin = 2; // half a pen and some rounding
};

// Lines one pixel wide, drawn straight into a 32-bit band. Every pixel is a function of the line's ends on the
// page alone, so a band shows exactly its rows of the page-wide line however the page is cut into bands.
class ThinPen {
public:
  ThinPen(QImage &band, int a, QRgb color) : img_(band), w_(band.width()), h_(band.height()), a_(a), color_(color) {}

  void line(long long x1, long long y1, long long x2, long long y2) {
    const long long dx = x2 - x1, dy = y2 - y1;
    if (std::llabs(dx) >= std::llabs(dy)) {
      if (dx == 0) {
        plot(x1, y1);
        return;
      }
      if (dx < 0) {
        std::swap(x1, x2);
        std::swap(y1, y2);
      }
      run(x1, y1, x2, y2, false);
    } else {
      if (dy < 0) {
        std::swap(x1, x2);
        std::swap(y1, y2);
      }
      run(y1, x1, y2, x2, true);
    }
  }

private:
  static long long floorDiv(long long n, long long d) { // d > 0
    const long long q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
  }
  void plot(long long x, long long y) {
    y -= a_;
    if (x >= 0 && x < w_ && y >= 0 && y < h_)
      reinterpret_cast<QRgb *>(img_.scanLine(int(y)))[x] = color_;
  }
  // Major coordinate u from u1 to u2 (u1 < u2), minor v rounded from the exact line.
  void run(long long u1, long long v1, long long u2, long long v2, bool yMajor) {
    const long long du = u2 - u1, dv = v2 - v1;
    // The major range that can reach the band: the image's columns (x major) or rows (y major) ...
    long long lo = u1, hi = u2;
    const long long majorLo = yMajor ? a_ : 0, majorHi = yMajor ? a_ + h_ - 1 : w_ - 1;
    lo = std::max(lo, majorLo);
    hi = std::min(hi, majorHi);
    // ... and the minor range: the band's rows (x major) or the image's columns (y major).
    if (dv != 0) {
      const double minorLo = yMajor ? 0 : a_, minorHi = yMajor ? w_ - 1 : a_ + h_ - 1;
      const double slope = double(du) / double(dv);
      double ua = u1 + (minorLo - 1 - v1) * slope, ub = u1 + (minorHi + 1 - v1) * slope;
      if (ua > ub)
        std::swap(ua, ub);
      lo = std::max(lo, (long long)std::floor(std::max(ua, -9e18)) - 2);
      hi = std::min(hi, (long long)std::ceil(std::min(ub, 9e18)) + 2);
    } else {
      const long long minorLo = yMajor ? 0 : a_, minorHi = yMajor ? w_ - 1 : a_ + h_ - 1;
      if (v1 < minorLo || v1 > minorHi)
        return;
    }
    for (long long u = lo; u <= hi; ++u) {
      // Exact while |u - u1| x |dv| stays below 2^62: page coordinates are far smaller.
      const long long v = v1 + floorDiv(2 * (u - u1) * dv + du, 2 * du);
      if (yMajor)
        plot(v, u);
      else
        plot(u, v);
    }
  }

  QImage &img_;
  long long w_, h_, a_;
  QRgb color_;
};

// A cubic Bezier curve on the page as short straight pieces between rounded points (page coordinates, so
// every band cuts the same pieces).
void thinBezier(ThinPen &pen, const QPointF &p0, const QPointF &p1, const QPointF &p2, const QPointF &p3) {
  const double len = QLineF(p0, p1).length() + QLineF(p1, p2).length() + QLineF(p2, p3).length();
  const int n = std::clamp(int(std::ceil(len / 3.0)), 1, 4096);
  long long px = std::llround(p0.x()), py = std::llround(p0.y());
  for (int i = 1; i <= n; ++i) {
    const double t = double(i) / n, u = 1 - t;
    const double x = u * u * u * p0.x() + 3 * u * u * t * p1.x() + 3 * u * t * t * p2.x() + t * t * t * p3.x();
    const double y = u * u * u * p0.y() + 3 * u * u * t * p1.y() + 3 * u * t * t * p2.y() + t * t * t * p3.y();
    const long long qx = std::llround(x), qy = std::llround(y);
    pen.line(px, py, qx, qy);
    px = qx;
    py = qy;
  }
}

// Where the pattern goes: the painter for pens wider than a pixel, the thin pen for one-pixel lines.
struct Canvas {
  QPainter &dc;
  ThinPen *thin = nullptr;
  int a = 0;
  // Curves and lines in page coordinates (y not yet reduced by the band offset).
  void bezier(const QPointF &p0, const QPointF &p1, const QPointF &p2, const QPointF &p3, QPainterPath &path) {
    if (thin) {
      thinBezier(*thin, p0, p1, p2, p3);
      return;
    }
    const QPointF d(0, a);
    path.moveTo(p0 - d);
    path.cubicTo(p1 - d, p2 - d, p3 - d);
  }
  void line(double x1, double y1, double x2, double y2) {
    if (thin)
      thin->line(std::llround(x1), std::llround(y1), std::llround(x2), std::llround(y2));
    else
      dc.drawLine(QLineF(x1, y1 - a, x2, y2 - a));
  }
  void polygon(const QPolygon &poly) { // page coordinates
    if (thin) {
      for (int i = 0; i < poly.size(); ++i) {
        const QPoint p = poly[i], q = poly[(i + 1) % poly.size()];
        thin->line(p.x(), p.y(), q.x(), q.y());
      }
    } else {
      dc.drawPolygon(poly.translated(0, -a));
    }
  }
  void flush(QPainterPath &path) {
    if (!thin && !path.isEmpty())
      dc.drawPath(path);
    path = QPainterPath();
  }
};

// Chain: two Bezier curves per cell, rows of cells H apart, drawn at (x m, y m - a). The cells run from five left of
// the page's edge (the curves of cell k reach from I - W/3 to N + W/3) to the first one past its right edge, however
// wide the page.
void drawChain(Canvas &cv, const BandArea &band, int m, long long R, long long pageWidth) {
  constexpr int W = kCellW, H = kCellH, T = kStartT;
  const long long kLast = std::max<long long>(30, (pageWidth / m + W) * 3 / (4 * W) + 1);
  const double lo = (double(band.a) - band.margin) / m - H - T;
  const double hi = (double(band.a) + band.height + band.margin) / m - T;
  const long long jlo = std::max(-R, (long long)std::floor(lo / H) - 1);
  const long long jhi = std::min(R, (long long)std::ceil(hi / H) + 1);
  for (long long j = jlo; j <= jhi; ++j) {
    const long long y0 = j * H + T;
    if (y0 * m - band.a - band.margin > band.height || (y0 + H) * m - band.a + band.margin < 0)
      continue;
    QPainterPath path;
    auto pt = [&](long long x, long long y) { return QPointF(double(x * m), double(y * m)); };
    for (long long k = -5; k <= kLast; ++k) {
      const long long I = (4 * k * W) / 3;
      const long long N = I + (2 * W) / 3;
      // Each 7-point curve is two cubic pieces sharing the middle point.
      cv.bezier(pt(I - W / 3, y0), pt(I + W / 4, y0), pt(I + W / 4, y0 + H / 3), pt(I, y0 + H / 2), path);
      cv.bezier(pt(I, y0 + H / 2), pt(I - W / 4, y0 + (2 * H) / 3), pt(I - W / 4, y0 + H), pt(I + W / 3, y0 + H), path);
      cv.bezier(pt(N + W / 3, y0), pt(N - W / 4, y0), pt(N - W / 4, y0 + H / 3), pt(N, y0 + H / 2), path);
      cv.bezier(pt(N, y0 + H / 2), pt(N + W / 4, y0 + (2 * H) / 3), pt(N + W / 4, y0 + H), pt(N - W / 3, y0 + H), path);
    }
    cv.flush(path);
  }
}

// Waves: rows V apart, each a run of Bezier arcs one cell wide and a second run moved right by half a cell; the arcs
// run from one cell left of the page to past its right edge, however wide the page.
void drawWaves(Canvas &cv, const BandArea &band, int m, long long R, long long pageWidth) {
  constexpr int W = kCellW, H = kCellH, T = kStartT, V = kWaveV;
  const long long kLast = std::max<long long>(20, pageWidth / m / W + 1);
  const double lo = (double(band.a) - band.margin) / m - H - T;
  const double hi = (double(band.a) + band.height + band.margin) / m + H - T;
  const long long jlo = std::max(-R, (long long)std::floor(lo / V) - 1);
  const long long jhi = std::min(R, (long long)std::ceil(hi / V) + 1);
  for (long long j = jlo; j <= jhi; ++j) {
    const long long y0 = j * V + T;
    if ((y0 - H) * m - band.a - band.margin > band.height || (y0 + H) * m - band.a + band.margin < 0)
      continue;
    QPainterPath path;
    auto pt = [&](long long x, long long y) { return QPointF(double(x * m), double(y * m)); };
    for (int shift : {0, W / 2}) {
      for (long long k = -1; k <= kLast; ++k)
        cv.bezier(pt(k * W + shift, y0), pt(k * W + W / 3 + shift, y0 + H), pt(k * W + (2 * W) / 3 + shift, y0 - H),
                  pt((k + 1) * W + shift, y0), path);
    }
    cv.flush(path);
  }
}

// Clips the segment p1 p2 to the rectangle [x0, x1] x [y0, y1]; false when nothing is left.
bool clipSegment(double &ax, double &ay, double &bx, double &by, double x0, double y0, double x1, double y1) {
  double t0 = 0, t1 = 1;
  const double dx = bx - ax, dy = by - ay;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0)
        return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
    if (t0 > t1)
      return false;
  }
  const double nax = ax + t0 * dx, nay = ay + t0 * dy;
  bx = ax + t1 * dx;
  by = ay + t1 * dy;
  ax = nax;
  ay = nay;
  return true;
}

// Line grid: lines k x spacing apart, turned by the angle; the second family turned a further 90 degrees.
void drawGrid(Canvas &cv, const BandArea &band, const QRect &pageRect, const BackgroundParams &p, long long R,
              long long off) {
  const int m = p.m;
  double c = 1, s = 0;
  if (p.angle == 90) {
    c = 0;
    s = 1;
  } else if (p.angle != 0) {
    const double theta = p.angle / (180.0 / std::numbers::pi);
    c = std::cos(theta);
    s = std::sin(theta);
  }
  const long long pw = pageRect.width(), ph = pageRect.height();
  const long long left = pageRect.left();
  // The segment's ends, taken on the page (not on the band) so that every band draws the same line.
  const long long y1 = -R, y2 = ph + R;
  auto rotated = [&](long long x0, long long y) -> std::pair<double, double> {
    if (p.angle == 0)
      return {double(x0 * m), double(y * m)};
    if (p.angle == 90)
      return {double(y * m), double(-x0 * m)};
    return {std::trunc(m * (x0 * c + y * s)), std::trunc(m * (y * c - x0 * s))};
  };
  // A family's line through x0 is where g(X, Y) = m x0 on the page; g is linear, so its range over the band's
  // corners bounds the lines that cross the band.
  const double bx0 = -band.margin, bx1 = band.width + band.margin;
  const double by0 = double(band.a) - band.margin, by1 = double(band.a) + band.height + band.margin;
  for (int family = 0; family < 2; ++family) {
    if (family == 0 && !p.linesVertical)
      continue;
    if (family == 1 && !p.linesHorizontal)
      continue;
    auto g = [&](double X, double Y) { return family == 0 ? X * c - Y * s : -(X * s + Y * c); };
    double gmin = g(bx0, by0), gmax = gmin;
    for (double v : {g(bx1, by0), g(bx0, by1), g(bx1, by1)}) {
      gmin = std::min(gmin, v);
      gmax = std::max(gmax, v);
    }
    gmin = gmin / m - 2;
    gmax = gmax / m + 2;
    long long klo = -R, khi = R;
    if (p.spacing == 0) {
      const double x0 = double(left - off);
      if (x0 < gmin || x0 > gmax)
        continue;
      khi = klo; // every k gives the same line: draw it once
    } else {
      double t1 = (gmin - double(left - off)) / p.spacing, t2 = (gmax - double(left - off)) / p.spacing;
      if (t1 > t2)
        std::swap(t1, t2);
      klo = std::max(klo, (long long)std::floor(t1) - 1);
      khi = std::min(khi, (long long)std::ceil(t2) + 1);
    }
    for (long long k = klo; k <= khi; ++k) {
      const long long x0 = left - off + k * p.spacing;
      auto [ax, ay] = rotated(x0, y1);
      auto [bx, by] = rotated(x0, y2);
      if (family == 1) {
        std::tie(ax, ay) = std::pair<double, double>(ay, -ax);
        std::tie(bx, by) = std::pair<double, double>(by, -bx);
      }
      const double mg = band.margin;
      if (!clipSegment(ax, ay, bx, by, -mg, -mg, double(pw) + mg, double(ph) + mg))
        continue;
      if (std::max(ay, by) - band.a < -mg || std::min(ay, by) - band.a > band.height + mg)
        continue;
      cv.line(ax, ay, bx, by);
    }
  }
}

// Tiles: one small turned square per cell of the page.
void drawTiles(Canvas &cv, const BandArea &band, const QRect &pageRect, const BackgroundParams &p) {
  const long long s = p.depress;
  if (s <= 0)
    return; // no cell size, no tiles
  const long long m = p.m;
  const long long q = s * m;
  const long long u = s / 5 - s / 2, L = s - s / 2;
  const long long a = band.a;
  const long long right = pageRect.left() + pageRect.width();
  const long long bottom = pageRect.top() + pageRect.height();
  const long long extent = (std::abs(u) + std::abs(L)) * m * 2 + band.margin;
  const long long jLast = (bottom + a) / q + 5;
  const long long jlo = std::max<long long>(-5, (a - extent) / q - 2);
  const long long jhi = std::min<long long>(jLast, (a + band.height + extent) / q + 2);
  const long long iLast = right / q + 5;
  for (long long j = jlo; j <= jhi; ++j) {
    const long long Y = j * s * m;
    if (Y < -s || Y > bottom + s + a)
      continue;
    if (Y - a + extent < 0 || Y - a - extent > band.height)
      continue;
    for (long long i = -5; i <= iLast; ++i) {
      const long long X = i * s * m;
      if (X < -s || X > right + s)
        continue;
      const double phi = std::sin(double(i + j) * 0.3333333333333333) + std::cos(double(j - i) * 0.5) + 0.05;
      const double cp = std::cos(phi), sp = std::sin(phi);
      const long long corners[4][2] = {{u * m, u * m}, {L * m, u * m}, {L * m, L * m}, {u * m, L * m}};
      QPolygon poly;
      for (const auto &cr : corners) {
        const long long x = (long long)std::trunc(cr[0] * cp + cr[1] * sp);
        const long long y = (long long)std::trunc(cr[1] * cp - cr[0] * sp);
        poly << QPoint(int(x + X), int(y + Y));
      }
      cv.polygon(poly);
    }
  }
}

} // namespace

BackgroundParams BackgroundParams::fromSettings(const Settings &s, int width, int spacing, int angle, bool thumbnail) {
  BackgroundParams p;
  p.style = s.lvBkGrHathStyle;
  p.backgroundColor = s.lvCurBkGrColor;
  p.hatchColor = s.lvHatchColor;
  p.width = width >= 0 ? width : s.lvHatchWidth;
  p.spacing = spacing >= 0 ? spacing : s.lvHatchDepress;
  p.depress = s.lvHatchDepress;
  p.angle = angle >= 0 ? angle : s.lvHatchAngle;
  p.linesHorizontal = s.lvHatchLnHor;
  p.linesVertical = s.lvHatchLnVert;
  p.m = (s.KodAntialias > 0 && !thumbnail) ? std::min(s.KodAntialias, 20) : 1;
  return p;
}

void PaintBackground(QPainter &dc, const QRect &pageRect, int bandOffset, const BackgroundParams &p) {
  if (p.style >= 99) {
    dc.fillRect(pageRect, p.style == 99 ? colorOf(p.backgroundColor) : QColor(Qt::white));
    return;
  }
  const int m = std::max(p.m, 1);
  // Settings may hold anything: keep widths and spacings to what a page can show.
  BackgroundParams q = p;
  q.m = m;
  q.width = std::clamp(p.width, 0, 1000);
  q.spacing = std::clamp(p.spacing, -100000, 100000);
  q.depress = std::clamp(p.depress, -100000, 100000);
  q.angle = p.angle % 360;

  dc.save();
  dc.setRenderHint(QPainter::Antialiasing, false);
  dc.fillRect(pageRect, colorOf(q.backgroundColor));
  QPen pen(colorOf(q.hatchColor));
  pen.setWidth(q.width * m);
  pen.setStyle(Qt::SolidLine);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  dc.setPen(pen);
  dc.setBrush(Qt::NoBrush);

  const double pw = pageRect.width(), ph = pageRect.height();
  const long long R = (long long)std::trunc(std::sqrt(pw * pw + ph * ph) * m + 5);
  long long off = 0;
  if (q.depress > 0) {
    const double sd = q.depress;
    off = (long long)std::trunc((std::ceil(pw / sd) - pw / sd) * sd * 0.5);
  }
  BandArea band;
  band.width = dc.device() ? dc.device()->width() : pageRect.width();
  band.height = dc.device() ? dc.device()->height() : pageRect.height();
  band.a = bandOffset;
  band.margin = q.width * m / 2 + 3;

  // One-pixel pens go straight into a band image (the painter's own thin lines depend on where the band cuts
  // them); wider pens are outlines the painter fills the same way in every band. The raster painter draws at
  // once, so pixels written here land after its fill.
  std::optional<ThinPen> thin;
  QImage *image = dynamic_cast<QImage *>(dc.device());
  if (q.width * m <= 1 && image && dc.transform().isIdentity() &&
      (image->format() == QImage::Format_RGB32 || image->format() == QImage::Format_ARGB32 ||
       image->format() == QImage::Format_ARGB32_Premultiplied)) {
    thin.emplace(*image, bandOffset, colorOf(q.hatchColor).rgb());
  }
  Canvas cv{dc, thin ? &*thin : nullptr, bandOffset};
  switch (q.style) {
  case 0:
    drawChain(cv, band, m, R, pageRect.width());
    break;
  case 1:
    drawWaves(cv, band, m, R, pageRect.width());
    break;
  case 4:
    drawGrid(cv, band, pageRect, q, R, off);
    break;
  case 5:
    drawTiles(cv, band, pageRect, q);
    break;
  default:
    break; // 2, 3 and any other value: the background colour only
  }
  dc.restore();
}

void PaintBackground(QPainter &dc, const QRect &pageRect, int bandOffset, int width, int spacing, int angle,
                     bool thumbnail) {
  PaintBackground(dc, pageRect, bandOffset,
                  BackgroundParams::fromSettings(settings(), width, spacing, angle, thumbnail));
}

QString DateTimeStampText(const QDateTime &when) {
  const QLocale locale = QLocale::system();
  // The locale's full time of day (with seconds), without the time zone.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), timeFormat.trimmed());
}

int DateTimeStampFontHeight(int f) { return f == 0 ? 11 : 10 * f + 2; }

void DrawDateTimeStamp(QPainter &dc, const QRect &pageRect, int f, const QDateTime &when) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(DateTimeStampFontHeight(f));
  font.setWeight(QFont::Normal);
  font.setItalic(true);
  font.setStyleStrategy(f == 0 ? QFont::PreferAntialias : QFont::NoAntialias);
  dc.save();
  dc.setFont(font);
  dc.setPen(Qt::black);
  dc.setBackgroundMode(Qt::TransparentMode);
  dc.drawText(pageRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, DateTimeStampText(when));
  dc.restore();
}

void DrawDateTimeStamp(QPainter &dc, const QRect &pageRect, int f) {
  DrawDateTimeStamp(dc, pageRect, f, QDateTime::currentDateTime());
}

} // namespace render
