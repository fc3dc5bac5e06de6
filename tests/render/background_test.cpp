#include "settings/settings.h"
#include "render/background.h"

#include <QPainter>
#include <gtest/gtest.h>

using render::BackgroundParams;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);

BackgroundParams params(int style, int m = 1) {
  BackgroundParams p;
  p.style = style;
  p.backgroundColor = 0x80FF80; // RGB(128, 255, 128)
  p.hatchColor = 0xA83E3E;      // RGB(62, 62, 168)
  p.m = m;
  return p;
}

QImage paintWhole(const BackgroundParams &p, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  QPainter dc(&img);
  render::PaintBackground(dc, QRect(0, 0, w, h), 0, p);
  return img;
}

// The same page painted band by band, as the rasteriser does, glued back together.
QImage paintInBands(const BackgroundParams &p, int w, int h, int bandHeight) {
  QImage out(w, h, QImage::Format_RGB32);
  for (int a = 0; a < h; a += bandHeight) {
    const int bh = std::min(bandHeight, h - a);
    QImage band(w, bh, QImage::Format_RGB32);
    band.fill(Qt::black);
    {
      QPainter dc(&band);
      render::PaintBackground(dc, QRect(QPoint(0, -a), QSize(w, h)), a, p);
    }
    for (int y = 0; y < bh; ++y)
      std::memcpy(out.scanLine(a + y), band.constScanLine(y), size_t(w) * 4);
  }
  return out;
}

int countColor(const QImage &img, QRgb c) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      n += (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
  return n;
}

int countColorInRow(const QImage &img, int y, QRgb c) {
  int n = 0;
  for (int x = 0; x < img.width(); ++x)
    n += (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
  return n;
}

const QRgb kBack = qRgb(128, 255, 128);
const QRgb kHatch = qRgb(62, 62, 168);

} // namespace

TEST(PaintBackground, PlainStylesFillWithoutLines) {
  const int w = 120, h = 90;
  // 100 and anything above: white, whatever the colours say.
  for (int style : {100, 101, 5000}) {
    const QImage img = paintWhole(params(style), w, h);
    EXPECT_EQ(countColor(img, kWhite), w * h) << "style " << style;
  }
  // 99: the background colour; 2, 3 and other values below 99: the background colour only.
  for (int style : {99, 2, 3, 6, 42, -7}) {
    const QImage img = paintWhole(params(style), w, h);
    EXPECT_EQ(countColor(img, kBack), w * h) << "style " << style;
  }
}

TEST(PaintBackground, PatternStylesDrawHatchLinesOnTheBackground) {
  const int w = 300, h = 260;
  for (int style : {0, 1, 4, 5}) {
    const QImage img = paintWhole(params(style), w, h);
    const int hatch = countColor(img, kHatch), back = countColor(img, kBack);
    EXPECT_GT(hatch, w * h / 50) << "style " << style;
    EXPECT_GT(back, w * h / 3) << "style " << style;
    EXPECT_EQ(hatch + back, w * h) << "style " << style << ": aliased drawing mixes no colours";
  }
}

TEST(PaintBackground, EveryStyleDrawsTheSamePixelsWhateverTheBandSplit) {
  const int w = 230, h = 410;
  struct Case {
    int style, m, width, angle;
  };
  const Case cases[] = {{0, 1, 0, 0}, {0, 3, 1, 0},  {1, 1, 0, 0},  {1, 2, 2, 0},  {4, 1, 0, 0},
                        {4, 3, 0, 0}, {4, 1, 0, 30}, {4, 3, 1, 45}, {4, 2, 0, 90}, {4, 1, 3, 71},
                        {5, 1, 0, 0}, {5, 3, 0, 0},  {5, 2, 2, 0},  {99, 3, 0, 0}, {100, 1, 0, 0}};
  for (const Case &c : cases) {
    BackgroundParams p = params(c.style, c.m);
    p.width = c.width;
    p.angle = c.angle;
    const QImage whole = paintWhole(p, w, h);
    for (int band : {1, 37, 200, 400}) {
      const QImage glued = paintInBands(p, w, h, band);
      int differ = 0;
      for (int y = 0; y < h; ++y)
        differ += std::memcmp(whole.constScanLine(y), glued.constScanLine(y), size_t(w) * 4) != 0;
      EXPECT_EQ(differ, 0) << "style " << c.style << " m " << c.m << " width " << c.width << " angle " << c.angle
                           << ": " << differ << " rows differ in bands of " << band;
    }
  }
}

TEST(PaintBackground, GridFamiliesAndTheAngleRule) {
  const int w = 200, h = 200;
  BackgroundParams p = params(4);
  p.spacing = 10;
  p.depress = 10;
  // Only the first ("vertical") family at angle 0: vertical lines, so no row is all hatch colour.
  p.linesHorizontal = false;
  p.linesVertical = true;
  QImage img = paintWhole(p, w, h);
  EXPECT_EQ(countColorInRow(img, 100, kHatch), w / 10);
  int fullRows = 0;
  for (int y = 0; y < h; ++y)
    fullRows += countColorInRow(img, y, kHatch) == w;
  EXPECT_EQ(fullRows, 0);

  // At 90 degrees the same family is drawn horizontally.
  p.angle = 90;
  img = paintWhole(p, w, h);
  fullRows = 0;
  for (int y = 0; y < h; ++y)
    fullRows += countColorInRow(img, y, kHatch) == w;
  EXPECT_EQ(fullRows, h / 10);

  // And the second family at 90 degrees is vertical again.
  p.linesHorizontal = true;
  p.linesVertical = false;
  img = paintWhole(p, w, h);
  EXPECT_EQ(countColorInRow(img, 55, kHatch), w / 10);

  // Neither family: background only.
  p.linesHorizontal = false;
  img = paintWhole(p, w, h);
  EXPECT_EQ(countColor(img, kBack), w * h);
}

