#include "emf/dib.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace emf;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes &b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(Bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(uint8_t(v >> (8 * i)));
}

// A BITMAPINFOHEADER (40 bytes) or a larger header padded with the given masks, followed by `extra` (masks or
// colour table).
Bytes infoHeader(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, uint32_t clrUsed = 0,
                 uint32_t size = kBitmapInfoHeaderSize) {
  Bytes b;
  put32(b, size);
  put32(b, uint32_t(w));
  put32(b, uint32_t(h));
  put16(b, 1);
  put16(b, bpp);
  put32(b, compression);
  put32(b, 0);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, clrUsed);
  put32(b, 0);
  b.resize(size, 0);
  return b;
}

void addColor(Bytes &b, QRgb c) {
  b.push_back(uint8_t(qBlue(c)));
  b.push_back(uint8_t(qGreen(c)));
  b.push_back(uint8_t(qRed(c)));
  b.push_back(0);
}

QRgb px(const DecodedDib &d, int x, int y) { return d.image.pixel(x, y); }

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255), kWhite = qRgb(255, 255, 255),
           kBlack = qRgb(0, 0, 0);

DecodedDib decode(const Bytes &bmi, const Bytes &bits, std::string *why = nullptr, bool keepAlpha = false,
                  uint32_t usage = DIB_RGB_COLORS, std::span<const QRgb> pal = {}) {
  return decodeDib(bmi, bits, usage, pal, why, keepAlpha);
}

} // namespace

// ---- palette depths ----

TEST(DibPalette, OneBitRowsPaddingAndIndices) {
  // 10 pixels wide: two bytes of bits, padded to four; bottom-up, so the first stored row is the bottom one
  Bytes bmi = infoHeader(10, 2, 1, BI_RGB);
  addColor(bmi, kRed);
  addColor(bmi, kBlue);
  Bytes bits = {0b10100000, 0b01000000, 0xEE, 0xEE,  // bottom row: 1 0 1 0 0 0 0 0 | 0 1
                0b00000001, 0b10000000, 0xEE, 0xEE}; // top row: index 1 at x 7 and x 8
  std::string why;
  DecodedDib d = decode(bmi, bits, &why);
  ASSERT_FALSE(d.isNull()) << why;
  EXPECT_EQ(d.image.size(), QSize(10, 2));
  EXPECT_EQ(d.image.format(), QImage::Format_ARGB32);
  EXPECT_EQ(px(d, 0, 1), kBlue);
  EXPECT_EQ(px(d, 1, 1), kRed);
  EXPECT_EQ(px(d, 2, 1), kBlue);
  EXPECT_EQ(px(d, 8, 1), kRed);
  EXPECT_EQ(px(d, 9, 1), kBlue);
  EXPECT_EQ(px(d, 6, 0), kRed);
  EXPECT_EQ(px(d, 7, 0), kBlue);
  EXPECT_EQ(px(d, 8, 0), kBlue);
  EXPECT_EQ(px(d, 9, 0), kRed);
  ASSERT_TRUE(d.monochrome);
  EXPECT_EQ(d.mono0, kRed);
  EXPECT_EQ(d.mono1, kBlue);
  ASSERT_EQ(d.indices.format(), QImage::Format_Grayscale8);
  EXPECT_EQ(d.indices.constScanLine(1)[0], 255);
  EXPECT_EQ(d.indices.constScanLine(1)[1], 0);
  EXPECT_EQ(d.indices.constScanLine(0)[7], 255);

  // recolouring replaces the table by the given colours
  QImage r = recolorMonochrome(d, kBlack, kWhite);
  EXPECT_EQ(r.pixel(0, 1), kWhite);
  EXPECT_EQ(r.pixel(1, 1), kBlack);
}

