#include "emf/dib.h"

#include "emf/png_decode.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <list>
#include <mutex>

namespace emf {

namespace {

uint16_t rd16(std::span<const uint8_t> b, size_t off) { return uint16_t(b[off] | (b[off + 1] << 8)); }
uint32_t rd32(std::span<const uint8_t> b, size_t off) {
  return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) | (uint32_t(b[off + 3]) << 24);
}

bool fail(std::string *reason, const char *text) {
  if (reason)
    *reason = text;
  return false;
}

// One colour channel of a bit-field pixel: shift right, then scale the field's width to 8 bits.
struct MaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit MaskChannel(uint32_t m) : mask(m) {
    if (m == 0)
      return;
    shift = std::countr_zero(m);
    bits = std::countr_one(m >> shift); // a mask with holes uses its lowest contiguous run
    this->mask = bits >= 32 ? 0xffffffffu : ((1u << bits) - 1) << shift;
  }
  uint32_t get(uint32_t px) const {
    if (bits == 0)
      return 0;
    uint32_t v = (px & mask) >> shift;
    if (bits >= 8)
      return v >> (bits - 8);
    // replicate the high bits into the low ones so that the field's maximum maps to 255
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
      out = (out << bits) | v;
      filled += bits;
    }
    return out >> (filled - 8);
  }
};

// The colour table resolved to ARGB colours (always 256 entries; entries the DIB does not have are black).
std::array<QRgb, 256> resolveTable(std::span<const uint8_t> bmi, const DibHeader &h, uint32_t usage,
                                   std::span<const QRgb> palette) {
  std::array<QRgb, 256> t;
  t.fill(0xff000000);
  const bool core = h.headerSize == kBitmapCoreHeaderSize;
  const uint32_t n = std::min<uint32_t>(h.colorsUsed, 256);
  for (uint32_t i = 0; i < n; ++i) {
    if (usage == DIB_PAL_COLORS) {
      const uint16_t idx = rd16(bmi, h.colorTableOffset + size_t(i) * 2);
      t[i] = idx < palette.size() ? (palette[idx] | 0xff000000) : 0xff000000;
    } else {
      const size_t off = h.colorTableOffset + size_t(i) * (core ? 3 : 4);
      t[i] = qRgb(bmi[off + 2], bmi[off + 1], bmi[off]);
    }
  }
  return t;
}

// Rows of the output image in stored order.
inline int outRow(const DibHeader &h, int storedRow) { return h.topDown ? storedRow : h.height - 1 - storedRow; }

// Where a run-length stream stands: byte offset, column and stored row (from the bottom for the usual bottom-up DIB).
struct RleCursor {
  size_t p = 0;
  int x = 0, y = 0;
};

// Walks a run-length stream from `c`, handing every pixel of the stored rows ya .. yb - 1 to put(storedRow, x, index)
// (columns outside the bitmap are not handed on), and calling rowStart(cursor) each time the stored row changes. Stops
// at row yb, the end of the bitmap or the end of the data.
template <class Put, class RowStart>
void walkRle(const DibHeader &h, std::span<const uint8_t> bits, RleCursor c, int ya, int yb, Put put,
             RowStart rowStart) {
  const bool four = h.compression == BI_RLE4;
  const size_t n = bits.size();
  auto emitPixel = [&](int px, uint8_t index) {
    if (px >= 0 && px < h.width && c.y >= ya && c.y < yb)
      put(c.y, px, index);
  };
  while (c.p + 1 < n && c.y < yb && c.y < h.height) {
    const uint8_t count = bits[c.p], value = bits[c.p + 1];
    c.p += 2;
    if (count > 0) {
      if (c.y >= ya) {
        const int run = std::min<int>(count, std::max(0, h.width - c.x));
        for (int i = 0; i < run; ++i)
          emitPixel(c.x + i, four ? ((i & 1) ? (value & 0x0f) : (value >> 4)) : value);
      }
      c.x += count;
      continue;
    }
    if (value == 0) { // end of line
      c.x = 0;
      ++c.y;
      rowStart(c);
    } else if (value == 1) { // end of bitmap
      break;
    } else if (value == 2) { // delta
      if (c.p + 1 >= n)
        break;
      c.x += bits[c.p];
      const int dy = bits[c.p + 1];
      c.p += 2;
      c.y += dy;
      if (dy)
        rowStart(c);
    } else { // absolute run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      if (c.y >= ya) {
        const size_t avail = std::min(bytes, n - c.p);
        for (int i = 0; i < value; ++i) {
          const size_t byteIndex = four ? size_t(i) / 2 : size_t(i);
          if (byteIndex >= avail)
            break;
          const uint8_t b = bits[c.p + byteIndex];
          emitPixel(c.x + i, four ? ((i & 1) ? (b & 0x0f) : (b >> 4)) : b);
        }
      }
      c.x += value;
      c.p += bytes + (bytes & 1);
    }
  }
}

