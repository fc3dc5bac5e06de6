// Playback of bitmaps, curves, transforms, text outlines and comments.
#include "emf_builder.h"

#include "emf/dib.h"
#include "emf/gdi_text.h"
#include "emf/metafile.h"
#include "emf/player.h"
#include "emf/rop.h"

#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <cstring>
#include <gtest/gtest.h>

using namespace emf;
using emftest::EmfBuilder;

namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kBlue = 0xff0000ff;

QImage play(const EmfBuilder &b, QSize size) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(kWhite);
  HENHMETAFILE mf = b.metafile();
  EXPECT_TRUE(mf);
  EXPECT_TRUE(PlayEnhMetaFile(img, mf, QRect(0, 0, 1000, 1000)));
  return img;
}

int countColor(const QImage &img, QRgb c, QRect area = QRect()) {
  if (area.isNull())
    area = img.rect();
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      n += img.pixel(x, y) == c;
  return n;
}

// EMR_STRETCHDIBITS of a 2 x 2 one-bit DIB (bottom-up; colour table red, blue; top row 1 0, bottom row 0 1).
std::vector<uint8_t> monoStretch(int32_t x, int32_t y, int32_t cx, int32_t cy) {
  std::vector<uint8_t> p;
  auto put = [&p](uint32_t v) { EmfBuilder::put32(p, v); };
  for (int i = 0; i < 4; ++i)
    put(0);
  for (int32_t v : {x, y, 0, 0, 2, 2})
    put(uint32_t(v));
  put(80);  // offBmi
  put(48);  // cbBmi
  put(128); // offBits
  put(8);   // cbBits
  put(0);   // DIB_RGB_COLORS
  put(SRCCOPY);
  put(uint32_t(cx));
  put(uint32_t(cy));
  for (uint32_t v : {40u, 2u, 2u})
    put(v);
  p.push_back(1); // planes
  p.push_back(0);
  p.push_back(1); // bit count
  p.push_back(0);
  for (int i = 0; i < 6; ++i)
    put(0);
  put(0x00ff0000); // RGBQUAD red (bytes b, g, r, 0)
  put(0x000000ff); // RGBQUAD blue
  put(0x00000040); // bottom row: 0 1 (first byte, most significant bit first)
  put(0x00000080); // top row: 1 0
  return p;
}

} // namespace

TEST(PlayerBitmaps, OneBitDibKeepsItsColourTableAndIsStretched) {
  EmfBuilder b;
  b.rec(EMR_SETTEXTCOLOR, {int32_t(EmfBuilder::rgb(0, 255, 0))}); // must not recolour a DIB
  b.raw(EMR_STRETCHDIBITS, monoStretch(10, 10, 40, 40));
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(img.pixel(15, 15), kBlue); // top-left: index 1
  EXPECT_EQ(img.pixel(45, 15), kRed);
  EXPECT_EQ(img.pixel(15, 45), kRed);
  EXPECT_EQ(img.pixel(45, 45), kBlue);
  EXPECT_EQ(countColor(img, kRed) + countColor(img, kBlue), 40 * 40); // exactly the destination
  // Negative destination width mirrors the picture.
  EmfBuilder m;
  m.raw(EMR_STRETCHDIBITS, monoStretch(50, 10, -40, 40));
  const QImage mirrored = play(m, QSize(100, 100));
  EXPECT_EQ(mirrored.pixel(15, 15), kRed);
  EXPECT_EQ(mirrored.pixel(45, 15), kBlue);
}

namespace {

// EMR_SETDIBITSTODEVICE of a 1 x 4 bottom-up 24-bit DIB of which the record carries scans 1 and 2 only
// (scan 1 red, scan 2 blue), drawn 1:1 at (10, 10).
std::vector<uint8_t> partialScans(uint32_t firstScan, uint32_t scanCount) {
  std::vector<uint8_t> p;
  auto put = [&p](uint32_t v) { EmfBuilder::put32(p, v); };
  for (int i = 0; i < 4; ++i)
    put(0); // bounds
  for (int32_t v : {10, 10, 0, 0, 1, 4})
    put(uint32_t(v));
  put(76);  // offBmi
  put(40);  // cbBmi
  put(116); // offBits
  put(8);   // cbBits
  put(0);   // DIB_RGB_COLORS
  put(firstScan);
  put(scanCount);
  for (uint32_t v : {40u, 1u, 4u})
    put(v);
  put(0x00180001); // one plane, 24 bits
  for (int i = 0; i < 6; ++i)
    put(0);
  put(0x00ff0000); // scan 1: bytes b, g, r = red, then padding
  put(0x000000ff); // scan 2: blue
  return p;
}

} // namespace