TEST(DibPalette, FourAndEightBitTopDownAndBottomUp) {
  Bytes bmi4 = infoHeader(3, -2, 4, BI_RGB, 3); // top-down, three table entries
  addColor(bmi4, kRed);
  addColor(bmi4, kGreen);
  addColor(bmi4, kBlue);
  Bytes bits4 = {0x01, 0x20, 0, 0, 0x22, 0x10, 0, 0};
  DecodedDib d4 = decode(bmi4, bits4);
  ASSERT_FALSE(d4.isNull());
  EXPECT_FALSE(d4.monochrome);
  EXPECT_EQ(px(d4, 0, 0), kRed);
  EXPECT_EQ(px(d4, 1, 0), kGreen);
  EXPECT_EQ(px(d4, 2, 0), kBlue);
  EXPECT_EQ(px(d4, 0, 1), kBlue);
  EXPECT_EQ(px(d4, 2, 1), kGreen);

  Bytes bmi8 = infoHeader(2, 2, 8, BI_RGB, 256);
  for (int i = 0; i < 256; ++i)
    addColor(bmi8, qRgb(i, 255 - i, 7));
  Bytes bits8 = {10, 200, 0, 0, 0, 255, 0, 0}; // bottom-up
  DecodedDib d8 = decode(bmi8, bits8);
  ASSERT_FALSE(d8.isNull());
  EXPECT_EQ(px(d8, 0, 1), qRgb(10, 245, 7));
  EXPECT_EQ(px(d8, 1, 1), qRgb(200, 55, 7));
  EXPECT_EQ(px(d8, 1, 0), qRgb(255, 0, 7));
}

TEST(DibPalette, CoreHeaderPaletteIndicesAndShortTables) {
  // 12-byte core header with 3-byte table entries
  Bytes core;
  put32(core, kBitmapCoreHeaderSize);
  put16(core, 2);
  put16(core, 1);
  put16(core, 1);
  put16(core, 1);
  core.insert(core.end(), {0, 0, 255, 255, 0, 0}); // red, blue
  DecodedDib dc = decode(core, {0b01000000, 0, 0, 0});
  ASSERT_FALSE(dc.isNull());
  EXPECT_EQ(px(dc, 0, 0), kRed);
  EXPECT_EQ(px(dc, 1, 0), kBlue);

  // DIB_PAL_COLORS: 16-bit indices into the logical palette; an index past it is black
  Bytes pal = infoHeader(3, 1, 8, BI_RGB, 3);
  put16(pal, 2);
  put16(pal, 0);
  put16(pal, 99);
  const std::vector<QRgb> logical = {kGreen, kWhite, kRed};
  DecodedDib dp = decode(pal, {0, 1, 2, 0}, nullptr, false, DIB_PAL_COLORS, logical);
  ASSERT_FALSE(dp.isNull());
  EXPECT_EQ(px(dp, 0, 0), kRed);
  EXPECT_EQ(px(dp, 1, 0), kGreen);
  EXPECT_EQ(px(dp, 2, 0), kBlack);
  // an unknown usage value reads the table as colours rather than dropping the bitmap
  Bytes rgbTable = infoHeader(1, 1, 8, BI_RGB, 1);
  addColor(rgbTable, kGreen);
  DecodedDib du = decode(rgbTable, {0, 0, 0, 0}, nullptr, false, 7);
  ASSERT_FALSE(du.isNull());
  EXPECT_EQ(px(du, 0, 0), kGreen);

  // a table cut short by the end of the block: the entries present are used, the rest are black
  Bytes shortTable = infoHeader(2, 1, 8, BI_RGB, 256);
  addColor(shortTable, kGreen);
  DecodedDib ds = decode(shortTable, {0, 5, 0, 0});
  ASSERT_FALSE(ds.isNull());
  EXPECT_EQ(px(ds, 0, 0), kGreen);
  EXPECT_EQ(px(ds, 1, 0), kBlack);
}

// ---- true colour depths ----

TEST(DibTrueColor, SixteenBit555And565) {
  // default 16-bit layout is 5-5-5; the field maximum must come out as 255
  Bytes bmi = infoHeader(3, 1, 16, BI_RGB);
  Bytes bits;
  put16(bits, 0x7c00); // red
  put16(bits, 0x03e0); // green
  put16(bits, 0x0210); // half green + half blue: 10000 in each 5-bit field
  bits.resize(8, 0);
  DecodedDib d = decode(bmi, bits);
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(px(d, 0, 0), kRed);
  EXPECT_EQ(px(d, 1, 0), kGreen);
  EXPECT_EQ(px(d, 2, 0), qRgb(0, 0x84, 0x84));

  Bytes bmi565 = infoHeader(2, 1, 16, BI_BITFIELDS);
  put32(bmi565, 0xf800);
  put32(bmi565, 0x07e0);
  put32(bmi565, 0x001f);
  Bytes bits565;
  put16(bits565, 0x07e0); // full green in a 6-bit field
  put16(bits565, 0xf81f); // magenta
  DecodedDib d5 = decode(bmi565, bits565);
  ASSERT_FALSE(d5.isNull());
  EXPECT_EQ(px(d5, 0, 0), kGreen);
  EXPECT_EQ(px(d5, 1, 0), qRgb(255, 0, 255));
}