bool decodeRle(const DibHeader &h, std::span<const uint8_t> bits, const std::array<QRgb, 256> &table, QImage &img) {
  img.fill(table[0] & 0x00ffffff); // never-written pixels: index 0's colour, transparent
  walkRle(
      h, bits, RleCursor{}, 0, h.height,
      [&](int y, int x, uint8_t index) { reinterpret_cast<QRgb *>(img.scanLine(outRow(h, y)))[x] = table[index]; },
      [](const RleCursor &) {});
  return true;
}

// Turns the stored rows of an uncompressed DIB into pixels.
class RowDecoder {
public:
  RowDecoder(const DibHeader &h, const std::array<QRgb, 256> &table, bool keepAlpha)
      : h_(h), table_(table), alphaMask_(h.alphaMask),
        // Per-pixel alpha of a 32-bit DIB lives in the bits the colour masks leave free when no alpha mask is given
        // (a 40-byte header with three bit-field masks is the usual form of alpha-blended bitmaps).
        am_(keepAlpha && h.bitCount == 32 && h.alphaMask == 0 ? ~(h.redMask | h.greenMask | h.blueMask) : h.alphaMask),
        rm_(h.redMask), gm_(h.greenMask), bm_(h.blueMask) {
    if (keepAlpha && h.bitCount == 32 && alphaMask_ == 0)
      alphaMask_ = ~(h.redMask | h.greenMask | h.blueMask);
    alpha32_ = keepAlpha && h.bitCount == 32 && alphaMask_ != 0;
    plain32_ = h.bitCount == 32 && h.redMask == 0x00ff0000 && h.greenMask == 0x0000ff00 && h.blueMask == 0x000000ff;
  }
  bool alpha() const { return alpha32_; }

  // One stored row s into the pixels d (and for 1-bit DIBs the indices ix, 0 or 255, when given).
  void decode(const uint8_t *s, QRgb *d, uint8_t *ix) const {
    const int w = h_.width;
    switch (h_.bitCount) {
    case 1:
      for (int x = 0; x < w; ++x) {
        const int bit = (s[x >> 3] >> (7 - (x & 7))) & 1;
        d[x] = table_[bit];
        if (ix)
          ix[x] = bit ? 255 : 0;
      }
      break;
    case 4:
      for (int x = 0; x < w; ++x)
        d[x] = table_[(x & 1) ? (s[x >> 1] & 0x0f) : (s[x >> 1] >> 4)];
      break;
    case 8:
      for (int x = 0; x < w; ++x)
        d[x] = table_[s[x]];
      break;
    case 16:
      for (int x = 0; x < w; ++x) {
        const uint32_t px = uint32_t(s[2 * x]) | (uint32_t(s[2 * x + 1]) << 8);
        d[x] = qRgb(int(rm_.get(px)), int(gm_.get(px)), int(bm_.get(px)));
      }
      break;
    case 24:
      for (int x = 0; x < w; ++x)
        d[x] = 0xff000000u | (uint32_t(s[3 * x + 2]) << 16) | (uint32_t(s[3 * x + 1]) << 8) | s[3 * x];
      break;
    case 32:
      if (plain32_ && (!alpha32_ || alphaMask_ == 0xff000000u)) {
        // stored bytes B, G, R, X are exactly a little-endian QRgb
        for (int x = 0; x < w; ++x) {
          const uint32_t px = uint32_t(s[4 * x]) | (uint32_t(s[4 * x + 1]) << 8) | (uint32_t(s[4 * x + 2]) << 16) |
                              (uint32_t(s[4 * x + 3]) << 24);
          d[x] = alpha32_ ? px : (px | 0xff000000u);
        }
      } else {
        for (int x = 0; x < w; ++x) {
          const uint32_t px = uint32_t(s[4 * x]) | (uint32_t(s[4 * x + 1]) << 8) | (uint32_t(s[4 * x + 2]) << 16) |
                              (uint32_t(s[4 * x + 3]) << 24);
          const uint32_t a = alpha32_ ? am_.get(px) : 255;
          d[x] = qRgba(int(rm_.get(px)), int(gm_.get(px)), int(bm_.get(px)), int(a));
        }
      }
      break;
    default:
      break;
    }
  }

private:
  const DibHeader &h_;
  const std::array<QRgb, 256> &table_;
  uint32_t alphaMask_;
  MaskChannel am_, rm_, gm_, bm_;
  bool alpha32_ = false, plain32_ = false;
};

