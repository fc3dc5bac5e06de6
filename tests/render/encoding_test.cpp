#include "render/encoding.h"
#include "render/image_writer.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tiffio.h>

using MagickCore::Quantum;
using namespace render;

namespace {

// 96 x 64 pixels with several thousand colours.
Magick::Image colourful() {
  Magick::Image img;
  img.size(Magick::Geometry(96, 64));
  img.depth(8);
  Magick::PixelPacket *p = img.setPixels(0, 0, 96, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x) {
      Magick::PixelPacket &q = p[y * 96 + x];
      q.red = Quantum((x * 255 / 95) * 257);
      q.green = Quantum((y * 255 / 63) * 257);
      q.blue = Quantum(((x + y) * 3 % 256) * 257);
      q.opacity = 0;
    }
  img.syncPixels();
  return img;
}

class Encoding : public ::testing::Test {
protected:
  QTemporaryDir dir;
  Settings s;
  // Applies the option set of code, writes the image through the program's own encoder into a file with the
  // format's extension and returns the file's bytes.
  QByteArray encode(FormatCode code, Magick::Image img = colourful()) {
    ApplyFormatOptionSet(img, code, s);
    EXPECT_TRUE(HasDirectEncoder(img, code)) << "format " << code;
    const QString path = dir.filePath(QStringLiteral("out") + QString::fromLatin1(FormatExtension(code)));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_EQ(EncodeImageToFd(img, code, f.handle()), "");
    f.close();
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    lastPath = path.toStdString();
    return f.readAll();
  }
  std::string lastPath;
};

bool hasMarker(const QByteArray &jpeg, uint8_t marker) {
  for (int i = 2; i + 1 < jpeg.size(); ++i)
    if (uint8_t(jpeg[i]) == 0xFF && uint8_t(jpeg[i + 1]) == marker)
      return true;
  return false;
}

// Components of the first start-of-frame segment of a JPEG file.
int jpegComponents(const QByteArray &jpeg) {
  for (int i = 2; i + 9 < jpeg.size(); ++i)
    if (uint8_t(jpeg[i]) == 0xFF && (uint8_t(jpeg[i + 1]) == 0xC0 || uint8_t(jpeg[i + 1]) == 0xC2))
      return uint8_t(jpeg[i + 9]);
  return -1;
}

// The packed field of the first image descriptor of a GIF file (bit 0x40: interlaced).
int gifImageFlags(const QByteArray &gif) {
  if (gif.size() < 13)
    return -1;
  int i = 13;
  const uint8_t lsd = uint8_t(gif[10]);
  if (lsd & 0x80)
    i += 3 * (1 << ((lsd & 7) + 1));
  while (i < gif.size()) {
    const uint8_t b = uint8_t(gif[i]);
    if (b == 0x2C)
      return i + 9 < gif.size() ? uint8_t(gif[i + 9]) : -1;
    if (b != 0x21)
      return -1;
    i += 2;
    while (i < gif.size() && uint8_t(gif[i]) != 0)
      i += uint8_t(gif[i]) + 1;
    ++i;
  }
  return -1;
}

struct TiffFacts {
  uint16_t compression = 0, bits = 0, samples = 0, photometric = 0;
};
TiffFacts tiffFacts(const std::string &path) {
  TiffFacts t;
  TIFF *tif = TIFFOpen(path.c_str(), "r");
  if (!tif)
    return t;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &t.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  TIFFClose(tif);
  return t;
}

} // namespace

TEST(FormatChoice, DefaultFormatTestsJpgGifPngTifThenBmp) {
  Settings s;
  s.JPG_Default = true;
  s.GIF_Default = true;
  EXPECT_EQ(DefaultFormat(s), FormatJPG);
  EXPECT_STREQ(FormatExtension(DefaultFormat(s)), ".jpg");
  s.JPG_Default = false;
  EXPECT_EQ(DefaultFormat(s), FormatGIF);
  s.GIF_Default = false;
  s.TIF_Default = true;
  s.PNG_Default = true;
  EXPECT_EQ(DefaultFormat(s), FormatPNG);
  s.PNG_Default = false;
  EXPECT_STREQ(FormatExtension(DefaultFormat(s)), ".tif");
  s.TIF_Default = false;
  s.BMP_Default = false;
  EXPECT_EQ(DefaultFormat(s), FormatBMP);
  EXPECT_STREQ(FormatExtension(DefaultFormat(s)), ".bmp");
}

