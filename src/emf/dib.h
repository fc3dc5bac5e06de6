// Device-independent bitmaps as metafile records carry them: a BITMAPINFO block (header, optional colour masks,
// colour table) and a separate block of pixel bits. Decoding turns them into a QImage; every field is treated as
// untrusted and checked against the bytes actually present before anything is read or allocated.
#pragma once

#include <QImage>
#include <QRgb>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace emf {

// Colour-table usage of a DIB.
constexpr uint32_t DIB_RGB_COLORS = 0; // the table holds RGBQUAD colours
constexpr uint32_t DIB_PAL_COLORS = 1; // the table holds 16-bit indices into the logical palette

// Compression codes of the bitmap header.
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_JPEG = 4;
constexpr uint32_t BI_PNG = 5;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

// Header sizes that are understood.
constexpr uint32_t kBitmapCoreHeaderSize = 12;
constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kBitmapV4HeaderSize = 108;
constexpr uint32_t kBitmapV5HeaderSize = 124;

// Limits applied before any pixel memory is allocated.
struct DibLimits {
  int32_t maxSide = 65535;               // pixels along either axis
  uint64_t maxPixels = 200ull * 1000000; // width * height
};

// The header fields after validation, with the layout of the bits derived from them.
struct DibHeader {
  uint32_t headerSize = 0; // 12, 40, 108, 124 (other sizes >= 40 are read as an info header)
  int32_t width = 0;       // > 0
  int32_t height = 0;      // > 0 (the sign is in topDown)
  bool topDown = false;    // the stored height was negative: first row of bits is the top row
  uint16_t bitCount = 0;   // 1, 4, 8, 16, 24, 32 (0 for JPEG/PNG payloads)
  uint32_t compression = BI_RGB;
  uint32_t sizeImage = 0;                                           // as stored (may be 0 for BI_RGB)
  uint32_t colorsUsed = 0;                                          // entries in the colour table actually present
  uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0; // for 16/32-bit (defaults filled in)
  uint32_t colorTableOffset = 0; // byte offset of the colour table inside the BITMAPINFO block
  uint64_t stride = 0;           // bytes per stored row for uncompressed bits (rows padded to 4 bytes)
};

// Reads and validates the header part of a BITMAPINFO block. Returns false and sets *reason for a block that is
// too short, an unknown header size, a zero or oversize dimension, an unknown bit depth or compression, or a
// compression that does not go with the bit depth. A colour table cut short by the end of the block is not an
// error: colorsUsed counts the entries present and the missing ones decode as black.
bool parseDibHeader(std::span<const uint8_t> bmi, DibHeader &out, std::string *reason = nullptr,
                    const DibLimits &limits = {});

struct DecodedDib {
  // Format_ARGB32, top row first. Alpha is 255 except for 32-bit DIBs decoded with keepAlpha (then it is the
  // alpha mask's value, or without an alpha mask the bits no colour mask uses - the fourth byte -, and the colour
  // channels are left exactly as stored: premultiplied for the per-pixel alpha of AlphaBlend), PNG payloads that
  // carry alpha, and pixels an RLE stream skipped (alpha 0).
  QImage image;
  // True for 1-bit DIBs: mono0 and mono1 are the colours of index 0 and 1 from the table, and `indices` holds the
  // index of every pixel as a Format_Grayscale8 image with 0 for index 0 and 255 for index 1 (usable directly as
  // a MaskBlt mask, or recoloured with text and background colours for monochrome brushes).
  bool monochrome = false;
  QRgb mono0 = 0xff000000, mono1 = 0xffffffff;
  QImage indices;
  // True when the image holds meaningful alpha (32-bit with keepAlpha, PNG with alpha, RLE with skipped pixels).
  bool hasAlpha = false;

  bool isNull() const { return image.isNull(); }
};

