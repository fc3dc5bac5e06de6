// The drawn geometry of the backgrounds, the sharpening, the stamp and the rotation, checked against models built
// here from the drawing rules alone: every hatch pixel must lie on a modelled line or curve, and every modelled line
// or curve must be drawn.
#include "render/background.h"
#include "render/rasteriser.h"
#include "settings/settings.h"
#include "test_support.h"

#include <QLineF>
#include <QPainter>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using render::BackgroundParams;

namespace {

const QRgb kHatch = qRgb(62, 62, 168);

BackgroundParams pattern(int style, int m) {
  BackgroundParams p;
  p.style = style;
  p.m = m;
  return p;
}

QImage paint(const BackgroundParams &p, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  QPainter dc(&img);
  render::PaintBackground(dc, QRect(0, 0, w, h), 0, p);
  return img;
}

using Cubic = std::array<QPointF, 4>;

// The pattern as the rules describe it, in bitmap pixels of the whole page.
struct Model {
  std::vector<Cubic> cubics;
  std::vector<QLineF> lines;

  // Points every quarter pixel along every element that comes near the w x h page.
  std::vector<QPointF> samples(int w, int h) const {
    std::vector<QPointF> out;
    const QRectF near(-4, -4, w + 8, h + 8);
    for (const Cubic &c : cubics) {
      QRectF box;
      for (const QPointF &p : c)
        box = box.united(QRectF(p, QSizeF(0.01, 0.01)));
      if (!box.intersects(near))
        continue;
      const double len = QLineF(c[0], c[1]).length() + QLineF(c[1], c[2]).length() + QLineF(c[2], c[3]).length();
      const int n = std::max(4, int(len * 4));
      for (int i = 0; i <= n; ++i) {
        const double t = double(i) / n, u = 1 - t;
        out.push_back(u * u * u * c[0] + 3 * u * u * t * c[1] + 3 * u * t * t * c[2] + t * t * t * c[3]);
      }
    }
    for (QLineF l : lines) {
      // Only the part inside the page is sampled (the lines reach far beyond it).
      double t0 = 0, t1 = 1;
      const double dx = l.dx(), dy = l.dy();
      const double p[4] = {-dx, dx, -dy, dy};
      const double q[4] = {l.x1() - near.left(), near.right() - l.x1(), l.y1() - near.top(), near.bottom() - l.y1()};
      bool inside = true;
      for (int i = 0; i < 4 && inside; ++i) {
        if (p[i] == 0) {
          inside = q[i] >= 0;
          continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
          t0 = std::max(t0, t);
        else
          t1 = std::min(t1, t);
        inside = t0 <= t1;
      }
      if (!inside)
        continue;
      const QPointF a = l.pointAt(t0), b = l.pointAt(t1);
      const int n = std::max(1, int(QLineF(a, b).length() * 4));
      for (int i = 0; i <= n; ++i)
        out.push_back(a + (b - a) * (double(i) / n));
    }
    return out;
  }
};

struct Verdict {
  int stray = 0;   // hatch pixels more than 1.5 pixels from every modelled element
  int missing = 0; // modelled points with no hatch pixel within 2 pixels
  QPoint firstStray{-1, -1}, firstMissing{-1, -1};
};

Verdict compare(const QImage &img, const Model &model, QRgb hatch = kHatch) {
  const int w = img.width(), h = img.height();
  std::vector<uint8_t> allowed(size_t(w) * h, 0);
  std::vector<QPointF> pts = model.samples(w, h);
  for (const QPointF &p : pts)
    for (int y = int(std::ceil(p.y() - 1.5)); y <= int(std::floor(p.y() + 1.5)); ++y)
      for (int x = int(std::ceil(p.x() - 1.5)); x <= int(std::floor(p.x() + 1.5)); ++x)
        if (x >= 0 && y >= 0 && x < w && y < h)
          allowed[size_t(y) * w + x] = 1;
  auto isHatch = [&](int x, int y) { return (img.pixel(x, y) & 0xFFFFFF) == (hatch & 0xFFFFFF); };
  Verdict v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (isHatch(x, y) && !allowed[size_t(y) * w + x] && v.stray++ == 0)
        v.firstStray = QPoint(x, y);
  for (const QPointF &p : pts) {
    const int cx = int(std::lround(p.x())), cy = int(std::lround(p.y()));
    if (cx < 2 || cy < 2 || cx >= w - 2 || cy >= h - 2)
      continue;
    bool found = false;
    for (int y = cy - 2; y <= cy + 2 && !found; ++y)
      for (int x = cx - 2; x <= cx + 2 && !found; ++x)
        found = isHatch(x, y);
    if (!found && v.missing++ == 0)
      v.firstMissing = QPoint(cx, cy);
  }
  return v;
}

std::string describe(const Verdict &v) {
  return std::to_string(v.stray) + " stray hatch pixels (first at " + std::to_string(v.firstStray.x()) + "," +
         std::to_string(v.firstStray.y()) + "), " + std::to_string(v.missing) + " modelled points undrawn (first at " +
         std::to_string(v.firstMissing.x()) + "," + std::to_string(v.firstMissing.y()) + ")";
}

// Pattern cells are 50 x 50 page pixels starting 50 pixels down; wave rows are 18 pixels apart.
constexpr int W = 50, H = 50, T = 50, V = 18;

// Chain: per row j and cell k two S-shaped 7-point curves (two cubic pieces each) from y0 = jH + T down to y0 + H,
// I = 4kW/3 and N = I + 2W/3 (integer divisions truncate toward zero).
Model chainModel(int w, int h, int m) {
  Model model;
  auto P = [m](long x, long y) { return QPointF(double(x * m), double(y * m)); };
  for (long j = -2; j * H + T <= h / m + H; ++j) {
    const long y0 = j * H + T;
    for (long k = -3; (4 * k * W) / 3 - W <= w / m + W; ++k) {
      const long I = (4 * k * W) / 3, N = I + (2 * W) / 3;
      model.cubics.push_back({P(I - W / 3, y0), P(I + W / 4, y0), P(I + W / 4, y0 + H / 3), P(I, y0 + H / 2)});
      model.cubics.push_back(
          {P(I, y0 + H / 2), P(I - W / 4, y0 + (2 * H) / 3), P(I - W / 4, y0 + H), P(I + W / 3, y0 + H)});
      model.cubics.push_back({P(N + W / 3, y0), P(N - W / 4, y0), P(N - W / 4, y0 + H / 3), P(N, y0 + H / 2)});
      model.cubics.push_back(
          {P(N, y0 + H / 2), P(N + W / 4, y0 + (2 * H) / 3), P(N + W / 4, y0 + H), P(N - W / 3, y0 + H)});
    }
  }
  return model;
}

// Waves: rows V apart, arcs one cell wide through (kW, y0) and ((k + 1)W, y0) with control points H above and below,
// and the same arcs moved right by half a cell.
Model waveModel(int w, int h, int m) {
  Model model;
  auto P = [m](long x, long y) { return QPointF(double(x * m), double(y * m)); };
  for (long j = -5; j * V + T <= h / m + 2 * H; ++j) {
    const long y0 = j * V + T;
    for (long shift : {0L, long(W / 2)})
      for (long k = -1; k * W <= w / m + W; ++k)
        model.cubics.push_back({P(k * W + shift, y0), P(k * W + W / 3 + shift, y0 + H),
                                P(k * W + (2 * W) / 3 + shift, y0 - H), P((k + 1) * W + shift, y0)});
  }
  return model;
}

// Grid at angle 0 on a page of pw x ph bitmap pixels: the first family vertical lines at m(off' + ks), the second
// horizontal lines at -m(off' + ks), where off' = -trunc(half the part of a spacing the page width leaves over).
Model gridModel(int pw, int ph, int m, int s, bool first, bool second) {
  const double over = (std::ceil(double(pw) / s) - double(pw) / s) * s;
  const long off = long(std::trunc(over * 0.5));
  Model model;
  for (long k = -(pw + ph) / s - 2; k <= (pw + ph) / s + 2; ++k) {
    const double x0 = double((-off + k * s) * m);
    if (first)
      model.lines.push_back(QLineF(x0, -10, x0, ph + 10));
    if (second)
      model.lines.push_back(QLineF(-10, -x0, pw + 10, -x0));
  }
  return model;
}

} // namespace

TEST(PatternGeometry, WavesFollowTheirRowPitchAndAmplitude) {
  for (int m : {1, 3}) {
    const int w = 260 * m, h = 190 * m;
    const Verdict v = compare(paint(pattern(1, m), w, h), waveModel(w, h, m));
    EXPECT_EQ(v.stray + v.missing, 0) << "m " << m << ": " << describe(v);
  }
}

TEST(PatternGeometry, ChainFollowsItsCells) {
  for (int m : {1, 2}) {
    const int w = 300 * m, h = 170 * m;
    const Verdict v = compare(paint(pattern(0, m), w, h), chainModel(w, h, m));
    EXPECT_EQ(v.stray + v.missing, 0) << "m " << m << ": " << describe(v);
  }
}

TEST(PatternGeometry, ChainAndWavesCoverWidePagesToTheRightEdge) {
  // An A4 page at 300 dpi without supersampling is 2481 pixels wide; 1500 and 5200 pixels go either side of it.
  for (int w : {1500, 2481, 5200}) {
    const int h = 130;
    Verdict v = compare(paint(pattern(0, 1), w, h), chainModel(w, h, 1));
    EXPECT_EQ(v.stray + v.missing, 0) << "chain, width " << w << ": " << describe(v);
    v = compare(paint(pattern(1, 1), w, h), waveModel(w, h, 1));
    EXPECT_EQ(v.stray + v.missing, 0) << "waves, width " << w << ": " << describe(v);
  }
  // Band by band (bands of 40 rows at factor 2) the wide page is the same picture.
  for (int style : {0, 1}) {
    const int w = 4962, h = 200;
    const QImage whole = paint(pattern(style, 2), w, h);
    for (int a = 0; a < h; a += 40) {
      QImage band(w, 40, QImage::Format_RGB32);
      {
        QPainter dc(&band);
        render::PaintBackground(dc, QRect(QPoint(0, -a), QSize(w, h)), a, pattern(style, 2));
      }
      for (int y = 0; y < 40; ++y)
        ASSERT_EQ(0, std::memcmp(band.constScanLine(y), whole.constScanLine(a + y), size_t(w) * 4))
            << "style " << style << " row " << a + y;
    }
  }
}

TEST(PatternGeometry, GridLinesSitWhereSpacingAndPageWidthPutThem) {
  for (int m : {1, 3}) {
    for (int pw : {205, 233}) {
      BackgroundParams p = pattern(4, m);
      p.spacing = p.depress = 10;
      const int w = pw * m, h = 90 * m;
      const Verdict v = compare(paint(p, w, h), gridModel(w, h, m, 10, true, true));
      EXPECT_EQ(v.stray + v.missing, 0) << "m " << m << " width " << pw << ": " << describe(v);
    }
  }
}

TEST(PatternGeometry, TilesAreTheTurnedSquaresOfTheirCells) {
  for (int m : {1, 2}) {
    const int s = 20;
    BackgroundParams p = pattern(5, m);
    p.depress = p.spacing = s;
    const int w = 260 * m, h = 200 * m;
    // Cell (i, j) at (i s m, j s m) holds the square from u to L (u = s/5 - s/2, L = s - s/2) turned by
    // phi = sin((i + j) / 3) + cos((j - i) / 2) + 0.05, each corner truncated.
    const long u = s / 5 - s / 2, L = s - s / 2;
    Model model;
    for (long j = -5; j * s * m <= h + s; ++j)
      for (long i = -5; i * s * m <= w + s; ++i) {
        const double phi = std::sin(double(i + j) / 3.0) + std::cos(double(j - i) / 2.0) + 0.05;
        const long corners[4][2] = {{u * m, u * m}, {L * m, u * m}, {L * m, L * m}, {u * m, L * m}};
        QPointF q[4];
        for (int c = 0; c < 4; ++c)
          q[c] = QPointF(std::trunc(corners[c][0] * std::cos(phi) + corners[c][1] * std::sin(phi)) + i * s * m,
                         std::trunc(corners[c][1] * std::cos(phi) - corners[c][0] * std::sin(phi)) + j * s * m);
        for (int c = 0; c < 4; ++c)
          model.lines.push_back(QLineF(q[c], q[(c + 1) % 4]));
      }
    const Verdict v = compare(paint(p, w, h), model);
    EXPECT_EQ(v.stray + v.missing, 0) << "m " << m << ": " << describe(v);
  }
}

namespace {

class RenderedGeometry : public ::testing::Test {
protected:
  void SetUp() override {
    settings() = Settings{};
    settings().JPG_Default = false; // BMP: nothing changes the pixels
    render::setPageRotationSource({});
  }
  void TearDown() override {
    settings() = Settings{};
    render::setPageRotationSource({});
  }
  static render::RenderOptions noFile() {
    render::RenderOptions o;
    o.outputMode = 2;
    return o;
  }
};

} // namespace

TEST_F(RenderedGeometry, GridThroughTheRasteriserAtFactorsNoneAnd3) {
  // The rasteriser draws the background on the supersampled page, so the offset follows that page's width.
  settings().lvBkGrHathStyle = 4;
  settings().lvHatchDepress = 10;
  settings().lvHatchLnHor = false;
  settings().lvCurBkGrColor = 0xFFFFFF;
  settings().lvHatchColor = 0x000000;
  const emf::HENHMETAFILE page = rtest::blankPage(5207, 1270); // 205 x 50 pixels at 100 dpi
  for (int f : {0, 3}) {
    settings().KodAntialias = f;
    const QImage q = rtest::toQImage(render::RenderPage(100, page, 0, noFile()));
    ASSERT_EQ(q.width(), 205);
    const int S = f == 0 ? 1 : f;
    const int pw = 205 * S;
    const long off = long(std::trunc((std::ceil(pw / 10.0) - pw / 10.0) * 10 * 0.5));
    for (int x = 0; x < q.width(); ++x) {
      // A line of the supersampled page at m(-off + 10k) lands in output column -off + 10k.
      const bool line = (((x + off) % 10) + 10) % 10 == 0;
      EXPECT_EQ(qRed(q.pixel(x, 25)) < 255, line) << "factor " << f << " column " << x;
    }
  }
}

TEST_F(RenderedGeometry, MillimetresAreRoundedUp) {
  render::RenderPage(50, rtest::blankPage(20940, 29620), 0, noFile());
  EXPECT_EQ(render::lastRenderRecord().widthMm, 210);
  EXPECT_EQ(render::lastRenderRecord().heightMm, 297);
  render::RenderPage(50, rtest::blankPage(20901, 100), 0, noFile());
  EXPECT_EQ(render::lastRenderRecord().widthMm, 210);
  EXPECT_EQ(render::lastRenderRecord().heightMm, 1);
}

TEST_F(RenderedGeometry, SharpeningReachesTwoPixelsFromAnEdge) {
  // One-pixel vertical lines 16 pixels apart: sharpening with radius 2 changes the two columns either side of a
  // line and leaves the third alone.
  settings().lvBkGrHathStyle = 4;
  settings().lvHatchDepress = 16;
  settings().lvHatchLnHor = false;
  settings().KodAntialias = 0;
  const emf::HENHMETAFILE page = rtest::blankPage(5080, 1270);
  const QImage plain = rtest::toQImage(render::RenderPage(100, page, 0, noFile()));
  settings().lvSharpen = true;
  const QImage sharp = rtest::toQImage(render::RenderPage(100, page, 0, noFile()));
  int lines = 0;
  for (int x = 4; x < plain.width() - 4; ++x) {
    if (qRed(plain.pixel(x, 25)) != qRed(kHatch))
      continue;
    ++lines;
    for (int d : {1, 2})
      for (int side : {-1, 1})
        EXPECT_NE(qRed(sharp.pixel(x + side * d, 25)), qRed(plain.pixel(x + side * d, 25)))
            << "distance " << d << " from the line at " << x;
    for (int side : {-1, 1})
      EXPECT_EQ(qRed(sharp.pixel(x + side * 3, 25)), qRed(plain.pixel(x + side * 3, 25)))
          << "distance 3 from the line at " << x;
  }
  EXPECT_GE(lines, 10);
}

namespace {

// Dark pixels of a stamp drawn on white at factor f for the given time.
QImage stampAt(const QDateTime &when, int f, int w = 900, int h = 80) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter dc(&img);
  render::DrawDateTimeStamp(dc, QRect(0, 0, w, 2000), f, when);
  return img;
}

// How many columns hold ink once the rows are sheared by the given slope (x + slope (baseline - y)): upright
// strokes take the fewest columns at slope 0, slanted strokes at their own slope.
int inkColumns(const QImage &img, double slope) {
  std::vector<char> used(size_t(img.width()) * 2 + 200, 0);
  int bottom = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 128)
        bottom = std::max(bottom, y);
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 128) {
        const int c = int(std::lround(x - slope * (bottom - y))) + 100;
        if (c >= 0 && size_t(c) < used.size() && !used[size_t(c)]) {
          used[size_t(c)] = 1;
          ++n;
        }
      }
  return n;
}

} // namespace

