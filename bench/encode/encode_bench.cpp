// Writing one A4 page at 300 dpi (2481 x 3508, drawn at factor 3) in every format and option set, side by side with
// the format library encoding the same 8-bit pixels with the same settings:
//   ours_ms     the format options and our encoder (what the program does after drawing a page; a true colour
//               page is drawn as an 8-bit page and has no option step),
//   library_ms  libjpeg, libpng, libtiff or giflib fed from a ready 8-bit buffer (BMP: the rows copied into the
//               file layout), and quantiser_ms the same colour reduction (the image library's quantiser for the
//               palette and grey options, its grey conversion for grey JPEG, its two-colour reduction for black and
//               white), each the best of three;
//   encode_ratio our encoder against the bare library, write_ratio options and encoder against reduction and library,
//   magick_ms   the format options and the image library's own writer (how pages were written before),
// the best of three runs each, their ratio ours/library, and the file sizes. Files go to memory: the disk is
// measured by the fxrender benchmark.
#include "render/encoding.h"
#include "render/image_library.h"
#include "render/image_writer.h"
#include "render/rasteriser.h"
#include "settings/settings.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <functional>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <vector>

using MagickCore::Quantum;

namespace {

struct Case {
  const char *name;
  render::FormatCode format;
  std::function<void(Settings &)> set;
};

const Case kCases[] = {
    {"JPG q90 progressive", render::FormatJPG, [](Settings &) {}},
    {"JPG q90 baseline", render::FormatJPG, [](Settings &s) { s.JPG_Progress = 0; }},
    {"JPG q75 grey", render::FormatJPG,
     [](Settings &s) {
       s.JPG_Quality = 75;
       s.JPG_Gray = 1;
     }},
    {"GIF 64 interlaced", render::FormatGIF, [](Settings &) {}},
    {"GIF 256 dither", render::FormatGIF,
     [](Settings &s) {
       s.GIF_Colors = 256;
       s.GIF_Dither = 1;
       s.GIF_Interlace = 0;
     }},
    {"GIF 16 grey", render::FormatGIF,
     [](Settings &s) {
       s.GIF_IndexGray = 1;
       s.GIF_Colors = 16;
     }},
    {"PNG true interlaced", render::FormatPNG, [](Settings &) {}},
    {"PNG true", render::FormatPNG, [](Settings &s) { s.PNG_Interlace = 0; }},
    {"PNG indexed 64", render::FormatPNG, [](Settings &s) { s.PNG_TrueIndexGray = 1; }},
    {"PNG grey 16", render::FormatPNG,
     [](Settings &s) {
       s.PNG_TrueIndexGray = 2;
       s.PNG_Colors = 16;
       s.PNG_Interlace = 0;
     }},
    {"TIF true LZW", render::FormatTIF, [](Settings &) {}},
    {"TIF true", render::FormatTIF, [](Settings &s) { s.TIF_Lzw = 0; }},
    {"TIF palette 64 LZW", render::FormatTIF, [](Settings &s) { s.TIF_TrueIndexGray = 1; }},
    {"TIF grey 64 LZW", render::FormatTIF, [](Settings &s) { s.TIF_TrueIndexGray = 2; }},
    {"TIF bilevel LZW", render::FormatTIF, [](Settings &s) { s.TIF_TrueIndexGray = 3; }},
    {"BMP", render::FormatBMP, [](Settings &) {}},
};

// A page of text from a real print job and a page of colour gradients and blended pictures.
const char *kPages[] = {"stories2-00035-p1.emf", "gen-16-alphablend-gradient.emf"};
const char *kPageKinds[] = {"text", "picture"};

Magick::Image renderPage(int which) {
  Settings &s = settings();
  s = Settings{};
  s.KodAntialias = 3;
  render::RenderOptions o;
  o.outputMode = 2;
  const emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(std::string(FOLVEX_TEST_DATA "/fidelity/") + kPages[which]);
  Magick::Image img = render::RenderPage(300, mf, 0, o);
  img.resolutionUnits(MagickCore::PixelsPerInchResolution);
  img.density(Magick::Geometry(300, 300));
  return img;
}

const Magick::Image &page(int which) {
  static Magick::Image pages[2] = {renderPage(0), renderPage(1)};
  return pages[which];
}

// The same page drawn as the program draws pages for true colour files: 8-bit, without the image library.
render::RgbPage renderRgbPage(int which) {
  Settings &s = settings();
  s = Settings{};
  s.KodAntialias = 3;
  const emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(std::string(FOLVEX_TEST_DATA "/fidelity/") + kPages[which]);
  return render::RenderPageForWriting(300, mf, 0).rgb;
}

const render::RgbPage &rgbPage(int which) {
  static render::RgbPage pages[2] = {renderRgbPage(0), renderRgbPage(1)};
  return pages[which];
}

double msSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// ---- the libraries fed from 8-bit buffers ----

struct Pixels {
  int width = 0, height = 0, channels = 3; // 3 RGB, 1 grey or palette index
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> palette; // RGB triples
  const uint8_t *row(int y) const { return bytes.data() + size_t(y) * size_t(width) * size_t(channels); }
};

Pixels pixelsOf(const Magick::Image &img, bool indexes) {
  Pixels p;
  p.width = int(img.columns());
  p.height = int(img.rows());
  const MagickCore::Image *im = img.constImage();
  const bool gray = im->colorspace == MagickCore::GRAYColorspace;
  p.channels = indexes || gray ? 1 : 3;
  p.bytes.resize(size_t(p.width) * size_t(p.height) * size_t(p.channels));
  if (indexes) {
    for (size_t i = 0; i < im->colors; ++i)
      for (Quantum q : {im->colormap[i].red, im->colormap[i].green, im->colormap[i].blue})
        p.palette.push_back(uint8_t(q / 257));
    for (int y = 0; y < p.height; ++y) {
      img.getConstPixels(0, y, size_t(p.width), 1);
      const MagickCore::IndexPacket *ix = img.getConstIndexes();
      for (int x = 0; x < p.width; ++x)
        p.bytes[size_t(y) * size_t(p.width) + size_t(x)] = uint8_t(ix[x]);
    }
  } else {
    Magick::Image copy(img);
    copy.write(0, 0, size_t(p.width), size_t(p.height), gray ? "R" : "RGB", Magick::CharPixel, p.bytes.data());
  }
  return p;
}

struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

size_t libraryJpeg(const Pixels &p, int quality, bool progressive) {
  jpeg_compress_struct c{};
  JpegErr err{};
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = [](j_common_ptr ci) { std::longjmp(reinterpret_cast<JpegErr *>(ci->err)->jump, 1); };
  unsigned char *out = nullptr;
  unsigned long size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    return 0;
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(p.width);
  c.image_height = JDIMENSION(p.height);
  c.input_components = p.channels;
  c.in_color_space = p.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (quality >= 90)
    for (int i = 0; i < MAX_COMPONENTS; ++i)
      c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  c.optimize_coding = TRUE;
  c.dct_method = JDCT_FLOAT;
  if (progressive)
    jpeg_simple_progression(&c);
  c.density_unit = 1;
  c.X_density = c.Y_density = 300;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<uint8_t *>(p.row(int(c.next_scanline)));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  free(out);
  return size;
}

size_t libraryPng(const Pixels &p, bool interlace, int colourType, int bits) {
  std::vector<uint8_t> file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(
      png, &file,
      [](png_structp s, png_bytep d, size_t n) {
        auto *f = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(s));
        f->insert(f->end(), d, d + n);
      },
      nullptr);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), bits, colourType,
               interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> pal;
  for (size_t i = 0; i + 2 < p.palette.size(); i += 3)
    pal.push_back(png_color{p.palette[i], p.palette[i + 1], p.palette[i + 2]});
  if (colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, pal.data(), int(pal.size()));
  png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  if (bits < 8)
    png_set_packing(png);
  std::vector<png_bytep> rows(size_t(p.height));
  for (int y = 0; y < p.height; ++y)
    rows[size_t(y)] = const_cast<uint8_t *>(p.row(y));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return file.size();
}