TEST(DibTrueColor, TwentyFourBitRowPadding) {
  Bytes bmi = infoHeader(3, 2, 24, BI_RGB);
  // rows of 9 bytes padded to 12; bottom-up
  Bytes bits = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0xAA, 0xAA, 0xAA, // bottom: red green blue
                1, 2, 3,   4, 5,   6, 7,   8, 9, 0xAA, 0xAA, 0xAA};
  DecodedDib d = decode(bmi, bits);
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(px(d, 0, 1), kRed);
  EXPECT_EQ(px(d, 1, 1), kGreen);
  EXPECT_EQ(px(d, 2, 1), kBlue);
  EXPECT_EQ(px(d, 0, 0), qRgb(3, 2, 1));
  EXPECT_EQ(px(d, 2, 0), qRgb(9, 8, 7));
}

TEST(DibTrueColor, ThirtyTwoBitAlphaAndMasks) {
  Bytes bmi = infoHeader(2, -1, 32, BI_RGB);
  Bytes bits = {10, 20, 30, 0, 40, 50, 60, 128};
  DecodedDib opaque = decode(bmi, bits);
  ASSERT_FALSE(opaque.isNull());
  EXPECT_EQ(opaque.image.pixel(0, 0), qRgba(30, 20, 10, 255));
  EXPECT_FALSE(opaque.hasAlpha);
  DecodedDib kept = decode(bmi, bits, nullptr, true);
  ASSERT_FALSE(kept.isNull());
  EXPECT_TRUE(kept.hasAlpha);
  // the stored bytes are kept exactly (premultiplied data is not touched)
  EXPECT_EQ(reinterpret_cast<const QRgb *>(kept.image.constScanLine(0))[0], qRgba(30, 20, 10, 0));
  EXPECT_EQ(reinterpret_cast<const QRgb *>(kept.image.constScanLine(0))[1], qRgba(60, 50, 40, 128));

  // V5 header with its own masks: bytes R, G, B, A in memory order
  Bytes v5 = infoHeader(1, 1, 32, BI_BITFIELDS, 0, kBitmapV5HeaderSize);
  auto setAt = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      v5[off + i] = uint8_t(v >> (8 * i));
  };
  setAt(40, 0x000000ff);
  setAt(44, 0x0000ff00);
  setAt(48, 0x00ff0000);
  setAt(52, 0xff000000);
  DecodedDib dv5 = decode(v5, {200, 100, 50, 77}, nullptr, true);
  ASSERT_FALSE(dv5.isNull());
  EXPECT_EQ(reinterpret_cast<const QRgb *>(dv5.image.constScanLine(0))[0], qRgba(200, 100, 50, 77));

  // three masks after a 40-byte header (the usual alpha-blend bitmap): the free top byte is the alpha
  Bytes threeMasks = infoHeader(1, 1, 32, BI_BITFIELDS);
  put32(threeMasks, 0x00ff0000);
  put32(threeMasks, 0x0000ff00);
  put32(threeMasks, 0x000000ff);
  DecodedDib d3 = decode(threeMasks, {40, 30, 20, 90}, nullptr, true);
  ASSERT_FALSE(d3.isNull());
  EXPECT_TRUE(d3.hasAlpha);
  EXPECT_EQ(reinterpret_cast<const QRgb *>(d3.image.constScanLine(0))[0], qRgba(20, 30, 40, 90));
  EXPECT_EQ(decode(threeMasks, {40, 30, 20, 90}).image.pixel(0, 0), qRgba(20, 30, 40, 255));

  // masks of zero give a black channel instead of garbage
  Bytes zeroMasks = infoHeader(1, 1, 32, BI_BITFIELDS);
  put32(zeroMasks, 0);
  put32(zeroMasks, 0x0000ff00);
  put32(zeroMasks, 0);
  DecodedDib dz = decode(zeroMasks, {1, 2, 3, 4});
  ASSERT_FALSE(dz.isNull());
  EXPECT_EQ(dz.image.pixel(0, 0), qRgb(0, 2, 0));
}