TEST(FormatChoice, PdfInsideFormatSelectsOnlyJpgPngTifExactly) {
  EXPECT_EQ(PdfInsideOptionFormat("JPG"), FormatJPG);
  EXPECT_EQ(PdfInsideOptionFormat("PNG"), FormatPNG);
  EXPECT_EQ(PdfInsideOptionFormat("TIF"), FormatTIF);
  for (const char *none : {"GIF", "BMP", "", "J", "jpg", "JPEG", "TIFF"})
    EXPECT_FALSE(PdfInsideOptionFormat(none).has_value()) << none;
}

TEST(FormatChoice, OutputModeChoosesTheOptionSet) {
  Settings s;
  s.JPG_Default = true;
  s.JPG_Quality = 77;
  Magick::Image img = colourful();
  ApplyFormatOptions(img, 0, s);
  EXPECT_EQ(img.quality(), 77u);
  EXPECT_EQ(img.interlaceType(), Magick::LineInterlace);

  for (const char *pdf : {"GIF", "BMP", "x"}) {
    img = colourful();
    ApplyFormatOptions(img, 1, s, std::string(pdf));
    EXPECT_NE(img.quality(), 77u) << pdf;
    EXPECT_EQ(img.interlaceType(), Magick::NoInterlace) << pdf;
  }
  img = colourful();
  ApplyFormatOptions(img, 1, s, std::string("JPG"));
  EXPECT_EQ(img.quality(), 77u);

  img = colourful();
  ApplyFormatOptions(img, 2, s);
  ApplyFormatOptions(img, 3, s);
  EXPECT_NE(img.quality(), 77u);
  EXPECT_EQ(img.interlaceType(), Magick::NoInterlace);
}

TEST_F(Encoding, JpegProgressiveGreyAndQuality) {
  s.JPG_Quality = 90;
  QByteArray jpg = encode(FormatJPG);
  EXPECT_TRUE(hasMarker(jpg, 0xC2)) << "progressive by default";
  EXPECT_EQ(jpegComponents(jpg), 3);
  EXPECT_EQ(Magick::Image(lastPath).quality(), 90u);

  s.JPG_Progress = false;
  s.JPG_Gray = true;
  s.JPG_Quality = 40;
  jpg = encode(FormatJPG);
  EXPECT_FALSE(hasMarker(jpg, 0xC2));
  EXPECT_TRUE(hasMarker(jpg, 0xC0));
  EXPECT_EQ(jpegComponents(jpg), 1);
  EXPECT_EQ(Magick::Image(lastPath).quality(), 40u);
}

TEST_F(Encoding, GifColoursInterlaceAndGrey) {
  s.GIF_Colors = 16;
  QByteArray gif = encode(FormatGIF);
  EXPECT_TRUE(gifImageFlags(gif) & 0x40);
  Magick::Image back(lastPath);
  EXPECT_LE(back.totalColors(), 16u);
  EXPECT_GE(back.totalColors(), 8u);

  s.GIF_Interlace = false;
  s.GIF_IndexGray = 1;
  gif = encode(FormatGIF);
  EXPECT_EQ(gifImageFlags(gif) & 0x40, 0);
  back.read(lastPath);
  const Magick::PixelPacket *p = back.getConstPixels(0, 0, back.columns(), back.rows());
  for (size_t i = 0; i < back.columns() * back.rows(); ++i)
    ASSERT_TRUE(p[i].red == p[i].green && p[i].green == p[i].blue) << "pixel " << i;
}

TEST_F(Encoding, PngTrueColourKeepsEveryColourAndIndexedReduces) {
  s.PNG_Colors = 16;
  QByteArray png = encode(FormatPNG);
  ASSERT_GT(png.size(), 29);
  EXPECT_EQ(uint8_t(png[25]), 2) << "true colour";
  EXPECT_EQ(uint8_t(png[24]), 8) << "eight bits per sample";
  EXPECT_EQ(uint8_t(png[28]), 1) << "interlaced";
  EXPECT_GT(Magick::Image(lastPath).totalColors(), 16u);

  s.PNG_TrueIndexGray = 1;
  s.PNG_Interlace = false;
  png = encode(FormatPNG);
  EXPECT_EQ(uint8_t(png[25]), 3) << "palette";
  EXPECT_EQ(uint8_t(png[28]), 0);
  EXPECT_LE(Magick::Image(lastPath).totalColors(), 16u);

  s.PNG_TrueIndexGray = 2;
  png = encode(FormatPNG);
  EXPECT_EQ(uint8_t(png[25]) & 2, 0) << "grey has no colour bit";
}

