#include "emf/rop.h"

#include <QImage>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <vector>

using namespace emf;

namespace {

// Truth-table inputs: in every byte, bit k of the result of operation index i is bit k of i when the pattern is
// 0xF0, the source 0xCC and the destination 0xAA.
constexpr uint32_t kP = 0xF0F0F0, kS = 0xCCCCCC, kD = 0xAAAAAA;

QImage filled(int w, int h, uint32_t rgb) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(QColor::fromRgb(0xff000000 | rgb));
  return img;
}

uint32_t at(const QImage &img, int x, int y) { return img.pixel(x, y); }

} // namespace

// ---- binary operations ----

TEST(Rop2, AllSixteenFollowTheirTruthTable) {
  // with pen 0xC and destination 0xA in every nibble, R2 code c yields the nibble c - 1
  for (int code = R2_BLACK; code <= R2_WHITE; ++code) {
    const uint32_t nibble = uint32_t(code - 1);
    uint32_t expected = 0;
    for (int i = 0; i < 6; ++i)
      expected |= nibble << (4 * i);
    EXPECT_EQ(rop2(code, 0xAAAAAA, 0xCCCCCC), expected) << "code " << code;
  }
  EXPECT_EQ(rop2(R2_XORPEN, 0xff123456, 0x00ffffff), 0x00edcba9u); // alpha bytes never leak
  EXPECT_EQ(rop2(0, 0x111111, 0x222222), 0x222222u);               // unknown code copies the pen
}

TEST(Rop2, LayerAppliesOnlyWhereDrawn) {
  QImage dst = filled(4, 2, 0x00ff00);
  QImage layer(3, 1, QImage::Format_ARGB32);
  layer.fill(Qt::transparent);
  layer.setPixel(0, 0, qRgba(255, 255, 255, 255));
  layer.setPixel(1, 0, qRgba(255, 255, 255, 100)); // faint antialiasing: left alone
  layer.setPixel(2, 0, qRgba(0, 0, 255, 200));
  applyRop2Layer(dst, layer, QPoint(1, 1), R2_XORPEN);
  EXPECT_EQ(at(dst, 1, 1), 0xffff00ffu);
  EXPECT_EQ(at(dst, 2, 1), 0xff00ff00u);
  EXPECT_EQ(at(dst, 3, 1), 0xff00ffffu);
  EXPECT_EQ(at(dst, 1, 0), 0xff00ff00u);

  // premultiplied layers are read by their real colour
  QImage pre(1, 1, QImage::Format_ARGB32_Premultiplied);
  pre.fill(QColor(0, 0, 255, 200));
  QImage d2 = filled(1, 1, 0);
  applyRop2Layer(d2, pre, QPoint(0, 0), R2_COPYPEN);
  EXPECT_EQ(at(d2, 0, 0), 0xff0000ffu);

  // clip and image bounds: a layer hanging off the left edge, a clip taking one pixel
  QImage d3 = filled(3, 1, 0);
  QImage white(3, 1, QImage::Format_ARGB32);
  white.fill(Qt::white);
  const QRegion clip(QRect(1, 0, 1, 1));
  applyRop2Layer(d3, white, QPoint(-1, 0), R2_WHITE, &clip);
  EXPECT_EQ(at(d3, 0, 0), 0xff000000u);
  EXPECT_EQ(at(d3, 1, 0), 0xffffffffu);
  EXPECT_EQ(at(d3, 2, 0), 0xff000000u);
}

// ---- ternary operations ----

TEST(Rop3, EvaluatorMatchesTruthTableForEveryIndex) {
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(rop3(uint8_t(i), kD, kS, kP), uint32_t(i) * 0x010101u) << "index " << i;
}

TEST(Rop3, OperandUseOfNamedCodes) {
  EXPECT_TRUE(ropUsesSource(SRCCOPY));
  EXPECT_FALSE(ropUsesPattern(SRCCOPY));
  EXPECT_FALSE(ropUsesDestination(SRCCOPY));
  EXPECT_FALSE(ropUsesSource(PATCOPY));
  EXPECT_TRUE(ropUsesPattern(PATINVERT));
  EXPECT_TRUE(ropUsesDestination(PATINVERT));
  EXPECT_TRUE(ropUsesSource(MERGECOPY) && ropUsesPattern(MERGECOPY));
  EXPECT_FALSE(ropUsesSource(DSTINVERT) || ropUsesPattern(DSTINVERT));
  EXPECT_FALSE(ropUsesSource(BLACKNESS) || ropUsesPattern(BLACKNESS) || ropUsesDestination(BLACKNESS));
  EXPECT_FALSE(ropUsesDestination(WHITENESS));
}