bool decodeCompressedImage(const DibHeader &h, std::span<const uint8_t> bits, DecodedDib &out, std::string *reason,
                           const DibLimits &limits) {
  if (h.compression == BI_PNG)
    return DecodePng(bits, limits.maxSide, limits.maxPixels, out.image, out.hasAlpha, reason);
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bits.data()), qsizetype(bits.size()));
  QBuffer buf(&data);
  buf.open(QIODevice::ReadOnly);
  QImageReader reader(&buf, "jpeg");
  const QSize sz = reader.size();
  if (!sz.isValid() || sz.isEmpty())
    return fail(reason, "embedded image cannot be read");
  if (sz.width() > limits.maxSide || sz.height() > limits.maxSide ||
      uint64_t(sz.width()) * uint64_t(sz.height()) > limits.maxPixels)
    return fail(reason, "embedded image too large");
  QImage img = reader.read();
  if (img.isNull())
    return fail(reason, "embedded image cannot be decoded");
  out.hasAlpha = img.hasAlphaChannel();
  out.image = img.convertToFormat(QImage::Format_ARGB32);
  if (out.image.isNull())
    return fail(reason, "out of memory");
  return true;
}

} // namespace

bool parseDibHeader(std::span<const uint8_t> bmi, DibHeader &out, std::string *reason, const DibLimits &limits) {
  out = DibHeader{};
  if (bmi.size() < 4)
    return fail(reason, "bitmap header too short");
  const uint32_t hs = rd32(bmi, 0);
  if (hs != kBitmapCoreHeaderSize && hs < kBitmapInfoHeaderSize)
    return fail(reason, "unknown bitmap header size");
  if (hs > bmi.size())
    return fail(reason, "bitmap header larger than its block");
  out.headerSize = hs;
  int64_t w = 0, hgt = 0;
  uint16_t planes = 0;
  size_t afterHeader = hs;
  if (hs == kBitmapCoreHeaderSize) {
    w = rd16(bmi, 4);
    hgt = rd16(bmi, 6);
    planes = rd16(bmi, 8);
    out.bitCount = rd16(bmi, 10);
  } else {
    w = int32_t(rd32(bmi, 4));
    hgt = int32_t(rd32(bmi, 8));
    planes = rd16(bmi, 12);
    out.bitCount = rd16(bmi, 14);
    out.compression = rd32(bmi, 16);
    out.sizeImage = rd32(bmi, 20);
    out.colorsUsed = rd32(bmi, 32);
  }
  (void)planes; // some writers store 0 planes; nothing depends on it
  if (hgt < 0) {
    out.topDown = true;
    hgt = -hgt;
  }
  const bool embedded = out.compression == BI_JPEG || out.compression == BI_PNG;
  if (embedded && (w <= 0 || hgt <= 0)) {
    // the embedded picture carries its own size; some writers leave the header's at zero
    w = 1;
    hgt = 1;
  }
  if (w <= 0 || hgt <= 0)
    return fail(reason, "bitmap has no pixels");
  if (w > limits.maxSide || hgt > limits.maxSide || uint64_t(w) * uint64_t(hgt) > limits.maxPixels)
    return fail(reason, "bitmap too large");
  out.width = int32_t(w);
  out.height = int32_t(hgt);

  const uint32_t c = out.compression;
  const uint16_t bc = out.bitCount;
  switch (c) {
  case BI_RGB:
    if (bc != 1 && bc != 4 && bc != 8 && bc != 16 && bc != 24 && bc != 32)
      return fail(reason, "unsupported bit depth");
    break;
  case BI_RLE8:
    if (bc != 8)
      return fail(reason, "8-bit run-length compression needs 8 bits per pixel");
    break;
  case BI_RLE4:
    if (bc != 4)
      return fail(reason, "4-bit run-length compression needs 4 bits per pixel");
    break;
  case BI_BITFIELDS:
  case BI_ALPHABITFIELDS:
    if (bc != 16 && bc != 32)
      return fail(reason, "bit fields need 16 or 32 bits per pixel");
    break;
  case BI_JPEG:
  case BI_PNG:
    break;
  default:
    return fail(reason, "unknown bitmap compression");
  }

  // colour masks: inside a V2+ header, or right after a 40-byte header
  if (c == BI_BITFIELDS || c == BI_ALPHABITFIELDS) {
    const size_t nMasks = c == BI_ALPHABITFIELDS ? 4 : 3;
    if (hs >= 52) {
      out.redMask = rd32(bmi, 40);
      out.greenMask = rd32(bmi, 44);
      out.blueMask = rd32(bmi, 48);
      if (hs >= 56)
        out.alphaMask = rd32(bmi, 52);
    } else {
      if (bmi.size() < hs + nMasks * 4)
        return fail(reason, "bit-field masks missing");
      out.redMask = rd32(bmi, hs);
      out.greenMask = rd32(bmi, hs + 4);
      out.blueMask = rd32(bmi, hs + 8);
      if (nMasks == 4)
        out.alphaMask = rd32(bmi, hs + 12);
      afterHeader = hs + nMasks * 4;
    }
  } else if (bc == 16) {
    out.redMask = 0x7c00;
    out.greenMask = 0x03e0;
    out.blueMask = 0x001f;
  } else if (bc == 32) {
    out.redMask = 0x00ff0000;
    out.greenMask = 0x0000ff00;
    out.blueMask = 0x000000ff;
    out.alphaMask = 0xff000000;
  }

  out.colorTableOffset = uint32_t(afterHeader);
  if (bc >= 1 && bc <= 8 && c != BI_JPEG && c != BI_PNG) {
    const uint32_t maxEntries = 1u << bc;
    uint32_t want = (out.colorsUsed == 0 || out.colorsUsed > maxEntries) ? maxEntries : out.colorsUsed;
    // entries are 3 bytes in a core header and 4 in the others; DIB_PAL_COLORS (2 bytes) is narrower, so
    // counting the widest form here never overstates what is present; decodeDib recounts for its usage
    const size_t entry = hs == kBitmapCoreHeaderSize ? 3 : 4;
    const size_t room = bmi.size() > afterHeader ? bmi.size() - afterHeader : 0;
    out.colorsUsed = uint32_t(std::min<size_t>(want, room / entry));
  } else {
    out.colorsUsed = 0;
  }
  out.stride = ((uint64_t(out.width) * bc + 31) / 32) * 4;
  return true;
}