TEST(PlayerBitmaps, SetDIBitsToDeviceDrawsOnlyTheScansItCarries) {
  EmfBuilder b;
  b.raw(EMR_SETDIBITSTODEVICE, partialScans(1, 2));
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(img.pixel(10, 10), kWhite); // scan 3: not in the record
  EXPECT_EQ(img.pixel(10, 11), kBlue);  // scan 2
  EXPECT_EQ(img.pixel(10, 12), kRed);   // scan 1
  EXPECT_EQ(img.pixel(10, 13), kWhite); // scan 0: not in the record
  // A first scan past the bitmap draws nothing.
  EmfBuilder none;
  none.raw(EMR_SETDIBITSTODEVICE, partialScans(4, 2));
  EXPECT_EQ(countColor(play(none, QSize(100, 100)), kWhite), 100 * 100);
}

TEST(PlayerBitmaps, PatternBlitFollowsTheClipAndSkipsOutsideTheImage) {
  EmfBuilder b;
  b.solidBrush(1, EmfBuilder::rgb(255, 0, 0)).select(1);
  b.rec(EMR_INTERSECTCLIPRECT, {0, 0, 30, 100});
  // BITBLT without a source: PATCOPY paints the brush.
  b.rec(EMR_BITBLT,
        {0, 0, 0, 0, 10, 10, 50, 50, int32_t(PATCOPY), 0, 0, 0x3f800000, 0, 0, 0x3f800000, 0, 0, 0, 0, 0, 0, 0, 0});
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(countColor(img, kRed), 20 * 50);
  EXPECT_EQ(img.pixel(35, 20), kWhite);
}

TEST(PlayerCurves, ArcDirectionChoosesTheHalf) {
  // The same arc from the right point to the left one: counter-clockwise passes over the top, clockwise below.
  auto arc = [](int direction) {
    EmfBuilder b;
    b.rec(EMR_SETARCDIRECTION, {direction});
    b.rec(EMR_ARC, {100, 100, 300, 300, 300, 200, 100, 200});
    return play(b, QSize(400, 400));
  };
  const QImage ccw = arc(AD_COUNTERCLOCKWISE), cw = arc(AD_CLOCKWISE);
  EXPECT_GT(countColor(ccw, 0xff000000, QRect(0, 0, 400, 190)), 100);
  EXPECT_EQ(countColor(ccw, 0xff000000, QRect(0, 210, 400, 190)), 0);
  EXPECT_EQ(countColor(cw, 0xff000000, QRect(0, 0, 400, 190)), 0);
  EXPECT_GT(countColor(cw, 0xff000000, QRect(0, 210, 400, 190)), 100);
}

TEST(PlayerCurves, PolyDrawAndCurrentPosition) {
  EmfBuilder b;
  // POLYDRAW16: move to (10,10), line to (90,10), line to (90,90) and close the figure.
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i)
    EmfBuilder::put32(p, 0);
  EmfBuilder::put32(p, 3);
  for (int16_t v : {10, 10, 90, 10, 90, 90}) {
    p.push_back(uint8_t(v & 0xff));
    p.push_back(uint8_t(uint16_t(v) >> 8));
  }
  for (uint8_t t : {uint8_t(PT_MOVETO), uint8_t(PT_LINETO), uint8_t(PT_LINETO | PT_CLOSEFIGURE)})
    p.push_back(t);
  b.raw(EMR_POLYDRAW16, p);
  b.rec(EMR_LINETO, {90, 0}); // continues from the last point of the POLYDRAW
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(img.pixel(50, 10), 0xff000000u);
  EXPECT_EQ(img.pixel(90, 50), 0xff000000u);
  EXPECT_EQ(img.pixel(50, 50), 0xff000000u); // the closing diagonal
  EXPECT_EQ(img.pixel(90, 5), 0xff000000u);  // the LINETO from (90,90) upwards
}