TEST(Rop3, NamedAndGeneralCodesOnImagesMatchTruthTable) {
  // every named code takes its own fast path; the others go through the general evaluator or their own paths
  const uint32_t codes[] = {SRCCOPY,   SRCPAINT,   SRCINVERT,  SRCAND,     SRCERASE,   NOTSRCCOPY, NOTSRCERASE,
                            MERGECOPY, MERGEPAINT, PATCOPY,    PATPAINT,   PATINVERT,  DSTINVERT,  BLACKNESS,
                            WHITENESS, 0x00B8074A, 0x00E20746, 0x001A0000, 0x00960000, 0x00690000, 0x00AA0029};
  QImage src = filled(3, 3, kS);
  QImage solidPat = filled(1, 1, kP);
  for (uint32_t code : codes) {
    for (bool imagePattern : {false, true}) {
      QImage dst = filled(3, 3, kD);
      RopPattern pat;
      pat.color = kP;
      if (imagePattern)
        pat.image = &solidPat;
      applyRop3(dst, dst.rect(), &src, QPoint(0, 0), pat, code, nullptr);
      const uint32_t expected = 0xff000000u | (ropIndex(code) * 0x010101u);
      EXPECT_EQ(at(dst, 1, 1), expected) << std::hex << code << (imagePattern ? " image pattern" : "");
      EXPECT_EQ(at(dst, 2, 2), expected) << std::hex << code;
    }
  }
}

TEST(Rop3, ClippingSourceOffsetAndMissingSource) {
  QImage dst = filled(6, 4, 0x000000);
  QImage src(2, 2, QImage::Format_ARGB32);
  src.setPixel(0, 0, qRgba(1, 1, 1, 0)); // alpha of the source is ignored: the result is opaque
  src.setPixel(1, 0, qRgb(2, 2, 2));
  src.setPixel(0, 1, qRgb(3, 3, 3));
  src.setPixel(1, 1, qRgb(4, 4, 4));
  // the destination rectangle is larger than the source and hangs off the image
  applyRop3(dst, QRect(4, 2, 10, 10), &src, QPoint(4, 2), RopPattern{}, SRCCOPY);
  EXPECT_EQ(at(dst, 4, 2), 0xff010101u);
  EXPECT_EQ(at(dst, 5, 3), 0xff040404u);
  EXPECT_EQ(at(dst, 3, 2), 0xff000000u);

  // the clip region limits the work
  QImage d2 = filled(4, 1, 0x000000);
  const QRegion clip = QRegion(QRect(0, 0, 1, 1)) + QRegion(QRect(3, 0, 1, 1));
  applyRop3(d2, d2.rect(), nullptr, QPoint(), RopPattern{}, WHITENESS, &clip);
  EXPECT_EQ(at(d2, 0, 0), 0xffffffffu);
  EXPECT_EQ(at(d2, 1, 0), 0xff000000u);
  EXPECT_EQ(at(d2, 3, 0), 0xffffffffu);

  // an operation that needs a source but gets none changes nothing
  QImage d3 = filled(2, 2, 0x123456);
  applyRop3(d3, d3.rect(), nullptr, QPoint(), RopPattern{}, SRCINVERT);
  EXPECT_EQ(at(d3, 1, 1), 0xff123456u);
  // an empty rectangle or one wholly outside the image changes nothing
  applyRop3(d3, QRect(1, 1, 0, 5), nullptr, QPoint(), RopPattern{}, BLACKNESS);
  applyRop3(d3, QRect(-5, -5, 3, 3), nullptr, QPoint(), RopPattern{}, BLACKNESS);
  EXPECT_EQ(at(d3, 0, 0), 0xff123456u);
  EXPECT_EQ(at(d3, 1, 1), 0xff123456u);
}

