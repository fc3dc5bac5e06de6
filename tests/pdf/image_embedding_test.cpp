// Every supported input kind is embedded, the document passes qpdf, has the expected page size, and renders back
// to the pixels of the input (exactly for lossless inputs, closely for JPEG).
#include "pdf/image_document.h"
#include "pdf/writer.h"
#include "pdf_test_util.h"

#include <Magick++.h>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <regex>

using namespace pdftest;

namespace {

struct Embedded {
  std::string pdf;       // the document's bytes
  std::string file;      // its path
  std::string imageDict; // the dictionary of the first image XObject
  int imageCount = 0;    // image XObjects in the document
  Picture page;          // the first page rendered pixel for pixel
};

class Embedding : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  // Embeds one image file with the writer's own helper, checks the document and renders its page.
  Embedded embed(const std::string &name, const Bytes &bytes, double dpi = 72) {
    Embedded e;
    std::string image = dir.path().toStdString() + "/" + name;
    writeFile(image, bytes);
    e.file = image + ".pdf";
    std::string error;
    EXPECT_TRUE(pdf::WriteImageFilesToPdf({image}, e.file, &error)) << name << ": " << error;
    Bytes out = readFile(e.file);
    e.pdf.assign(out.begin(), out.end());
    std::string report;
    EXPECT_TRUE(qpdfCheck(e.file, &report)) << name << ": " << report;
    std::size_t at = e.pdf.find("<</Subtype/Image\n");
    if (at != std::string::npos)
      e.imageDict = e.pdf.substr(at, e.pdf.find("stream\n", at) - at);
    for (std::size_t p = 0; (p = e.pdf.find("/Subtype/Image\n", p)) != std::string::npos; ++p)
      ++e.imageCount;
    e.page = renderPage(e.file, 1, dpi);
    return e;
  }

  void expectSame(const std::string &name, const Bytes &bytes, const Picture &expected, int tolerance = 0,
                  const std::vector<std::string> &dictHas = {}) {
    SCOPED_TRACE(name);
    Embedded e = embed(name, bytes);
    auto sizes = pageSizes(e.file);
    ASSERT_EQ(1u, sizes.size());
    EXPECT_DOUBLE_EQ(expected.width, sizes[0].width);
    EXPECT_DOUBLE_EQ(expected.height, sizes[0].height);
    EXPECT_LE(maxDifference(e.page, expected), tolerance);
    EXPECT_GE(maxDifference(e.page, expected), 0) << "rendered size " << e.page.width << " x " << e.page.height;
    for (const std::string &s : dictHas)
      EXPECT_NE(std::string::npos, e.imageDict.find(s)) << s << " missing in " << e.imageDict;
  }

  QTemporaryDir dir;
};

Picture rotate180(const Picture &p) {
  Picture r = p;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      r.px[static_cast<std::size_t>(y) * p.width + x] = p.at(p.width - 1 - x, p.height - 1 - y);
  return r;
}

Picture toGray(const Picture &p) {
  Picture g = p;
  for (Rgb &c : g.px)
    c = Rgb{c.r, c.r, c.r};
  return g;
}

Magick::Image toMagick(const Picture &p) {
  std::vector<std::uint8_t> raw;
  for (const Rgb &c : p.px)
    raw.insert(raw.end(), {c.r, c.g, c.b});
  return Magick::Image(static_cast<std::size_t>(p.width), static_cast<std::size_t>(p.height), "RGB", Magick::CharPixel,
                       raw.data());
}

Picture fromMagick(Magick::Image img) {
  img.colorSpace(Magick::sRGBColorspace);
  Picture p{static_cast<int>(img.columns()), static_cast<int>(img.rows()), {}};
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(p.width) * p.height * 3);
  img.write(0, 0, img.columns(), img.rows(), "RGB", Magick::CharPixel, raw.data());
  for (std::size_t i = 0; i < raw.size(); i += 3)
    p.px.push_back(Rgb{raw[i], raw[i + 1], raw[i + 2]});
  return p;
}

Bytes blobBytes(const Magick::Blob &b) {
  const auto *d = static_cast<const std::uint8_t *>(b.data());
  return Bytes(d, d + b.length());
}