TEST(PlayerTransforms, WorldTransformRotatesFigures) {
  EmfBuilder b;
  b.rec(EMR_MODIFYWORLDTRANSFORM, {0, 0x3f800000, int32_t(0xbf800000), 0, 0x43480000, 0, MWT_SET}); // 90 degrees, x+200
  b.fill(0, 0, 99, 19, EmfBuilder::rgb(255, 0, 0)); // becomes a tall bar left of x = 200
  b.rec(EMR_MODIFYWORLDTRANSFORM, {0, 0, 0, 0, 0, 0, MWT_IDENTITY});
  b.fill(300, 0, 309, 9, EmfBuilder::rgb(0, 0, 255));
  const QImage img = play(b, QSize(400, 200));
  EXPECT_EQ(img.pixel(190, 50), kRed);
  EXPECT_EQ(img.pixel(150, 10), kWhite);
  EXPECT_EQ(img.pixel(305, 5), kBlue);
}

TEST(PlayerPaths, TextInsideAPathBecomesOutlines) {
  EmfBuilder b;
  b.font(1, -80, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
  b.rec(EMR_BEGINPATH, {});
  b.textW(10, 10, "O");
  b.rec(EMR_ENDPATH, {});
  // Nothing is drawn by the text itself; filling the path paints the letter's ring, not its hole.
  const QImage none = play(b, QSize(100, 100));
  EXPECT_EQ(countColor(none, kWhite), 100 * 100);
  b.solidBrush(2, EmfBuilder::rgb(255, 0, 0)).select(2).rec(EMR_FILLPATH, {0, 0, 0, 0});
  const QImage filled = play(b, QSize(100, 100));
  EXPECT_GT(countColor(filled, kRed), 200);
  EXPECT_EQ(filled.pixel(10 + 33, 10 + 45), kWhite); // inside the O's counter (approximately its centre)
}

TEST(PlayerComments, PlusRecordsInCommentsAreSkipped) {
  EmfBuilder b;
  // A comment carrying what looks like drawing: ignored; the plain records after it are played.
  b.rec(EMR_GDICOMMENT, {16, 0x2B464D45, 0x4008, 12, 0});
  b.fill(0, 0, 9, 9, EmfBuilder::rgb(255, 0, 0));
  EXPECT_EQ(countColor(play(b, QSize(20, 20)), kRed), 100);
}

TEST(PlayerFill, PolyPolygonFillModes) {
  // Two nested squares: ALTERNATE leaves the inner one empty, WINDING (same direction) fills it.
  auto draw = [](int mode) {
    EmfBuilder b;
    b.rec(EMR_SETPOLYFILLMODE, {mode}).solidBrush(1, EmfBuilder::rgb(255, 0, 0)).select(1).stock(NULL_PEN);
    b.rec(EMR_POLYPOLYGON, {0, 0, 0, 0, 2, 8, 4, 4, 0, 0, 100, 0, 100, 100, 0, 100, 25, 25, 75, 25, 75, 75, 25, 75});
    return play(b, QSize(100, 100));
  };
  EXPECT_EQ(draw(ALTERNATE).pixel(50, 50), kWhite);
  EXPECT_EQ(draw(ALTERNATE).pixel(10, 10), kRed);
  EXPECT_EQ(draw(WINDING).pixel(50, 50), kRed);
}

TEST(PlayerBitmaps, ExtremeSourceRectanglesAreRefused) {
  // Source offsets and extents at the ends of the integer range must neither overflow nor draw.
  EmfBuilder b;
  auto rec = monoStretch(10, 10, 40, 40);
  const int32_t extremes[][4] = {
      {INT32_MIN, 0, 2, 2}, {0, INT32_MAX, 2, -2}, {2, 2, INT32_MIN, 2}, {0, 0, 2, INT32_MAX}};
  for (const auto &e : extremes) {
    for (int i = 0; i < 4; ++i) {
      const uint32_t v = uint32_t(e[i]);
      for (int k = 0; k < 4; ++k)
        rec[16 + 8 + 4 * size_t(i) + size_t(k)] = uint8_t(v >> (8 * k)); // xSrc, ySrc, cxSrc, cySrc
    }
    b.raw(EMR_STRETCHDIBITS, rec);
  }
  b.fill(0, 0, 4, 4, EmfBuilder::rgb(0, 0, 255));
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(countColor(img, kBlue), 25);
  EXPECT_EQ(countColor(img, kRed), 0);
}

TEST(PlayerText, WorldRotationTurnsTheTextAndPageFlipsDoNot) {
  auto box = [](bool rotate, bool lometric) {
    EmfBuilder b;
    if (lometric)
      b.rec(EMR_SETMAPMODE, {MM_LOMETRIC});
    if (rotate) // a quarter turn about the origin, then moved to (500, 100)
      b.rec(EMR_MODIFYWORLDTRANSFORM, {0, 0x3f800000, int32_t(0xbf800000), 0, 0x43fa0000, 0x42c80000, MWT_SET});
    b.font(1, -40, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
    b.textW(0, lometric ? -500 : 0, "HHHHHHHH");
    QImage img(1000, 1000, QImage::Format_RGB32);
    img.fill(kWhite);
    PlayEnhMetaFile(img, b.metafile(), img.rect());
    QRect r;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) != kWhite)
          r = r.united(QRect(x, y, 1, 1));
    return r;
  };
  const QRect flat = box(false, false), turned = box(true, false), flipped = box(false, true);
  ASSERT_FALSE(flat.isEmpty());
  EXPECT_GT(flat.width(), 2 * flat.height());
  EXPECT_GT(turned.height(), 2 * turned.width());   // runs down the page
  EXPECT_LT(turned.right(), 500);                   // to the left of the turned origin
  EXPECT_GT(flipped.width(), 2 * flipped.height()); // y-up mapping: still a horizontal line of text
  EXPECT_GT(flipped.top(), 40);
}

