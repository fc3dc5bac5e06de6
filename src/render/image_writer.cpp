#include "render/image_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace render {

namespace {

using MagickCore::IndexPacket;
using MagickCore::PixelPacket;

// What the encoders make of a page: its colour layout in the file.
enum class Layout { Library, Rgb, Gray, Palette, Bilevel };

// 16-bit samples to 8 bits, rounding as the image library does, so a page written here holds the same bytes as one
// the library writes.
inline uint8_t to8(uint16_t q) { return uint8_t(((q + 128u) - ((q + 128u) >> 8)) >> 8); }

// Where the encoders take a page's rows from, one at a time.
class PageRows {
public:
  virtual ~PageRows() = default;
  // One row as 8-bit red, green, blue: out filled, or the page's own row; nullptr when it cannot be read.
  virtual const uint8_t *rgb(long y, uint8_t *out) = 0;
  // One row as blue, green, red into out.
  virtual bool bgr(long y, uint8_t *out) = 0;
  // Grey samples, colour map indexes packed at bits per pixel, black and white: pages with those layouts only.
  virtual bool gray(long, uint8_t *) { return false; }
  virtual bool packedIndexes(long, int, uint8_t *) { return false; }
  virtual bool bilevel(long, uint8_t *) { return false; }
};

// The rows of an 8-bit page, read where they lie.
class RgbRows final : public PageRows {
public:
  explicit RgbRows(const RgbPage &page) : page_(page) {}
  const uint8_t *rgb(long y, uint8_t *) override { return page_.row(size_t(y)); }
  bool bgr(long y, uint8_t *out) override {
    const uint8_t *__restrict s = page_.row(size_t(y));
    uint8_t *__restrict d = out;
    for (size_t x = 0; x < page_.columns; ++x) {
      d[3 * x] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x];
    }
    return true;
  }

private:
  const RgbPage &page_;
};

// Reads the image's rows through a cache view of its own, so several threads may read one image.
class RowReader final : public PageRows {
public:
  explicit RowReader(const MagickCore::Image *im)
      : im_(im), ex_(MagickCore::AcquireExceptionInfo()), view_(MagickCore::AcquireVirtualCacheView(im, ex_)) {}
  ~RowReader() {
    if (view_)
      MagickCore::DestroyCacheView(view_);
    MagickCore::DestroyExceptionInfo(ex_);
  }
  RowReader(const RowReader &) = delete;
  RowReader &operator=(const RowReader &) = delete;

  const PixelPacket *pixels(long y) {
    return view_ ? MagickCore::GetCacheViewVirtualPixels(view_, 0, y, im_->columns, 1, ex_) : nullptr;
  }
  const IndexPacket *indexes() { return view_ ? MagickCore::GetCacheViewVirtualIndexQueue(view_) : nullptr; }