// ---- run-length compression ----

TEST(DibRle, Rle8RunsAbsoluteDeltaAndEnds) {
  Bytes bmi = infoHeader(6, 3, 8, BI_RLE8);
  for (int i = 0; i < 8; ++i)
    addColor(bmi, qRgb(i * 30, 0, 0));
  const Bytes rle = {3, 1,          // row 0 (bottom): three pixels of 1
                     0, 3, 2, 3, 4, // absolute run of three, padded to a 16-bit boundary
                     0,             // (padding)
                     0, 0,          // end of line
                     0, 2, 2, 1,    // delta: right 2, up 1 -> row 2, x 2
                     2, 5,          // two pixels of 5 at x 2 and 3
                     0, 1,          // end of bitmap
                     9, 7};         // never read
  DecodedDib d = decode(bmi, rle);
  ASSERT_FALSE(d.isNull());
  const int bottom = 2, top = 0;
  EXPECT_EQ(px(d, 0, bottom), qRgb(30, 0, 0));
  EXPECT_EQ(px(d, 2, bottom), qRgb(30, 0, 0));
  EXPECT_EQ(px(d, 3, bottom), qRgb(60, 0, 0));
  EXPECT_EQ(px(d, 5, bottom), qRgb(120, 0, 0));
  EXPECT_EQ(px(d, 2, top), qRgb(150, 0, 0));
  EXPECT_EQ(px(d, 3, top), qRgb(150, 0, 0));
  // row 1 was skipped entirely and row 2 around the run: index 0's colour, transparent
  EXPECT_TRUE(d.hasAlpha);
  EXPECT_EQ(d.image.pixel(0, 1), qRgba(0, 0, 0, 0));
  EXPECT_EQ(qAlpha(d.image.pixel(1, top)), 0);
  EXPECT_EQ(qAlpha(d.image.pixel(4, top)), 0);
}

TEST(DibRle, Rle4NibblesAndOddAbsoluteRun) {
  Bytes bmi = infoHeader(5, 2, 4, BI_RLE4);
  for (int i = 0; i < 16; ++i)
    addColor(bmi, qRgb(0, i * 16, 0));
  const Bytes rle = {5, 0x12,             // bottom row: 1 2 1 2 1
                     0, 0,                // end of line
                     0, 3,    0x34, 0x50, // absolute run of three nibbles in two bytes (already 16-bit aligned)
                     0, 0};               // end of line, which is also past the last row
  DecodedDib d = decode(bmi, rle);
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(px(d, 0, 1), qRgb(0, 16, 0));
  EXPECT_EQ(px(d, 1, 1), qRgb(0, 32, 0));
  EXPECT_EQ(px(d, 4, 1), qRgb(0, 16, 0));
  EXPECT_EQ(px(d, 0, 0), qRgb(0, 48, 0));
  EXPECT_EQ(px(d, 1, 0), qRgb(0, 64, 0));
  EXPECT_EQ(px(d, 2, 0), qRgb(0, 80, 0));
  EXPECT_EQ(qAlpha(d.image.pixel(3, 0)), 0);
}