TEST(PaintBackground, LineSpacingAndWidthScaleWithTheFactor) {
  BackgroundParams p = params(4, 3);
  p.linesHorizontal = false;
  p.spacing = 8;
  p.depress = 8;
  const QImage img = paintWhole(p, 480, 48);
  // Lines every 8 x 3 pixels, one pixel wide at width 0.
  EXPECT_EQ(countColorInRow(img, 20, kHatch), 480 / 24);
  p.width = 2; // a pen of 2 x 3 pixels
  const QImage wide = paintWhole(p, 480, 48);
  const int perLine = countColorInRow(wide, 20, kHatch) / (480 / 24);
  EXPECT_GE(perLine, 5);
  EXPECT_LE(perLine, 7);
}

TEST(PaintBackground, ZeroSpacingNeitherDividesByZeroNorHangs) {
  BackgroundParams p = params(4);
  p.spacing = 0;
  p.depress = 0;
  const QImage grid = paintWhole(p, 100, 100);
  EXPECT_GT(countColor(grid, kBack), 0);
  p.style = 5;
  const QImage tiles = paintWhole(p, 100, 100);
  EXPECT_EQ(countColor(tiles, kBack), 100 * 100);
}

TEST(PaintBackground, ArgumentsOverrideSettingsOnlyWhenNotNegative) {
  Settings s;
  s.lvBkGrHathStyle = 4;
  s.lvHatchWidth = 2;
  s.lvHatchDepress = 12;
  s.lvHatchAngle = 30;
  s.KodAntialias = 5;
  BackgroundParams p = BackgroundParams::fromSettings(s, -1, -1, -1, false);
  EXPECT_EQ(p.width, 2);
  EXPECT_EQ(p.spacing, 12);
  EXPECT_EQ(p.angle, 30);
  EXPECT_EQ(p.m, 5);
  p = BackgroundParams::fromSettings(s, 0, 3, 0, true);
  EXPECT_EQ(p.width, 0);
  EXPECT_EQ(p.spacing, 3);
  EXPECT_EQ(p.depress, 12); // the offset and the tiles always use the stored spacing
  EXPECT_EQ(p.angle, 0);
  EXPECT_EQ(p.m, 1); // thumbnails draw at scale 1
  s.KodAntialias = 0;
  EXPECT_EQ(BackgroundParams::fromSettings(s, -1, -1, -1, false).m, 1);
}

TEST(DateTimeStamp, FontHeightFollowsTheFactor) {
  EXPECT_EQ(render::DateTimeStampFontHeight(0), 11);
  EXPECT_EQ(render::DateTimeStampFontHeight(2), 22);
  EXPECT_EQ(render::DateTimeStampFontHeight(3), 32);
  EXPECT_EQ(render::DateTimeStampFontHeight(20), 202);
}

TEST(DateTimeStamp, TextIsTheLocaleShortDateAndTheTime) {
  const QDateTime when(QDate(2026, 3, 7), QTime(14, 5, 9));
  const QString text = render::DateTimeStampText(when);
  EXPECT_TRUE(text.startsWith(QLocale::system().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("05"))) << text.toStdString();
}

TEST(DateTimeStamp, DrawnInTheTopLeftCornerOfTheFirstBandOnly) {
  const QDateTime when(QDate(2026, 3, 7), QTime(14, 5, 9));
  const int w = 400, h = 120;
  QImage first(w, h, QImage::Format_RGB32);
  first.fill(Qt::white);
  {
    QPainter dc(&first);
    render::DrawDateTimeStamp(dc, QRect(0, 0, w, 1000), 0, when);
  }
  int dark = 0, darkOutside = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (qGray(first.pixel(x, y)) < 128) {
        ++dark;
        darkOutside += (y >= 20 || x >= 250);
      }
  EXPECT_GT(dark, 20);
  EXPECT_EQ(darkOutside, 0);

  // The second band of the same page (page rectangle shifted up) shows nothing of it.
  QImage second(w, h, QImage::Format_RGB32);
  second.fill(Qt::white);
  {
    QPainter dc(&second);
    render::DrawDateTimeStamp(dc, QRect(QPoint(0, -h), QSize(w, 1000)), 0, when);
  }
  EXPECT_EQ(countColor(second, kWhite), w * h);

  // At factor 3 the text is about three times as tall.
  QImage big(1200, 200, QImage::Format_RGB32);
  big.fill(Qt::white);
  {
    QPainter dc(&big);
    render::DrawDateTimeStamp(dc, QRect(0, 0, 1200, 1000), 3, when);
  }
  int lowest = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 1200; ++x)
      if (qGray(big.pixel(x, y)) < 128)
        lowest = std::max(lowest, y);
  EXPECT_GT(lowest, 20);
  EXPECT_LT(lowest, 50);
}
