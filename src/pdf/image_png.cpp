#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <new>

namespace pdf::detail {

namespace {

struct PngReadState {
  Source *src;
  std::uint64_t pos;
  char message[200];
};

void pngRead(png_structp png, png_bytep data, png_size_t length) {
  auto *st = static_cast<PngReadState *>(png_get_io_ptr(png));
  if (st->src->readAt(st->pos, data, length) != length)
    png_error(png, "unexpected end of file");
  st->pos += length;
}

void pngError(png_structp png, png_const_charp msg) {
  auto *st = static_cast<PngReadState *>(png_get_error_ptr(png));
  std::snprintf(st->message, sizeof st->message, "%s", msg);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Everything libpng tells about the file, gathered in plain data so the libpng calls can live in functions
// that hold no objects with destructors (libpng reports errors by a long jump).
struct PngInfo {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_uint_32 xppi = 0, yppi = 0;
  png_uint_32 xppu = 0, yppu = 0;
  int unit = 0;
  bool hasPhys = false;
  int paletteEntries = 0;
  std::uint8_t palette[256 * 3];
  bool hasKey = false;
  int key[3] = {0, 0, 0};
  png_size_t rowBytes = 0; // after the transforms for decoding
  int channels = 0;
};

bool readHeader(png_structp png, png_infop info, PngInfo *pi) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_set_user_limits(png, 1000000, 1000000);
  png_read_info(png, info);
  png_get_IHDR(png, info, &pi->width, &pi->height, &pi->bitDepth, &pi->colorType, &pi->interlace, nullptr, nullptr);
  if (png_get_valid(png, info, PNG_INFO_pHYs)) {
    pi->hasPhys = true;
    png_get_pHYs(png, info, &pi->xppu, &pi->yppu, &pi->unit);
    pi->xppi = png_get_x_pixels_per_inch(png, info);
    pi->yppi = png_get_y_pixels_per_inch(png, info);
  }
  if (pi->colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp pal = nullptr;
    int num = 0;
    if (png_get_PLTE(png, info, &pal, &num) && num > 0 && num <= 256) {
      pi->paletteEntries = num;
      for (int i = 0; i < num; ++i) {
        pi->palette[i * 3] = pal[i].red;
        pi->palette[i * 3 + 1] = pal[i].green;
        pi->palette[i * 3 + 2] = pal[i].blue;
      }
    }
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_bytep alpha = nullptr;
    int numTrans = 0;
    png_color_16p color = nullptr;
    png_get_tRNS(png, info, &alpha, &numTrans, &color);
    if (pi->colorType == PNG_COLOR_TYPE_PALETTE && alpha) {
      for (int i = 0; i < numTrans; ++i) {
        if (alpha[i] < 128) {
          pi->hasKey = true;
          pi->key[0] = i;
          break;
        }
      }
    } else if (pi->colorType == PNG_COLOR_TYPE_GRAY && color) {
      pi->hasKey = true;
      pi->key[0] = color->gray;
    } else if (pi->colorType == PNG_COLOR_TYPE_RGB && color) {
      pi->hasKey = true;
      pi->key[0] = color->red;
      pi->key[1] = color->green;
      pi->key[2] = color->blue;
    }
  }
  return true;
}

bool prepareDecode(png_structp png, png_infop info, PngInfo *pi) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  if (pi->colorType & PNG_COLOR_MASK_ALPHA)
    png_set_strip_alpha(png);
  if (pi->interlace != PNG_INTERLACE_NONE)
    png_set_interlace_handling(png);
  png_read_update_info(png, info);
  pi->rowBytes = png_get_rowbytes(png, info);
  pi->channels = png_get_channels(png, info);
  return true;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_read_image(png, rows);
  return true;
}

bool readOneRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_read_row(png, row, nullptr);
  return true;
}

