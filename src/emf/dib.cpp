#include "emf/dib.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <bit>
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

bool decodeRle(const DibHeader &h, std::span<const uint8_t> bits, const std::array<QRgb, 256> &table, QImage &img) {
  const bool four = h.compression == BI_RLE4;
  img.fill(table[0] & 0x00ffffff); // never-written pixels: index 0's colour, transparent
  int x = 0, y = 0;                // y counts stored rows (from the bottom for the usual bottom-up DIB)
  size_t p = 0;
  const size_t n = bits.size();
  auto put = [&](int px, uint8_t index) {
    if (px >= 0 && px < h.width && y >= 0 && y < h.height)
      reinterpret_cast<QRgb *>(img.scanLine(outRow(h, y)))[px] = table[index];
  };
  while (p + 1 < n && y < h.height) {
    const uint8_t count = bits[p], value = bits[p + 1];
    p += 2;
    if (count > 0) {
      const int run = std::min<int>(count, std::max(0, h.width - x));
      for (int i = 0; i < run; ++i)
        put(x + i, four ? ((i & 1) ? (value & 0x0f) : (value >> 4)) : value);
      x += count;
      continue;
    }
    if (value == 0) { // end of line
      x = 0;
      ++y;
    } else if (value == 1) { // end of bitmap
      break;
    } else if (value == 2) { // delta
      if (p + 1 >= n)
        break;
      x += bits[p];
      y += bits[p + 1];
      p += 2;
    } else { // absolute run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      const size_t avail = std::min(bytes, n - p);
      for (int i = 0; i < value; ++i) {
        const size_t byteIndex = four ? size_t(i) / 2 : size_t(i);
        if (byteIndex >= avail)
          break;
        const uint8_t b = bits[p + byteIndex];
        put(x + i, four ? ((i & 1) ? (b & 0x0f) : (b >> 4)) : b);
      }
      x += value;
      p += bytes + (bytes & 1);
    }
  }
  return true;
}

bool decodeCompressedImage(const DibHeader &h, std::span<const uint8_t> bits, DecodedDib &out, std::string *reason,
                           const DibLimits &limits) {
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bits.data()), qsizetype(bits.size()));
  QBuffer buf(&data);
  buf.open(QIODevice::ReadOnly);
  QImageReader reader(&buf, h.compression == BI_PNG ? "png" : "jpeg");
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

DecodedDib decodeDib(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                     std::span<const QRgb> palette, std::string *reason, bool keepAlpha, const DibLimits &limits) {
  DecodedDib out;
  DibHeader h;
  if (!parseDibHeader(bmi, h, reason, limits))
    return out;
  if (usage != DIB_PAL_COLORS)
    usage = DIB_RGB_COLORS; // other values occur in real files; the table is then read as colours
  if (h.compression == BI_JPEG || h.compression == BI_PNG) {
    if (!decodeCompressedImage(h, bits, out, reason, limits))
      out = DecodedDib{};
    return out;
  }
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
    if (need > bits.size()) {
      fail(reason, "bitmap bits shorter than the image");
      return out;
    }
  }

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

  // Per-pixel alpha of a 32-bit DIB lives in the bits the colour masks leave free when no alpha mask is given
  // (a 40-byte header with three bit-field masks is the usual form of alpha-blended bitmaps).
  uint32_t alphaMask = h.alphaMask;
  if (keepAlpha && h.bitCount == 32 && alphaMask == 0)
    alphaMask = ~(h.redMask | h.greenMask | h.blueMask);
  const MaskChannel rm(h.redMask), gm(h.greenMask), bm(h.blueMask), am(alphaMask);
  const bool alpha32 = keepAlpha && h.bitCount == 32 && alphaMask != 0;
  out.hasAlpha = alpha32;
  const bool plain32 =
      h.bitCount == 32 && h.redMask == 0x00ff0000 && h.greenMask == 0x0000ff00 && h.blueMask == 0x000000ff;

  for (int sy = 0; sy < h.height; ++sy) {
    const uint8_t *s = bits.data() + h.stride * uint64_t(sy);
    const int oy = outRow(h, sy);
    QRgb *d = reinterpret_cast<QRgb *>(img.scanLine(oy));
    const int w = h.width;
    switch (h.bitCount) {
    case 1: {
      uint8_t *ix = out.indices.scanLine(oy);
      for (int x = 0; x < w; ++x) {
        const int bit = (s[x >> 3] >> (7 - (x & 7))) & 1;
        d[x] = table[bit];
        ix[x] = bit ? 255 : 0;
      }
      break;
    }
    case 4:
      for (int x = 0; x < w; ++x)
        d[x] = table[(x & 1) ? (s[x >> 1] & 0x0f) : (s[x >> 1] >> 4)];
      break;
    case 8:
      for (int x = 0; x < w; ++x)
        d[x] = table[s[x]];
      break;
    case 16:
      for (int x = 0; x < w; ++x) {
        const uint32_t px = uint32_t(s[2 * x]) | (uint32_t(s[2 * x + 1]) << 8);
        d[x] = qRgb(int(rm.get(px)), int(gm.get(px)), int(bm.get(px)));
      }
      break;
    case 24:
      for (int x = 0; x < w; ++x)
        d[x] = 0xff000000u | (uint32_t(s[3 * x + 2]) << 16) | (uint32_t(s[3 * x + 1]) << 8) | s[3 * x];
      break;
    case 32:
      if (plain32 && (!alpha32 || alphaMask == 0xff000000u)) {
        // stored bytes B, G, R, X are exactly a little-endian QRgb
        for (int x = 0; x < w; ++x) {
          const uint32_t px = uint32_t(s[4 * x]) | (uint32_t(s[4 * x + 1]) << 8) | (uint32_t(s[4 * x + 2]) << 16) |
                              (uint32_t(s[4 * x + 3]) << 24);
          d[x] = alpha32 ? px : (px | 0xff000000u);
        }
      } else {
        for (int x = 0; x < w; ++x) {
          const uint32_t px = uint32_t(s[4 * x]) | (uint32_t(s[4 * x + 1]) << 8) | (uint32_t(s[4 * x + 2]) << 16) |
                              (uint32_t(s[4 * x + 3]) << 24);
          const uint32_t a = alpha32 ? am.get(px) : 255;
          d[x] = qRgba(int(rm.get(px)), int(gm.get(px)), int(bm.get(px)), int(a));
        }
      }
      break;
    default:
      break;
    }
  }
  out.image = std::move(img);
  return out;
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