TEST_F(Encoding, TiffTrueColourIsEightBitsAndLzw) {
  encode(FormatTIF);
  TiffFacts t = tiffFacts(lastPath);
  EXPECT_EQ(t.compression, COMPRESSION_LZW);
  EXPECT_EQ(t.bits, 8);
  EXPECT_EQ(t.samples, 3);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);

  s.TIF_Lzw = false;
  encode(FormatTIF);
  EXPECT_NE(tiffFacts(lastPath).compression, COMPRESSION_LZW);
}

TEST_F(Encoding, TiffPaletteGreyAndBilevel) {
  s.TIF_TrueIndexGray = 1;
  s.TIF_Colors = 16;
  encode(FormatTIF);
  TiffFacts t = tiffFacts(lastPath);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
  EXPECT_LE(Magick::Image(lastPath).totalColors(), 16u);

  s.TIF_TrueIndexGray = 2;
  encode(FormatTIF);
  t = tiffFacts(lastPath);
  EXPECT_EQ(t.samples, 1);
  EXPECT_TRUE(t.photometric == PHOTOMETRIC_MINISBLACK || t.photometric == PHOTOMETRIC_MINISWHITE);

  s.TIF_TrueIndexGray = 3;
  encode(FormatTIF);
  t = tiffFacts(lastPath);
  EXPECT_EQ(t.bits, 1) << "bilevel";
  EXPECT_EQ(t.compression, COMPRESSION_LZW);
}

TEST_F(Encoding, AGreyPageInIndexedColourIsAPaletteFileOfTheChosenCount) {
  // A page of black text on white reduces to a grey colour map: the files still hold a palette.
  Magick::Image grey = colourful();
  grey.type(Magick::GrayscaleType);
  s.PNG_TrueIndexGray = 1;
  s.PNG_Colors = 8;
  QByteArray png = encode(FormatPNG, grey);
  EXPECT_EQ(uint8_t(png[25]), 3) << "palette";
  EXPECT_LE(Magick::Image(lastPath).totalColors(), 8u);
  s.TIF_TrueIndexGray = 1;
  s.TIF_Colors = 8;
  encode(FormatTIF, grey);
  EXPECT_EQ(tiffFacts(lastPath).photometric, PHOTOMETRIC_PALETTE);
  EXPECT_LE(Magick::Image(lastPath).totalColors(), 8u);
  s.GIF_Colors = 8;
  encode(FormatGIF, grey);
  EXPECT_LE(Magick::Image(lastPath).totalColors(), 8u);
}

TEST_F(Encoding, TrueColourFilesHoldThePagesPixels) {
  // Odd width, so the last pixel of a row and the row padding are exercised too.
  Magick::Image page = colourful();
  page.crop(Magick::Geometry(95, 64));
  s.PNG_Interlace = false;
  s.TIF_Lzw = false;
  for (const FormatCode code : {FormatPNG, FormatBMP, FormatTIF}) {
    encode(code, page);
    Magick::Image back(lastPath);
    back.type(Magick::TrueColorType);
    ASSERT_EQ(back.columns(), 95u) << code;
    const Magick::PixelPacket *a = page.getConstPixels(0, 0, 95, 64);
    const Magick::PixelPacket *b = back.getConstPixels(0, 0, 95, 64);
    for (size_t i = 0; i < 95 * 64; ++i)
      ASSERT_TRUE(a[i].red == b[i].red && a[i].green == b[i].green && a[i].blue == b[i].blue)
          << "format " << code << ", pixel " << i;
  }
}

TEST_F(Encoding, BmpHasNoOptions) {
  Magick::Image img = colourful();
  const std::string before = img.signature();
  ApplyFormatOptionSet(img, FormatBMP, s);
  EXPECT_EQ(img.signature(), before);
  EXPECT_EQ(img.interlaceType(), Magick::NoInterlace);
}