namespace {

// EMR_STRETCHDIBITS of the given bitmap (info block and bits) onto x, y, cx, cy.
std::vector<uint8_t> stretchRecord(const std::vector<uint8_t> &bmi, const std::vector<uint8_t> &bits, int32_t x,
                                   int32_t y, int32_t cx, int32_t cy, int32_t srcW, int32_t srcH) {
  std::vector<uint8_t> p;
  auto put = [&p](uint32_t v) { EmfBuilder::put32(p, v); };
  for (int i = 0; i < 4; ++i)
    put(0);
  for (int32_t v : {x, y, 0, 0, srcW, srcH})
    put(uint32_t(v));
  put(80);
  put(uint32_t(bmi.size()));
  put(uint32_t(80 + bmi.size()));
  put(uint32_t(bits.size()));
  put(0);
  put(SRCCOPY);
  put(uint32_t(cx));
  put(uint32_t(cy));
  p.insert(p.end(), bmi.begin(), bmi.end());
  p.insert(p.end(), bits.begin(), bits.end());
  return p;
}

// An 8-bit run-length bitmap of w x h whose rows are runs of changing colours, some rows left out by deltas.
void rleBitmap(int w, int h, std::vector<uint8_t> &bmi, std::vector<uint8_t> &bits) {
  for (uint32_t v : {40u, uint32_t(w), uint32_t(h), 0x00080001u, uint32_t(BI_RLE8), 0u, 0u, 0u, 256u, 0u})
    EmfBuilder::put32(bmi, v);
  for (int i = 0; i < 256; ++i)
    EmfBuilder::put32(bmi, uint32_t(qRgb(i, (i * 7) & 0xff, 255 - i)) & 0xffffff);
  for (int y = 0; y < h; ++y) {
    if (y % 17 == 5) { // a delta jumps over two rows, three columns in
      bits.insert(bits.end(), {0, 2, 3, 2});
      y += 1;
    }
    for (int x = 0; x < w;) {
      const int run = std::min(w - x, 1 + (x * 13 + y * 5) % 40);
      bits.push_back(uint8_t(run));
      bits.push_back(uint8_t(x + y * 3));
      x += run;
    }
    bits.insert(bits.end(), {0, 0});
  }
  bits.insert(bits.end(), {0, 1});
}

} // namespace

