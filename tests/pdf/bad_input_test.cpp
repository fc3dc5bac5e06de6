// Damaged, hostile and unsupported image files: each load fails with its own number, returns -1, allocates nothing
// out of proportion, and leaves the document as it was.
#include "pdf/writer.h"
#include "pdf_test_util.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

using namespace pdftest;

namespace {

struct BadCase {
  std::string name;
  Bytes bytes;
  int expected;
};

// Loads every case into one document, then a good image; the document must still be sound.
void expectFailures(const std::vector<BadCase> &cases) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string file = dir.path().toStdString() + "/bad.pdf";
  pdf::WriterPtr w = pdf::new_writer();
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  for (const BadCase &c : cases) {
    pdf::add_memory_file(w.get(), c.name, c.bytes);
    EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", c.name.c_str(), 0, "")) << c.name;
    EXPECT_EQ(c.expected, pdf::get_errnum(w.get())) << c.name << ": " << pdf::get_errmsg(w.get());
    EXPECT_NE(std::string::npos, pdf::get_errmsg(w.get()).find(c.name)) << pdf::get_errmsg(w.get());
    EXPECT_EQ("load_image", pdf::get_apiname(w.get()));
  }
  pdf::add_memory_file(w.get(), "good.bmp", makeBmp(colourPicture(5, 4), 24));
  int img = pdf::load_image(w.get(), "auto", "good.bmp", 0, "");
  ASSERT_EQ(0, img) << "no slot was kept by the failed loads";
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  ASSERT_EQ(1, pdf::fit_image(w.get(), img, 0, 0, "adjustpage"));
  ASSERT_EQ(1, pdf::end_page_ext(w.get(), ""));
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  Bytes b = readFile(file);
  std::string pdfText(b.begin(), b.end());
  EXPECT_EQ(1u, [&] {
    std::size_t n = 0;
    for (std::size_t p = 0; (p = pdfText.find("/Subtype/Image", p)) != std::string::npos; ++p)
      ++n;
    return n;
  }()) << "failed loads write no XObject";
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
}

void put16(Bytes &b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes &b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// A minimal JPEG header: SOI, a frame marker, a scan header and EOI (no real data; nothing decodes it).
Bytes jpegHeader(std::uint8_t sof, int precision, int width, int height, int components, int scanComponents) {
  Bytes b = {0xFF, 0xD8, 0xFF, sof};
  std::size_t len = 8 + static_cast<std::size_t>(components) * 3;
  b.insert(b.end(), {static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len),
                     static_cast<std::uint8_t>(precision), static_cast<std::uint8_t>(height >> 8),
                     static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(width >> 8),
                     static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(components)});
  for (int c = 0; c < components; ++c)
    b.insert(b.end(), {static_cast<std::uint8_t>(c + 1), 0x11, 0});
  std::size_t slen = 6 + static_cast<std::size_t>(scanComponents) * 2;
  b.insert(b.end(), {0xFF, 0xDA, static_cast<std::uint8_t>(slen >> 8), static_cast<std::uint8_t>(slen),
                     static_cast<std::uint8_t>(scanComponents)});
  for (int c = 0; c < scanComponents; ++c)
    b.insert(b.end(), {static_cast<std::uint8_t>(c + 1), 0});
  b.insert(b.end(), {0, 63, 0, 0x12, 0x34, 0xFF, 0xD9});
  return b;
}

// Sets the value of a short-valued tag in the first directory of a little-endian TIFF.
void patchTiffTag(Bytes &t, std::uint16_t tag, std::uint16_t value) {
  std::uint32_t ifd = t[4] | t[5] << 8 | t[6] << 16 | static_cast<std::uint32_t>(t[7]) << 24;
  std::uint16_t n = static_cast<std::uint16_t>(t[ifd] | t[ifd + 1] << 8);
  for (std::uint16_t i = 0; i < n; ++i) {
    std::size_t e = ifd + 2 + i * 12u;
    if ((t[e] | t[e + 1] << 8) == tag) {
      put16(t, e + 8, value);
      return;
    }
  }
  ADD_FAILURE() << "tag " << tag << " not found";
}