TEST_F(Embedding, CoreHeaderHeightIsUnsigned) {
  // The 12-byte header's height is an unsigned 16-bit number: 40000 rows, bottom-up, not 25536 rows top-down.
  const IndexedPicture tall = indexedPicture(8, 40000, 1);
  const std::string image = dir.path().toStdString() + "/tall.bmp";
  writeFile(image, makeBmp(tall, BmpOptions{false, false, true, 0}));
  std::string error;
  ASSERT_TRUE(pdf::WriteImageFilesToPdf({image}, image + ".pdf", &error)) << error;
  const auto sizes = pageSizes(image + ".pdf");
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(40000, sizes[0].height);
  const Bytes b = readFile(image + ".pdf");
  EXPECT_NE(std::string::npos, std::string(b.begin(), b.end()).find("/Height 40000\n"));
}

TEST_F(Embedding, BmpOfEveryDepthAndRowOrder) {
  for (int bits : {1, 4, 8}) {
    IndexedPicture pic = indexedPicture(37, 23, bits);
    expectSame("pal" + std::to_string(bits) + ".bmp", makeBmp(pic), pic.toPicture(), 0,
               {"/BitsPerComponent " + std::to_string(bits) + "\n", "/Filter/FlateDecode\n"});
  }
  IndexedPicture pal8 = indexedPicture(37, 23, 8);
  expectSame("core.bmp", makeBmp(pal8, BmpOptions{false, false, true, 0}), pal8.toPicture());
  expectSame("rle8.bmp", makeBmp(pal8, BmpOptions{false, true, false, 0}), pal8.toPicture());
  IndexedPicture pal4 = indexedPicture(37, 23, 4);
  expectSame("rle4.bmp", makeBmp(pal4, BmpOptions{false, true, false, 0}), pal4.toPicture());
  expectSame("rle8-topdown.bmp", makeBmp(pal8, BmpOptions{true, true, false, 0}), pal8.toPicture());

  Picture colour = colourPicture(37, 23);
  for (int bits : {24, 32})
    expectSame("rgb" + std::to_string(bits) + ".bmp", makeBmp(colour, bits), colour, 0,
               {"/BitsPerComponent 8\n/ColorSpace/DeviceRGB\n"});
  expectSame("topdown.bmp", makeBmp(colour, 24, BmpOptions{true, false, false, 0}), colour);
  // 16 bits: five bits per channel, widened to 8.
  Picture five = colour;
  for (Rgb &c : five.px) {
    auto widen = [](std::uint8_t v) { return static_cast<std::uint8_t>(std::lround((v >> 3) * 255.0 / 31.0)); };
    c = Rgb{widen(c.r), widen(c.g), widen(c.b)};
  }
  expectSame("rgb16.bmp", makeBmp(colour, 16), five);
}