TEST(PlayerBitmaps, BandsWithOneCacheDrawWhatTheWholePageDraws) {
  // A bitmap shrunk with averaging, the same bitmap enlarged and mirrored: played in bands of 37 rows with one cache,
  // the page is the page played whole, and each bitmap was prepared once for all the bands.
  std::vector<uint8_t> bmi, bits;
  rleBitmap(300, 200, bmi, bits);
  EmfBuilder b;
  b.rec(EMR_SETSTRETCHBLTMODE, {HALFTONE});
  b.raw(EMR_STRETCHDIBITS, stretchRecord(bmi, bits, 10, 10, 120, 70, 300, 200));
  b.rec(EMR_SETSTRETCHBLTMODE, {COLORONCOLOR});
  b.raw(EMR_STRETCHDIBITS, stretchRecord(bmi, bits, 900, 150, -700, 800, 300, 200));
  const HENHMETAFILE mf = b.metafile();
  ASSERT_TRUE(mf);
  QImage whole(400, 400, QImage::Format_RGB32);
  whole.fill(kWhite);
  ASSERT_TRUE(PlayEnhMetaFile(whole, mf, QRect(0, 0, 400, 400)));
  PlaybackCache cache;
  for (int top = 0; top < 400; top += 37) {
    QImage band(400, 37, QImage::Format_RGB32);
    band.fill(kWhite);
    ASSERT_TRUE(PlayEnhMetaFile(band, mf, QRect(0, -top, 400, 400), &cache));
    for (int y = 0; y < 37 && top + y < 400; ++y)
      ASSERT_EQ(0, memcmp(band.constScanLine(y), whole.constScanLine(top + y), 400 * 4)) << "row " << top + y;
  }
  EXPECT_EQ(cache.preparedCount(), 2u); // one per record, not one per record and band
}

TEST(PlayerText, SymbolFacesDrawTheirOwnGlyphsForBareAndPrivateCodes) {
  // "G" in Wingdings is a pointing hand, and so is U+F047: both draw the glyph the font's symbol table gives for the
  // code, not a Latin letter.
  const SymbolFace face = findSymbolFace(QStringLiteral("Wingdings"));
  if (face.file.isEmpty()) {
    // the build's package list installs the faces, so a continuous-integration run must find them
    ASSERT_FALSE(qEnvironmentVariableIsSet("CI")) << "no Wingdings face found through fontconfig";
    GTEST_SKIP() << "no Wingdings face installed (fonts-wine)";
  }
  const QRawFont raw(face.file, 200, QFont::PreferNoHinting);
  const auto symbols = SymbolMap::fromFont(raw, true);
  ASSERT_TRUE(symbols);
  const quint32 glyph = symbols->glyph(0x47);
  ASSERT_NE(glyph, 0u);
  EXPECT_EQ(symbols->glyph(0xF047), glyph);
  QImage expected(600, 400, QImage::Format_RGB32);
  expected.fill(kWhite);
  {
    QPainter p(&expected);
    p.fillPath(raw.pathForGlyph(glyph).translated(100, 100 + raw.ascent()), Qt::black);
  }
  for (const QString &text : {QStringLiteral("G"), QString(QChar(0xF047))}) {
    SCOPED_TRACE(text.toStdString());
    EmfBuilder b;
    b.font(1, -200, QStringLiteral("Wingdings"), 400, 0, 2).select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
    b.textW(100, 100, text);
    const QImage img = play(b, QSize(600, 400));
    int both = 0, either = 0;
    for (int y = 0; y < 400; ++y)
      for (int x = 0; x < 600; ++x) {
        const bool a = qGray(img.pixel(x, y)) < 128, e = qGray(expected.pixel(x, y)) < 128;
        both += a && e;
        either += a || e;
      }
    ASSERT_GT(either, 500);
    EXPECT_GT(double(both) / either, 0.9);
  }
}

