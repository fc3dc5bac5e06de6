#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <climits>
#include <cstring>

namespace pdf::detail {

namespace {

std::uint32_t le16(const std::uint8_t *p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t le32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

enum Compression : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

// One colour channel of a 16- or 32-bit pixel described by a bit mask, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  void set(std::uint32_t m) {
    mask = m;
    shift = 0;
    bits = 0;
    if (m == 0)
      return;
    while (((m >> shift) & 1u) == 0)
      ++shift;
    while (shift + bits < 32 && ((m >> (shift + bits)) & 1u) != 0)
      ++bits;
  }
  std::uint8_t get(std::uint32_t pixel) const {
    if (bits == 0)
      return 0;
    std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8)
      return static_cast<std::uint8_t>(v >> (bits - 8));
    std::uint32_t max = (1u << bits) - 1;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

// Expands RLE8 or RLE4 data row by row, in file order, one byte per pixel; each finished row goes to `row`. Runs
// and deltas that point outside the picture are clipped; rows the data never reaches stay 0.
template <class RowSink>
void expandRle(Source &src, std::uint64_t start, bool rle4, std::size_t w, std::size_t h, RowSink &&row) {
  std::vector<std::uint8_t> line(w, 0);
  std::size_t x = 0, y = 0;
  auto put = [&](std::uint8_t v) {
    if (x < w)
      line[x] = v;
    ++x;
  };
  auto nextRow = [&] {
    if (y < h)
      row(line.data());
    std::fill(line.begin(), line.end(), 0);
    ++y;
    x = 0;
  };
  std::uint8_t buf[4096];
  std::uint64_t pos = start, end = src.size();
  std::size_t have = 0, at = 0;
  // The next byte of the data; false at its end.
  auto next = [&](std::uint8_t &b) {
    if (at == have) {
      if (pos >= end)
        return false;
      have = src.readAt(pos, buf, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, end - pos)));
      if (have == 0)
        return false;
      pos += have;
      at = 0;
    }
    b = buf[at++];
    return true;
  };
  std::uint8_t count, value;
  while (y < h && next(count) && next(value)) {
    if (count > 0) {
      for (int k = 0; k < count && x < w; ++k)
        put(rle4 ? static_cast<std::uint8_t>((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    if (value == 0) { // end of line
      nextRow();
    } else if (value == 1) { // end of bitmap
      break;
    } else if (value == 2) { // delta
      std::uint8_t dx, dy;
      if (!next(dx) || !next(dy))
        break;
      const std::size_t col = x + dx;
      for (int k = 0; k < dy && y < h; ++k)
        nextRow();
      x = col;
    } else { // absolute run, padded to 16 bits
      const std::size_t n = value;
      const std::size_t bytes = rle4 ? (n + 1) / 2 : n;
      std::uint8_t v = 0;
      std::size_t k = 0;
      for (std::size_t b = 0; b < ((bytes + 1) & ~std::size_t(1)); ++b) {
        if (!next(v))
          break;
        for (int half = 0; half < (rle4 ? 2 : 1) && k < n && b < bytes; ++half, ++k)
          put(rle4 ? static_cast<std::uint8_t>(half ? (v & 0x0F) : (v >> 4)) : v);
      }
    }
  }
  while (y < h)
    nextRow();
}

// An RLE bitmap may say "rest of the row" or "rest of the picture" in two bytes, so its size is no measure of its
// data; a bitmap whose pixels come to more than this many per byte of data is taken for a damaged one.
constexpr std::uint64_t kRlePixelsPerByte = 4096;
constexpr std::uint64_t kRleFreePixels = 1u << 20;

} // namespace

void loadBmp(Writer *w, std::shared_ptr<Source> src, LoadedImage &image) {
  ImageSlot &s = image.slot;
  const std::string &name = s.fileName;
  auto damaged = [&]() { failLoad(w, 2400, "Damaged or truncated BMP file '" + name + "'"); };
  std::uint8_t fh[14];
  if (!src->readFully(0, fh, sizeof fh))
    damaged();
  if (fh[0] != 'B' || fh[1] != 'M')
    failLoad(w, ErrNotOfKind, "File '" + name + "' is not a BMP file");
  std::uint64_t dataOffset = le32(fh + 10);
  std::uint8_t ih[124] = {};
  if (!src->readFully(14, ih, 4))
    damaged();
  std::uint32_t headerSize = le32(ih);
  // The 40-byte header and its later extensions (52, 56, 64, 108 and 124 bytes) share their first 40 bytes.
  bool core = headerSize == 12;
  bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
                 headerSize == 124;
  if (!core && !windows)
    failLoad(w, 2444, "Unsupported BMP header size " + std::to_string(headerSize) + " in file '" + name + "'");
  if (!src->readFully(14, ih, headerSize))
    damaged();

  std::int64_t width, height;
  int bits;
  std::uint32_t compression = BiRgb, colorsUsed = 0;
  std::uint32_t xppm = 0, yppm = 0;
  if (core) {
    width = le16(ih + 4);
    height = le16(ih + 6); // unsigned in the 12-byte header: always bottom-up
    bits = static_cast<int>(le16(ih + 10));
  } else {
    width = static_cast<std::int32_t>(le32(ih + 4));
    height = static_cast<std::int32_t>(le32(ih + 8));
    bits = static_cast<int>(le16(ih + 14));
    compression = le32(ih + 16);
    xppm = le32(ih + 24);
    yppm = le32(ih + 28);
    colorsUsed = le32(ih + 32);
  }
  if (compression != BiRgb && compression != BiRle8 && compression != BiRle4 &&
      !(compression == BiBitfields && (bits == 16 || bits == 32)))
    failLoad(w, 2446, "Unsupported BMP compression " + std::to_string(compression) + " in file '" + name + "'");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    damaged();
  if ((compression == BiRle8 && bits != 8) || (compression == BiRle4 && bits != 4))
    damaged();
  if (width <= 0 || height == 0 || height == INT32_MIN || width > INT32_MAX / 32)
    damaged();
  std::int64_t rows = height < 0 ? -height : height;

  // Channel masks for 16 and 32 bits.
  Channel red, green, blue;
  std::uint64_t paletteStart = 14 + headerSize;
  if (bits == 16) {
    red.set(0x7C00);
    green.set(0x03E0);
    blue.set(0x001F);
  } else if (bits == 32) {
    red.set(0x00FF0000);
    green.set(0x0000FF00);
    blue.set(0x000000FF);
  }
  if (compression == BiBitfields) {
    std::uint8_t masks[12];
    if (headerSize >= 52)
      std::memcpy(masks, ih + 40, 12);
    else if (!src->readFully(paletteStart, masks, 12))
      damaged();
    else
      paletteStart += 12;
    red.set(le32(masks));
    green.set(le32(masks + 4));
    blue.set(le32(masks + 8));
  }

  s.width = static_cast<int>(width);
  s.height = static_cast<int>(-height); // bottom-up files are flipped upright by the placement
  if (xppm > 0 && yppm > 0) {
    s.xres = xppm * 0.0254;
    s.yres = yppm * 0.0254;
  }
  s.passThrough = false;
  s.filter = FilterFlate;

  std::size_t outRowBytes;
  if (bits > 15) {
    s.components = 3;
    s.bpc = 8;
    s.colorSpace = 1;
    outRowBytes = static_cast<std::size_t>(width) * 3;
  } else {
    std::uint64_t entries = colorsUsed != 0 ? colorsUsed : (1u << bits);
    if (entries > 256 || entries > (1u << bits))
      entries = 1u << bits;
    std::size_t entrySize = core ? 3 : 4;
    if (paletteStart + entries * entrySize > dataOffset)
      damaged();
    std::vector<std::uint8_t> raw(entries * entrySize);
    if (!src->readFully(paletteStart, raw.data(), raw.size()))
      damaged();
    image.palette.resize(entries * 3);
    for (std::size_t i = 0; i < entries; ++i) {
      image.palette[i * 3] = raw[i * entrySize + 2];
      image.palette[i * 3 + 1] = raw[i * entrySize + 1];
      image.palette[i * 3 + 2] = raw[i * entrySize];
    }
    image.paletteEntries = static_cast<int>(entries);
    s.components = 1;
    s.bpc = bits;
    outRowBytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
  }
  std::uint64_t stride = ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32) * 4;
  bool rle = compression == BiRle8 || compression == BiRle4;
  if (!rle && dataOffset + stride * static_cast<std::uint64_t>(rows) > src->size())
    damaged();
  if (static_cast<std::uint64_t>(outRowBytes) * static_cast<std::uint64_t>(rows) > w->decodeLimit)
    failLoad(w, ErrNoMemory, "BMP image in file '" + name + "' is too large");

  if (rle) {
    // Expanded row by row while the stream is written.
    if (dataOffset >= src->size())
      damaged();
    const std::uint64_t packed = src->size() - dataOffset;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(rows);
    if (pixels > packed * kRlePixelsPerByte + kRleFreePixels)
      failLoad(w, 2400,
               "Damaged BMP file '" + name + "' (" + std::to_string(packed) + " bytes of RLE data for " +
                   std::to_string(width) + " x " + std::to_string(rows) + " pixels)");
    const bool rle4 = compression == BiRle4;
    const std::size_t w8 = static_cast<std::size_t>(width);
    image.strips.push_back([src, dataOffset, rle4, w8, outRowBytes, rows](const Sink &sink) {
      std::vector<std::uint8_t> packedRow(outRowBytes);
      expandRle(*src, dataOffset, rle4, w8, static_cast<std::size_t>(rows), [&](const std::uint8_t *p) {
        if (!rle4) {
          sink(p, w8);
          return;
        }
        std::fill(packedRow.begin(), packedRow.end(), 0);
        for (std::size_t x = 0; x < w8; ++x)
          packedRow[x / 2] |= static_cast<std::uint8_t>((x & 1) ? (p[x] & 0x0F) : (p[x] << 4));
        sink(packedRow.data(), packedRow.size());
      });
      return !src->ioError();
    });
    return;
  }

  // Uncompressed rows: padded to 32 bits in the file, read and converted one at a time.
  std::size_t w8 = static_cast<std::size_t>(width);
  image.strips.push_back([src, dataOffset, stride, rows, bits, w8, outRowBytes, red, green, blue](const Sink &sink) {
    std::vector<std::uint8_t> in(static_cast<std::size_t>(stride)), out(outRowBytes);
    for (std::int64_t y = 0; y < rows; ++y) {
      if (!src->readFully(dataOffset + static_cast<std::uint64_t>(y) * stride, in.data(), in.size()))
        return false;
      if (bits <= 8) {
        sink(in.data(), outRowBytes);
        continue;
      }
      for (std::size_t x = 0; x < w8; ++x) {
        std::uint8_t *o = out.data() + x * 3;
        if (bits == 24) {
          o[0] = in[x * 3 + 2];
          o[1] = in[x * 3 + 1];
          o[2] = in[x * 3];
        } else {
          std::uint32_t px = bits == 16 ? le16(in.data() + x * 2) : le32(in.data() + x * 4);
          o[0] = red.get(px);
          o[1] = green.get(px);
          o[2] = blue.get(px);
        }
      }
      sink(out.data(), out.size());
    }
    return true;
  });
}

} // namespace pdf::detail