TEST(Rop3, PatternTilesFromBrushOrigin) {
  QImage pat(2, 2, QImage::Format_RGB32);
  pat.setPixel(0, 0, qRgb(10, 0, 0));
  pat.setPixel(1, 0, qRgb(20, 0, 0));
  pat.setPixel(0, 1, qRgb(30, 0, 0));
  pat.setPixel(1, 1, qRgb(40, 0, 0));
  QImage dst = filled(5, 3, 0);
  RopPattern rp;
  rp.image = &pat;
  rp.origin = QPoint(1, -3); // wraps both ways
  applyRop3(dst, QRect(1, 0, 4, 3), nullptr, QPoint(), rp, PATCOPY);
  EXPECT_EQ(at(dst, 0, 0), 0xff000000u); // outside the rectangle
  EXPECT_EQ(at(dst, 1, 0), 0xff1e0000u); // pattern (0, 1)
  EXPECT_EQ(at(dst, 2, 0), 0xff280000u); // pattern (1, 1)
  EXPECT_EQ(at(dst, 3, 0), 0xff1e0000u);
  EXPECT_EQ(at(dst, 1, 1), 0xff0a0000u); // pattern (0, 0)
  EXPECT_EQ(at(dst, 4, 2), 0xff280000u);
}

TEST(Rop4, MaskChoosesForegroundOrBackground) {
  QImage dst = filled(3, 1, 0x0000ff);
  QImage src = filled(3, 1, 0xff0000);
  QImage mask(2, 1, QImage::Format_Grayscale8);
  mask.scanLine(0)[0] = 255;
  mask.scanLine(0)[1] = 0;
  // foreground SRCCOPY, background leaves the destination; mask pixel 2 is outside the mask (background)
  const uint32_t rop4 = 0xAA000000u | SRCCOPY;
  applyRop4(dst, dst.rect(), &src, QPoint(0, 0), RopPattern{}, rop4, &mask, QPoint(0, 0));
  EXPECT_EQ(at(dst, 0, 0), 0xffff0000u);
  EXPECT_EQ(at(dst, 1, 0), 0xff0000ffu);
  EXPECT_EQ(at(dst, 2, 0), 0xff0000ffu);

  // background operation with a pattern, mask shifted by its origin
  QImage d2 = filled(3, 1, 0x000000);
  RopPattern pat;
  pat.color = 0x00ff00;
  applyRop4(d2, d2.rect(), &src, QPoint(0, 0), pat, (0xF0u << 24) | SRCCOPY, &mask, QPoint(1, 0));
  EXPECT_EQ(at(d2, 0, 0), 0xff00ff00u); // outside the mask: background PATCOPY
  EXPECT_EQ(at(d2, 1, 0), 0xffff0000u); // mask bit 1: SRCCOPY
  EXPECT_EQ(at(d2, 2, 0), 0xff00ff00u);
}

// ---- stretching ----

TEST(Stretch, EnlargeRepeatsPixelsAndMirrors) {
  QImage src(2, 1, QImage::Format_RGB32);
  src.setPixel(0, 0, qRgb(255, 0, 0));
  src.setPixel(1, 0, qRgb(0, 0, 255));
  QRect valid;
  QImage up = stretchForBlt(src, src.rect(), QSize(4, 2), HALFTONE, false, false, &valid);
  ASSERT_EQ(up.size(), QSize(4, 2));
  EXPECT_EQ(valid, QRect(0, 0, 4, 2));
  EXPECT_EQ(up.pixel(1, 1), qRgb(255, 0, 0));
  EXPECT_EQ(up.pixel(2, 0), qRgb(0, 0, 255));
  QImage mirrored = stretchForBlt(src, src.rect(), QSize(4, 1), COLORONCOLOR, true, false);
  EXPECT_EQ(mirrored.pixel(0, 0), qRgb(0, 0, 255));
  EXPECT_EQ(mirrored.pixel(3, 0), qRgb(255, 0, 0));
  // 2 -> 5: the middle pixel's centre lies exactly on the source edge and takes the first source pixel
  QImage five = stretchForBlt(src, src.rect(), QSize(5, 1), COLORONCOLOR, false, false);
  EXPECT_EQ(five.pixel(2, 0), qRgb(255, 0, 0));
  EXPECT_EQ(five.pixel(3, 0), qRgb(0, 0, 255));
  // 24 -> 126 repeats rows 5, 6, 5, 5, 5, 6 times
  QImage column(1, 24, QImage::Format_RGB32);
  for (int y = 0; y < 24; ++y)
    column.setPixel(0, y, qRgb(y, 0, 0));
  QImage tall = stretchForBlt(column, column.rect(), QSize(1, 126), COLORONCOLOR, false, false);
  int firstOfRow[7] = {};
  for (int y = 125; y >= 0; --y)
    if (qRed(tall.pixel(0, y)) < 7)
      firstOfRow[qRed(tall.pixel(0, y))] = y;
  EXPECT_EQ(std::vector<int>(firstOfRow, firstOfRow + 7), (std::vector<int>{0, 5, 11, 16, 21, 26, 32}));
}