TEST(DibRle, HostileStreamsStopWithoutOverrun) {
  Bytes bmi = infoHeader(4, 2, 8, BI_RLE8);
  addColor(bmi, kBlack);
  addColor(bmi, kWhite);
  // a run far past the row end, a delta far past the image, an absolute run longer than the data
  for (const Bytes &rle : {Bytes{255, 1, 0, 0, 255, 1}, Bytes{1, 1, 0, 2, 255, 255, 1, 1}, Bytes{0, 200, 1, 1, 1},
                           Bytes{0, 2, 1}, Bytes{}, Bytes{0}}) {
    DecodedDib d = decode(bmi, rle);
    ASSERT_FALSE(d.isNull());
    EXPECT_EQ(d.image.size(), QSize(4, 2));
  }
  DecodedDib run = decode(bmi, {255, 1, 0, 0, 255, 1});
  EXPECT_EQ(px(run, 3, 1), kWhite); // clipped at the row end, not wrapped onto the next row
  EXPECT_EQ(px(run, 0, 0), kWhite);

  // random streams over a larger image: always an image of the declared size
  Bytes big = infoHeader(37, 23, 4, BI_RLE4);
  for (int i = 0; i < 16; ++i)
    addColor(big, qRgb(i, i, i));
  QRandomGenerator gen(12345);
  for (int round = 0; round < 300; ++round) {
    Bytes rle(gen.bounded(1, 400));
    for (auto &b : rle)
      b = uint8_t(gen.bounded(256));
    DecodedDib d = decode(big, rle);
    ASSERT_FALSE(d.isNull());
    ASSERT_EQ(d.image.size(), QSize(37, 23));
    // Any rows decoded on their own, from the row index, are the same rows.
    const auto rows = DibRows::make(big, rle, DIB_RGB_COLORS);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->hasAlpha(), d.hasAlpha);
    const int y0 = int(gen.bounded(23)), y1 = y0 + 1 + int(gen.bounded(23 - y0));
    QImage part(37, 23, QImage::Format_ARGB32);
    rows->decodeRows(y0, y1, part);
    for (int y = y0; y < y1; ++y)
      ASSERT_EQ(0, memcmp(part.constScanLine(y - y0), d.image.constScanLine(y), 37 * 4)) << "row " << y;
  }
}

TEST(DibRows, ReaderGivesTheRowsOfTheWholeDecodeInAnyOrder) {
  // a bottom-up 24-bit bitmap and a top-down 8-bit one, read a few rows at a time, downwards and upwards
  Bytes bmi24 = infoHeader(7, 9, 24, BI_RGB), bits24;
  for (int i = 0; i < 9 * 24; ++i)
    bits24.push_back(uint8_t(i * 7));
  Bytes bmi8 = infoHeader(5, -6, 8, BI_RGB), bits8;
  for (int i = 0; i < 256; ++i)
    addColor(bmi8, qRgb(i, 255 - i, i / 2));
  for (int i = 0; i < 6 * 8; ++i)
    bits8.push_back(uint8_t(i * 5));
  for (const auto &[bmi, bits] : {std::pair{bmi24, bits24}, std::pair{bmi8, bits8}}) {
    const DecodedDib whole = decode(bmi, bits);
    ASSERT_FALSE(whole.isNull());
    const auto dib = DibRows::make(bmi, bits, DIB_RGB_COLORS);
    ASSERT_TRUE(dib);
    DibRowReader reader(*dib, 2 * size_t(dib->width()));
    const int h = dib->height();
    for (int y : {0, 1, 2, h - 1, h - 2, 3, 0})
      ASSERT_EQ(0, memcmp(reader.row(y), whole.image.constScanLine(y), size_t(dib->width()) * 4)) << "row " << y;
  }
  // what decodeDib refuses is refused here too
  EXPECT_FALSE(DibRows::make(infoHeader(7, 9, 24, BI_RGB), Bytes(10), DIB_RGB_COLORS));
}

// ---- embedded PNG / JPEG ----

TEST(DibEmbedded, PngAndJpegPayloads) {
  QImage src(5, 4, QImage::Format_ARGB32);
  src.fill(qRgba(0, 0, 255, 255));
  src.setPixel(1, 2, qRgba(255, 0, 0, 128));
  QByteArray png;
  {
    QBuffer b(&png);
    b.open(QIODevice::WriteOnly);
    ASSERT_TRUE(src.save(&b, "PNG"));
  }
  Bytes bmi = infoHeader(5, 4, 0, BI_PNG);
  DecodedDib d = decode(bmi, Bytes(png.begin(), png.end()));
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(d.image.size(), QSize(5, 4));
  EXPECT_TRUE(d.hasAlpha);
  EXPECT_EQ(d.image.pixel(0, 0), qRgba(0, 0, 255, 255));
  EXPECT_EQ(d.image.pixel(1, 2), qRgba(255, 0, 0, 128));

  QImage solid(16, 16, QImage::Format_RGB32);
  solid.fill(qRgb(200, 30, 30));
  QByteArray jpg;
  {
    QBuffer b(&jpg);
    b.open(QIODevice::WriteOnly);
    ASSERT_TRUE(solid.save(&b, "JPEG", 95));
  }
  DecodedDib dj = decode(infoHeader(16, 16, 0, BI_JPEG), Bytes(jpg.begin(), jpg.end()));
  ASSERT_FALSE(dj.isNull());
  const QRgb c = dj.image.pixel(8, 8);
  EXPECT_NEAR(qRed(c), 200, 6);
  EXPECT_NEAR(qGreen(c), 30, 6);
  EXPECT_NEAR(qBlue(c), 30, 6);

  // a header that leaves the size to the embedded picture
  DecodedDib unsized = decode(infoHeader(0, 0, 0, BI_PNG), Bytes(png.begin(), png.end()));
  ASSERT_FALSE(unsized.isNull());
  EXPECT_EQ(unsized.image.size(), QSize(5, 4));

  std::string why;
  Bytes broken(png.begin(), png.begin() + 20);
  EXPECT_TRUE(decode(bmi, broken, &why).isNull());
  EXPECT_FALSE(why.empty());
}