struct MemTiff {
  std::vector<uint8_t> data;
  size_t pos = 0;
};

size_t libraryTiff(const Pixels &p, bool lzw, int photometric, int bits) {
  MemTiff f;
  TIFF *t = TIFFClientOpen(
      "bench", "w", &f,
      [](thandle_t h, void *b, tmsize_t n) {
        auto *m = static_cast<MemTiff *>(h);
        const size_t k = std::min(size_t(n), m->data.size() - std::min(m->pos, m->data.size()));
        std::memcpy(b, m->data.data() + m->pos, k);
        m->pos += k;
        return tmsize_t(k);
      },
      [](thandle_t h, void *b, tmsize_t n) {
        auto *m = static_cast<MemTiff *>(h);
        if (m->pos + size_t(n) > m->data.size())
          m->data.resize(m->pos + size_t(n));
        std::memcpy(m->data.data() + m->pos, b, size_t(n));
        m->pos += size_t(n);
        return n;
      },
      [](thandle_t h, toff_t off, int whence) {
        auto *m = static_cast<MemTiff *>(h);
        m->pos = size_t((whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data.size()) + off);
        return toff_t(m->pos);
      },
      [](thandle_t) { return 0; }, [](thandle_t h) { return toff_t(static_cast<MemTiff *>(h)->data.size()); },
      [](thandle_t, void **, toff_t *) { return 0; }, [](thandle_t, void *, toff_t) {});
  const int samples = photometric == PHOTOMETRIC_RGB ? 3 : 1;
  const size_t rowBytes = (size_t(p.width) * size_t(samples) * size_t(bits) + 7) / 8;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(lzw ? COMPRESSION_LZW : COMPRESSION_NONE));
  if (lzw && bits == 8 && photometric != PHOTOMETRIC_PALETTE)
    TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL));
  uint32_t rowsPerStrip = uint32_t((size_t(1) << 20) / rowBytes);
  rowsPerStrip =
      std::clamp<uint32_t>(rowsPerStrip >= 16 ? rowsPerStrip - rowsPerStrip % 16 : rowsPerStrip, 1, uint32_t(p.height));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  std::vector<uint16_t> map;
  if (photometric == PHOTOMETRIC_PALETTE) {
    const size_t n = size_t(1) << bits;
    map.assign(3 * n, 0);
    for (size_t i = 0; i * 3 + 2 < p.palette.size() && i < n; ++i)
      for (int c = 0; c < 3; ++c)
        map[size_t(c) * n + i] = uint16_t(p.palette[i * 3 + size_t(c)] * 257);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  std::vector<uint8_t> line(rowBytes);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t *src = p.row(y);
    if (bits == 1) {
      std::fill(line.begin(), line.end(), 0);
      for (int x = 0; x < p.width; ++x)
        if (src[x] >= 128)
          line[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      TIFFWriteScanline(t, line.data(), uint32_t(y), 0);
    } else {
      TIFFWriteScanline(t, const_cast<uint8_t *>(src), uint32_t(y), 0);
    }
  }
  TIFFWriteDirectory(t);
  TIFFClose(t);
  return f.data.size();
}