  // One row as 8-bit samples: red, green, blue; blue, green, red; or grey (the red sample of a grey page).
  const uint8_t *rgb(long y, uint8_t *out) override { return convert(y, out, true) ? out : nullptr; }
  bool bgr(long y, uint8_t *out) override { return convert(y, out, false); }
  bool gray(long y, uint8_t *out) override {
    const PixelPacket *p = pixels(y);
    if (!p)
      return false;
    for (size_t x = 0; x < im_->columns; ++x)
      out[x] = to8(p[x].red);
    return true;
  }
  // Colour map indexes packed at bits per pixel (1, 2, 4 or 8), leftmost pixel in the high bits.
  bool packedIndexes(long y, int bits, uint8_t *out) override {
    if (!pixels(y))
      return false;
    const IndexPacket *ix = indexes();
    if (!ix)
      return false;
    const unsigned last = unsigned(im_->colors > 0 ? im_->colors - 1 : 0);
    switch (bits) {
    case 1:
      return pack<1>(ix, last, out);
    case 2:
      return pack<2>(ix, last, out);
    case 4:
      return pack<4>(ix, last, out);
    default:
      return pack<8>(ix, last, out);
    }
  }
  // Black and white, one bit per pixel, 1 for white.
  bool bilevel(long y, uint8_t *out) override {
    const PixelPacket *p = pixels(y);
    if (!p)
      return false;
    std::memset(out, 0, (im_->columns + 7) / 8);
    for (size_t x = 0; x < im_->columns; ++x)
      if (p[x].red >= 32768)
        out[x / 8] |= uint8_t(0x80u >> (x % 8));
    return true;
  }

private:
  // The samples of a pixel lie blue, green, red, opacity: all four are narrowed at once (which vectorises), then
  // the three colours are laid out in the order asked for.
  bool convert(long y, uint8_t *out, bool redFirst) {
    const PixelPacket *p = pixels(y);
    if (!p)
      return false;
    const size_t n = im_->columns;
    if (narrow_.size() < 4 * n)
      narrow_.resize(4 * n);
    const auto *q = reinterpret_cast<const uint16_t *>(p);
    uint8_t *__restrict b = narrow_.data();
    for (size_t i = 0; i < 4 * n; ++i)
      b[i] = to8(q[i]);
    // Four bytes in, four bytes out per pixel: the fourth lands on the next pixel's first byte and is replaced by
    // it; the last pixel is written by its three bytes.
    const size_t last = n - 1;
    for (size_t x = 0; x < last; ++x) {
      uint32_t v;
      std::memcpy(&v, b + 4 * x, 4);
      if (redFirst)
        v = ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16);
      std::memcpy(out + 3 * x, &v, 4);
    }
    out[3 * last] = b[4 * last + (redFirst ? 2 : 0)];
    out[3 * last + 1] = b[4 * last + 1];
    out[3 * last + 2] = b[4 * last + (redFirst ? 0 : 2)];
    return true;
  }
  template <int Bits> bool pack(const IndexPacket *ix, unsigned last, uint8_t *out) {
    constexpr int perByte = 8 / Bits;
    const size_t n = im_->columns;
    size_t x = 0;
    for (size_t k = 0; x + perByte <= n; ++k) {
      unsigned v = 0;
      for (int j = 0; j < perByte; ++j, ++x)
        v = (v << Bits) | std::min<unsigned>(ix[x], last);
      out[k] = uint8_t(v);
    }
    if (x < n) {
      unsigned v = 0;
      int j = 0;
      for (; x < n; ++x, ++j)
        v = (v << Bits) | std::min<unsigned>(ix[x], last);
      out[n / perByte] = uint8_t(v << (Bits * (perByte - j)));
    }
    return true;
  }

  const MagickCore::Image *im_;
  MagickCore::ExceptionInfo *ex_;
  MagickCore::CacheView *view_;
  std::vector<uint8_t> narrow_;
};

// Collects the encoders' small writes into large ones for the sink.
class Output {
public:
  explicit Output(const ByteSink &sink) : sink_(sink) { buf_.reserve(kSize); }
  bool write(const void *data, size_t n) {
    if (failed_)
      return false;
    const auto *p = static_cast<const uint8_t *>(data);
    if (buf_.size() + n > kSize && !flush())
      return false;
    if (n >= kSize) {
      failed_ = !sink_(p, n);
      return !failed_;
    }
    buf_.insert(buf_.end(), p, p + n);
    return true;
  }
  bool flush() {
    if (failed_)
      return false;
    if (!buf_.empty())
      failed_ = !sink_(buf_.data(), buf_.size());
    buf_.clear();
    return !failed_;
  }
  bool failed() const { return failed_; }
  // Room for n bytes at the end of the buffer (n at most 256 KB), filled by the caller and taken with commit(n).
  uint8_t *space(size_t n) {
    if (buf_.size() + n > kSize && !flush())
      return nullptr;
    buf_.resize(buf_.size() + n);
    return buf_.data() + buf_.size() - n;
  }

private:
  static constexpr size_t kSize = 256 * 1024;
  const ByteSink &sink_;
  std::vector<uint8_t> buf_;
  bool failed_ = false;
};

const char *kWriteFailed = "the file cannot be written";

bool isGray(const MagickCore::Image *im) { return im->colorspace == MagickCore::GRAYColorspace; }
bool isPalette(const MagickCore::Image *im) {
  return im->storage_class == MagickCore::PseudoClass && im->colors >= 1 && im->colors <= 256 && im->colormap;
}
// Every pixel grey (red, green and blue equal).
bool allGray(const MagickCore::Image *im) {
  RowReader rows(im);
  for (size_t y = 0; y < im->rows; ++y) {
    const PixelPacket *p = rows.pixels(long(y));
    if (!p)
      return false;
    for (size_t x = 0; x < im->columns; ++x)
      if (p[x].red != p[x].green || p[x].green != p[x].blue)
        return false;
  }
  return true;
}

int bitsForColours(size_t colours) { return colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8; }

// The compression of a TIFF file: the option's, else the image's own.
MagickCore::CompressionType tiffCompression(const MagickCore::Image *im, const MagickCore::ImageInfo *info) {
  return info->compression != MagickCore::UndefinedCompression ? info->compression : im->compression;
}