namespace {

// The checks and the colour-table count shared by whole and row-wise decoding; false (with *reason) for a bitmap that
// cannot be decoded. JPEG and PNG payloads pass with their header as it is.
bool prepareDib(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t &usage, std::string *reason,
                const DibLimits &limits, DibHeader &h) {
  if (!parseDibHeader(bmi, h, reason, limits))
    return false;
  if (usage != DIB_PAL_COLORS)
    usage = DIB_RGB_COLORS; // other values occur in real files; the table is then read as colours
  if (h.compression == BI_JPEG || h.compression == BI_PNG)
    return true;
  if (usage == DIB_PAL_COLORS && h.bitCount <= 8) {
    // 2-byte entries: recount what the block holds
    const uint32_t maxEntries = 1u << h.bitCount;
    const size_t room = bmi.size() > h.colorTableOffset ? bmi.size() - h.colorTableOffset : 0;
    h.colorsUsed = uint32_t(std::min<size_t>(maxEntries, room / 2));
    uint32_t declared = h.headerSize >= kBitmapInfoHeaderSize ? rd32(bmi, 32) : 0;
    if (declared != 0 && declared < h.colorsUsed)
      h.colorsUsed = declared;
  }
  const bool rle = h.compression == BI_RLE4 || h.compression == BI_RLE8;
  if (!rle) {
    // the last row need not carry its padding
    const uint64_t lastRow = (uint64_t(h.width) * h.bitCount + 7) / 8;
    const uint64_t need = h.stride * uint64_t(h.height - 1) + lastRow;
    if (need > bits.size())
      return fail(reason, "bitmap bits shorter than the image");
  }
  return true;
}

} // namespace