TEST(StampReading, ShowsTheSecondsAndTheMinutes) {
  const QDateTime when(QDate(2026, 3, 7), QTime(14, 5, 9));
  const QImage a = stampAt(when, 2);
  EXPECT_NE(a, stampAt(when.addSecs(28), 2)) << "two times that differ in their seconds draw the same stamp";
  EXPECT_NE(a, stampAt(when.addSecs(60), 2));
  EXPECT_EQ(a, stampAt(when, 2));
}

TEST(StampReading, TheTextIsSlanted) {
  // Italic faces lean their strokes by about 12 degrees (a slope near 0.2): shearing the rows back by that slope
  // stands the strokes up and makes the ink take the fewest columns.
  const QImage img = stampAt(QDateTime(QDate(2011, 11, 11), QTime(11, 11, 11)), 3);
  int best = inkColumns(img, 0);
  double bestSlope = 0;
  for (double slope = -0.4; slope <= 0.41; slope += 0.05) {
    const int n = inkColumns(img, slope);
    if (n < best) {
      best = n;
      bestSlope = slope;
    }
  }
  EXPECT_GE(bestSlope, 0.1) << "the strokes stand upright";
  EXPECT_LE(bestSlope, 0.3);
}

TEST_F(RenderedGeometry, RotationsBy90To360MoveTheTopLeftCorner) {
  // The stamp marks the page's top-left corner; each rotation turns the page clockwise.
  settings().lvIncludeDateTime = true;
  settings().KodAntialias = 0;
  const emf::HENHMETAFILE page = rtest::blankPage(10160, 5080); // 200 x 100 pixels at 50 dpi
  struct Case {
    double angle;
    int w, h;
    bool right, bottom; // where the stamp ends up
  };
  for (const Case &c : {Case{90, 100, 200, true, false}, Case{180, 200, 100, true, true},
                        Case{270, 100, 200, false, true}, Case{360, 200, 100, false, false}}) {
    render::setPageRotationSource([&](int) { return c.angle; });
    const QImage q = rtest::toQImage(render::RenderPage(50, page, 0, noFile()));
    ASSERT_EQ(q.width(), c.w) << c.angle;
    ASSERT_EQ(q.height(), c.h) << c.angle;
    QRect ink;
    for (int y = 0; y < q.height(); ++y)
      for (int x = 0; x < q.width(); ++x)
        if (qGray(q.pixel(x, y)) < 128)
          ink = ink.united(QRect(x, y, 1, 1));
    ASSERT_FALSE(ink.isEmpty()) << c.angle;
    EXPECT_EQ(ink.center().x() > q.width() / 2, c.right) << c.angle;
    EXPECT_EQ(ink.center().y() > q.height() / 2, c.bottom) << c.angle;
    // The stamp hugs the corner it was turned into.
    EXPECT_LE(c.right ? q.width() - 1 - ink.right() : ink.left(), 3) << c.angle;
    EXPECT_LE(c.bottom ? q.height() - 1 - ink.bottom() : ink.top(), 3) << c.angle;
  }
}