TEST(Stretch, ShrinkFollowsTheStretchMode) {
  // one black pixel among three white ones, shrunk to a single pixel
  QImage src = filled(4, 1, 0xffffff);
  src.setPixel(2, 0, qRgb(0, 0, 0));
  auto one = [&](int mode) { return stretchForBlt(src, src.rect(), QSize(1, 1), mode, false, false).pixel(0, 0); };
  EXPECT_EQ(one(BLACKONWHITE), qRgb(0, 0, 0));
  EXPECT_EQ(one(WHITEONBLACK), qRgb(255, 255, 255));
  EXPECT_EQ(one(HALFTONE), qRgb(191, 191, 191));
  const QRgb c = one(COLORONCOLOR);
  EXPECT_TRUE(c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255));

  // two dimensions at once: a 2x2 checker averaged
  QImage checker(2, 2, QImage::Format_RGB32);
  checker.setPixel(0, 0, qRgb(0, 0, 0));
  checker.setPixel(1, 1, qRgb(0, 0, 0));
  checker.setPixel(1, 0, qRgb(200, 200, 200));
  checker.setPixel(0, 1, qRgb(200, 200, 200));
  EXPECT_EQ(stretchForBlt(checker, checker.rect(), QSize(1, 1), HALFTONE, false, false).pixel(0, 0),
            qRgb(100, 100, 100));
}

TEST(Stretch, SourceOutsideImagePartAndLimits) {
  QImage src = filled(4, 4, 0x00ff00);
  QRect valid;
  // the source rectangle starts two pixels left of the image: the left half of the result is not drawable
  QImage r = stretchForBlt(src, QRect(-2, 0, 4, 4), QSize(8, 8), COLORONCOLOR, false, false, &valid);
  ASSERT_FALSE(r.isNull());
  EXPECT_EQ(valid, QRect(4, 0, 4, 8));
  EXPECT_EQ(qAlpha(r.pixel(0, 0)), 0);
  EXPECT_EQ(r.pixel(5, 5), qRgb(0, 255, 0));

  // a part of the result equals the same part of the full result (also mirrored and when shrinking)
  QImage grad(16, 9, QImage::Format_RGB32);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x)
      grad.setPixel(x, y, qRgb(x * 15, y * 25, (x * y) % 256));
  for (QSize size : {QSize(40, 30), QSize(7, 5)}) {
    QImage full = stretchForBlt(grad, QRect(1, 1, 14, 7), size, HALFTONE, true, true);
    const QRect part(2, 1, size.width() - 3, size.height() - 2);
    QImage piece = stretchForBlt(grad, QRect(1, 1, 14, 7), size, HALFTONE, true, true, nullptr, &part);
    ASSERT_EQ(piece.size(), part.size());
    EXPECT_EQ(piece, full.copy(part)) << size.width();
  }

  EXPECT_TRUE(stretchForBlt(src, QRect(), QSize(4, 4), HALFTONE, false, false).isNull());
  EXPECT_TRUE(stretchForBlt(src, src.rect(), QSize(0, 4), HALFTONE, false, false).isNull());
  EXPECT_TRUE(stretchForBlt(src, src.rect(), QSize(100000, 100000), HALFTONE, false, false).isNull());
  // a huge destination is fine when only a small part of it is asked for
  const QRect small(50000, 50000, 10, 10);
  QImage piece = stretchForBlt(src, src.rect(), QSize(100000, 100000), HALFTONE, false, false, nullptr, &small);
  ASSERT_EQ(piece.size(), QSize(10, 10));
  EXPECT_EQ(piece.pixel(9, 9), qRgb(0, 255, 0));
}

// ---- alpha blending and colour keys ----