// The libpng reader of one file with everything its callbacks point to, kept together so that rows can be read
// later, while the image's stream is written.
struct PngReader {
  std::shared_ptr<Source> src;
  PngReadState state{nullptr, 0, {0}};
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngInfo pi;
  ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

std::uint32_t be32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Chunk {
  std::uint64_t offset;
  std::uint32_t length;
};

// The IDAT chunks, which follow one another. False when the file is cut off in them or right after them (a
// complete file goes on with at least its end chunk).
bool collectImageData(Source &src, std::vector<Chunk> &chunks) {
  std::uint64_t pos = 8;
  for (;;) {
    std::uint8_t hdr[8];
    if (!src.readFully(pos, hdr, 8))
      return false;
    const std::uint32_t length = be32(hdr);
    if (length > 0x7FFFFFFFu || pos + 12 + length > src.size())
      return false;
    if (std::memcmp(hdr + 4, "IDAT", 4) == 0)
      chunks.push_back({pos + 8, length});
    else if (!chunks.empty() || std::memcmp(hdr + 4, "IEND", 4) == 0)
      return true;
    pos += 12 + std::uint64_t(length);
  }
}

// Deflate data cannot grow more than 1032 times.
constexpr std::uint64_t kMaxInflation = 1032;

// Bytes of the filtered rows the image data must inflate to: a filter byte and the packed samples per row, per
// pass of an interlaced image.
std::uint64_t filteredBytes(const PngInfo &pi) {
  const int channels = pi.colorType == PNG_COLOR_TYPE_RGB          ? 3
                       : pi.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : pi.colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                                   : 1;
  auto rows = [&](std::uint64_t cols, std::uint64_t n) {
    return cols == 0 || n == 0 ? 0 : n * (1 + (cols * std::uint64_t(channels) * std::uint64_t(pi.bitDepth) + 7) / 8);
  };
  if (pi.interlace == PNG_INTERLACE_NONE)
    return rows(pi.width, pi.height);
  static const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
  static const int dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
  std::uint64_t total = 0;
  for (int p = 0; p < 7; ++p) {
    const std::uint64_t cols = pi.width > std::uint64_t(x0[p]) ? (pi.width - x0[p] + dx[p] - 1) / dx[p] : 0;
    const std::uint64_t n = pi.height > std::uint64_t(y0[p]) ? (pi.height - y0[p] + dy[p] - 1) / dy[p] : 0;
    total += rows(cols, n);
  }
  return total;
}

// Inflates the image data only to measure it: how many bytes it holds and whether its stream ends properly. Work
// and memory stay small whatever the data claims.
class DataMeter {
public:
  DataMeter() {
    if (inflateInit(&z_) != Z_OK)
      throw std::bad_alloc();
  }
  ~DataMeter() { inflateEnd(&z_); }
  DataMeter(const DataMeter &) = delete;
  DataMeter &operator=(const DataMeter &) = delete;

  void feed(const void *data, std::size_t n) {
    z_.next_in = static_cast<Bytef *>(const_cast<void *>(data));
    z_.avail_in = static_cast<uInt>(n);
    while (z_.avail_in > 0 && !ended_ && !broken_) {
      z_.next_out = scratch_;
      z_.avail_out = sizeof scratch_;
      const int rc = inflate(&z_, Z_NO_FLUSH);
      produced_ += sizeof scratch_ - z_.avail_out;
      if (rc == Z_STREAM_END)
        ended_ = true;
      else if (rc != Z_OK && rc != Z_BUF_ERROR)
        broken_ = true;
      else if (rc == Z_BUF_ERROR && z_.avail_out != 0)
        break;
    }
  }
  // True when the data is one complete stream holding at least `needed` bytes.
  bool holds(std::uint64_t needed) const { return ended_ && !broken_ && produced_ >= needed; }
  std::uint64_t produced() const { return produced_; }

private:
  z_stream z_{};
  std::uint8_t scratch_[16384];
  std::uint64_t produced_ = 0;
  bool ended_ = false;
  bool broken_ = false;
};

std::string shortDataMessage(const std::string &name, std::uint64_t produced, std::uint64_t needed) {
  return "Damaged PNG file '" + name + "' (its image data holds " + std::to_string(produced) + " of the " +
         std::to_string(needed) + " bytes its size needs, or does not end properly)";
}

} // namespace