size_t libraryGif(const Pixels &p, bool interlace) {
  std::vector<uint8_t> file;
  int err = 0;
  GifFileType *gif = EGifOpen(
      &file,
      [](GifFileType *g, const GifByteType *d, int n) {
        auto *f = static_cast<std::vector<uint8_t> *>(g->UserData);
        f->insert(f->end(), d, d + n);
        return n;
      },
      &err);
  const size_t colours = p.palette.size() / 3;
  int bits = 1;
  while ((size_t(1) << bits) < colours)
    ++bits;
  std::vector<GifColorType> cols(size_t(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < colours; ++i)
    cols[i] = GifColorType{p.palette[3 * i], p.palette[3 * i + 1], p.palette[3 * i + 2]};
  ColorMapObject *map = GifMakeMapObject(int(cols.size()), cols.data());
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, p.width, p.height, bits, 0, map);
  EGifPutImageDesc(gif, 0, 0, p.width, p.height, interlace, nullptr);
  static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < (interlace ? 4 : 1); ++pass)
    for (int y = interlace ? start[pass] : 0; y < p.height; y += interlace ? step[pass] : 1)
      EGifPutLine(gif, const_cast<uint8_t *>(p.row(y)), p.width);
  EGifCloseFile(gif, &err);
  GifFreeMapObject(map);
  return file.size();
}

size_t libraryBmp(const Pixels &p) {
  const size_t rowBytes = (size_t(p.width) * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> file(54 + rowBytes * size_t(p.height));
  for (int y = 0; y < p.height; ++y) {
    const uint8_t *s = p.row(p.height - 1 - y);
    uint8_t *d = file.data() + 54 + size_t(y) * rowBytes;
    for (int x = 0; x < p.width; ++x) {
      d[3 * x] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x];
    }
  }
  return file.size();
}