DecodedDib decodeDib(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                     std::span<const QRgb> palette, std::string *reason, bool keepAlpha, const DibLimits &limits) {
  DecodedDib out;
  DibHeader h;
  if (!prepareDib(bmi, bits, usage, reason, limits, h))
    return out;
  if (h.compression == BI_JPEG || h.compression == BI_PNG) {
    if (!decodeCompressedImage(h, bits, out, reason, limits))
      out = DecodedDib{};
    return out;
  }
  const bool rle = h.compression == BI_RLE4 || h.compression == BI_RLE8;
  QImage img(h.width, h.height, QImage::Format_ARGB32);
  if (img.isNull()) {
    fail(reason, "out of memory");
    return out;
  }
  const std::array<QRgb, 256> table = resolveTable(bmi, h, usage, palette);

  if (rle) {
    decodeRle(h, bits, table, img);
    for (int y = 0; y < h.height && !out.hasAlpha; ++y) {
      const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
      for (int x = 0; x < h.width; ++x)
        if (qAlpha(row[x]) == 0) {
          out.hasAlpha = true;
          break;
        }
    }
    out.image = std::move(img);
    return out;
  }

  if (h.bitCount == 1) {
    out.monochrome = true;
    out.mono0 = table[0];
    out.mono1 = table[1];
    out.indices = QImage(h.width, h.height, QImage::Format_Grayscale8);
    if (out.indices.isNull()) {
      fail(reason, "out of memory");
      return DecodedDib{};
    }
  }

  const RowDecoder rows(h, table, keepAlpha);
  out.hasAlpha = rows.alpha();
  for (int sy = 0; sy < h.height; ++sy) {
    const int oy = outRow(h, sy);
    rows.decode(bits.data() + h.stride * uint64_t(sy), reinterpret_cast<QRgb *>(img.scanLine(oy)),
                out.monochrome ? out.indices.scanLine(oy) : nullptr);
  }
  out.image = std::move(img);
  return out;
}

struct DibRows::State {
  DibHeader h;
  std::span<const uint8_t> bits;
  std::array<QRgb, 256> table{};
  bool keepAlpha = false;
  bool hasAlpha = false;
  // run-length streams: for each stored row, where the walk stands when it first reaches that row
  std::vector<RleCursor> rowStart;
  QImage whole; // JPEG and PNG payloads
};

DibRows::DibRows() : d_(std::make_unique<State>()) {}
DibRows::~DibRows() = default;
int DibRows::width() const { return d_->whole.isNull() ? d_->h.width : d_->whole.width(); }
int DibRows::height() const { return d_->whole.isNull() ? d_->h.height : d_->whole.height(); }
bool DibRows::hasAlpha() const { return d_->hasAlpha; }
size_t DibRows::bytesHeld() const {
  return sizeof(State) + d_->rowStart.size() * sizeof(RleCursor) + size_t(d_->whole.sizeInBytes());
}