TEST(Blend, ConstantAndPerPixelAlpha) {
  QImage white = filled(1, 1, 0xffffff);
  QImage src(1, 1, QImage::Format_ARGB32);
  src.fill(Qt::black);
  QImage dst = white;
  BlendFunction bf;
  bf.sourceConstantAlpha = 128;
  alphaBlend(dst, dst.rect(), src, QPoint(0, 0), bf);
  EXPECT_EQ(at(dst, 0, 0), 0xff7f7f7fu);

  // premultiplied half-transparent red over white: 128 + 255 * 127 / 255
  bf = BlendFunction{};
  bf.alphaFormat = AC_SRC_ALPHA;
  QImage pre(3, 1, QImage::Format_ARGB32);
  pre.setPixel(0, 0, qRgba(128, 0, 0, 128));
  pre.setPixel(1, 0, qRgba(0, 0, 0, 0));        // fully transparent: unchanged
  pre.setPixel(2, 0, qRgba(255, 255, 255, 10)); // colours above alpha: clamped, not wrapped
  QImage d2 = filled(3, 1, 0xffffff);
  alphaBlend(d2, d2.rect(), pre, QPoint(0, 0), bf);
  EXPECT_EQ(at(d2, 0, 0), 0xffff7f7fu);
  EXPECT_EQ(at(d2, 1, 0), 0xffffffffu);
  EXPECT_EQ(at(d2, 2, 0), 0xffffffffu);

  // per-pixel alpha combined with a constant alpha of one half
  bf.sourceConstantAlpha = 128;
  QImage opaqueBlack(1, 1, QImage::Format_ARGB32);
  opaqueBlack.fill(Qt::black);
  QImage d3 = filled(1, 1, 0xffffff);
  alphaBlend(d3, d3.rect(), opaqueBlack, QPoint(0, 0), bf);
  EXPECT_EQ(at(d3, 0, 0), 0xff7f7f7fu);
}

TEST(Blend, TransparentColourIsSkipped) {
  QImage src(3, 1, QImage::Format_ARGB32);
  src.setPixel(0, 0, qRgba(255, 0, 255, 0)); // the key, whatever its alpha byte
  src.setPixel(1, 0, qRgb(1, 2, 3));
  src.setPixel(2, 0, qRgb(255, 0, 254)); // one off the key: drawn
  QImage dst = filled(3, 1, 0x00ff00);
  transparentBlt(dst, dst.rect(), src, QPoint(0, 0), 0x00ff00ff);
  EXPECT_EQ(at(dst, 0, 0), 0xff00ff00u);
  EXPECT_EQ(at(dst, 1, 0), 0xff010203u);
  EXPECT_EQ(at(dst, 2, 0), 0xffff00feu);
}

TEST(Rop3, NothingOutsideRectangleAndClipChanges) {
  QRandomGenerator gen(4242);
  const QImage src = filled(13, 9, 0x00ff00);
  QImage pat(3, 2, QImage::Format_RGB32);
  pat.fill(Qt::blue);
  const uint32_t ops[] = {SRCCOPY, PATINVERT, 0x001A0000, 0x00B8074A, DSTINVERT, WHITENESS};
  for (int round = 0; round < 400; ++round) {
    QImage dst = filled(20, 15, 0x808080);
    const QRect rect(gen.bounded(-30, 30), gen.bounded(-30, 30), gen.bounded(-5, 40), gen.bounded(-5, 40));
    const QRegion clip(QRect(gen.bounded(-5, 20), gen.bounded(-5, 15), gen.bounded(0, 25), gen.bounded(0, 20)));
    const bool useClip = gen.bounded(2) == 1;
    RopPattern rp;
    rp.image = gen.bounded(2) ? &pat : nullptr;
    rp.origin = QPoint(gen.bounded(-100, 100), gen.bounded(-100, 100));
    rp.color = 0x123456;
    const QPoint srcOrigin(gen.bounded(-20, 20), gen.bounded(-20, 20));
    applyRop3(dst, rect, &src, srcOrigin, rp, ops[gen.bounded(int(std::size(ops)))], useClip ? &clip : nullptr);
    QRegion allowed = QRegion(rect.normalized()) & QRegion(dst.rect());
    if (useClip)
      allowed &= clip;
    for (int y = 0; y < dst.height(); ++y)
      for (int x = 0; x < dst.width(); ++x)
        if (!allowed.contains(QPoint(x, y))) {
          ASSERT_EQ(at(dst, x, y), 0xff808080u) << "round " << round << " at " << x << "," << y;
        }
  }
}
