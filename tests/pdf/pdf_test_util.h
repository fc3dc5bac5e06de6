#pragma once

// Helpers for the PDF writer tests: making image files of every kind the writer reads, running the checking
// programs on written documents, and reading objects and streams back out of a document.

#include <cstdint>
#include <string>
#include <vector>

namespace pdftest {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

// Pixels in top-down rows.
struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> px;
  Rgb at(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
};

// Sample pictures with many distinct colours, and palette pictures with an index per pixel.
Picture colourPicture(int width, int height);
struct IndexedPicture {
  int width = 0, height = 0, bits = 8;
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> index; // one per pixel, top-down
  Picture toPicture() const;
};
IndexedPicture indexedPicture(int width, int height, int bits);
Picture grayPicture(int width, int height); // r == g == b

Bytes readFile(const std::string &path);
void writeFile(const std::string &path, const Bytes &data);

// BMP: bits 1/4/8 from an indexed picture, 16/24/32 from a colour picture; topDown writes a negative height;
// rle writes RLE8 (8 bits) or RLE4 (4 bits); core writes the 12-byte header.
struct BmpOptions {
  bool topDown = false;
  bool rle = false;
  bool core = false;
  std::uint32_t pixelsPerMetre = 0;
};
Bytes makeBmp(const IndexedPicture &pic, const BmpOptions &opt = {});
Bytes makeBmp(const Picture &pic, int bits, const BmpOptions &opt = {});

// GIF with LZW code size 8 written as literal codes with regular clear codes.
struct GifOptions {
  bool interlaced = false;
  int codeSize = 8;
  int transparentIndex = -1;
  std::uint8_t aspect = 0;
  bool localTable = false;
};
Bytes makeGif(const IndexedPicture &pic, const GifOptions &opt = {});

// PNG through libpng. colorType as libpng's; for palette pictures pass the indexed picture.
struct PngOptions {
  int bitDepth = 8;
  bool interlaced = false;
  bool alpha = false;
  std::uint32_t pixelsPerMetre = 0;
  bool transparentFirst = false; // tRNS: the first palette entry or the first pixel's colour
};
Bytes makePng(const Picture &pic, bool gray, const PngOptions &opt = {});
Bytes makePng(const IndexedPicture &pic, const PngOptions &opt = {});

// TIFF through libtiff.
struct TiffOptions {
  int compression = 1;  // libtiff's COMPRESSION_* value
  int rowsPerStrip = 0; // 0: one strip
  int predictor = 1;
  int orientation = 1;
  bool minIsWhite = false;
  bool bigEndian = false;
  int bits = 8; // 1 for bilevel, 16 for 16-bit samples
  double resolution = 0;
  bool tiled = false;
  bool alpha = false;
  std::uint32_t group3Options = 0;
  bool cmyk = false; // separated, C = 255 - red and so on, K = 0
  int inkSet = 0;    // written when not 0
};
Bytes makeTiff(const Picture &pic, bool gray, const TiffOptions &opt = {});
Bytes makeTiff(const IndexedPicture &pic, const TiffOptions &opt = {});
// A bilevel picture: true = black.
Bytes makeBilevelTiff(const std::vector<bool> &black, int width, int height, const TiffOptions &opt);

// Runs a program; returns its exit status (-1 when it could not run) and its standard output.
int run(const std::string &program, const std::vector<std::string> &args, std::string *out = nullptr);
// True when `qpdf --check` finds no fault (warnings are faults too); the report goes to *report.
bool qpdfCheck(const std::string &pdf, std::string *report = nullptr);
// Page sizes from pdfinfo, in points.
struct PageSize {
  double width, height;
};
std::vector<PageSize> pageSizes(const std::string &pdf);
// Renders one page (1-based) with pdftoppm at dpi, pixel for pixel; empty picture on failure.
Picture renderPage(const std::string &pdf, int page, double dpi);
// Largest difference of any channel between two pictures of equal size; -1 when the sizes differ.
int maxDifference(const Picture &a, const Picture &b);
double meanDifference(const Picture &a, const Picture &b);

// Document reading: the body of object n (from "n 0 obj\n" to "endobj"), found through the cross-reference table;
// the raw bytes of its stream; and that stream inflated.
std::string objectText(const std::string &pdf, long number);
std::string streamBytes(const std::string &pdf, long number);
std::string inflate(const std::string &data);

} // namespace pdftest