TEST(PlayerText, ChartedSymbolFacesDrawTheUnicodeSymbolsOfTheirCodes) {
  // Wingdings 2 and 3 are drawn as the Unicode characters of their symbols from the font that has them: a run of a
  // private-area code and a bare code draws those characters' shapes side by side at the font's advances, not the
  // Wingdings symbols of the same codes; codes the chart lacks draw the missing glyph, never a letter.
  struct Case {
    QString face, text;
    char32_t first, second;
  };
  const Case cases[] = {{QStringLiteral("Wingdings 2"), QString(QChar(0xF050)) + QChar(0x76), 0x1F5F8, 0x2777},
                        {QStringLiteral("Wingdings 3"), QString(QChar(0xF021)) + QChar(0x86), 0x2B60, 0x2B9E}};
  const SymbolFace wingdings = findSymbolFace(QStringLiteral("Wingdings"));
  auto overlap = [](const QImage &a, const QImage &b) {
    int both = 0, either = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x) {
        const bool da = qGray(a.pixel(x, y)) < 128, db = qGray(b.pixel(x, y)) < 128;
        both += da && db;
        either += da || db;
      }
    EXPECT_GT(either, 500);
    return either ? double(both) / either : 0.0;
  };
  auto drawGlyphs = [](const QRawFont &raw, quint32 g1, quint32 g2) {
    QImage img(800, 400, QImage::Format_RGB32);
    img.fill(kWhite);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF origin(100, 100 + raw.ascent());
    p.fillPath(raw.pathForGlyph(g1).translated(origin), Qt::black);
    const double advance = raw.advancesForGlyphIndexes(QList<quint32>{g1}).value(0).x();
    p.fillPath(raw.pathForGlyph(g2).translated(origin + QPointF(advance, 0)), Qt::black);
    return img;
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.face.toStdString());
    const SymbolFace face = findSymbolFace(c.face);
    ASSERT_FALSE(face.file.isEmpty()) << "no font has the symbols";
    if (face.family.compare(c.face, Qt::CaseInsensitive) == 0)
      GTEST_SKIP() << "the face itself is installed";
    ASSERT_TRUE(face.chart) << face.family.toStdString() << " stands in without the chart";
    QRawFont raw(face.file, 200, QFont::PreferNoHinting);
    const quint32 g1 = raw.glyphIndexesForString(QString::fromUcs4(&c.first, 1)).value(0);
    const quint32 g2 = raw.glyphIndexesForString(QString::fromUcs4(&c.second, 1)).value(0);
    ASSERT_TRUE(g1 && g2) << face.family.toStdString() << " lacks the symbols";
    EmfBuilder b;
    b.font(1, -200, c.face, 400, 0, 2).select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
    b.textW(100, 100, c.text);
    const QImage img = play(b, QSize(800, 400));
    EXPECT_GT(overlap(img, drawGlyphs(raw, g1, g2)), 0.85);
    if (!wingdings.file.isEmpty()) {
      const QRawFont old(wingdings.file, 200, QFont::PreferNoHinting);
      const auto oldMap = SymbolMap::fromFont(old, true);
      ASSERT_TRUE(oldMap);
      EXPECT_LT(overlap(img, drawGlyphs(old, oldMap->glyph(c.text[0].unicode()), oldMap->glyph(c.text[1].unicode()))),
                0.5);
    }
    // Codes outside the chart, bare or in any other form, and the gaps in it take the missing glyph.
    FontCache cache;
    GdiFont f;
    f.face = c.face;
    f.charSet = 2;
    const SizedFont sized = cache.resolve(f, -200, 0);
    const TextLayout l = layoutText(sized, QStringLiteral("\u007f\u00fe\u0100A\uf07f"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(sized.symbols);
    EXPECT_EQ(l.glyphs, (std::vector<quint32>{0, 0, 0, sized.symbols->glyph(0x41), 0}));
    EXPECT_NE(l.glyphs[3], 0u);
    EXPECT_NE(l.glyphs[3], raw.glyphIndexesForString(QStringLiteral("A")).value(0));
  }
}

