#include "pdf_test_util.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace pdftest {

Picture colourPicture(int width, int height) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.px.push_back(Rgb{static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)),
                         static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)),
                         static_cast<std::uint8_t>((x * 37 + y * 91) & 255)});
  return p;
}

Picture grayPicture(int width, int height) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      auto v = static_cast<std::uint8_t>((x * 7 + y * 29) & 255);
      p.px.push_back(Rgb{v, v, v});
    }
  return p;
}

IndexedPicture indexedPicture(int width, int height, int bits) {
  IndexedPicture p;
  p.width = width;
  p.height = height;
  p.bits = bits;
  int entries = 1 << bits;
  for (int i = 0; i < entries; ++i)
    p.palette.push_back(Rgb{static_cast<std::uint8_t>(i * 53 & 255), static_cast<std::uint8_t>(255 - (i * 17 & 255)),
                            static_cast<std::uint8_t>(i * 101 & 255)});
  if (bits == 1)
    p.palette = {Rgb{250, 240, 10}, Rgb{20, 30, 200}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.index.push_back(static_cast<std::uint8_t>(((x / 3) * 5 + y * 3) % entries));
  return p;
}

Picture IndexedPicture::toPicture() const {
  Picture p{width, height, {}};
  for (std::uint8_t i : index)
    p.px.push_back(palette[i]);
  return p;
}

Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

namespace {

void le16(Bytes &b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void le32(Bytes &b, std::uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}

Bytes bmpFile(int width, int height, int bits, std::uint32_t compression, const std::vector<Rgb> &palette,
              const Bytes &pixels, const BmpOptions &opt) {
  Bytes b;
  std::uint32_t headerSize = opt.core ? 12 : 40;
  std::uint32_t entrySize = opt.core ? 3 : 4;
  std::uint32_t offset = 14 + headerSize + static_cast<std::uint32_t>(palette.size()) * entrySize;
  b.push_back('B');
  b.push_back('M');
  le32(b, offset + static_cast<std::uint32_t>(pixels.size()));
  le32(b, 0);
  le32(b, offset);
  le32(b, headerSize);
  if (opt.core) {
    le16(b, static_cast<std::uint32_t>(width));
    le16(b, static_cast<std::uint32_t>(opt.topDown ? -height : height) & 0xFFFF);
    le16(b, 1);
    le16(b, static_cast<std::uint32_t>(bits));
  } else {
    le32(b, static_cast<std::uint32_t>(width));
    le32(b, static_cast<std::uint32_t>(opt.topDown ? -height : height));
    le16(b, 1);
    le16(b, static_cast<std::uint32_t>(bits));
    le32(b, compression);
    le32(b, static_cast<std::uint32_t>(pixels.size()));
    le32(b, opt.pixelsPerMetre);
    le32(b, opt.pixelsPerMetre);
    le32(b, static_cast<std::uint32_t>(palette.size()));
    le32(b, 0);
  }
  for (const Rgb &c : palette) {
    b.push_back(c.b);
    b.push_back(c.g);
    b.push_back(c.r);
    if (!opt.core)
      b.push_back(0);
  }
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Rows in file order (bottom-up unless topDown).
std::vector<int> fileRows(int height, bool topDown) {
  std::vector<int> rows;
  for (int i = 0; i < height; ++i)
    rows.push_back(topDown ? i : height - 1 - i);
  return rows;
}

} // namespace

Bytes makeBmp(const IndexedPicture &pic, const BmpOptions &opt) {
  Bytes pixels;
  std::size_t stride = ((static_cast<std::size_t>(pic.width) * pic.bits + 31) / 32) * 4;
  for (int y : fileRows(pic.height, opt.topDown)) {
    const std::uint8_t *idx = pic.index.data() + static_cast<std::size_t>(y) * pic.width;
    if (opt.rle) {
      // Runs of equal pixels (at most 255), plus an absolute run for the first few pixels of each row.
      int x = 0;
      if (pic.width >= 6) {
        pixels.push_back(0);
        pixels.push_back(5);
        Bytes lit;
        for (int k = 0; k < 5; ++k) {
          if (pic.bits == 8)
            lit.push_back(idx[k]);
          else if (k % 2 == 0)
            lit.push_back(static_cast<std::uint8_t>(idx[k] << 4 | (k + 1 < 5 ? idx[k + 1] : 0)));
        }
        pixels.insert(pixels.end(), lit.begin(), lit.end());
        if (lit.size() % 2)
          pixels.push_back(0);
        x = 5;
      }
      while (x < pic.width) {
        int n = 1;
        while (x + n < pic.width && n < 255 && idx[x + n] == idx[x])
          ++n;
        pixels.push_back(static_cast<std::uint8_t>(n));
        pixels.push_back(pic.bits == 8 ? idx[x] : static_cast<std::uint8_t>(idx[x] << 4 | idx[x]));
        x += n;
      }
      pixels.push_back(0);
      pixels.push_back(0);
      continue;
    }
    Bytes row(stride, 0);
    for (int x = 0; x < pic.width; ++x) {
      int bitPos = x * pic.bits;
      row[static_cast<std::size_t>(bitPos / 8)] |= static_cast<std::uint8_t>(idx[x] << (8 - pic.bits - bitPos % 8));
    }
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  if (opt.rle) {
    pixels.push_back(0);
    pixels.push_back(1);
  }
  return bmpFile(pic.width, pic.height, pic.bits, opt.rle ? (pic.bits == 8 ? 1 : 2) : 0, pic.palette, pixels, opt);
}

Bytes makeBmp(const Picture &pic, int bits, const BmpOptions &opt) {
  Bytes pixels;
  std::size_t stride = ((static_cast<std::size_t>(pic.width) * bits + 31) / 32) * 4;
  for (int y : fileRows(pic.height, opt.topDown)) {
    Bytes row(stride, 0);
    for (int x = 0; x < pic.width; ++x) {
      Rgb c = pic.at(x, y);
      if (bits == 24) {
        row[x * 3] = c.b;
        row[x * 3 + 1] = c.g;
        row[x * 3 + 2] = c.r;
      } else if (bits == 32) {
        row[x * 4] = c.b;
        row[x * 4 + 1] = c.g;
        row[x * 4 + 2] = c.r;
      } else {
        std::uint32_t v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
        row[x * 2] = static_cast<std::uint8_t>(v);
        row[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
      }
    }
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  return bmpFile(pic.width, pic.height, bits, 0, {}, pixels, opt);
}

Bytes makeGif(const IndexedPicture &pic, const GifOptions &opt) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  le16(b, static_cast<std::uint32_t>(pic.width));
  le16(b, static_cast<std::uint32_t>(pic.height));
  int sizeField = 7;
  std::vector<Rgb> table = pic.palette;
  table.resize(256, Rgb{0, 0, 0});
  b.push_back(static_cast<std::uint8_t>(opt.localTable ? 0 : (0x80 | 0x70 | sizeField)));
  b.push_back(0);
  b.push_back(opt.aspect);
  auto putTable = [&]() {
    for (const Rgb &c : table) {
      b.push_back(c.r);
      b.push_back(c.g);
      b.push_back(c.b);
    }
  };
  if (!opt.localTable)
    putTable();
  // A comment extension, which the reader skips.
  b.insert(b.end(), {0x21, 0xFE, 3, 'a', 'b', 'c', 0});
  if (opt.transparentIndex >= 0)
    b.insert(b.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<std::uint8_t>(opt.transparentIndex), 0});
  b.push_back(0x2C);
  le16(b, 0);
  le16(b, 0);
  le16(b, static_cast<std::uint32_t>(pic.width));
  le16(b, static_cast<std::uint32_t>(pic.height));
  b.push_back(static_cast<std::uint8_t>((opt.interlaced ? 0x40 : 0) | (opt.localTable ? 0x80 | sizeField : 0)));
  if (opt.localTable)
    putTable();
  b.push_back(static_cast<std::uint8_t>(opt.codeSize));
  // Literal codes only, with a clear code often enough that the code width stays at codeSize + 1.
  int width = opt.codeSize + 1;
  std::uint32_t clear = 1u << opt.codeSize, end = clear + 1;
  Bytes data;
  std::uint32_t acc = 0;
  int n = 0;
  auto put = [&](std::uint32_t code) {
    acc |= code << n;
    n += width;
    while (n >= 8) {
      data.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  };
  int sinceClear = 0;
  put(clear);
  for (std::uint8_t i : pic.index) {
    if (sinceClear == (1 << width) - (1 << opt.codeSize) - 4) {
      put(clear);
      sinceClear = 0;
    }
    put(i);
    ++sinceClear;
  }
  put(end);
  if (n > 0)
    data.push_back(static_cast<std::uint8_t>(acc));
  for (std::size_t pos = 0; pos < data.size(); pos += 255) {
    std::size_t len = std::min<std::size_t>(255, data.size() - pos);
    b.push_back(static_cast<std::uint8_t>(len));
    b.insert(b.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + len));
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

namespace {

struct PngWriteBuffer {
  Bytes *out;
};
void pngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto *b = static_cast<PngWriteBuffer *>(png_get_io_ptr(png));
  b->out->insert(b->out->end(), data, data + n);
}
void pngFlush(png_structp) {}

Bytes writePng(int width, int height, int colorType, int bitDepth, bool interlaced, const std::vector<Rgb> *palette,
               const std::vector<Bytes> &rows, std::uint32_t ppm, const png_color_16 *trnsColour, int trnsIndex) {
  Bytes out;
  PngWriteBuffer buf{&out};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &buf, pngWrite, pngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> pal;
  if (palette) {
    for (const Rgb &c : *palette)
      pal.push_back(png_color{c.r, c.g, c.b});
    png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
  }
  if (ppm)
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
  std::vector<png_byte> alphas;
  if (trnsIndex >= 0) {
    alphas.assign(static_cast<std::size_t>(trnsIndex + 1), 255);
    alphas[static_cast<std::size_t>(trnsIndex)] = 0;
    png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
  } else if (trnsColour) {
    png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16 *>(trnsColour));
  }
  png_write_info(png, info);
  std::vector<png_bytep> ptrs;
  for (const Bytes &r : rows)
    ptrs.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

} // namespace

Bytes makePng(const Picture &pic, bool gray, const PngOptions &opt) {
  int channels = (gray ? 1 : 3) + (opt.alpha ? 1 : 0);
  int bytesPerSample = opt.bitDepth == 16 ? 2 : 1;
  std::vector<Bytes> rows;
  for (int y = 0; y < pic.height; ++y) {
    Bytes row;
    for (int x = 0; x < pic.width; ++x) {
      Rgb c = pic.at(x, y);
      std::uint8_t s[4] = {c.r, c.g, c.b, static_cast<std::uint8_t>(x * 11)};
      if (gray)
        s[1] = s[3];
      for (int k = 0; k < channels; ++k) {
        row.push_back(s[k]);
        if (bytesPerSample == 2)
          row.push_back(static_cast<std::uint8_t>(s[k] ^ 0x5A)); // low byte: noise below the 8-bit value
      }
    }
    rows.push_back(row);
  }
  int type = gray ? (opt.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                  : (opt.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_color_16 key{};
  if (opt.transparentFirst) {
    Rgb c = pic.at(0, 0);
    key.gray = c.r;
    key.red = c.r;
    key.green = c.g;
    key.blue = c.b;
  }
  return writePng(pic.width, pic.height, type, opt.bitDepth, opt.interlaced, nullptr, rows, opt.pixelsPerMetre,
                  opt.transparentFirst ? &key : nullptr, -1);
}

Bytes makePng(const IndexedPicture &pic, const PngOptions &opt) {
  std::vector<Bytes> rows;
  for (int y = 0; y < pic.height; ++y) {
    Bytes row((static_cast<std::size_t>(pic.width) * pic.bits + 7) / 8, 0);
    for (int x = 0; x < pic.width; ++x) {
      int bitPos = x * pic.bits;
      row[static_cast<std::size_t>(bitPos / 8)] |= static_cast<std::uint8_t>(
          pic.index[static_cast<std::size_t>(y) * pic.width + x] << (8 - pic.bits - bitPos % 8));
    }
    rows.push_back(row);
  }
  return writePng(pic.width, pic.height, PNG_COLOR_TYPE_PALETTE, pic.bits, opt.interlaced, &pic.palette, rows,
                  opt.pixelsPerMetre, nullptr, opt.transparentFirst ? 0 : -1);
}

namespace {

struct TiffMemory {
  Bytes data;
  std::uint64_t pos = 0;
};
tmsize_t tmRead(thandle_t h, void *buf, tmsize_t n) {
  auto *m = static_cast<TiffMemory *>(h);
  std::size_t avail = m->pos < m->data.size() ? m->data.size() - m->pos : 0;
  std::size_t take = std::min<std::size_t>(avail, static_cast<std::size_t>(n));
  std::memcpy(buf, m->data.data() + m->pos, take);
  m->pos += take;
  return static_cast<tmsize_t>(take);
}
tmsize_t tmWrite(thandle_t h, void *buf, tmsize_t n) {
  auto *m = static_cast<TiffMemory *>(h);
  if (m->pos + static_cast<std::uint64_t>(n) > m->data.size())
    m->data.resize(m->pos + static_cast<std::size_t>(n));
  std::memcpy(m->data.data() + m->pos, buf, static_cast<std::size_t>(n));
  m->pos += static_cast<std::uint64_t>(n);
  return n;
}
toff_t tmSeek(thandle_t h, toff_t off, int whence) {
  auto *m = static_cast<TiffMemory *>(h);
  std::uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->data.size() : 0;
  m->pos = base + off;
  return m->pos;
}
int tmClose(thandle_t) { return 0; }
toff_t tmSize(thandle_t h) { return static_cast<TiffMemory *>(h)->data.size(); }
int tmMap(thandle_t, void **, toff_t *) { return 0; }
void tmUnmap(thandle_t, void *, toff_t) {}

// Writes a TIFF; rows are the samples of each row already packed.
Bytes writeTiff(int width, int height, int spp, int bits, int photometric, const TiffOptions &opt,
                const std::vector<Bytes> &rows, const std::vector<Rgb> *palette) {
  TiffMemory mem;
  TIFF *t = TIFFClientOpen("mem", opt.bigEndian ? "wb" : "wl", &mem, tmRead, tmWrite, tmSeek, tmClose, tmSize, tmMap,
                           tmUnmap);
  if (!t)
    return {};
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, opt.compression);
  TIFFSetField(t, TIFFTAG_ORIENTATION, opt.orientation);
  if (opt.alpha) {
    std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (opt.predictor != 1)
    TIFFSetField(t, TIFFTAG_PREDICTOR, opt.predictor);
  if (opt.inkSet)
    TIFFSetField(t, TIFFTAG_INKSET, opt.inkSet);
  if (opt.compression == COMPRESSION_CCITTFAX3)
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, opt.group3Options);
  if (opt.resolution > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(opt.resolution));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(opt.resolution));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  std::vector<std::uint16_t> r, g, b;
  if (palette) {
    for (const Rgb &c : *palette) {
      r.push_back(static_cast<std::uint16_t>(c.r * 257));
      g.push_back(static_cast<std::uint16_t>(c.g * 257));
      b.push_back(static_cast<std::uint16_t>(c.b * 257));
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
  }
  if (opt.tiled) {
    // (libtiff's RGBA reader rejects uncompressed tiles below 1024 bytes, so the tiles are 32 x 32.)
    const int kTile = 32;
    TIFFSetField(t, TIFFTAG_TILEWIDTH, kTile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, kTile);
    tmsize_t tileSize = TIFFTileSize(t);
    std::size_t bytesPerPixel = static_cast<std::size_t>(spp * bits / 8);
    for (int ty = 0; ty < height; ty += kTile)
      for (int tx = 0; tx < width; tx += kTile) {
        Bytes tile(static_cast<std::size_t>(tileSize), 0);
        for (int y = ty; y < std::min(height, ty + kTile); ++y)
          for (int x = tx; x < std::min(width, tx + kTile); ++x)
            std::memcpy(tile.data() + ((y - ty) * kTile + (x - tx)) * bytesPerPixel,
                        rows[static_cast<std::size_t>(y)].data() + x * bytesPerPixel, bytesPerPixel);
        TIFFWriteTile(t, tile.data(), static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty), 0, 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, opt.rowsPerStrip > 0 ? opt.rowsPerStrip : height);
    for (int y = 0; y < height; ++y)
      TIFFWriteScanline(t, const_cast<std::uint8_t *>(rows[static_cast<std::size_t>(y)].data()),
                        static_cast<std::uint32_t>(y), 0);
  }
  TIFFClose(t);
  return mem.data;
}

} // namespace

Bytes makeTiff(const Picture &pic, bool gray, const TiffOptions &opt) {
  int spp = opt.cmyk ? 4 : (gray ? 1 : 3) + (opt.alpha ? 1 : 0);
  std::vector<Bytes> rows;
  for (int y = 0; y < pic.height; ++y) {
    Bytes row;
    for (int x = 0; x < pic.width; ++x) {
      Rgb c = pic.at(x, y);
      std::uint8_t s[4] = {c.r, c.g, c.b, 200};
      if (opt.cmyk) {
        s[0] = static_cast<std::uint8_t>(255 - c.r);
        s[1] = static_cast<std::uint8_t>(255 - c.g);
        s[2] = static_cast<std::uint8_t>(255 - c.b);
        s[3] = 0;
      }
      if (gray && opt.minIsWhite)
        s[0] = static_cast<std::uint8_t>(255 - s[0]);
      if (gray)
        s[1] = 200;
      for (int k = 0; k < spp; ++k) {
        if (opt.bits == 16) {
          std::uint16_t v = static_cast<std::uint16_t>(s[k] << 8 | (s[k] ^ 0x33));
          std::uint8_t two[2];
          std::memcpy(two, &v, 2); // host order, as libtiff expects
          row.push_back(two[0]);
          row.push_back(two[1]);
        } else {
          row.push_back(s[k]);
        }
      }
    }
    rows.push_back(row);
  }
  int photometric = opt.cmyk ? PHOTOMETRIC_SEPARATED
                    : gray   ? (opt.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK)
                             : PHOTOMETRIC_RGB;
  return writeTiff(pic.width, pic.height, spp, opt.bits == 16 ? 16 : 8, photometric, opt, rows, nullptr);
}

Bytes makeTiff(const IndexedPicture &pic, const TiffOptions &opt) {
  std::vector<Bytes> rows;
  for (int y = 0; y < pic.height; ++y) {
    Bytes row((static_cast<std::size_t>(pic.width) * pic.bits + 7) / 8, 0);
    for (int x = 0; x < pic.width; ++x) {
      int bitPos = x * pic.bits;
      row[static_cast<std::size_t>(bitPos / 8)] |= static_cast<std::uint8_t>(
          pic.index[static_cast<std::size_t>(y) * pic.width + x] << (8 - pic.bits - bitPos % 8));
    }
    rows.push_back(row);
  }
  return writeTiff(pic.width, pic.height, 1, pic.bits, PHOTOMETRIC_PALETTE, opt, rows, &pic.palette);
}

Bytes makeBilevelTiff(const std::vector<bool> &black, int width, int height, const TiffOptions &opt) {
  std::vector<Bytes> rows;
  for (int y = 0; y < height; ++y) {
    Bytes row((static_cast<std::size_t>(width) + 7) / 8, 0);
    for (int x = 0; x < width; ++x) {
      bool one = black[static_cast<std::size_t>(y) * width + x] == opt.minIsWhite;
      if (one)
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    rows.push_back(row);
  }
  return writeTiff(width, height, 1, 1, opt.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK, opt, rows,
                   nullptr);
}

int run(const std::string &program, const std::vector<std::string> &args, std::string *out) {
  QProcess p;
  QStringList list;
  for (const std::string &a : args)
    list << QString::fromStdString(a);
  p.start(QString::fromStdString(program), list);
  if (!p.waitForStarted(10000))
    return -1;
  p.waitForFinished(120000);
  if (out)
    *out = p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString();
  if (p.exitStatus() != QProcess::NormalExit)
    return -1;
  return p.exitCode();
}

bool qpdfCheck(const std::string &pdf, std::string *report) {
  std::string out;
  int rc = run("qpdf", {"--check", pdf}, &out);
  if (report)
    *report = out;
  return rc == 0 && out.find("No syntax or stream encoding errors found") != std::string::npos;
}

std::vector<PageSize> pageSizes(const std::string &pdf) {
  std::string out;
  std::vector<PageSize> sizes;
  if (run("pdfinfo", {"-f", "1", "-l", "100000", pdf}, &out) != 0)
    return sizes;
  std::regex re(R"(Page\s+\d+ size:\s+([0-9.]+) x ([0-9.]+) pts)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it)
    sizes.push_back(PageSize{std::stod((*it)[1]), std::stod((*it)[2])});
  return sizes;
}

Picture renderPage(const std::string &pdf, int page, double dpi) {
  QTemporaryDir dir;
  std::string prefix = dir.path().toStdString() + "/page";
  // The renderer smooths images drawn at less than four times their size, so render at four times the resolution
  // (nearest-neighbour enlargement) and take the centre of each 4 x 4 block.
  char r[32];
  std::snprintf(r, sizeof r, "%g", dpi * 4);
  std::string n = std::to_string(page);
  if (run("pdftoppm", {"-r", r, "-f", n, "-l", n, "-singlefile", "-aa", "no", "-aaVector", "no", pdf, prefix}) != 0)
    return {};
  Bytes ppm = readFile(prefix + ".ppm");
  // P6 header: magic, width, height, max value, each followed by white space.
  std::size_t pos = 0;
  auto token = [&]() {
    while (pos < ppm.size() && std::isspace(ppm[pos]))
      ++pos;
    std::size_t start = pos;
    while (pos < ppm.size() && !std::isspace(ppm[pos]))
      ++pos;
    return std::string(ppm.begin() + static_cast<long>(start), ppm.begin() + static_cast<long>(pos));
  };
  if (token() != "P6")
    return {};
  int w4 = std::stoi(token());
  int h4 = std::stoi(token());
  token();
  ++pos;
  std::size_t need = static_cast<std::size_t>(w4) * h4 * 3;
  if (ppm.size() < pos + need)
    return {};
  Picture pic;
  pic.width = w4 / 4;
  pic.height = h4 / 4;
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x) {
      std::size_t i = pos + (static_cast<std::size_t>(y * 4 + 2) * w4 + (x * 4 + 2)) * 3;
      pic.px.push_back(Rgb{ppm[i], ppm[i + 1], ppm[i + 2]});
    }
  return pic;
}

int maxDifference(const Picture &a, const Picture &b) {
  if (a.width != b.width || a.height != b.height || a.px.size() != b.px.size())
    return -1;
  int worst = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i) {
    worst = std::max(worst, std::abs(a.px[i].r - b.px[i].r));
    worst = std::max(worst, std::abs(a.px[i].g - b.px[i].g));
    worst = std::max(worst, std::abs(a.px[i].b - b.px[i].b));
  }
  return worst;
}

double meanDifference(const Picture &a, const Picture &b) {
  if (a.width != b.width || a.height != b.height || a.px.empty())
    return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i)
    sum += std::abs(a.px[i].r - b.px[i].r) + std::abs(a.px[i].g - b.px[i].g) + std::abs(a.px[i].b - b.px[i].b);
  return sum / (3.0 * a.px.size());
}

std::string objectText(const std::string &pdf, long number) {
  std::size_t sx = pdf.rfind("startxref\n");
  if (sx == std::string::npos)
    return {};
  long xref = std::stol(pdf.substr(sx + 10));
  if (xref < 0 || static_cast<std::size_t>(xref) >= pdf.size() ||
      pdf.compare(static_cast<std::size_t>(xref), 5, "xref\n"))
    return {};
  std::size_t line = pdf.find('\n', static_cast<std::size_t>(xref) + 5); // "0 N"
  std::size_t entry = line + 1 + static_cast<std::size_t>(number) * 20;
  if (entry + 20 > pdf.size())
    return {};
  long offset = std::stol(pdf.substr(entry, 10));
  std::size_t end = pdf.find("endobj\n", static_cast<std::size_t>(offset));
  // Streams may hold the word; skip over their data by the stream end marker.
  std::size_t streamEnd = pdf.find("\nendstream\n", static_cast<std::size_t>(offset));
  std::size_t streamStart = pdf.find("stream\n", static_cast<std::size_t>(offset));
  if (streamStart != std::string::npos && streamStart < end && streamEnd != std::string::npos)
    end = pdf.find("endobj\n", streamEnd);
  if (end == std::string::npos)
    return {};
  return pdf.substr(static_cast<std::size_t>(offset), end + 7 - static_cast<std::size_t>(offset));
}

std::string streamBytes(const std::string &pdf, long number) {
  std::string obj = objectText(pdf, number);
  std::size_t s = obj.find(">>\nstream\n");
  std::size_t e = obj.rfind("\nendstream\n");
  if (s == std::string::npos || e == std::string::npos || e < s + 10)
    return {};
  return obj.substr(s + 10, e - s - 10);
}

std::string inflate(const std::string &data) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK)
    return {};
  std::string out;
  char buf[16384];
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef *>(buf);
    z.avail_out = sizeof buf;
    rc = ::inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string();
}

} // namespace pdftest