std::shared_ptr<const DibRows> DibRows::make(std::span<const uint8_t> bmi, std::span<const uint8_t> bits,
                                             uint32_t usage, std::span<const QRgb> palette, bool keepAlpha,
                                             std::string *reason, const DibLimits &limits) {
  std::shared_ptr<DibRows> out(new DibRows());
  State &st = *out->d_;
  if (!prepareDib(bmi, bits, usage, reason, limits, st.h))
    return nullptr;
  const DibHeader &h = st.h;
  if (h.compression == BI_JPEG || h.compression == BI_PNG) {
    DecodedDib whole;
    if (!decodeCompressedImage(h, bits, whole, reason, limits))
      return nullptr;
    st.whole = std::move(whole.image);
    st.hasAlpha = whole.hasAlpha;
    return out;
  }
  st.bits = bits;
  st.keepAlpha = keepAlpha;
  st.table = resolveTable(bmi, h, usage, palette);
  if (h.compression == BI_RLE4 || h.compression == BI_RLE8) {
    // One walk indexes the rows and counts the pixels the stream writes: the others are transparent.
    st.rowStart.assign(size_t(h.height) + 1, RleCursor{bits.size(), 0, h.height});
    st.rowStart[0] = RleCursor{};
    int indexed = 0;
    uint64_t written = 0;
    walkRle(
        h, bits, RleCursor{}, 0, h.height, [&](int, int, uint8_t) { ++written; },
        [&](const RleCursor &c) {
          for (int r = indexed + 1; r <= std::min(c.y, h.height); ++r)
            st.rowStart[size_t(r)] = c;
          indexed = std::max(indexed, std::min(c.y, h.height));
        });
    st.hasAlpha = written < uint64_t(h.width) * uint64_t(h.height);
  } else {
    st.hasAlpha = RowDecoder(h, st.table, keepAlpha).alpha();
  }
  return out;
}

void DibRows::decodeRows(int y0, int y1, QImage &out) const {
  const State &st = *d_;
  y0 = std::max(y0, 0);
  y1 = std::min(y1, height());
  if (y1 <= y0 || out.isNull() || out.width() < width() || out.height() < y1 - y0)
    return;
  if (!st.whole.isNull()) {
    for (int y = y0; y < y1; ++y)
      std::memcpy(out.scanLine(y - y0), st.whole.constScanLine(y), size_t(width()) * 4);
    return;
  }
  const DibHeader &h = st.h;
  // stored rows of the top-down range
  const int s0 = h.topDown ? y0 : h.height - y1, s1 = h.topDown ? y1 : h.height - y0;
  auto outLine = [&](int stored) { return reinterpret_cast<QRgb *>(out.scanLine(outRow(h, stored) - y0)); };
  if (h.compression == BI_RLE4 || h.compression == BI_RLE8) {
    const QRgb blank = st.table[0] & 0x00ffffff;
    for (int y = 0; y < y1 - y0; ++y)
      std::fill_n(reinterpret_cast<QRgb *>(out.scanLine(y)), width(), blank);
    walkRle(
        h, st.bits, st.rowStart[size_t(s0)], s0, s1,
        [&](int y, int x, uint8_t index) { outLine(y)[x] = st.table[index]; }, [](const RleCursor &) {});
    return;
  }
  const RowDecoder rows(h, st.table, st.keepAlpha);
  for (int sy = s0; sy < s1; ++sy)
    rows.decode(st.bits.data() + h.stride * uint64_t(sy), outLine(sy), nullptr);
}

DibRowReader::DibRowReader(const DibRows &dib, size_t chunkPixels)
    : dib_(dib), chunkRows_(int(std::clamp<size_t>(chunkPixels / size_t(std::max(1, dib.width())), 1,
                                                   size_t(std::max(1, dib.height()))))) {}

