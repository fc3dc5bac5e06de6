// Playback: frame mapping on real drawing, mapping modes, state save/restore, clipping, text alignment, ROP2,
// pens, hatches, bands.
#include "emf_builder.h"

#include "emf/metafile.h"
#include "emf/rop.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace emf;
using emftest::EmfBuilder;

namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kBlue = 0xff0000ff;
const uint32_t red = EmfBuilder::rgb(255, 0, 0);
const uint32_t blue = EmfBuilder::rgb(0, 0, 255);

QImage play(const EmfBuilder &b, QSize size = QSize(1000, 1000), QRect dest = QRect()) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(kWhite);
  HENHMETAFILE mf = b.metafile();
  EXPECT_TRUE(mf);
  if (dest.isNull())
    dest = QRect(QPoint(0, 0), size);
  EXPECT_TRUE(PlayEnhMetaFile(img, mf, dest));
  return img;
}

// The bounding box of pixels that are not white.
QRect inked(const QImage &img) {
  QRect box;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixel(x, y) != kWhite)
        box = box.united(QRect(x, y, 1, 1));
  return box;
}

int countColor(const QImage &img, QRgb c) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      n += img.pixel(x, y) == c;
  return n;
}

} // namespace

TEST(PlayerFrame, RectangleAtFrameCornersLandsOnDestinationCorners) {
  EmfBuilder b;
  b.stock(NULL_BRUSH).rectangle(0, 0, 1000, 1000);
  // 1:1, offset destination, and a shrunken one.
  EXPECT_EQ(inked(play(b)), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(inked(play(b, QSize(300, 300), QRect(10, 20, 200, 100))), QRect(10, 20, 200, 100));
  // A destination above the image (a later band) shows only its lower part.
  const QImage band = play(b, QSize(1000, 100), QRect(0, -950, 1000, 1000));
  EXPECT_EQ(inked(band), QRect(0, 0, 1000, 50));
}

TEST(PlayerFrame, FrameOffsetAndScaleFollowTheReferenceDevice) {
  EmfBuilder::Options o;
  o.frame = {1000, 2000, 6000, 7000}; // reference pixels (100,200)-(600,700)
  EmfBuilder b(o);
  b.solidBrush(1, red).select(1).rectangle(100, 200, 350, 450); // the frame's top-left quarter
  const QImage img = play(b, QSize(100, 100));
  EXPECT_EQ(inked(img), QRect(0, 0, 50, 50));
  EXPECT_EQ(img.pixel(10, 10), kRed);
}

TEST(PlayerShapes, RectangleExcludesRightAndBottomEdge) {
  EmfBuilder b;
  b.solidBrush(1, red).select(1).rectangle(10, 10, 20, 30);
  const QImage img = play(b, QSize(50, 50), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(inked(img), QRect(10, 10, 10, 20));
  EXPECT_EQ(img.pixel(15, 15), kRed);
  EXPECT_EQ(img.pixel(10, 10), 0xff000000u); // the black outline
  // With the null pen the figure is one pixel smaller.
  EmfBuilder n;
  n.solidBrush(1, red).select(1).stock(NULL_PEN).rectangle(10, 10, 20, 30);
  EXPECT_EQ(inked(play(n, QSize(50, 50), QRect(0, 0, 1000, 1000))), QRect(10, 10, 9, 19));
}

TEST(PlayerShapes, CosmeticPenStaysOnePixelUnderScaling) {
  EmfBuilder b;
  b.rec(EMR_SETMAPMODE, {MM_ANISOTROPIC})
      .rec(EMR_SETWINDOWEXTEX, {10, 10})
      .rec(EMR_SETVIEWPORTEXTEX, {100, 100})
      .pen(1, PS_SOLID, 0, red)
      .select(1)
      .rec(EMR_MOVETOEX, {1, 5})
      .rec(EMR_LINETO, {8, 5});
  const QImage img = play(b, QSize(100, 100), QRect(0, 0, 1000, 1000));
  const QRect box = inked(img);
  EXPECT_EQ(box.height(), 1);
  EXPECT_EQ(box.top(), 50);
  // A geometric width follows the transform: 2 logical units are 20 pixels.
  EmfBuilder g;
  g.rec(EMR_SETMAPMODE, {MM_ANISOTROPIC})
      .rec(EMR_SETWINDOWEXTEX, {10, 10})
      .rec(EMR_SETVIEWPORTEXTEX, {100, 100})
      .pen(1, PS_SOLID | PS_ENDCAP_FLAT, 2, red)
      .select(1)
      .rec(EMR_MOVETOEX, {1, 5})
      .rec(EMR_LINETO, {8, 5});
  EXPECT_NEAR(inked(play(g, QSize(100, 100), QRect(0, 0, 1000, 1000))).height(), 20, 1);
}

TEST(PlayerMapping, ModesPlaceTheSameSquare) {
  // A 10 mm square 10 mm from the top-left corner, drawn in four mapping modes.
  auto square = [](int mode, int32_t l, int32_t t, int32_t r, int32_t bt) {
    EmfBuilder b;
    b.rec(EMR_SETMAPMODE, {mode}).stock(NULL_BRUSH).rectangle(l, t, r, bt);
    return inked(play(b));
  };
  const QRect expected(100, 100, 100, 100);
  EXPECT_EQ(square(MM_TEXT, 100, 100, 200, 200), expected);
  EXPECT_EQ(square(MM_LOMETRIC, 100, -100, 200, -200), expected);
  EXPECT_EQ(square(MM_HIMETRIC, 1000, -1000, 2000, -2000), expected);
  const QRect twips = square(MM_TWIPS, 567, -567, 1134, -1134);
  EXPECT_NEAR(twips.left(), 100, 1);
  EXPECT_NEAR(twips.width(), 100, 1);
}

TEST(PlayerState, SaveAndRestoreRelativeAndAbsolute) {
  EmfBuilder b;
  b.solidBrush(1, red).solidBrush(2, blue).stock(NULL_PEN);
  b.select(1).rec(EMR_SAVEDC, {});                                     // level 1: red
  b.select(2).rec(EMR_SETVIEWPORTORGEX, {500, 0}).rec(EMR_SAVEDC, {}); // level 2: blue, shifted
  b.rec(EMR_SETVIEWPORTORGEX, {0, 500});
  b.rec(EMR_RESTOREDC, {-1});  // back to level 2
  b.rectangle(0, 0, 101, 101); // blue at x 500
  b.rec(EMR_RESTOREDC, {1});   // absolute: level 1, which also drops level 2
  b.rectangle(0, 0, 101, 101); // red at origin
  b.rec(EMR_RESTOREDC, {-1});  // nothing saved any more: ignored
  b.rec(EMR_RESTOREDC, {5});   // out of range: ignored
  b.rectangle(0, 200, 101, 301);
  const QImage img = play(b);
  EXPECT_EQ(img.pixel(550, 50), kBlue);
  EXPECT_EQ(img.pixel(50, 50), kRed);
  EXPECT_EQ(img.pixel(50, 250), kRed);
  EXPECT_EQ(img.pixel(50, 550), kWhite);
}

TEST(PlayerClip, IntersectExcludeRegionAndReset) {
  EmfBuilder b;
  b.rec(EMR_INTERSECTCLIPRECT, {100, 100, 300, 300});
  b.rec(EMR_EXCLUDECLIPRECT, {150, 150, 200, 200});
  b.fill(0, 0, 499, 499, red);
  // Region in device units, OR-ed in, then everything reset by a null region before the last fill.
  b.clipRegion(RGN_COPY, {{600, 600, 700, 700}});
  b.fill(500, 500, 999, 999, blue);
  b.clipRegion(RGN_COPY, {});
  b.fill(0, 900, 99, 999, blue);
  const QImage img = play(b);
  EXPECT_EQ(img.pixel(99, 120), kWhite);
  EXPECT_EQ(img.pixel(100, 100), kRed);
  EXPECT_EQ(img.pixel(299, 299), kRed);
  EXPECT_EQ(img.pixel(300, 299), kWhite);
  EXPECT_EQ(img.pixel(175, 175), kWhite); // excluded
  EXPECT_EQ(img.pixel(149, 175), kRed);
  EXPECT_EQ(img.pixel(650, 650), kBlue);
  EXPECT_EQ(img.pixel(550, 550), kWhite);
  EXPECT_EQ(img.pixel(50, 950), kBlue); // after the reset nothing clips
}

TEST(PlayerClip, MetaRegionLimitsLaterClips) {
  EmfBuilder b;
  b.rec(EMR_INTERSECTCLIPRECT, {0, 0, 100, 100});
  b.rec(EMR_SETMETARGN, {});
  b.clipRegion(RGN_COPY, {{50, 50, 200, 200}}); // cannot reach beyond the meta region
  b.fill(0, 0, 299, 299, red);
  const QImage img = play(b, QSize(300, 300), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(inked(img), QRect(50, 50, 50, 50));
}

TEST(PlayerClip, OffsetClipAndClipPath) {
  EmfBuilder b;
  b.rec(EMR_INTERSECTCLIPRECT, {0, 0, 50, 50});
  b.rec(EMR_OFFSETCLIPRGN, {100, 0});
  b.fill(0, 0, 299, 99, red);
  // A triangle path as the clip: only its inside is painted.
  b.rec(EMR_BEGINPATH, {}).rec(EMR_MOVETOEX, {0, 200}).rec(EMR_LINETO, {200, 200}).rec(EMR_LINETO, {0, 400});
  b.rec(EMR_CLOSEFIGURE, {}).rec(EMR_ENDPATH, {}).rec(EMR_SELECTCLIPPATH, {RGN_COPY});
  b.fill(0, 150, 299, 499, blue);
  const QImage img = play(b, QSize(300, 500), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(img.pixel(25, 25), kWhite);
  EXPECT_EQ(img.pixel(125, 25), kRed);
  EXPECT_EQ(img.pixel(20, 220), kBlue);
  EXPECT_EQ(img.pixel(180, 380), kWhite);
  EXPECT_EQ(img.pixel(20, 160), kWhite);
}

TEST(PlayerRop2, KnownPixels) {
  // A pen colour over a known background: each binary operation gives its bitwise result.
  struct Case {
    int rop;
    QRgb expected;
  };
  const QRgb bg = 0xff336699;
  const uint32_t penRef = EmfBuilder::rgb(0x0f, 0xf0, 0x55);
  const Case cases[] = {
      {R2_XORPEN, 0xff3c96cc},
      {R2_NOT, 0xffcc9966},
      {R2_MASKPEN, 0xff036011},
      {R2_MERGEPEN, 0xff3ff6dd},
      {R2_BLACK, 0xff000000},
      {R2_WHITE, 0xffffffff},
      {R2_NOP, bg},
      {R2_NOTCOPYPEN, 0xfff00faa},
      {R2_COPYPEN, 0xff0ff055},
  };
  for (const Case &c : cases) {
    EmfBuilder b;
    b.fill(0, 0, 99, 99, EmfBuilder::rgb(0x33, 0x66, 0x99));
    b.solidBrush(2, penRef).select(2).rec(EMR_SETROP2, {c.rop}).rectangle(10, 10, 61, 61);
    const QImage img = play(b, QSize(100, 100), QRect(0, 0, 1000, 1000));
    EXPECT_EQ(img.pixel(30, 30) | 0xff000000, c.expected) << "ROP2 " << c.rop;
  }
}

TEST(PlayerRop2, OutlineAndFillCombineEachPixelOnce) {
  // XOR over white: the outline pixels take the pen once and the interior the brush once.
  EmfBuilder b;
  b.solidBrush(1, EmfBuilder::rgb(255, 0, 0)).pen(2, PS_SOLID, 0, EmfBuilder::rgb(0, 0, 255));
  b.select(1).select(2).rec(EMR_SETROP2, {R2_XORPEN}).rectangle(10, 10, 30, 30);
  const QImage img = play(b, QSize(50, 50), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(img.pixel(10, 20), 0xffffff00u); // left edge: white ^ blue
  EXPECT_EQ(img.pixel(20, 10), 0xffffff00u); // top edge
  EXPECT_EQ(img.pixel(29, 20), 0xffffff00u); // right edge
  EXPECT_EQ(img.pixel(20, 20), 0xff00ffffu); // interior: white ^ red
}

TEST(PlayerBrushes, HatchIsAnEightPixelPatternAndOpaqueFillsGaps) {
  EmfBuilder b;
  b.rec(EMR_CREATEBRUSHINDIRECT, {1, int32_t(BS_HATCHED), int32_t(red), int32_t(HS_HORIZONTAL)});
  b.select(1).stock(NULL_PEN).rec(EMR_SETBKMODE, {TRANSPARENT}).rectangle(0, 0, 41, 41);
  b.rec(EMR_SETBKMODE, {OPAQUE}).rec(EMR_SETBKCOLOR, {int32_t(blue)}).rectangle(50, 0, 91, 41);
  // Drawn at 10x: hatch lines are still 8 target pixels apart.
  const QImage img = play(b, QSize(100, 100), QRect(0, 0, 1000, 1000));
  std::vector<int> rows;
  for (int y = 0; y < 40; ++y)
    if (img.pixel(20, y) == kRed)
      rows.push_back(y);
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(rows[0] % 8, 3); // the line sits on the fourth row of each 8-row cell, counted from the image top
  for (size_t i = 1; i < rows.size(); ++i)
    EXPECT_EQ(rows[i] - rows[i - 1], 8);
  EXPECT_EQ(img.pixel(20, rows[0] + 1), kWhite); // transparent gaps
  EXPECT_EQ(img.pixel(70, rows[0] + 1), kBlue);  // opaque gaps take the background colour
  EXPECT_EQ(img.pixel(70, rows[0]), kRed);

  // A wide pen with a hatch follows the same pattern; an unknown hatch paints the pen colour, as for a brush.
  auto penColumn = [](int32_t hatch) {
    EmfBuilder p;
    p.rec(EMR_EXTCREATEPEN,
          {2, 0, 0, 0, 0, int32_t(PS_GEOMETRIC | PS_ENDCAP_FLAT), 20, int32_t(BS_HATCHED), int32_t(red), hatch, 0});
    p.select(2).rec(EMR_SETBKMODE, {TRANSPARENT}).rec(EMR_MOVETOEX, {50, 10}).rec(EMR_LINETO, {50, 90});
    const QImage img = play(p, QSize(100, 100), QRect(0, 0, 1000, 1000));
    int n = 0;
    for (int y = 20; y < 80; ++y)
      n += img.pixel(50, y) == kRed;
    return n;
  };
  EXPECT_EQ(penColumn(HS_HORIZONTAL), 60 / 8);
  EXPECT_EQ(penColumn(7), 60);
}

TEST(PlayerText, AlignmentMovesTheTextAroundTheReferencePoint) {
  auto textBox = [](uint32_t align, uint32_t extra = 0) {
    EmfBuilder b;
    b.font(1, -40, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
    b.rec(EMR_SETTEXTALIGN, {int32_t(align | extra)});
    b.textW(500, 500, "HHHH");
    return inked(play(b));
  };
  const QRect left = textBox(TA_LEFT | TA_TOP);
  const QRect right = textBox(TA_RIGHT | TA_TOP);
  const QRect center = textBox(TA_CENTER | TA_BASELINE);
  const QRect bottom = textBox(TA_LEFT | TA_BOTTOM);
  ASSERT_FALSE(left.isEmpty());
  EXPECT_NEAR(left.left(), 500, 6);
  EXPECT_GT(left.top(), 500);
  EXPECT_NEAR(right.right(), 500, 6);
  EXPECT_NEAR((center.left() + center.right()) / 2.0, 500, 4);
  EXPECT_NEAR(center.bottom(), 500, 2); // capitals sit on the baseline
  EXPECT_LT(bottom.bottom(), 500);
  EXPECT_NEAR(left.width(), right.width(), 1);
}

TEST(PlayerText, NonSquareDeviceNarrowsGlyphsAndPensMeasureAlongX) {
  // 100 x 100 mm recorded on a square device and on one with twice the pixels across (2000 x 1000), drawn at 10 pixels
  // per millimetre. Text without a width of its own keeps its natural width in device pixels: half as wide on the
  // page, as tall. A 20-unit pen measures 20 device pixels across, 10 on the page whichever way its line runs.
  auto page = [](int across) {
    EmfBuilder::Options o;
    o.device = {across, 1000};
    EmfBuilder b(o);
    b.font(1, -100, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
    b.textW(100 * across / 1000, 300, "HHH");
    b.rec(EMR_CREATEPEN, {2, int32_t(PS_SOLID), 20, 0, 0}).select(2);
    b.rec(EMR_MOVETOEX, {200 * across / 1000, 700}).rec(EMR_LINETO, {900 * across / 1000, 700});
    b.rec(EMR_MOVETOEX, {950 * across / 1000, 500}).rec(EMR_LINETO, {950 * across / 1000, 900});
    return play(b);
  };
  const QImage square = page(1000), narrow = page(2000);
  const QRect text = inked(square.copy(0, 0, 1000, 480)), narrowText = inked(narrow.copy(0, 0, 1000, 480));
  ASSERT_GT(text.width(), 100);
  EXPECT_NEAR(narrowText.width(), text.width() / 2.0, 3);
  EXPECT_NEAR(narrowText.height(), text.height(), 1);
  EXPECT_EQ(inked(narrow.copy(500, 600, 1, 200)).height(), 10); // the horizontal line
  EXPECT_EQ(inked(narrow.copy(900, 800, 100, 1)).width(), 10);  // the vertical line
  EXPECT_EQ(inked(square.copy(500, 600, 1, 200)).height(), 20);
}

TEST(PlayerText, DxPlacesEachCharacterAndUpdateCpAdvances) {
  EmfBuilder b;
  b.font(1, -30, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
  b.textW(100, 100, "II", 0, {300, 10});
  const QImage spaced = play(b);
  const QRect box = inked(spaced);
  EXPECT_GT(box.width(), 295); // the second I is 300 units to the right
  EXPECT_LT(box.width(), 320);

  // With TA_UPDATECP the second string starts where the first ended.
  EmfBuilder c;
  c.font(1, -30, "DejaVu Sans").select(1).rec(EMR_SETBKMODE, {TRANSPARENT});
  c.rec(EMR_SETTEXTALIGN, {int32_t(TA_UPDATECP)}).rec(EMR_MOVETOEX, {100, 100});
  c.textW(0, 0, "I", 0, {200});
  c.textW(0, 0, "I", 0, {200});
  const QRect two = inked(play(c));
  EXPECT_GT(two.left(), 95);
  EXPECT_GT(two.width(), 195);
}

TEST(PlayerText, OpaqueRectangleAndClippedText) {
  EmfBuilder b;
  b.font(1, -60, "DejaVu Sans").select(1).rec(EMR_SETBKCOLOR, {int32_t(blue)});
  b.textW(100, 100, "WWWWWWWW", ETO_OPAQUE | ETO_CLIPPED, {}, {100, 100, 150, 150});
  const QImage img = play(b);
  EXPECT_EQ(inked(img), QRect(100, 100, 50, 50)); // nothing outside the rectangle
  EXPECT_GT(countColor(img, kBlue), 100);
}

TEST(PlayerBands, BandsTogetherEqualOnePlayback) {
  EmfBuilder b;
  b.solidBrush(1, red).select(1);
  b.rec(EMR_ELLIPSE, {100, 100, 900, 700});
  b.rec(EMR_INTERSECTCLIPRECT, {0, 0, 1000, 500});
  b.rec(EMR_CREATEBRUSHINDIRECT, {2, int32_t(BS_HATCHED), int32_t(blue), int32_t(HS_DIAGCROSS)});
  b.select(2).rectangle(200, 300, 800, 900);
  // Text across band edges, upright and turned, with and without a dx array: skipping text that misses a band
  // must never skip text that reaches it.
  b.font(3, -60, "DejaVu Sans").select(3).rec(EMR_SETBKMODE, {TRANSPARENT});
  b.textW(20, 150, "Band edge");
  b.textW(20, 330, "gjpqy", 0, {40, 40, 40, 40, 40});
  b.font(4, -50, "DejaVu Sans", 400, 900).select(4);
  b.textW(900, 780, "Upwards");
  // Bands a multiple of the 8-pixel hatch high, as the renderer's bands are.
  const QImage whole = play(b, QSize(500, 400), QRect(0, 0, 500, 400));
  for (int i = 0; i < 5; ++i) {
    const QImage band = play(b, QSize(500, 80), QRect(0, -i * 80, 500, 400));
    EXPECT_EQ(band, whole.copy(0, i * 80, 500, 80)) << "band " << i;
  }
}

TEST(PlayerSafety, BadRecordsAreSkipped) {
  EmfBuilder b;
  b.rec(9999, {1, 2, 3});                         // unknown type
  b.rec(EMR_POLYLINE16, {0, 0, 10, 10, 1000000}); // count far beyond the record
  b.rec(EMR_SELECTOBJECT, {60000});               // slot beyond the table
  b.rec(EMR_CREATEPEN, {0, 0, 1, 0, 0});          // slot 0 is reserved
  b.rec(EMR_RESTOREDC, {-100});
  b.rec(EMR_SETMAPMODE, {MM_ANISOTROPIC}).rec(EMR_SETWINDOWEXTEX, {0, 0});
  b.rec(EMR_SETWORLDTRANSFORM, {0, 0, 0, 0, 0, 0}); // singular
  b.rec(EMR_EXTSELECTCLIPRGN, {5000, RGN_AND});     // region size beyond the record
  b.rec(EMR_STRETCHDIBITS, {0, 0, 10, 10, 0, 0, 0, 0, 10, 10, 1000, 40, 2000, 4, 0, 0x00CC0020, 10, 10});
  b.fill(0, 0, 9, 9, red); // still drawn after all of the above
  const QImage img = play(b, QSize(100, 100), QRect(0, 0, 1000, 1000));
  EXPECT_EQ(img.pixel(5, 5), kRed);
  EXPECT_EQ(countColor(img, kRed), 100);
}