Layout layoutFor(const Magick::Image &image, FormatCode format) {
  const MagickCore::Image *im = image.constImage();
  const MagickCore::ImageInfo *info = image.constImageInfo();
  if (!im || im->columns == 0 || im->rows == 0 || im->matte)
    return Layout::Library;
  if (im->colorspace != MagickCore::sRGBColorspace && !isGray(im))
    return Layout::Library;
  switch (format) {
  case FormatBMP:
    return Layout::Rgb;
  case FormatJPG:
    return isGray(im) ? Layout::Gray : Layout::Rgb;
  case FormatGIF:
    return isPalette(im) ? Layout::Palette : Layout::Library;
  case FormatPNG: {
    const char *colorType = MagickCore::GetImageOption(info, "png:color-type");
    const char *bitDepth = MagickCore::GetImageOption(info, "png:bit-depth");
    const std::string type = colorType ? colorType : "";
    if (type == "2" || (type.empty() && !isPalette(im) && !isGray(im)))
      return (im->depth <= 8 || (bitDepth && std::string(bitDepth) == "8")) ? Layout::Rgb : Layout::Library;
    if (type == "3" || (type.empty() && isPalette(im)))
      return isPalette(im) ? Layout::Palette : Layout::Library;
    if (type == "0" || (type.empty() && isGray(im)))
      return isGray(im) && im->depth <= 8 ? Layout::Gray : Layout::Library;
    return Layout::Library;
  }
  case FormatTIF: {
    const MagickCore::CompressionType c = tiffCompression(im, info);
    if (c != MagickCore::UndefinedCompression && c != MagickCore::NoCompression && c != MagickCore::LZWCompression)
      return Layout::Library;
    if (im->depth == 1 && isGray(im))
      return Layout::Bilevel;
    if (im->depth > 8)
      return Layout::Library; // sixteen bits per sample: the library's
    switch (info->type) {
    case MagickCore::TrueColorType:
      return Layout::Rgb;
    case MagickCore::BilevelType:
      return isGray(im) ? Layout::Bilevel : Layout::Library;
    case MagickCore::GrayscaleType:
      return isGray(im) ? Layout::Gray : Layout::Library;
    case MagickCore::PaletteType:
      return isPalette(im) ? Layout::Palette : Layout::Library;
    default:
      return isGray(im) ? Layout::Gray : isPalette(im) ? Layout::Palette : Layout::Rgb;
    }
  }
  }
  return Layout::Library;
}

// What an encoder writes: the page's size, layout, resolution and options, and where its rows come from.
struct Target {
  Layout layout = Layout::Rgb;
  size_t columns = 0, rows = 0;
  double xResolution = 0, yResolution = 0; // 0: none recorded
  bool perCentimetre = false;
  int quality = 92;
  bool interlace = false; // JPEG progressive, PNG Adam7, GIF interlaced
  bool lzw = false;
  bool jpegGray = false;
  const MagickCore::Image *palette = nullptr; // whose colour map a palette page uses
  PageRows *pixels = nullptr;
};

Target targetOf(const Magick::Image &image, FormatCode format, Layout layout, RowReader &rows) {
  const MagickCore::Image *im = image.constImage();
  const MagickCore::ImageInfo *info = image.constImageInfo();
  Target t;
  t.layout = layout;
  t.columns = im->columns;
  t.rows = im->rows;
  if (im->x_resolution > 0 && im->y_resolution > 0) {
    t.xResolution = im->x_resolution;
    t.yResolution = im->y_resolution;
  }
  t.perCentimetre = im->units == MagickCore::PixelsPerCentimeterResolution;
  t.quality = std::clamp(int(info->quality != 0 ? info->quality : im->quality != 0 ? im->quality : 92), 1, 100);
  t.interlace = info->interlace != MagickCore::NoInterlace && info->interlace != MagickCore::UndefinedInterlace;
  t.lzw = tiffCompression(im, info) == MagickCore::LZWCompression;
  // A colour page whose options do not ask for true colour is written grey in JPEG when every pixel is grey.
  t.jpegGray =
      format == FormatJPG && (layout == Layout::Gray || (info->type != MagickCore::TrueColorType && allGray(im)));
  t.palette = im;
  t.pixels = &rows;
  return t;
}

Target targetOf(const RgbPage &page, RgbRows &rows) {
  Target t;
  t.columns = page.columns;
  t.rows = page.rows;
  t.xResolution = t.yResolution = page.resolution;
  t.quality = std::clamp(page.jpegQuality, 1, 100);
  t.interlace = page.interlace;
  t.lzw = page.lzw;
  t.pixels = &rows;
  return t;
}

// ---- JPEG ----