TEST(PlayerColours, PaletteIndexColoursDrawTheSelectedPaletteEntry) {
  // PALETTEINDEX(n) takes entry n of the selected palette, of the default palette before one is selected, and the
  // first entry for an index past the end; a palette-relative colour is its own RGB value.
  auto paletteIndex = [](uint32_t n) { return int32_t(0x01000000u | n); };
  std::vector<uint8_t> pal;
  for (uint32_t v : {2u, 0x00030300u}) // slot 2, version 0x300, three entries
    EmfBuilder::put32(pal, v);
  for (uint32_t rgb : {0x00102030u, 0x00405060u, 0x00708090u}) // entries as red, green, blue, flags
    EmfBuilder::put32(pal, ((rgb >> 16) & 0xff) | (rgb & 0xff00) | ((rgb & 0xff) << 16));
  EmfBuilder b;
  b.rec(EMR_CREATEBRUSHINDIRECT, {3, BS_SOLID, paletteIndex(13), 0}).select(3).stock(NULL_PEN);
  b.rectangle(0, 0, 102, 102); // default palette entry 13: red
  b.raw(EMR_CREATEPALETTE, pal).rec(EMR_SELECTPALETTE, {2}).rec(EMR_REALIZEPALETTE, {});
  b.rec(EMR_CREATEBRUSHINDIRECT, {4, BS_SOLID, paletteIndex(1), 0}).select(4).rectangle(200, 0, 302, 102);
  b.rec(EMR_CREATEBRUSHINDIRECT, {5, BS_SOLID, paletteIndex(7), 0}).select(5).rectangle(400, 0, 502, 102);
  b.rec(EMR_CREATEBRUSHINDIRECT, {6, BS_SOLID, int32_t(0x02332211u), 0}).select(6).rectangle(600, 0, 702, 102);
  const QImage img = play(b, QSize(1000, 200));
  EXPECT_EQ(img.pixel(50, 50), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(250, 50), qRgb(0x40, 0x50, 0x60));
  EXPECT_EQ(img.pixel(450, 50), qRgb(0x10, 0x20, 0x30));
  EXPECT_EQ(img.pixel(650, 50), qRgb(0x11, 0x22, 0x33));
}

TEST(PlayerLayout, RightToLeftPageIsTheMirrorOfItsTwin) {
  // The same figures, lines, clip and bitmap with and without SETLAYOUT(LAYOUT_RTL): the right-to-left page is the
  // left-to-right page mirrored, pixel for pixel; with LAYOUT_BITMAPORIENTATIONPRESERVED the bitmap lands mirrored
  // in place but keeps its own orientation.
  auto page = [](uint32_t layout) {
    EmfBuilder b;
    if (layout)
      b.rec(EMR_SETLAYOUT, {int32_t(layout)});
    b.fill(20, 30, 180, 90, EmfBuilder::rgb(0, 160, 0));
    b.pen(4, PS_SOLID, 5, EmfBuilder::rgb(200, 0, 0)).select(4).stock(NULL_BRUSH);
    b.rec(EMR_ELLIPSE, {400, 20, 650, 140});
    b.rec(EMR_MOVETOEX, {30, 280}).rec(EMR_LINETO, {330, 170});
    b.clipRegion(RGN_COPY, {{0, 0, 600, 250}});
    b.raw(EMR_STRETCHDIBITS, monoStretch(100, 100, 200, 200));
    b.fill(540, 200, 700, 290, EmfBuilder::rgb(0, 0, 0)); // partly clipped away
    return b;
  };
  const QImage ltr = play(page(0), QSize(1000, 300));
  const QImage rtl = play(page(LAYOUT_RTL), QSize(1000, 300));
  const QImage mirror = ltr.mirrored(true, false);
  int differ = 0;
  QRect where;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 1000; ++x)
      if (rtl.pixel(x, y) != mirror.pixel(x, y)) {
        ++differ;
        where |= QRect(x, y, 1, 1);
      }
  EXPECT_EQ(differ, 0) << "differing pixels within " << where.x() << "," << where.y() << " " << where.width() << "x"
                       << where.height();
  const QImage kept = play(page(LAYOUT_RTL | LAYOUT_BITMAPORIENTATIONPRESERVED), QSize(1000, 300));
  // the bitmap (top row blue, red) covers 700..899 mirrored; its top-left quarter stays blue
  EXPECT_EQ(ltr.pixel(150, 150), kBlue);
  EXPECT_EQ(rtl.pixel(1000 - 1 - 150, 150), kBlue);
  EXPECT_EQ(kept.pixel(750, 150), kBlue);
  EXPECT_EQ(kept.pixel(850, 150), kRed);
  // everything else is mirrored as in the plain right-to-left page
  QImage rest = kept, restRtl = rtl;
  for (QImage *img : {&rest, &restRtl})
    for (int y = 100; y < 300; ++y)
      for (int x = 700; x < 900; ++x)
        img->setPixel(x, y, kWhite);
  EXPECT_EQ(rest, restRtl);
}