TEST(BadInput, UnknownKindsAndMissingFiles) {
  expectFailures({
      {"text.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, 2434},
      {"empty", Bytes{}, 2434},
      {"jpeg-too-late",
       [] {
         Bytes b(800, 0);
         b.push_back(0xFF);
         b.push_back(0xD8);
         return b;
       }(),
       2434},
  });
}

TEST(BadInput, Bmp) {
  Bytes good = makeBmp(colourPicture(8, 8), 24);
  Bytes header20 = good;
  put32(header20, 14, 20);
  Bytes jpegInside = good;
  put32(jpegInside, 30, 4);
  Bytes shortPixels = good;
  shortPixels.resize(shortPixels.size() - 1);
  Bytes paletteOverlap = makeBmp(indexedPicture(8, 8, 8));
  put32(paletteOverlap, 10, 14 + 40 + 100); // pixel data inside the palette
  Bytes zeroWidth = good;
  put32(zeroWidth, 18, 0);
  Bytes badBits = good;
  put16(badBits, 28, 7);
  // Huge dimensions in a tiny file: refused before any allocation.
  Bytes huge = good;
  put32(huge, 18, 30000);
  put32(huge, 22, 30000);
  Bytes hugeRle = makeBmp(indexedPicture(8, 8, 8), BmpOptions{false, true, false, 0});
  put32(hugeRle, 18, 60000);
  put32(hugeRle, 22, 60000);
  expectFailures({
      {"header20.bmp", header20, 2444},
      {"jpeg.bmp", jpegInside, 2446},
      {"short.bmp", shortPixels, 2400},
      {"overlap.bmp", paletteOverlap, 2400},
      {"zero.bmp", zeroWidth, 2400},
      {"bits7.bmp", badBits, 2400},
      {"huge.bmp", huge, 2400},
      {"huge-rle.bmp", hugeRle, pdf::ErrNoMemory},
      {"tiny.bmp", Bytes{'B', 'M', 1, 2}, 2400},
  });
}

TEST(BadInput, BmpRleRunsOutsideThePictureAreClipped) {
  // Runs, deltas and absolute runs that point past the row and past the last row must not write outside.
  IndexedPicture pic = indexedPicture(4, 3, 8);
  Bytes b = makeBmp(pic, BmpOptions{false, true, false, 0});
  std::size_t data = b[10] | b[11] << 8;
  b.resize(data);
  b.insert(b.end(), {255, 7, 0, 2, 200, 200, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 255, 3, 0, 1});
  QTemporaryDir dir;
  std::string file = dir.path().toStdString() + "/rle.pdf";
  pdf::WriterPtr w = pdf::new_writer();
  pdf::add_memory_file(w.get(), "rle.bmp", b);
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  int img = pdf::load_image(w.get(), "auto", "rle.bmp", 0, "");
  ASSERT_GE(img, 0) << pdf::get_errmsg(w.get());
  pdf::begin_page_ext(w.get(), 10, 10, "");
  pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
  pdf::end_page_ext(w.get(), "");
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  Picture page = renderPage(file, 1, 72);
  ASSERT_EQ(4, page.width);
  // The first file row (the bottom one) is four pixels of colour 7.
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(pic.palette[7], page.at(x, 2));
}

TEST(BadInput, Gif) {
  IndexedPicture pic = indexedPicture(8, 8, 8);
  Bytes good = makeGif(pic);
  Bytes shortTable(good.begin(), good.begin() + 13 + 100);
  Bytes codeSize9 = makeGif(pic, GifOptions{false, 8, -1, 0, false});
  const std::size_t codeSizeAt = 13 + 768 + 7 + 10; // header, table, comment extension, image descriptor
  codeSize9[codeSizeAt] = 9;
  // Code size 4 (decoded by the writer): a clear code, then code 30, which names no table entry yet.
  Bytes badCode(codeSize9.begin(), codeSize9.begin() + codeSizeAt);
  badCode.insert(badCode.end(), {4, 2, 0xD0, 0x03, 0, 0x3B});
  Bytes truncated(good.begin(), good.end() - 20);
  Bytes noImage(good.begin(), good.begin() + 13 + 768);
  noImage.push_back(0x3B);
  Bytes badVersion = good;
  badVersion[4] = '8';
  // Codes after the table is full: 12-bit codes that never clear.
  Bytes full(good.begin(), good.begin() + 13 + 768);
  full.insert(full.end(), {0x2C, 0, 0, 0, 0, 8, 0, 8, 0, 0, 8});
  {
    Bytes data;
    std::uint64_t acc = 0;
    int n = 0, width = 9;
    std::uint32_t counter = 257;
    for (int i = 0; i < 5000; ++i) {
      acc |= std::uint64_t(i % 256) << n;
      n += width;
      ++counter;
      if (counter >= (1u << width) && width < 12)
        ++width;
      while (n >= 8) {
        data.push_back(static_cast<std::uint8_t>(acc));
        acc >>= 8;
        n -= 8;
      }
    }
    for (std::size_t p = 0; p < data.size(); p += 255) {
      std::size_t len = std::min<std::size_t>(255, data.size() - p);
      full.push_back(static_cast<std::uint8_t>(len));
      full.insert(full.end(), data.begin() + static_cast<long>(p), data.begin() + static_cast<long>(p + len));
    }
    full.push_back(0);
    full.push_back(0x3B);
  }
  expectFailures({
      {"short-table.gif", shortTable, 2410},
      {"code9.gif", codeSize9, 2462},
      {"badcode.gif", badCode, 2400},
      {"truncated.gif", truncated, 2400},
      {"noimage.gif", noImage, 2402},
      {"version.gif", badVersion, pdf::ErrNotOfKind},
      {"tablefull.gif", full, 2400},
  });
}

TEST(BadInput, Jpeg) {
  Bytes truncated = jpegHeader(0xC0, 8, 10, 10, 3, 3);
  truncated.resize(12);
  expectFailures({
      {"p12.jpg", jpegHeader(0xC1, 12, 10, 10, 1, 1), 2404},
      {"lossless.jpg", jpegHeader(0xC3, 8, 10, 10, 1, 1), 2450},
      {"arith.jpg", jpegHeader(0xC9, 8, 10, 10, 1, 1), 2450},
      {"scan.jpg", jpegHeader(0xC0, 8, 10, 10, 3, 1), 2452},
      {"two.jpg", jpegHeader(0xC0, 8, 10, 10, 2, 2), 2412},
      {"height0.jpg", jpegHeader(0xC0, 8, 10, 0, 1, 1), 2400},
      {"truncated.jpg", truncated, 2400},
      {"noframe.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xD9}, 2400},
      {"badlength.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0}, 2400},
  });
}

TEST(BadInput, Png) {
  Bytes good = makePng(colourPicture(20, 20), false);
  Bytes header(good.begin(), good.begin() + 20);
  Bytes noData(good.begin(), good.begin() + 33);
  const char iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', '\xAE', 'B', '`', '\x82'};
  noData.insert(noData.end(), iend, iend + 12);
  PngOptions interlaced;
  interlaced.interlaced = true;
  Bytes inter = makePng(colourPicture(20, 20), false, interlaced);
  Bytes interTruncated(inter.begin(), inter.begin() + static_cast<long>(inter.size() / 2));
  Bytes badCrc = good;
  badCrc[29] ^= 0xFF; // inside the header chunk's CRC
  // A picture of noise takes several 8192-byte IDAT chunks; files cut inside one of them, and right after one of
  // them, are truncated.
  std::mt19937 rng(3);
  Picture noise{120, 100, {}};
  for (int i = 0; i < 120 * 100; ++i)
    noise.px.push_back(Rgb{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
  const Bytes several = makePng(noise, false);
  ASSERT_GT(several.size(), 3 * 8192u);
  const Bytes cutInside(several.begin(), several.begin() + 2 * 8192);
  const Bytes cutAfter(several.begin(), several.begin() + 33 + 2 * (12 + 8192));
  ASSERT_EQ(0, std::memcmp(&cutAfter[cutAfter.size() - 8192 - 8], "IDAT", 4));
  expectFailures({
      {"header.png", header, 2400},
      {"nodata.png", noData, 2400},
      {"inter-truncated.png", interTruncated, 2400},
      {"crc.png", badCrc, 2400},
      {"cut-inside.png", cutInside, 2400},
      {"cut-after.png", cutAfter, 2400},
  });
}

TEST(BadInput, Tiff) {
  Picture colour = colourPicture(12, 10);
  TiffOptions lzwAlpha;
  lzwAlpha.compression = COMPRESSION_LZW;
  lzwAlpha.alpha = true;
  TiffOptions pred;
  pred.compression = COMPRESSION_LZW;
  pred.predictor = 2;
  Bytes predictor3 = makeTiff(colour, false, pred);
  patchTiffTag(predictor3, TIFFTAG_PREDICTOR, 3);
  TiffOptions multiInk;
  multiInk.cmyk = true;
  multiInk.inkSet = INKSET_MULTIINK;
  Bytes truncated = makeTiff(colour, false, TiffOptions{});
  truncated.resize(60);
  Bytes stripOutside = makeTiff(colour, false, TiffOptions{});
  // Strip offsets point far beyond the end of the file.
  {
    std::uint32_t ifd = stripOutside[4] | stripOutside[5] << 8;
    std::uint16_t n = static_cast<std::uint16_t>(stripOutside[ifd] | stripOutside[ifd + 1] << 8);
    for (std::uint16_t i = 0; i < n; ++i) {
      std::size_t e = ifd + 2 + i * 12u;
      if ((stripOutside[e] | stripOutside[e + 1] << 8) == TIFFTAG_STRIPOFFSETS)
        put32(stripOutside, e + 8, 0x7FFFFF00);
    }
  }
  // Sixteen-bit little-endian samples are decoded strip by strip while the image is written; the last strip's
  // LZW codes are garbage, so the load fails after the first strips went out: they must not stay behind.
  TiffOptions le16;
  le16.bits = 16;
  le16.compression = COMPRESSION_LZW;
  le16.rowsPerStrip = 2;
  Bytes badStrip = makeTiff(colour, false, le16);
  {
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/strips.tif";
    writeFile(path, badStrip);
    TIFF *t = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(t);
    ASSERT_EQ(5u, TIFFNumberOfStrips(t));
    const std::uint64_t last = TIFFGetStrileOffset(t, 4), lastCount = TIFFGetStrileByteCount(t, 4);
    TIFFClose(t);
    ASSERT_LE(last + lastCount, badStrip.size());
    std::fill(badStrip.begin() + long(last), badStrip.begin() + long(last + lastCount), 0xFF);
  }
  expectFailures({
      {"bad-strip.tif", badStrip, pdf::ErrDecodeRead},
      {"lzw-alpha.tif", makeTiff(colour, false, lzwAlpha), 2474},
      {"multiink.tif", makeTiff(colour, false, multiInk), 2486},
      {"predictor3.tif", predictor3, 2472},
      {"truncated.tif", truncated, 2434}, // libtiff cannot open it, so it is no TIFF at all
      {"strip-outside.tif", stripOutside, 2400},
  });
}

} // namespace

namespace {

// Peak resident memory of this process in kilobytes since the last resetPeak().
long peakKb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}
bool resetPeak() {
  FILE *f = std::fopen("/proc/self/clear_refs", "w");
  if (!f)
    return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

} // namespace

TEST(BadInput, HostileFilesAreRefusedWithoutTheirDeclaredMemory) {
  // Tiny files declaring pictures of hundreds of megabytes to gigabytes, or pages of 10^6 points (made by
  // tests/data/pdf/make_hostile.py): each is refused as damaged, and loading it takes no memory worth speaking of.
  if (!resetPeak())
    GTEST_SKIP() << "the peak memory of this process cannot be reset (/proc/self/clear_refs is not writable)";
  const std::string folder = FOLVEX_TEST_DATA "/pdf/fuzz/";
  QTemporaryDir dir;
  const std::string file = dir.path().toStdString() + "/hostile.pdf";
  pdf::WriterPtr w = pdf::new_writer();
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  for (const char *name : {"hostile-rle4.bmp", "hostile-interlaced.png", "hostile-alpha.png", "hostile-absurd.png",
                           "hostile-idat-cut.png", "hostile-decoded.tif", "hostile-absurd.tif", "hostile-narrow.gif",
                           "hostile-absurd.jpg", "hostile-absurd-res.bmp"}) {
    const std::string path = folder + name;
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(path))) << path;
    ASSERT_TRUE(resetPeak());
    const long before = peakKb();
    EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", path.c_str(), 0, "")) << name;
    const long grown = peakKb() - before;
    EXPECT_EQ(2400, pdf::get_errnum(w.get())) << name << ": " << pdf::get_errmsg(w.get());
    EXPECT_LT(grown, 32 * 1024) << name << ": peak memory grew by " << grown << " KB";
  }
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  const Bytes b = readFile(file);
  EXPECT_EQ(std::string::npos, std::string(b.begin(), b.end()).find("/Subtype/Image"));
}

TEST(BadInput, ImageDataThatEndsPartWayIsTakenBackFromTheDocument) {
  // A PNG with an alpha channel (decoded row by row while its stream is written) whose compressed data stops at
  // three fifths, in an otherwise sound file: far more than the output buffer has been written when the rows run
  // out. Whether the document goes to a file (cut back) or to a pipe (held until the image is complete), none of
  // it stays in the document.
  std::mt19937 rng(5);
  Picture noise{300, 300, {}};
  for (int i = 0; i < 300 * 300; ++i)
    noise.px.push_back(Rgb{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
  PngOptions alpha;
  alpha.alpha = true;
  const Bytes whole = makePng(noise, false, alpha);
  Bytes data;
  std::size_t pos = 8, ihdrEnd = 0;
  while (pos + 12 <= whole.size()) {
    const std::size_t len = std::size_t(whole[pos]) << 24 | whole[pos + 1] << 16 | whole[pos + 2] << 8 | whole[pos + 3];
    if (std::memcmp(&whole[pos + 4], "IHDR", 4) == 0)
      ihdrEnd = pos + 12 + len;
    if (std::memcmp(&whole[pos + 4], "IDAT", 4) == 0)
      data.insert(data.end(), whole.begin() + long(pos + 8), whole.begin() + long(pos + 8 + len));
    pos += 12 + len;
  }
  data.resize(data.size() * 3 / 5);
  Bytes partial(whole.begin(), whole.begin() + long(ihdrEnd));
  auto chunk = [&](const char *type, const Bytes &body) {
    for (int k = 3; k >= 0; --k)
      partial.push_back(std::uint8_t(body.size() >> (8 * k)));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    partial.insert(partial.end(), typed.begin(), typed.end());
    const uLong crc = crc32(0, typed.data(), uInt(typed.size()));
    for (int k = 3; k >= 0; --k)
      partial.push_back(std::uint8_t(crc >> (8 * k)));
  };
  chunk("IDAT", data);
  chunk("IEND", {});
  ASSERT_GT(data.size(), 150000u);

  QTemporaryDir dir;
  for (bool pipe : {false, true}) {
    SCOPED_TRACE(pipe ? "pipe" : "file");
    const std::string target = dir.path().toStdString() + (pipe ? "/pipe.pdf" : "/file.pdf");
    const std::string copy = dir.path().toStdString() + "/copy.pdf";
    std::thread reader;
    if (pipe) {
      ASSERT_EQ(0, ::mkfifo(target.c_str(), 0600));
      reader = std::thread([&] { writeFile(copy, readFile(target)); });
    }
    pdf::WriterPtr w = pdf::new_writer();
    pdf::add_memory_file(w.get(), "partial.png", partial);
    pdf::add_memory_file(w.get(), "good.bmp", makeBmp(colourPicture(5, 4), 24));
    ASSERT_EQ(1, pdf::begin_document(w.get(), target.c_str(), 0, ""));
    EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", "partial.png", 0, ""));
    EXPECT_EQ(2400, pdf::get_errnum(w.get())) << pdf::get_errmsg(w.get());
    const int img = pdf::load_image(w.get(), "auto", "good.bmp", 0, "");
    ASSERT_EQ(0, img);
    ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
    ASSERT_EQ(1, pdf::fit_image(w.get(), img, 0, 0, "adjustpage"));
    ASSERT_EQ(1, pdf::end_page_ext(w.get(), ""));
    ASSERT_EQ(1, pdf::end_document(w.get(), ""));
    if (pipe)
      reader.join();
    const std::string written = pipe ? copy : target;
    const Bytes b = readFile(written);
    EXPECT_LT(b.size(), 20000u) << "the partial image's data stayed in the document";
    const std::string text(b.begin(), b.end());
    EXPECT_EQ(text.find("/Subtype/Image"), text.rfind("/Subtype/Image")) << "one image object only";
    std::string report;
    EXPECT_TRUE(qpdfCheck(written, &report)) << report;
  }
}