const QRgb *DibRowReader::row(int y) {
  if (y < first_ || y >= first_ + count_) {
    if (chunk_.isNull()) {
      chunk_ = QImage(dib_.width(), chunkRows_, QImage::Format_ARGB32);
      if (chunk_.isNull())
        return nullptr;
    }
    // Readers mostly move downwards; one moving upwards gets the rows above y in the chunk instead.
    first_ = y < first_ ? std::max(0, y - chunkRows_ + 1) : y;
    count_ = std::min(chunkRows_, dib_.height() - first_);
    dib_.decodeRows(first_, first_ + count_, chunk_);
  }
  return reinterpret_cast<const QRgb *>(chunk_.constScanLine(y - first_));
}

QImage recolorMonochrome(const DecodedDib &dib, QRgb color0, QRgb color1) {
  if (!dib.monochrome || dib.indices.isNull())
    return dib.image;
  QImage out(dib.indices.size(), QImage::Format_RGB32);
  if (out.isNull())
    return out;
  const QRgb c0 = color0 | 0xff000000, c1 = color1 | 0xff000000;
  for (int y = 0; y < out.height(); ++y) {
    const uint8_t *ix = dib.indices.constScanLine(y);
    QRgb *d = reinterpret_cast<QRgb *>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      d[x] = ix[x] ? c1 : c0;
  }
  return out;
}

struct DibCache::Entry {
  const uint8_t *bmi;
  size_t bmiSize;
  const uint8_t *bits;
  size_t bitsSize;
  uint32_t usage;
  bool keepAlpha;
  size_t paletteHash;
  DecodedDib dib;
  std::string reason;
  size_t bytes;
};

struct DibCache::State {
  mutable std::mutex mutex;
  std::list<Entry> entries; // most recently used first
  size_t bytes = 0;
};

DibCache::DibCache(size_t byteBudget) : budget_(byteBudget), state_(std::make_unique<State>()) {}
DibCache::~DibCache() = default;

DecodedDib DibCache::get(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                         std::span<const QRgb> palette, bool keepAlpha, std::string *reason) {
  // the palette only matters to palette-indexed tables, but hashing it always keeps the key simple
  const size_t paletteHash =
      qHashBits(palette.data(), palette.size() * sizeof(QRgb), size_t(palette.size()) * 0x9e3779b97f4a7c15ull);
  auto same = [&](const Entry &e) {
    return e.bmi == bmi.data() && e.bmiSize == bmi.size() && e.bits == bits.data() && e.bitsSize == bits.size() &&
           e.usage == usage && e.keepAlpha == keepAlpha && e.paletteHash == paletteHash;
  };
  State &st = *state_;
  {
    std::lock_guard lock(st.mutex);
    for (auto it = st.entries.begin(); it != st.entries.end(); ++it)
      if (same(*it)) {
        st.entries.splice(st.entries.begin(), st.entries, it);
        if (reason)
          *reason = it->reason;
        return it->dib;
      }
  }
  // decode outside the lock; two threads may decode the same bitmap once each, which is harmless
  std::string why;
  DecodedDib dib = decodeDib(bmi, bits, usage, palette, &why, keepAlpha);
  if (reason)
    *reason = why;
  const size_t bytes = size_t(dib.image.sizeInBytes()) + size_t(dib.indices.sizeInBytes()) + 256;
  if (bytes > budget_)
    return dib;
  std::lock_guard lock(st.mutex);
  for (const Entry &e : st.entries)
    if (same(e))
      return dib;
  st.entries.push_front(
      Entry{bmi.data(), bmi.size(), bits.data(), bits.size(), usage, keepAlpha, paletteHash, dib, why, bytes});
  st.bytes += bytes;
  while (st.bytes > budget_ && !st.entries.empty()) {
    st.bytes -= st.entries.back().bytes;
    st.entries.pop_back();
  }
  return dib;
}

void DibCache::clear() {
  State &st = *state_;
  std::lock_guard lock(st.mutex);
  st.entries.clear();
  st.bytes = 0;
}

size_t DibCache::bytesHeld() const {
  std::lock_guard lock(state_->mutex);
  return state_->bytes;
}

size_t DibCache::entries() const {
  std::lock_guard lock(state_->mutex);
  return state_->entries.size();
}

} // namespace emf