TEST(PlayerBitmaps, HalftoneEnlargingAveragesTheAreaUnderEachPixel) {
  // The 2 x 2 bitmap (blue, red above red, blue). Enlarged three times, halftone keeps whole blocks whose destination
  // corners sit on source centres (two columns of the first pixel, the rest of the second); colour-on-colour repeats
  // the pixel under each centre (three and three). Enlarged two and a half times, the halftone pixel straddling the
  // boundary blends its two source pixels by the share it covers.
  auto enlarged = [](int mode, int size) {
    EmfBuilder b;
    b.rec(EMR_SETSTRETCHBLTMODE, {mode});
    b.raw(EMR_STRETCHDIBITS, monoStretch(0, 0, size, size));
    return play(b, QSize(size, size));
  };
  const QImage half = enlarged(HALFTONE, 6), colour = enlarged(COLORONCOLOR, 6);
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(half.pixel(x, 0), x < 2 ? kBlue : kRed) << x;
    EXPECT_EQ(half.pixel(x, 5), x < 2 ? kRed : kBlue) << x;
    EXPECT_EQ(colour.pixel(x, 0), x < 3 ? kBlue : kRed) << x;
  }
  EXPECT_EQ(half.pixel(0, 1), kBlue);
  EXPECT_EQ(half.pixel(0, 2), kRed);
  const QRgb straddle = enlarged(HALFTONE, 5).pixel(1, 0);
  EXPECT_NEAR(qBlue(straddle), 191, 1);
  EXPECT_NEAR(qRed(straddle), 64, 1);
}

TEST(PlayerBitmaps, HalftoneBitmapPastThePageEdgeShowsAllItsPixelsInEveryBand) {
  // A picture 9 pixels wide holding the 2 x 2 bitmap stretched to 12 x 12: halftone draws both source pixels over the
  // 9 pixels that show (the second from column 3 on; stretched to 12 with its end cut off, column 3 would still blend
  // the first); bands join into the whole page.
  EmfBuilder::Options o;
  o.frame = {0, 0, 90, 90};
  EmfBuilder b(o);
  b.rec(EMR_SETSTRETCHBLTMODE, {HALFTONE});
  b.raw(EMR_STRETCHDIBITS, monoStretch(0, 0, 12, 12));
  const HENHMETAFILE mf = b.metafile();
  ASSERT_TRUE(mf);
  QImage whole(9, 9, QImage::Format_RGB32), top(9, 5, QImage::Format_RGB32), bottom(9, 4, QImage::Format_RGB32);
  for (QImage *img : {&whole, &top, &bottom})
    img->fill(kWhite);
  ASSERT_TRUE(PlayEnhMetaFile(whole, mf, QRect(0, 0, 9, 9)));
  ASSERT_TRUE(PlayEnhMetaFile(top, mf, QRect(0, 0, 9, 9)));
  ASSERT_TRUE(PlayEnhMetaFile(bottom, mf, QRect(0, -5, 9, 9)));
  EXPECT_EQ(whole.pixel(1, 0), kBlue);
  EXPECT_EQ(whole.pixel(3, 0), kRed);
  EXPECT_EQ(whole.pixel(0, 8), kRed);
  EXPECT_EQ(whole.pixel(3, 8), kBlue);
  EXPECT_EQ(whole.copy(0, 0, 9, 5), top);
  EXPECT_EQ(whole.copy(0, 5, 9, 4), bottom);
}