struct JpegJob {
  jpeg_compress_struct c{};
  struct Error {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
  } error{};
  jpeg_destination_mgr dest{};
  std::vector<JOCTET> buffer = std::vector<JOCTET>(256 * 1024);
  Output *out = nullptr;
  PageRows *rows = nullptr;
  std::vector<uint8_t> line;
  JDIMENSION width = 0, height = 0;
  bool gray = false;
  int quality = 92;
  bool progressive = false;
  int densityUnit = 0;
  int xDensity = 1, yDensity = 1;
};

void jpegErrorExit(j_common_ptr c) {
  auto *e = reinterpret_cast<JpegJob::Error *>(c->err);
  (*c->err->format_message)(c, e->message);
  std::longjmp(e->jump, 1);
}
void jpegSilent(j_common_ptr, int) {}

void jpegInitDest(j_compress_ptr c) {
  auto *job = static_cast<JpegJob *>(c->client_data);
  c->dest->next_output_byte = job->buffer.data();
  c->dest->free_in_buffer = job->buffer.size();
}
boolean jpegEmpty(j_compress_ptr c) {
  auto *job = static_cast<JpegJob *>(c->client_data);
  if (!job->out->write(job->buffer.data(), job->buffer.size()))
    ERREXIT(c, JERR_FILE_WRITE);
  c->dest->next_output_byte = job->buffer.data();
  c->dest->free_in_buffer = job->buffer.size();
  return TRUE;
}
void jpegTermDest(j_compress_ptr c) {
  auto *job = static_cast<JpegJob *>(c->client_data);
  if (!job->out->write(job->buffer.data(), job->buffer.size() - c->dest->free_in_buffer))
    ERREXIT(c, JERR_FILE_WRITE);
}

// Everything between the jump target and a library error is plain data: nothing here needs a destructor.
bool runJpeg(JpegJob &job) {
  if (setjmp(job.error.jump)) {
    jpeg_destroy_compress(&job.c);
    return false;
  }
  jpeg_create_compress(&job.c);
  job.c.client_data = &job;
  job.dest.init_destination = jpegInitDest;
  job.dest.empty_output_buffer = jpegEmpty;
  job.dest.term_destination = jpegTermDest;
  job.c.dest = &job.dest;
  job.c.image_width = job.width;
  job.c.image_height = job.height;
  job.c.input_components = job.gray ? 1 : 3;
  job.c.in_color_space = job.gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&job.c);
  jpeg_set_quality(&job.c, job.quality, TRUE);
  // At high quality every component keeps full resolution; below it colour is sampled at half resolution.
  if (job.quality >= 90)
    for (int i = 0; i < MAX_COMPONENTS; ++i)
      job.c.comp_info[i].h_samp_factor = job.c.comp_info[i].v_samp_factor = 1;
  job.c.optimize_coding = TRUE;
  job.c.dct_method = JDCT_FLOAT; // as the image library has always written our pages
  if (job.progressive)
    jpeg_simple_progression(&job.c);
  job.c.write_JFIF_header = TRUE;
  job.c.density_unit = UINT8(job.densityUnit);
  job.c.X_density = UINT16(job.xDensity);
  job.c.Y_density = UINT16(job.yDensity);
  jpeg_start_compress(&job.c, TRUE);
  while (job.c.next_scanline < job.c.image_height) {
    const long y = long(job.c.next_scanline);
    const uint8_t *read =
        job.gray ? (job.rows->gray(y, job.line.data()) ? job.line.data() : nullptr) : job.rows->rgb(y, job.line.data());
    if (!read) {
      std::snprintf(job.error.message, sizeof job.error.message, "the page's pixels cannot be read");
      jpeg_destroy_compress(&job.c);
      return false;
    }
    JSAMPROW row = const_cast<JSAMPROW>(read); // the library only reads the rows it is given
    jpeg_write_scanlines(&job.c, &row, 1);
  }
  jpeg_finish_compress(&job.c);
  jpeg_destroy_compress(&job.c);
  return true;
}

std::string encodeJpeg(const Target &t, Output &out) {
  JpegJob job;
  job.c.err = jpeg_std_error(&job.error.mgr);
  job.error.mgr.error_exit = jpegErrorExit;
  job.error.mgr.emit_message = jpegSilent;
  job.gray = t.jpegGray;
  job.quality = t.quality;
  job.progressive = t.interlace;
  if (t.xResolution > 0 && t.yResolution > 0) {
    job.densityUnit = t.perCentimetre ? 2 : 1;
    job.xDensity = int(std::min(65535.0, std::floor(t.xResolution + 0.5)));
    job.yDensity = int(std::min(65535.0, std::floor(t.yResolution + 0.5)));
  }
  job.out = &out;
  job.rows = t.pixels;
  job.line.resize(t.columns * (job.gray ? 1 : 3));
  job.width = JDIMENSION(t.columns);
  job.height = JDIMENSION(t.rows);
  if (!runJpeg(job))
    return out.failed() ? kWriteFailed : std::string("JPEG: ") + job.error.message;
  return out.flush() ? std::string() : kWriteFailed;
}