// The colour reduction the option set asks for, with the image library's quantiser, once (no earlier reduction to
// 256 colours): what the library baseline needs before it can encode indexes. Grey JPEG and black and white TIFF
// pages are reduced by the image library's grey conversion and its two-colour reduction.
bool needsQuantiser(const Case &c, const Settings &s) {
  return c.format == render::FormatGIF || (c.format == render::FormatPNG && s.PNG_TrueIndexGray != 0) ||
         (c.format == render::FormatTIF && s.TIF_TrueIndexGray != 0) || (c.format == render::FormatJPG && s.JPG_Gray);
}
void quantiseOnce(Magick::Image &img, const Case &c, const Settings &s) {
  if (c.format == render::FormatJPG) {
    img.type(Magick::GrayscaleType);
    return;
  }
  if (c.format == render::FormatTIF && s.TIF_TrueIndexGray == 3) {
    img.type(Magick::BilevelType);
    return;
  }
  const bool grey = (c.format == render::FormatGIF && s.GIF_IndexGray) ||
                    (c.format == render::FormatPNG && s.PNG_TrueIndexGray == 2) ||
                    (c.format == render::FormatTIF && s.TIF_TrueIndexGray == 2);
  const int colours = c.format == render::FormatGIF   ? s.GIF_Colors
                      : c.format == render::FormatPNG ? s.PNG_Colors
                                                      : s.TIF_Colors;
  if (grey)
    img.type(Magick::GrayscaleType);
  img.quantizeColors(size_t(colours));
  if ((c.format == render::FormatGIF && s.GIF_Dither) || (c.format == render::FormatPNG && s.PNG_Dither))
    img.quantizeDither(true);
  img.quantize(false);
}

size_t libraryWrite(const Case &c, const Settings &s, const Pixels &p) {
  switch (c.format) {
  case render::FormatJPG:
    return libraryJpeg(p, s.JPG_Quality, s.JPG_Progress);
  case render::FormatPNG: {
    const int type = s.PNG_TrueIndexGray == 0   ? PNG_COLOR_TYPE_RGB
                     : s.PNG_TrueIndexGray == 1 ? PNG_COLOR_TYPE_PALETTE
                                                : PNG_COLOR_TYPE_GRAY;
    const size_t colours = p.palette.size() / 3;
    const int bits = type == PNG_COLOR_TYPE_PALETTE ? (colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8) : 8;
    return libraryPng(p, s.PNG_Interlace, type, bits);
  }
  case render::FormatTIF: {
    const int photometric = s.TIF_TrueIndexGray == 0   ? PHOTOMETRIC_RGB
                            : s.TIF_TrueIndexGray == 1 ? PHOTOMETRIC_PALETTE
                                                       : PHOTOMETRIC_MINISBLACK;
    const size_t colours = p.palette.size() / 3;
    const int bits = s.TIF_TrueIndexGray == 3   ? 1
                     : s.TIF_TrueIndexGray == 1 ? (colours <= 2    ? 1
                                                   : colours <= 4  ? 2
                                                   : colours <= 16 ? 4
                                                                   : 8)
                                                : 8;
    return libraryTiff(p, s.TIF_Lzw, photometric, bits);
  }
  case render::FormatGIF:
    return libraryGif(p, s.GIF_Interlace);
  default:
    return libraryBmp(p);
  }
}