TEST_F(Embedding, BmpResolutionSetsThePageSize) {
  Embedded e = embed("res.bmp", makeBmp(colourPicture(100, 50), 24, BmpOptions{false, false, false, 3780}));
  EXPECT_NE(std::string::npos, e.pdf.find("/MediaBox[0 0 74.9906 37.4953]\n"));
  EXPECT_NE(std::string::npos, e.imageDict.find("/Width 100\n/Height 50\n/BitsPerComponent 8\n/ColorSpace/DeviceRGB\n"
                                                "/Filter/FlateDecode\n"))
      << e.imageDict;
  auto sizes = pageSizes(e.file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_NEAR(74.9906, sizes[0].width, 0.001);
  EXPECT_NEAR(37.4953, sizes[0].height, 0.001);
}

TEST_F(Embedding, GifCodesArePassedThroughRepacked) {
  IndexedPicture pic = indexedPicture(41, 19, 8);
  expectSame("plain.gif", makeGif(pic), pic.toPicture(), 0, {"/Filter/LZWDecode\n/DecodeParms<</EarlyChange 0>>\n"});
  expectSame("local.gif", makeGif(pic, GifOptions{false, 8, -1, 0, true}), pic.toPicture());

  // A GIF from the image library: real LZW codes growing to 12 bits with table resets.
  Picture big = colourPicture(300, 200);
  Magick::Image img = toMagick(big);
  img.quantizeColors(256);
  img.quantizeDither(false);
  img.quantize();
  img.magick("GIF");
  Magick::Blob blob;
  img.write(&blob);
  Bytes gif = blobBytes(blob);
  Picture expected = fromMagick(Magick::Image(blob));
  expectSame("library.gif", gif, expected);
}

// Pages of 128 colours or fewer come with LZW codes narrower than PDF's, and interlaced files with their rows
// out of order: both are decoded and compressed again, and no page is lost.
TEST_F(Embedding, GifNarrowCodesAndInterlacedRowsAreDecoded) {
  IndexedPicture small = indexedPicture(23, 9, 4);
  expectSame("code4.gif", makeGif(small, GifOptions{false, 4, -1, 0, false}), small.toPicture(), 0,
             {"/Filter/FlateDecode\n"});
  for (bool interlace : {false, true}) {
    Magick::Image img = toMagick(colourPicture(97, 61));
    img.quantizeColors(64);
    img.quantizeDither(false);
    img.quantize();
    img.interlaceType(interlace ? Magick::LineInterlace : Magick::NoInterlace);
    img.magick("GIF");
    Magick::Blob blob;
    img.write(&blob);
    Bytes gif = blobBytes(blob);
    // Decoded, not passed through: the library wrote codes narrower than 8 bits.
    expectSame(interlace ? "interlaced64.gif" : "colours64.gif", gif, fromMagick(Magick::Image(blob)), 0,
               {"/Filter/FlateDecode\n"});
  }
}

TEST_F(Embedding, GifTransparencyAndAspectRatio) {
  IndexedPicture pic = indexedPicture(16, 16, 8);
  Embedded e = embed("key.gif", makeGif(pic, GifOptions{false, 8, 7, 0, false}));
  EXPECT_NE(std::string::npos, e.imageDict.find("/Mask[7 7]\n")) << e.imageDict;
  // Aspect byte 113: pixels twice as wide as high, so the picture is half as high.
  e = embed("aspect.gif", makeGif(pic, GifOptions{false, 8, -1, 113, false}));
  auto sizes = pageSizes(e.file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(16, sizes[0].width);
  EXPECT_DOUBLE_EQ(8, sizes[0].height);
}

TEST_F(Embedding, JpegIsCopiedByteForByte) {
  Picture colour = colourPicture(64, 40);
  for (const char *kind : {"rgb", "gray"}) {
    SCOPED_TRACE(kind);
    Magick::Image img = toMagick(colour);
    if (std::string(kind) == "gray")
      img.type(Magick::GrayscaleType);
    img.magick("JPEG");
    img.quality(92);
    img.density(Magick::Geometry(144, 144));
    img.resolutionUnits(Magick::PixelsPerInchResolution);
    Magick::Blob blob;
    img.write(&blob);
    Bytes jpeg = blobBytes(blob);
    Embedded e = embed(std::string(kind) + ".jpg", jpeg, 144);
    EXPECT_NE(std::string::npos, e.imageDict.find("/Filter/DCTDecode\n")) << e.imageDict;
    EXPECT_EQ(std::string::npos, e.imageDict.find("/DecodeParms"));
    EXPECT_NE(std::string::npos, e.imageDict.find(std::string(kind) == "gray" ? "/DeviceGray" : "/DeviceRGB"));
    // The stream is the file itself.
    std::size_t s = e.pdf.find("stream\n", e.pdf.find("/Filter/DCTDecode\n")) + 7;
    EXPECT_EQ(0, e.pdf.compare(s, jpeg.size(), std::string(jpeg.begin(), jpeg.end())));
    auto sizes = pageSizes(e.file);
    ASSERT_EQ(1u, sizes.size());
    EXPECT_DOUBLE_EQ(32, sizes[0].width);
    EXPECT_DOUBLE_EQ(20, sizes[0].height);
    Picture expected = fromMagick(Magick::Image(blob));
    EXPECT_LT(meanDifference(e.page, expected), 2.0);
  }
}

TEST_F(Embedding, AdobeCmykJpegIsInverted) {
  Picture colour = colourPicture(48, 32);
  Magick::Image img = toMagick(colour);
  img.colorSpace(Magick::CMYKColorspace);
  img.magick("JPEG");
  img.quality(95);
  Magick::Blob blob;
  img.write(&blob);
  Embedded e = embed("cmyk.jpg", blobBytes(blob));
  EXPECT_NE(std::string::npos, e.imageDict.find("/ColorSpace/DeviceCMYK\n/Decode[1 0 1 0 1 0 1 0]\n")) << e.imageDict;
  // Colour conversions differ between renderers, but the picture must be far closer to the original than to
  // its negative.
  Picture negative = colour;
  for (Rgb &c : negative.px)
    c = Rgb{static_cast<std::uint8_t>(255 - c.r), static_cast<std::uint8_t>(255 - c.g),
            static_cast<std::uint8_t>(255 - c.b)};
  double near = meanDifference(e.page, colour), far = meanDifference(e.page, negative);
  EXPECT_LT(near * 3, far) << near << " " << far;
}

TEST_F(Embedding, PngPassThroughKinds) {
  Picture colour = colourPicture(37, 23);
  expectSame("rgb.png", makePng(colour, false), colour, 0,
             {"/Filter/FlateDecode\n/DecodeParms<</Predictor 15/Columns 37/Colors 3>>\n"});
  Picture gray = toGray(colour);
  expectSame("gray.png", makePng(gray, true), gray, 0, {"/DecodeParms<</Predictor 15/Columns 37>>\n"});
  for (int bits : {1, 2, 4, 8}) {
    IndexedPicture pic = indexedPicture(37, 23, bits);
    std::string parms =
        bits == 8 ? "/DecodeParms<</Predictor 15/Columns 37>>\n"
                  : "/DecodeParms<</Predictor 15/Columns 37/BitsPerComponent " + std::to_string(bits) + ">>\n";
    expectSame("pal" + std::to_string(bits) + ".png", makePng(pic), pic.toPicture(), 0, {parms});
  }
}

TEST_F(Embedding, PngDecodedKinds) {
  Picture colour = colourPicture(37, 23);
  PngOptions interlaced;
  interlaced.interlaced = true;
  expectSame("interlaced.png", makePng(colour, false, interlaced), colour, 0, {"/Filter/FlateDecode\n/Length"});
  IndexedPicture pal = indexedPicture(37, 23, 4);
  expectSame("interlaced-pal.png", makePng(pal, interlaced), pal.toPicture(), 0, {"/BitsPerComponent 4\n"});
  PngOptions alpha;
  alpha.alpha = true;
  expectSame("rgba.png", makePng(colour, false, alpha), colour, 0, {"/ColorSpace/DeviceRGB\n"});
  Picture gray = toGray(colour);
  expectSame("graya.png", makePng(gray, true, alpha), gray, 0, {"/ColorSpace/DeviceGray\n"});
  PngOptions deep;
  deep.bitDepth = 16;
  expectSame("rgb16.png", makePng(colour, false, deep), colour, 1, {"/BitsPerComponent 16\n"});
  Embedded e = embed("rgb16b.png", makePng(colour, false, deep));
  EXPECT_EQ(std::string::npos, e.imageDict.find("/DecodeParms"));
}

TEST_F(Embedding, PngTransparencyAndResolution) {
  Picture colour = colourPicture(20, 10);
  PngOptions key;
  key.transparentFirst = true;
  Embedded e = embed("key.png", makePng(colour, false, key));
  EXPECT_NE(std::string::npos, e.imageDict.find("/Mask[0 0 0 0 0 0]\n")) << e.imageDict;
  EXPECT_EQ((Rgb{255, 255, 255}), e.page.at(0, 0)) << "the keyed pixel shows the page";
  EXPECT_EQ(colour.at(1, 0), e.page.at(1, 0));
  IndexedPicture pal = indexedPicture(20, 10, 8);
  e = embed("keypal.png", makePng(pal, key));
  EXPECT_NE(std::string::npos, e.imageDict.find("/Mask[0 0]\n")) << e.imageDict;

  PngOptions res;
  res.pixelsPerMetre = 11811; // 300 dpi
  e = embed("res.png", makePng(colourPicture(150, 75), false, res));
  auto sizes = pageSizes(e.file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(36, sizes[0].width);
  EXPECT_DOUBLE_EQ(18, sizes[0].height);
}

TEST_F(Embedding, TiffStripsPassedThrough) {
  Picture colour = colourPicture(37, 23);
  Picture gray = toGray(colour);
  auto opts = [](int compression, int predictor = 1) {
    TiffOptions o;
    o.compression = compression;
    o.predictor = predictor;
    return o;
  };
  expectSame("gray-none.tif", makeTiff(gray, true), gray, 0, {"/ColorSpace/DeviceGray\n/Filter/FlateDecode\n/Length"});
  expectSame("rgb-none.tif", makeTiff(colour, false), colour, 0, {"/DeviceRGB\n/Filter/FlateDecode\n/Length"});
  expectSame("rgb-lzw.tif", makeTiff(colour, false, opts(COMPRESSION_LZW)), colour, 0, {"/Filter/LZWDecode\n/Length"});
  expectSame("rgb-lzw-pred.tif", makeTiff(colour, false, opts(COMPRESSION_LZW, 2)), colour, 0,
             {"/Filter/LZWDecode\n/DecodeParms<</Predictor 2/Columns 37/Colors 3>>\n"});
  expectSame("rgb-deflate.tif", makeTiff(colour, false, opts(COMPRESSION_ADOBE_DEFLATE)), colour, 0,
             {"/Filter/FlateDecode\n/Length"});
  expectSame("gray-deflate-old.tif", makeTiff(gray, true, opts(COMPRESSION_DEFLATE, 2)), gray, 0,
             {"/DecodeParms<</Predictor 2/Columns 37>>\n"});
  expectSame("rgb-packbits.tif", makeTiff(colour, false, opts(COMPRESSION_PACKBITS)), colour, 0,
             {"/Filter/RunLengthDecode\n"});
  TiffOptions white;
  white.minIsWhite = true;
  expectSame("gray-miniswhite.tif", makeTiff(gray, true, white), gray, 0, {"/Decode[1 0]\n"});
  for (int bits : {4, 8}) {
    IndexedPicture pal = indexedPicture(37, 23, bits);
    expectSame("pal" + std::to_string(bits) + ".tif", makeTiff(pal, opts(COMPRESSION_LZW)), pal.toPicture(), 0,
               {"/BitsPerComponent " + std::to_string(bits) + "\n/ColorSpace "});
  }
}

TEST_F(Embedding, TiffBilevelFax) {
  const int w = 61, h = 29;
  std::vector<bool> black;
  Picture expected{w, h, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool b = ((x / 5 + y / 3) % 3 == 0) || x == y;
      black.push_back(b);
      expected.px.push_back(b ? Rgb{0, 0, 0} : Rgb{255, 255, 255});
    }
  struct FaxCase {
    const char *name;
    int compression;
    std::uint32_t g3options;
    bool minIsWhite;
    const char *parms;
  } cases[] = {
      {"g3-1d.tif", COMPRESSION_CCITTFAX3, 0, true, "/DecodeParms<</Columns 61/Rows 29>>\n"},
      {"g3-2d.tif", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, true, "/DecodeParms<</K 1/Columns 61/Rows 29>>\n"},
      {"g4.tif", COMPRESSION_CCITTFAX4, 0, true, "/DecodeParms<</K -1/Columns 61/Rows 29>>\n"},
      {"g4-black.tif", COMPRESSION_CCITTFAX4, 0, false, "/DecodeParms<</BlackIs1 true/K -1/Columns 61/Rows 29>>\n"},
      {"mh.tif", COMPRESSION_CCITTRLE, 0, true,
       "/DecodeParms<</EndOfBlock false/EncodedByteAlign true/Columns 61/Rows 29>>\n"},
      {"bilevel-none.tif", COMPRESSION_NONE, 0, true, "/Decode[1 0]\n"},
      {"bilevel-black-packbits.tif", COMPRESSION_PACKBITS, 0, false, "/BitsPerComponent 1\n"},
  };
  for (const FaxCase &c : cases) {
    TiffOptions o;
    o.compression = c.compression;
    o.minIsWhite = c.minIsWhite;
    o.bits = 1;
    o.group3Options = c.g3options;
    Bytes tif = makeBilevelTiff(black, w, h, o);
    expectSame(c.name, tif, expected, 0, {c.parms});
  }
}

TEST_F(Embedding, TiffCmykIsPassedThrough) {
  Picture colour = colourPicture(24, 16);
  TiffOptions o;
  o.cmyk = true;
  o.compression = COMPRESSION_LZW;
  Embedded e = embed("cmyk.tif", makeTiff(colour, false, o));
  EXPECT_NE(std::string::npos, e.imageDict.find("/ColorSpace/DeviceCMYK\n/Filter/LZWDecode\n")) << e.imageDict;
  EXPECT_EQ(std::string::npos, e.imageDict.find("/Decode["));
  // Without black ink the renderer's conversion stays close to the complement of each ink.
  EXPECT_LT(meanDifference(e.page, colour), 40);
}

TEST_F(Embedding, TiffWithSixteenStripsIsDrawnAsOnePicture) {
  Picture colour = colourPicture(40, 64);
  TiffOptions o;
  o.compression = COMPRESSION_LZW;
  o.rowsPerStrip = 4;
  expectSame("strips.tif", makeTiff(colour, false, o), colour);
  Embedded e = embed("strips2.tif", makeTiff(colour, false, o));
  EXPECT_EQ(16, e.imageCount);
  // An uneven last strip.
  Picture odd = colourPicture(40, 61);
  expectSame("strips-odd.tif", makeTiff(odd, false, o), odd);
}

TEST_F(Embedding, TiffSixteenBitsInBothByteOrders) {
  Picture colour = colourPicture(37, 23);
  TiffOptions be;
  be.bits = 16;
  be.bigEndian = true;
  expectSame("be16.tif", makeTiff(colour, false, be), colour, 1, {"/BitsPerComponent 16\n"});
  TiffOptions le = be;
  le.bigEndian = false;
  le.compression = COMPRESSION_LZW;
  le.predictor = 2;
  expectSame("le16.tif", makeTiff(colour, false, le), colour, 1, {"/BitsPerComponent 16\n"});
}

TEST_F(Embedding, TiffDecodedKindsAndOrientation) {
  Picture colour = colourPicture(37, 23);
  TiffOptions tiled;
  tiled.tiled = true;
  expectSame("tiled.tif", makeTiff(colour, false, tiled), colour, 0, {"/BitsPerComponent 8\n/ColorSpace/DeviceRGB\n"});
  TiffOptions alpha;
  alpha.alpha = true;
  // The alpha channel is dropped; the RGBA reader gives the colour premultiplied, so only the layout is checked.
  Embedded e = embed("alpha.tif", makeTiff(colour, false, alpha));
  EXPECT_NE(std::string::npos, e.imageDict.find("/DeviceRGB")) << e.imageDict;
  EXPECT_EQ(colour.width, e.page.width);

  TiffOptions upside;
  upside.orientation = ORIENTATION_BOTRIGHT;
  expectSame("rot180.tif", makeTiff(rotate180(colour), false, upside), colour);
  TiffOptions turned;
  turned.orientation = ORIENTATION_RIGHTTOP;
  // Stored rows hold the picture turned; the page shows it upright, with width and height exchanged.
  Picture stored{colour.height, colour.width, {}};
  for (int y = 0; y < stored.height; ++y)
    for (int x = 0; x < stored.width; ++x)
      stored.px.push_back(colour.at(colour.width - 1 - y, x));
  expectSame("rot90.tif", makeTiff(stored, false, turned), colour);
  // Decoded (tiled) images are placed by their orientation the same way.
  upside.tiled = turned.tiled = true;
  expectSame("tiled-rot180.tif", makeTiff(rotate180(colour), false, upside), colour);
  expectSame("tiled-rot90.tif", makeTiff(stored, false, turned), colour);
}

TEST_F(Embedding, TiffResolutionUnits) {
  TiffOptions o;
  o.resolution = 300;
  Embedded e = embed("res.tif", makeTiff(colourPicture(150, 75), false, o));
  auto sizes = pageSizes(e.file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(36, sizes[0].width);
  EXPECT_DOUBLE_EQ(18, sizes[0].height);
  o.resolution = 0.5; // one or less: no resolution, a pixel is a point
  e = embed("res-low.tif", makeTiff(colourPicture(15, 7), false, o));
  sizes = pageSizes(e.file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(15, sizes[0].width);
}

TEST_F(Embedding, ImageFilesFromTheImageLibraryInEveryFormat) {
  // The export embeds what the image library writes; each of its formats must load.
  Picture colour = colourPicture(50, 30);
  for (const char *format : {"BMP", "BMP3", "PNG", "TIFF", "GIF", "JPEG"}) {
    SCOPED_TRACE(format);
    Magick::Image img = toMagick(colour);
    img.magick(format);
    img.depth(8);
    img.density(Magick::Geometry(72, 72));
    Magick::Blob blob;
    img.write(&blob);
    Embedded e = embed(std::string("library.") + format, blobBytes(blob));
    Picture expected = fromMagick(Magick::Image(blob));
    if (std::string(format) == "JPEG")
      EXPECT_LT(meanDifference(e.page, expected), 2.0);
    else
      EXPECT_EQ(0, maxDifference(e.page, expected));
  }
}

} // namespace