// ---- hostile headers and bits ----

TEST(DibHostile, TruncatedBitsRejectedButMissingFinalPaddingAccepted) {
  Bytes bmi = infoHeader(3, 2, 24, BI_RGB);
  std::string why;
  EXPECT_TRUE(decode(bmi, Bytes(20, 0), &why).isNull()); // needs 12 + 9
  EXPECT_NE(why.find("shorter"), std::string::npos);
  EXPECT_FALSE(decode(bmi, Bytes(21, 0)).isNull());
  EXPECT_TRUE(decode(infoHeader(1000, 1000, 32, BI_RGB), Bytes(64, 0)).isNull());
}

TEST(DibHostile, BadHeadersRejectedWithReason) {
  struct Case {
    const char *what;
    Bytes bmi;
  };
  Bytes tooShortBlock = infoHeader(1, 1, 8, BI_RGB);
  tooShortBlock.resize(30);
  Bytes oddSize = infoHeader(1, 1, 8, BI_RGB);
  oddSize[0] = 20;
  Bytes missingMasks = infoHeader(1, 1, 16, BI_BITFIELDS);
  const std::vector<Case> cases = {
      {"empty block", {}},
      {"header cut short", tooShortBlock},
      {"unknown header size", oddSize},
      {"zero width", infoHeader(0, 5, 8, BI_RGB)},
      {"zero height", infoHeader(5, 0, 8, BI_RGB)},
      {"negative width", infoHeader(-5, 5, 8, BI_RGB)},
      {"most negative height", infoHeader(5, INT32_MIN, 8, BI_RGB)},
      {"side over the limit", infoHeader(100000, 1, 1, BI_RGB)},
      {"area over the limit", infoHeader(60000, 60000, 1, BI_RGB)},
      {"bit depth 7", infoHeader(2, 2, 7, BI_RGB)},
      {"24-bit bit fields", infoHeader(2, 2, 24, BI_BITFIELDS)},
      {"RLE8 at 4 bits", infoHeader(2, 2, 4, BI_RLE8)},
      {"RLE4 at 8 bits", infoHeader(2, 2, 8, BI_RLE4)},
      {"unknown compression", infoHeader(2, 2, 8, 77)},
      {"bit-field masks missing", missingMasks},
  };
  for (const Case &c : cases) {
    std::string why;
    DecodedDib d = decode(c.bmi, Bytes(1 << 16, 0), &why);
    EXPECT_TRUE(d.isNull()) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
  // the limits are the caller's to set
  DibLimits tight;
  tight.maxPixels = 100;
  std::string why;
  EXPECT_TRUE(
      decodeDib(infoHeader(11, 10, 8, BI_RGB), Bytes(2000, 0), DIB_RGB_COLORS, {}, &why, false, tight).isNull());
  DibHeader h;
  EXPECT_TRUE(parseDibHeader(infoHeader(10, -10, 8, BI_RGB), h, nullptr, tight));
  EXPECT_TRUE(h.topDown);
  EXPECT_EQ(h.stride, 12u);
}

TEST(DibHostile, RandomHeadersGiveDeclaredSizeOrAReason) {
  QRandomGenerator gen(777);
  const int32_t sides[] = {1, 2, 3, 7, 31, 33, 200, -1, -5, 0, 70000, INT32_MIN, INT32_MAX};
  const uint16_t depths[] = {0, 1, 2, 4, 8, 16, 24, 32, 48};
  const uint32_t compressions[] = {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS, BI_JPEG, BI_PNG, BI_ALPHABITFIELDS, 99};
  const uint32_t headerSizes[] = {12, 40, 52, 56, 108, 124, 200, 20};
  int decoded = 0;
  for (int round = 0; round < 3000; ++round) {
    const int32_t w = sides[gen.bounded(int(std::size(sides)))];
    const int32_t h = sides[gen.bounded(int(std::size(sides)))];
    const uint32_t hs = headerSizes[gen.bounded(int(std::size(headerSizes)))];
    Bytes bmi = infoHeader(w, h, depths[gen.bounded(int(std::size(depths)))],
                           compressions[gen.bounded(int(std::size(compressions)))],
                           gen.bounded(2) ? gen.generate() : uint32_t(gen.bounded(300)), std::max<uint32_t>(hs, 40));
    if (hs < 40)
      bmi[0] = uint8_t(hs);
    bmi.resize(bmi.size() + size_t(gen.bounded(1100)));
    for (size_t i = 40; i < bmi.size(); ++i)
      bmi[i] = uint8_t(gen.bounded(256));
    Bytes bits(size_t(gen.bounded(5000)));
    for (auto &b : bits)
      b = uint8_t(gen.bounded(256));
    std::string why;
    const DecodedDib d = decode(bmi, bits, &why, gen.bounded(2) == 1, gen.bounded(3), {});
    if (d.isNull()) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    ++decoded;
    DibHeader parsed;
    ASSERT_TRUE(parseDibHeader(bmi, parsed));
    if (parsed.compression != BI_JPEG && parsed.compression != BI_PNG) {
      EXPECT_EQ(d.image.size(), QSize(parsed.width, parsed.height));
    }
  }
  EXPECT_GT(decoded, 50); // the generator must also reach the decoding paths, not only the rejections
}

// ---- cache of decoded bitmaps ----

TEST(DibCacheTest, DecodesOncePerBitmapAndKeepsToItsBudget) {
  Bytes bmi = infoHeader(4, 4, 8, BI_RGB, 2);
  addColor(bmi, kRed);
  addColor(bmi, kBlue);
  const Bytes bitsA(16, 0), bitsB(16, 1);
  DibCache cache(4 * 4 * 4 * 2 + 512); // room for two small bitmaps
  const DecodedDib first = cache.get(bmi, bitsA, DIB_RGB_COLORS);
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(first.image.pixel(0, 0), kRed);
  // the same spans give the same shared image, without decoding again
  const DecodedDib again = cache.get(bmi, bitsA, DIB_RGB_COLORS);
  EXPECT_EQ(again.image.constBits(), first.image.constBits());
  EXPECT_EQ(cache.entries(), 1u);
  // other bits, another usage or other alpha handling are other entries with their own pixels
  EXPECT_EQ(cache.get(bmi, bitsB, DIB_RGB_COLORS).image.pixel(0, 0), kBlue);
  const std::vector<QRgb> pal = {kGreen, kWhite};
  Bytes palBmi = infoHeader(4, 4, 8, BI_RGB, 2);
  put16(palBmi, 1);
  put16(palBmi, 0);
  EXPECT_EQ(cache.get(palBmi, bitsA, DIB_PAL_COLORS, pal).image.pixel(0, 0), kWhite);
  // a third entry pushes the least recently used one out
  EXPECT_LE(cache.bytesHeld(), size_t(4 * 4 * 4 * 2 + 512));
  EXPECT_EQ(cache.entries(), 2u);
  // the palette's contents are part of the key
  const std::vector<QRgb> pal2 = {kBlack, kRed};
  EXPECT_EQ(cache.get(palBmi, bitsA, DIB_PAL_COLORS, pal2).image.pixel(0, 0), kRed);

  // failures are reported the same way from the cache
  std::string why;
  EXPECT_TRUE(cache.get(bmi, Bytes(3, 0), DIB_RGB_COLORS, {}, false, &why).isNull());
  EXPECT_FALSE(why.empty());
  why.clear();
  EXPECT_TRUE(cache.get(bmi, Bytes(3, 0), DIB_RGB_COLORS, {}, false, &why).isNull());
  EXPECT_FALSE(why.empty());
  cache.clear();
  EXPECT_EQ(cache.entries(), 0u);
  EXPECT_EQ(cache.bytesHeld(), 0u);
}