// ---- PNG ----

// zlib's own default: a fraction of the time of the highest levels for files a few per cent larger.
constexpr int kPngCompressionLevel = 6;

struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Output *out = nullptr;
  PageRows *rows = nullptr;
  Layout layout = Layout::Rgb;
  int bits = 8;
  bool interlace = false;
  png_uint_32 width = 0, height = 0;
  png_uint_32 xPerMetre = 0, yPerMetre = 0;
  std::vector<png_color> palette;
  std::vector<uint8_t> line;
  char message[200] = {};
};

void pngError(png_structp png, png_const_charp text) {
  auto *job = static_cast<PngJob *>(png_get_error_ptr(png));
  std::snprintf(job->message, sizeof job->message, "PNG: %s", text);
  png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}
void pngWrite(png_structp png, png_bytep data, size_t n) {
  auto *job = static_cast<PngJob *>(png_get_io_ptr(png));
  if (!job->out->write(data, n))
    png_error(png, "write failed");
}
void pngFlush(png_structp) {}

// Whether row y takes part in Adam7 pass p (the rows a pass leaves out are never read by the library).
bool inPass(png_uint_32 y, int pass) {
  static const int start[7] = {0, 0, 4, 0, 2, 0, 1};
  static const int step[7] = {8, 8, 8, 4, 4, 2, 2};
  return int(y % png_uint_32(step[pass])) == start[pass];
}

bool runPng(PngJob &job) {
  if (setjmp(png_jmpbuf(job.png)))
    return false;
  png_set_write_fn(job.png, &job, pngWrite, pngFlush);
  png_set_compression_level(job.png, kPngCompressionLevel);
  const int colourType = job.layout == Layout::Rgb    ? PNG_COLOR_TYPE_RGB
                         : job.layout == Layout::Gray ? PNG_COLOR_TYPE_GRAY
                                                      : PNG_COLOR_TYPE_PALETTE;
  png_set_IHDR(job.png, job.info, job.width, job.height, job.bits, colourType,
               job.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(job.png, job.info, job.palette.data(), int(job.palette.size()));
  if (job.xPerMetre > 0 && job.yPerMetre > 0)
    png_set_pHYs(job.png, job.info, job.xPerMetre, job.yPerMetre, PNG_RESOLUTION_METER);
  png_write_info(job.png, job.info);
  const int passes = job.interlace ? png_set_interlace_handling(job.png) : 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < job.height; ++y) {
      const uint8_t *row = job.line.data();
      if (!job.interlace || inPass(y, pass)) {
        if (job.layout == Layout::Rgb)
          row = job.rows->rgb(long(y), job.line.data());
        else if (!(job.layout == Layout::Gray ? job.rows->gray(long(y), job.line.data())
                                              : job.rows->packedIndexes(long(y), job.bits, job.line.data())))
          row = nullptr;
        if (!row) {
          std::snprintf(job.message, sizeof job.message, "the page's pixels cannot be read");
          return false;
        }
      }
      png_write_row(job.png, row);
    }
  }
  png_write_end(job.png, job.info);
  return true;
}

std::string encodePng(const Target &t, Output &out) {
  PngJob job;
  job.out = &out;
  job.rows = t.pixels;
  job.layout = t.layout;
  job.width = png_uint_32(t.columns);
  job.height = png_uint_32(t.rows);
  job.interlace = t.interlace;
  if (t.layout == Layout::Palette) {
    const MagickCore::Image *im = t.palette;
    job.bits = bitsForColours(im->colors);
    for (size_t i = 0; i < im->colors; ++i)
      job.palette.push_back(png_color{to8(im->colormap[i].red), to8(im->colormap[i].green), to8(im->colormap[i].blue)});
  }
  if (t.xResolution > 0 && t.yResolution > 0) {
    const double perMetre = t.perCentimetre ? 100.0 : 100.0 / 2.54;
    job.xPerMetre = png_uint_32(std::min(2147483647.0, t.xResolution * perMetre + 0.5));
    job.yPerMetre = png_uint_32(std::min(2147483647.0, t.yResolution * perMetre + 0.5));
  }
  job.line.resize(t.layout == Layout::Rgb ? t.columns * 3 : t.columns);
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
  if (!job.png)
    return "PNG: out of memory";
  job.info = png_create_info_struct(job.png);
  const bool ok = job.info && runPng(job);
  png_destroy_write_struct(&job.png, &job.info);
  if (!ok)
    return out.failed() ? kWriteFailed : std::string(job.message[0] ? job.message : "PNG: out of memory");
  return out.flush() ? std::string() : kWriteFailed;
}