// Decodes a DIB. bmi: the BITMAPINFO block (header, masks, colour table); bits: the pixel bits.
// usage: DIB_RGB_COLORS or DIB_PAL_COLORS; with DIB_PAL_COLORS the colour table holds 16-bit indices into
// `palette` (an index past the palette gives black); any other value reads the table as colours. Bit depths 1, 4, 8,
// 16, 24, 32; compressions BI_RGB, BI_BITFIELDS, BI_RLE4, BI_RLE8, BI_JPEG, BI_PNG (payloads decoded with Qt's image
// readers). Bottom-up and top-down. Uncompressed bits shorter than the image needs are rejected; an RLE stream that
// runs past the image or past its data stops there; pixels an RLE stream never wrote (skipped by a delta, an early end
// of line or end of bitmap) have index 0's colour with alpha 0, so a caller may leave the destination there. Returns a
// null image with *reason set when the DIB cannot be decoded.
DecodedDib decodeDib(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                     std::span<const QRgb> palette = {}, std::string *reason = nullptr, bool keepAlpha = false,
                     const DibLimits &limits = {});

// Rows of a picture read one at a time, top row 0 (Format_ARGB32 pixels).
class RowSource {
public:
  virtual ~RowSource() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // The pixels of row y (0 <= y < height()); valid until the next call.
  virtual const QRgb *row(int y) = 0;
};

// A bitmap prepared once so that any of its rows can be decoded on their own: the header and colour table are read
// and a run-length stream is indexed by row, so the bands of a large picture decode only the rows they show and the
// whole bitmap is never held. JPEG and PNG payloads are decoded whole. The spans must stay alive and unchanged while
// it is used (the metafile's own bytes). Rows come out exactly as decodeDib gives them.
class DibRows {
public:
  // Null, with *reason set, when decodeDib would refuse the bitmap.
  static std::shared_ptr<const DibRows> make(std::span<const uint8_t> bmi, std::span<const uint8_t> bits,
                                             uint32_t usage, std::span<const QRgb> palette = {}, bool keepAlpha = false,
                                             std::string *reason = nullptr, const DibLimits &limits = {});
  ~DibRows();
  int width() const;
  int height() const;
  bool hasAlpha() const;
  // Memory held besides the spans (the index, or a whole decoded JPEG / PNG payload).
  size_t bytesHeld() const;
  // Decodes rows y0 .. y1 - 1 into the first rows of out (Format_ARGB32, at least width() x (y1 - y0)).
  void decodeRows(int y0, int y1, QImage &out) const;

  struct State;

private:
  DibRows();
  std::unique_ptr<State> d_;
};

// Reads the rows of a DibRows in any order, decoding a chunk of neighbouring rows (about chunkPixels pixels) at a
// time: memory stays at one chunk whatever the bitmap's size.
class DibRowReader : public RowSource {
public:
  explicit DibRowReader(const DibRows &dib, size_t chunkPixels = size_t(1) << 20);
  int width() const override { return dib_.width(); }
  int height() const override { return dib_.height(); }
  const QRgb *row(int y) override;

private:
  const DibRows &dib_;
  int chunkRows_ = 1;
  int first_ = 0, count_ = 0; // the rows held in chunk_
  QImage chunk_;
};

// Recolours a decoded monochrome DIB: pixels of index 0 become color0, of index 1 color1 (both 0x00RRGGBB or
// QRgb; the result is Format_RGB32). Returns the image unchanged for a DIB that is not monochrome.
QImage recolorMonochrome(const DecodedDib &dib, QRgb color0, QRgb color1);

// Decoded bitmaps of one metafile, kept between the plays of its bands so that a bitmap is decoded once per page
// rather than once per band. Entries are keyed by the addresses and lengths of the spans, so the spans must point
// into bytes that stay unchanged and alive as long as the cache (the metafile's own bytes: keep one cache per
// metafile), plus the usage, keepAlpha and the palette's contents. Holds at most `byteBudget` bytes of images,
// dropping the least recently used; a bitmap larger than the budget is decoded and not kept. Thread-safe.
class DibCache {
public:
  explicit DibCache(size_t byteBudget = size_t(256) << 20);
  ~DibCache();
  DibCache(const DibCache &) = delete;
  DibCache &operator=(const DibCache &) = delete;

  // Same contract as decodeDib (with default limits); failures are remembered too.
  DecodedDib get(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                 std::span<const QRgb> palette = {}, bool keepAlpha = false, std::string *reason = nullptr);
  void clear();
  size_t bytesHeld() const;
  size_t entries() const;

private:
  struct Entry;
  struct State;
  size_t budget_;
  std::unique_ptr<State> state_;
};

} // namespace emf