void loadPng(Writer *w, std::shared_ptr<Source> src, LoadedImage &image) {
  ImageSlot &s = image.slot;
  const std::string name = s.fileName;
  auto r = std::make_shared<PngReader>();
  r->src = src;
  r->state.src = src.get();
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r->state, pngError, pngWarning);
  if (!r->png)
    failLoad(w, ErrNoMemory, "Not enough memory for PNG file '" + name + "'");
  r->info = png_create_info_struct(r->png);
  if (!r->info)
    failLoad(w, ErrNoMemory, "Not enough memory for PNG file '" + name + "'");
  png_set_read_fn(r->png, &r->state, pngRead);
  png_set_chunk_malloc_max(r->png, 8u << 20);

  PngInfo *pi = &r->pi;
  if (!readHeader(r->png, r->info, pi)) {
    std::uint8_t sig[8];
    if (!src->readFully(0, sig, 8) || png_sig_cmp(sig, 0, 8) != 0)
      failLoad(w, ErrNotOfKind, "File '" + name + "' is not a PNG file");
    failLoad(w, 2400, "Damaged PNG file '" + name + "' (" + r->state.message + ")");
  }
  if (pi->width == 0 || pi->height == 0 || pi->width > INT32_MAX || pi->height > INT32_MAX)
    failLoad(w, 2400, "Damaged PNG file '" + name + "'");

  s.width = static_cast<int>(pi->width);
  s.height = static_cast<int>(pi->height);
  if (pi->hasPhys && pi->xppu > 0 && pi->yppu > 0) {
    if (pi->unit == PNG_RESOLUTION_METER) {
      s.xres = pi->xppi;
      s.yres = pi->yppi;
      if (s.xres <= 0 || s.yres <= 0)
        s.xres = s.yres = 0;
    } else {
      s.xres = -static_cast<double>(pi->xppu);
      s.yres = -static_cast<double>(pi->yppu);
    }
  }

  int baseType = pi->colorType & ~PNG_COLOR_MASK_ALPHA;
  if (baseType == PNG_COLOR_TYPE_PALETTE) {
    if (pi->paletteEntries == 0)
      failLoad(w, 2410, "PNG file '" + name + "' has no palette");
    image.palette.assign(pi->palette, pi->palette + pi->paletteEntries * 3);
    image.paletteEntries = pi->paletteEntries;
    s.components = 1;
  } else if (baseType == PNG_COLOR_TYPE_RGB) {
    s.components = 3;
    s.colorSpace = 1;
  } else {
    s.components = 1;
    s.colorSpace = 0;
  }
  s.bpc = pi->bitDepth;
  s.hasKey = pi->hasKey;
  for (int i = 0; i < 3; ++i)
    s.key[static_cast<std::size_t>(i)] = pi->key[i];

  std::vector<Chunk> chunks;
  if (!collectImageData(*src, chunks))
    failLoad(w, 2400, "Damaged PNG file '" + name + "' (its image data is cut off)");
  std::uint64_t total = 0;
  for (const Chunk &c : chunks)
    total += c.length;
  if (total == 0)
    failLoad(w, 2400, "PNG file '" + name + "' holds no image data");
  const std::uint64_t needed = filteredBytes(*pi);
  if (needed > total * kMaxInflation + 1024)
    failLoad(w, 2400,
             "Damaged PNG file '" + name + "' (" + std::to_string(total) + " bytes of image data for " +
                 std::to_string(pi->width) + " x " + std::to_string(pi->height) + " pixels)");

  bool passThrough = pi->bitDepth <= 8 && pi->interlace == PNG_INTERLACE_NONE &&
                     (pi->colorType == PNG_COLOR_TYPE_GRAY || pi->colorType == PNG_COLOR_TYPE_RGB ||
                      pi->colorType == PNG_COLOR_TYPE_PALETTE);
  if (passThrough) {
    // The data of the IDAT chunks is copied unchanged.
    s.passThrough = true;
    s.filter = FilterFlate;
    s.predictor = 15;
    image.strips.push_back([src, chunks](const Sink &sink) {
      std::vector<std::uint8_t> buf(8192);
      for (const Chunk &c : chunks) {
        std::uint64_t done = 0;
        while (done < c.length) {
          std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), c.length - done));
          if (!src->readFully(c.offset + done, buf.data(), want))
            return false;
          sink(buf.data(), want);
          done += want;
        }
      }
      return true;
    });
    return;
  }

  // Decoded by libpng, alpha dropped, 16-bit samples kept (big-endian as PDF wants).
  if (!prepareDecode(r->png, r->info, pi))
    failLoad(w, 2400, "Damaged PNG file '" + name + "' (" + r->state.message + ")");
  s.passThrough = false;
  s.filter = FilterFlate;
  s.predictor = 1;
  const std::size_t rowBytes = pi->rowBytes;
  const std::uint32_t height = pi->height;
  auto failed = [w, name, r]() {
    failLoad(w, r->src->ioError() ? ErrDecodeRead : 2400,
             "Error decoding PNG file '" + name + "' (" + r->state.message + ")");
  };
  if (pi->interlace == PNG_INTERLACE_NONE) {
    // Rows are read one at a time while the stream is written.
    image.strips.push_back([r, rowBytes, height, failed](const Sink &sink) {
      std::vector<std::uint8_t> row(rowBytes);
      for (std::uint32_t y = 0; y < height; ++y) {
        if (!readOneRow(r->png, row.data()))
          failed();
        sink(row.data(), row.size());
      }
      return true;
    });
    return;
  }
  // Interlaced rows arrive pass by pass, so the image is held whole: only once its data is known to hold it all
  // (inflated once to measure it, which takes little memory).
  {
    DataMeter meter;
    std::vector<std::uint8_t> buf(8192);
    for (const Chunk &c : chunks)
      for (std::uint64_t done = 0; done < c.length;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), c.length - done));
        if (!src->readFully(c.offset + done, buf.data(), want))
          failLoad(w, ErrDecodeRead, "Error reading PNG file '" + name + "'");
        meter.feed(buf.data(), want);
        done += want;
      }
    if (!meter.holds(needed))
      failLoad(w, 2400, shortDataMessage(name, meter.produced(), needed));
  }
  std::uint64_t bytes = std::uint64_t(rowBytes) * height;
  if (bytes > w->decodeLimit)
    failLoad(w, ErrNoMemory, "PNG image in file '" + name + "' is too large");
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(bytes));
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = pixels->data() + std::size_t(y) * rowBytes;
  if (!readRows(r->png, rows.data()))
    failed();
  image.strips.push_back([pixels](const Sink &sink) {
    sink(pixels->data(), pixels->size());
    return true;
  });
}

} // namespace pdf::detail