// ---- TIFF ----

// The file is made in memory (the library goes back to fill in offsets) and then handed on.
struct MemoryFile {
  std::vector<uint8_t> data;
  size_t pos = 0;
  std::string error;
};

tmsize_t memRead(thandle_t h, void *buf, tmsize_t n) {
  auto *f = static_cast<MemoryFile *>(h);
  const size_t k = f->pos < f->data.size() ? std::min(size_t(n), f->data.size() - f->pos) : 0;
  std::memcpy(buf, f->data.data() + f->pos, k);
  f->pos += k;
  return tmsize_t(k);
}
tmsize_t memWrite(thandle_t h, void *buf, tmsize_t n) {
  auto *f = static_cast<MemoryFile *>(h);
  const auto *p = static_cast<const uint8_t *>(buf);
  try {
    if (f->pos == f->data.size()) { // the common case: appended, without filling the room with zeros first
      f->data.insert(f->data.end(), p, p + n);
      f->pos += size_t(n);
      return n;
    }
    if (f->pos + size_t(n) > f->data.size())
      f->data.resize(f->pos + size_t(n));
  } catch (const std::bad_alloc &) {
    return 0;
  }
  std::memcpy(f->data.data() + f->pos, p, size_t(n));
  f->pos += size_t(n);
  return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
  auto *f = static_cast<MemoryFile *>(h);
  const long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (long long)f->pos : (long long)f->data.size();
  const long long to = base + (long long)off;
  if (to < 0)
    return toff_t(-1);
  f->pos = size_t(to);
  return toff_t(to);
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return toff_t(static_cast<MemoryFile *>(h)->data.size()); }
int memMap(thandle_t, void **, toff_t *) { return 0; }
void memUnmap(thandle_t, void *, toff_t) {}
int tiffError(TIFF *, void *user, const char *, const char *fmt, va_list ap) {
  auto *f = static_cast<MemoryFile *>(user);
  if (f->error.empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, fmt, ap);
    f->error = std::string("TIFF: ") + text;
  }
  return 1;
}
int tiffWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

// Rows of one strip: about a megabyte of pixels, a multiple of 16 rows (long strips compress far better).
uint32_t tiffRowsPerStrip(size_t rowBytes, uint32_t rows) {
  uint32_t n = uint32_t(std::min<size_t>((size_t(1) << 20) / std::max<size_t>(rowBytes, 1), 1u << 30));
  if (n >= 16)
    n -= n % 16;
  return std::clamp<uint32_t>(n, 1, std::max<uint32_t>(rows, 1));
}

std::string encodeTiff(const Target &t_, Output &out) {
  const Layout layout = t_.layout;
  const bool lzw = t_.lzw;
  MemoryFile file;
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions *)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options)
    return "TIFF: out of memory";
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffWarning, &file);
  std::unique_ptr<TIFF, void (*)(TIFF *)> tif(TIFFClientOpenExt("page", "w", &file, memRead, memWrite, memSeek,
                                                                memClose, memSize, memMap, memUnmap, options.get()),
                                              TIFFClose);
  if (!tif)
    return file.error.empty() ? "TIFF: cannot start the file" : file.error;
  TIFF *t = tif.get();
  const uint32_t width = uint32_t(t_.columns), height = uint32_t(t_.rows);
  int bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  switch (layout) {
  case Layout::Rgb:
    samples = 3;
    photometric = PHOTOMETRIC_RGB;
    break;
  case Layout::Palette:
    bits = bitsForColours(t_.palette->colors);
    photometric = PHOTOMETRIC_PALETTE;
    break;
  case Layout::Bilevel:
    bits = 1;
    photometric = PHOTOMETRIC_MINISBLACK;
    break;
  default:
    break;
  }
  const size_t rowBytes = (size_t(width) * size_t(samples) * size_t(bits) + 7) / 8;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(lzw ? COMPRESSION_LZW : COMPRESSION_NONE));
  // Differences between neighbours compress better for whole-byte samples.
  if (lzw && bits == 8 && layout != Layout::Palette)
    TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, tiffRowsPerStrip(rowBytes, height));
  if (t_.xResolution > 0 && t_.yResolution > 0) {
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(t_.perCentimetre ? RESUNIT_CENTIMETER : RESUNIT_INCH));
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(t_.xResolution));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(t_.yResolution));
  }
  std::vector<uint16_t> map;
  if (layout == Layout::Palette) {
    const MagickCore::Image *im = t_.palette;
    const size_t n = size_t(1) << bits;
    map.assign(3 * n, 0);
    for (size_t i = 0; i < im->colors && i < n; ++i) {
      map[i] = im->colormap[i].red;
      map[n + i] = im->colormap[i].green;
      map[2 * n + i] = im->colormap[i].blue;
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  try {
    file.data.reserve(lzw ? rowBytes * height / 4 : rowBytes * height + 4096);
  } catch (const std::bad_alloc &) {
  }
  PageRows &rows = *t_.pixels;
  std::vector<uint8_t> line(rowBytes + 16);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t *row = line.data();
    switch (layout) {
    case Layout::Rgb:
      row = rows.rgb(long(y), line.data());
      break;
    case Layout::Palette:
      row = rows.packedIndexes(long(y), bits, line.data()) ? row : nullptr;
      break;
    case Layout::Bilevel:
      row = rows.bilevel(long(y), line.data()) ? row : nullptr;
      break;
    default:
      row = rows.gray(long(y), line.data()) ? row : nullptr;
      break;
    }
    if (!row)
      return "the page's pixels cannot be read";
    // The library copies the row into its strip without writing to it (uncompressed data is not changed in place;
    // LZW with the predictor works on its own copy).
    if (TIFFWriteScanline(t, const_cast<uint8_t *>(row), y, 0) < 0)
      return file.error.empty() ? "TIFF: a row cannot be written" : file.error;
  }
  if (!TIFFWriteDirectory(t))
    return file.error.empty() ? "TIFF: the directory cannot be written" : file.error;
  tif.reset();
  if (!file.error.empty())
    return file.error;
  if (!out.write(file.data.data(), file.data.size()) || !out.flush())
    return kWriteFailed;
  return {};
}