void BM_WritePage(benchmark::State &state) {
  const Case &c = kCases[state.range(0)];
  const Magick::Image &rendered = page(int(state.range(1)));
  if (rendered.columns() == 0) {
    state.SkipWithError("the sample page is missing");
    return;
  }
  Settings s;
  c.set(s);
  s.JPG_Default = c.format == render::FormatJPG;
  s.GIF_Default = c.format == render::FormatGIF;
  s.PNG_Default = c.format == render::FormatPNG;
  s.TIF_Default = c.format == render::FormatTIF;

  // The library's input: the same 8-bit pixels our encoder gets, after the format options (grey, black and white,
  // reduced colours); the quantiser is timed on its own for the options that reduce colours.
  Magick::Image prepared = rendered;
  render::ApplyFormatOptionSet(prepared, c.format, s);
  const bool quantised = needsQuantiser(c, s);
  const MagickCore::Image *pim = prepared.constImage();
  // Palette options give the library colour map indexes (a grey page keeps a grey colour map); the others samples.
  const bool indexes = pim->storage_class == MagickCore::PseudoClass &&
                       (c.format == render::FormatGIF || (c.format == render::FormatPNG && s.PNG_TrueIndexGray == 1) ||
                        (c.format == render::FormatTIF && s.TIF_TrueIndexGray == 1));
  const Pixels pixels = pixelsOf(prepared, indexes);
  const bool eightBit = render::RgbPageSuits(c.format, s);
  if (eightBit && rgbPage(int(state.range(1))).empty()) {
    state.SkipWithError("the 8-bit page cannot be drawn");
    return;
  }

  double options = 1e9, encode = 1e9, quantiser = 1e9, library = 1e9, magick = 1e9;
  size_t oursBytes = 0, libraryBytes = 0, magickBytes = 0;
  for (auto _ : state) {
    for (int run = 0; run < 3; ++run) {
      // What the program writes: a true colour page as its 8-bit page, with the options it carries; any other
      // as the image library's page after the format options.
      render::RenderedPage written;
      auto t = std::chrono::steady_clock::now();
      if (eightBit) {
        render::RgbPage p = rgbPage(int(state.range(1)));
        render::SetRgbPageOptions(p, c.format, s, 300);
        written = render::RenderedPage(std::move(p));
        options = 0;
      } else {
        Magick::Image img = rendered;
        img.modifyImage(); // the page's own pixels, as after a render
        t = std::chrono::steady_clock::now();
        render::ApplyFormatOptionSet(img, c.format, s);
        options = std::min(options, msSince(t));
        written = render::RenderedPage(std::move(img));
      }
      t = std::chrono::steady_clock::now();
      std::vector<uint8_t> file;
      file.reserve(oursBytes); // room as the baselines have it (from the run before): the copy is not timed twice
      const std::string why = render::EncodePage(written, c.format, [&](const void *d, size_t n) {
        file.insert(file.end(), static_cast<const uint8_t *>(d), static_cast<const uint8_t *>(d) + n);
        return true;
      });
      encode = std::min(encode, msSince(t));
      oursBytes = file.size();
      if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
      }

      if (quantised) {
        Magick::Image q = rendered;
        q.modifyImage();
        t = std::chrono::steady_clock::now();
        quantiseOnce(q, c, s);
        quantiser = std::min(quantiser, msSince(t));
      }
      t = std::chrono::steady_clock::now();
      libraryBytes = libraryWrite(c, s, pixels);
      library = std::min(library, msSince(t));

      if (run == 0) {
        Magick::Image m = rendered;
        m.modifyImage();
        t = std::chrono::steady_clock::now();
        render::ApplyFormatOptionSet(m, c.format, s);
        Magick::Blob blob;
        m.write(&blob, c.format == render::FormatJPG   ? "JPEG"
                       : c.format == render::FormatGIF ? "GIF"
                       : c.format == render::FormatPNG ? "PNG"
                       : c.format == render::FormatTIF ? "TIFF"
                                                       : "BMP");
        magick = std::min(magick, msSince(t));
        magickBytes = blob.length();
        // FOLVEX_BENCH_DUMP=DIR keeps both files of every case for inspection.
        if (const QByteArray dir = qgetenv("FOLVEX_BENCH_DUMP"); !dir.isEmpty()) {
          const std::string base = dir.toStdString() + "/" + std::to_string(state.range(0)) + "-" +
                                   std::to_string(state.range(1)) + render::FormatExtension(c.format);
          std::ofstream(base + ".magick", std::ios::binary)
              .write(static_cast<const char *>(blob.data()), std::streamsize(blob.length()));
          std::ofstream(base + ".ours", std::ios::binary)
              .write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
        }
      }
    }
  }
  state.counters["options_ms"] = options;
  state.counters["encode_ms"] = encode;
  state.counters["library_ms"] = library;
  state.counters["encode_ratio"] = encode / library;
  if (!quantised)
    quantiser = 0;
  state.counters["quantiser_ms"] = quantiser;
  state.counters["write_ratio"] = (options + encode) / (quantiser + library);
  state.counters["magick_ms"] = magick;
  state.counters["ours_KB"] = double(oursBytes) / 1024;
  state.counters["library_KB"] = double(libraryBytes) / 1024;
  state.counters["magick_KB"] = double(magickBytes) / 1024;
  state.SetLabel(std::string(c.name) + ", " + kPageKinds[state.range(1)] + " page" +
                 (eightBit                                       ? " (8-bit page)"
                  : render::HasDirectEncoder(prepared, c.format) ? ""
                                                                 : " (written by the image library)"));
}
BENCHMARK(BM_WritePage)
    ->ArgsProduct({benchmark::CreateDenseRange(0, int(std::size(kCases)) - 1, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

int main(int argc, char **argv) {
  QTemporaryDir tmp;
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  qputenv("FOLVEX_REGISTRY_DIR", (tmp.path() + QStringLiteral("/registry")).toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