// ---- GIF ----

int gifWrite(GifFileType *gif, const GifByteType *data, int n) {
  auto *out = static_cast<Output *>(gif->UserData);
  return out->write(data, size_t(n)) ? n : 0;
}

std::string encodeGif(const Magick::Image &image, Output &out) {
  const MagickCore::Image *im = image.constImage();
  const MagickCore::ImageInfo *info = image.constImageInfo();
  if (im->columns > 65535 || im->rows > 65535)
    return "GIF: the page is larger than 65535 pixels a side";
  const bool interlace =
      info->interlace != MagickCore::NoInterlace && info->interlace != MagickCore::UndefinedInterlace;
  const int bits = std::max(1, int(std::ceil(std::log2(double(std::max<size_t>(im->colors, 2))))));
  std::vector<GifColorType> colours(size_t(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < im->colors; ++i)
    colours[i] = GifColorType{to8(im->colormap[i].red), to8(im->colormap[i].green), to8(im->colormap[i].blue)};
  std::unique_ptr<ColorMapObject, void (*)(ColorMapObject *)> map(GifMakeMapObject(int(colours.size()), colours.data()),
                                                                  GifFreeMapObject);
  if (!map)
    return "GIF: out of memory";
  int error = 0;
  GifFileType *gif = EGifOpen(&out, gifWrite, &error);
  if (!gif)
    return std::string("GIF: ") + GifErrorString(error);
  auto fail = [&](int code) {
    int ignored = 0;
    EGifCloseFile(gif, &ignored);
    return out.failed() ? std::string(kWriteFailed) : std::string("GIF: ") + GifErrorString(code);
  };
  EGifSetGifVersion(gif, true);
  const int w = int(im->columns), h = int(im->rows);
  if (EGifPutScreenDesc(gif, w, h, bits, 0, map.get()) == GIF_ERROR)
    return fail(gif->Error);
  if (EGifPutImageDesc(gif, 0, 0, w, h, interlace, nullptr) == GIF_ERROR)
    return fail(gif->Error);
  RowReader rows(im);
  std::vector<GifPixelType> line(im->columns);
  auto putRow = [&](int y) {
    if (!rows.packedIndexes(y, 8, line.data()))
      return false;
    return EGifPutLine(gif, line.data(), w) != GIF_ERROR;
  };
  if (interlace) {
    // Rows in the four passes of an interlaced file: every eighth from 0, every eighth from 4, every fourth from
    // 2, every second from 1.
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
      for (int y = start[p]; y < h; y += step[p])
        if (!putRow(y))
          return fail(gif->Error);
  } else {
    for (int y = 0; y < h; ++y)
      if (!putRow(y))
        return fail(gif->Error);
  }
  if (EGifCloseFile(gif, &error) == GIF_ERROR)
    return out.failed() ? std::string(kWriteFailed) : std::string("GIF: ") + GifErrorString(error);
  return out.flush() ? std::string() : kWriteFailed;
}

// ---- BMP ----

void put16(uint8_t *p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

std::string encodeBmp(const Target &t, Output &out) {
  const size_t columns = t.columns, rowCount = t.rows;
  const size_t rowBytes = (columns * 3 + 3) & ~size_t(3);
  const unsigned long long imageBytes = (unsigned long long)rowBytes * rowCount;
  if (columns > 0x7FFFFFFF || rowCount > 0x7FFFFFFF || imageBytes + 54 > 0xFFFFFFFFull)
    return "BMP: the page is too large for the format";
  uint8_t head[54] = {'B', 'M'};
  put32(head + 2, uint32_t(imageBytes + 54));
  put32(head + 10, 54);
  put32(head + 14, 40);
  put32(head + 18, uint32_t(columns));
  put32(head + 22, uint32_t(rowCount)); // bottom-up rows
  put16(head + 26, 1);
  put16(head + 28, 24);
  put32(head + 34, uint32_t(imageBytes));
  const double perMetre = t.perCentimetre ? 100.0 : 100.0 / 2.54;
  put32(head + 38, uint32_t(std::clamp(t.xResolution * perMetre, 0.0, 2147483647.0)));
  put32(head + 42, uint32_t(std::clamp(t.yResolution * perMetre, 0.0, 2147483647.0)));
  if (!out.write(head, sizeof head))
    return kWriteFailed;
  PageRows &rows = *t.pixels;
  std::vector<uint8_t> line(rowBytes, 0);
  const bool direct = rowBytes <= 64 * 1024;
  for (size_t k = 0; k < rowCount; ++k) {
    uint8_t *row = direct ? out.space(rowBytes) : line.data();
    if (!row)
      return kWriteFailed;
    if (direct)
      std::memset(row + columns * 3, 0, rowBytes - columns * 3);
    if (!rows.bgr(long(rowCount - 1 - k), row))
      return "the page's pixels cannot be read";
    if (!direct && !out.write(line.data(), rowBytes))
      return kWriteFailed;
  }
  return out.flush() ? std::string() : kWriteFailed;
}

// The encoders of a target: JPEG, PNG, TIFF and (any other format) BMP.
std::string encodeTarget(FormatCode format, const Target &t, Output &out) {
  switch (format) {
  case FormatJPG:
    return encodeJpeg(t, out);
  case FormatPNG:
    return encodePng(t, out);
  case FormatTIF:
    return encodeTiff(t, out);
  default:
    return encodeBmp(t, out);
  }
}

const char *libraryName(FormatCode format) {
  switch (format) {
  case FormatJPG:
    return "JPEG";
  case FormatGIF:
    return "GIF";
  case FormatPNG:
    return "PNG";
  case FormatTIF:
    return "TIFF";
  default:
    return "BMP";
  }
}

} // namespace

bool HasDirectEncoder(const Magick::Image &image, FormatCode format) {
  return layoutFor(image, format) != Layout::Library;
}

std::string EncodeImage(const Magick::Image &image, FormatCode format, const ByteSink &sink) {
  Output out(sink);
  const Layout layout = layoutFor(image, format);
  try {
    if (layout != Layout::Library && format == FormatGIF)
      return encodeGif(image, out);
    if (layout != Layout::Library) {
      RowReader rows(image.constImage());
      return encodeTarget(format, targetOf(image, format, layout, rows), out);
    }
    Magick::Image copy(image);
    Magick::Blob blob;
    copy.write(&blob, libraryName(format));
    if (!out.write(blob.data(), blob.length()) || !out.flush())
      return kWriteFailed;
    return {};
  } catch (const std::exception &e) {
    return e.what();
  }
}

std::string EncodePage(const RenderedPage &page, FormatCode format, const ByteSink &sink) {
  if (!page.isRgb())
    return EncodeImage(page.image, format, sink);
  if (format == FormatGIF)
    return EncodeImage(page.magick(), format, sink); // colours are reduced by the image library
  Output out(sink);
  RgbRows rows(page.rgb);
  try {
    return encodeTarget(format, targetOf(page.rgb, rows), out);
  } catch (const std::exception &e) {
    return e.what();
  }
}

std::string EncodeImageToFd(const Magick::Image &image, FormatCode format, int fd) {
  int error = 0;
  const std::string reason = EncodeImage(image, format, [fd, &error](const void *data, size_t n) {
    const auto *p = static_cast<const char *>(data);
    while (n > 0) {
      const ssize_t k = ::write(fd, p, n);
      if (k < 0 && errno == EINTR)
        continue;
      if (k <= 0) {
        error = k < 0 ? errno : ENOSPC;
        return false;
      }
      p += k;
      n -= size_t(k);
    }
    return true;
  });
  if (error != 0)
    return std::strerror(error);
  return reason;
}

} // namespace render
