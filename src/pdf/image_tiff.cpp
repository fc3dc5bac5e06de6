#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstring>

namespace pdf::detail {

namespace {

struct TiffClient {
  std::shared_ptr<Source> src;
  std::uint64_t pos = 0;
  std::string lastError;
};

tmsize_t tiffRead(thandle_t h, void *buf, tmsize_t size) {
  auto *c = static_cast<TiffClient *>(h);
  if (size <= 0)
    return 0;
  std::size_t got = c->src->readAt(c->pos, buf, static_cast<std::size_t>(size));
  c->pos += got;
  return static_cast<tmsize_t>(got);
}
tmsize_t tiffWrite(thandle_t, void *, tmsize_t) { return 0; }
toff_t tiffSeek(thandle_t h, toff_t off, int whence) {
  auto *c = static_cast<TiffClient *>(h);
  std::uint64_t base = whence == SEEK_CUR ? c->pos : whence == SEEK_END ? c->src->size() : 0;
  c->pos = base + off;
  return c->pos;
}
int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t h) { return static_cast<TiffClient *>(h)->src->size(); }
int tiffMap(thandle_t, void **, toff_t *) { return 0; }
void tiffUnmap(thandle_t, void *, toff_t) {}

int tiffError(TIFF *, void *user, const char *, const char *fmt, va_list ap) {
  auto *c = static_cast<TiffClient *>(user);
  char buf[256];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  c->lastError = buf;
  return 1;
}
int tiffWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(TiffClient &client, std::uint64_t memoryLimit) {
  std::uint8_t head[4];
  if (!client.src->readFully(0, head, 4))
    return nullptr;
  bool ii = head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
  bool mm = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
  if (!ii && !mm)
    return nullptr;
  TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
  if (!opts)
    return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(opts, tiffError, &client);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, tiffWarning, &client);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(memoryLimit));
  client.pos = 0;
  TIFF *t = TIFFClientOpenExt("image", "rm", &client, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                              tiffUnmap, opts);
  TIFFOpenOptionsFree(opts);
  return TiffPtr(t);
}

// The most a strip of `compression` can grow when decoded, per byte of its data. A decoded image larger than its
// data times this cannot be in the file, whatever its tags say.
std::uint64_t maxExpansion(std::uint16_t compression, std::uint32_t width) {
  switch (compression) {
  case COMPRESSION_NONE:
    return 1;
  case COMPRESSION_PACKBITS:
    return 64; // two bytes repeat one byte up to 128 times
  case COMPRESSION_ADOBE_DEFLATE:
  case COMPRESSION_DEFLATE:
    return 1032; // the deflate format's limit
  case COMPRESSION_LZW:
    return 4096; // a code of at least 9 bits stands for at most 4096 bytes
  case COMPRESSION_CCITTRLE:
  case COMPRESSION_CCITTRLEW:
  case COMPRESSION_CCITTFAX3:
  case COMPRESSION_CCITTFAX4:
    return std::max<std::uint64_t>(64, width); // a row takes at least one bit
  default:
    return 1u << 16;
  }
}

// Closes a TIFFRGBAImage however the reading ends.
struct RgbaReader {
  TIFFRGBAImage img{};
  bool begun = false;
  ~RgbaReader() {
    if (begun)
      TIFFRGBAImageEnd(&img);
  }
};

bool hostIsBigEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 0;
}

} // namespace

bool isTiff(const std::shared_ptr<Source> &src) {
  TiffClient client{src, 0, {}};
  return openTiff(client, 64u << 20) != nullptr;
}

void loadTiff(Writer *w, std::shared_ptr<Source> src, LoadedImage &image) {
  ImageSlot &s = image.slot;
  const std::string &name = s.fileName;
  auto client = std::make_shared<TiffClient>();
  client->src = src;
  auto damaged = [&]() {
    failLoad(w, 2400,
             "Damaged TIFF file '" + name + "'" + (client->lastError.empty() ? "" : " (" + client->lastError + ")"));
  };
  auto tiffShared = std::shared_ptr<TIFF>(openTiff(*client, w->decodeLimit).release(), TiffCloser());
  TIFF *t = tiffShared.get();
  if (!t) {
    if (client->lastError.empty())
      failLoad(w, ErrNotOfKind, "File '" + name + "' is not a TIFF file");
    damaged();
  }

  std::uint32_t width = 0, height = 0;
  std::uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, photometric = 0, compression = COMPRESSION_NONE;
  std::uint16_t orientation = ORIENTATION_TOPLEFT, resUnit = RESUNIT_INCH, fillOrder = FILLORDER_MSB2LSB;
  std::uint16_t extraCount = 0, *extraTypes = nullptr;
  float xr = 0, yr = 0;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
    damaged();
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &resUnit);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fillOrder);
  TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
    photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
  bool haveRes = TIFFGetField(t, TIFFTAG_XRESOLUTION, &xr) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &yr);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    damaged();
  if (orientation < 1 || orientation > 8)
    orientation = ORIENTATION_TOPLEFT;

  if (haveRes) {
    if (resUnit == RESUNIT_NONE) {
      if (xr > 0 && yr > 0) {
        s.xres = -xr;
        s.yres = -yr;
      }
    } else {
      double f = resUnit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
      double x = xr * f, y = yr * f;
      if (!(x <= 1 || x > 10000 || y <= 1 || y > 10000)) {
        s.xres = x;
        s.yres = y;
      }
    }
  }
  s.width = static_cast<int>(width);
  s.height = static_cast<int>(height);

  // Colour.
  int components = 0;
  bool palette = photometric == PHOTOMETRIC_PALETTE;
  bool cmyk = false;
  if (spp == 1 || (spp == 2 && extraCount == 1)) {
    components = 1;
  } else if (spp == 3 || (spp == 4 && photometric != PHOTOMETRIC_SEPARATED)) {
    components = 3;
  } else if (spp >= 4 && photometric == PHOTOMETRIC_SEPARATED) {
    std::uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inkSet);
    if (inkSet != INKSET_CMYK)
      failLoad(w, 2486, "Unsupported ink set of TIFF file '" + name + "'");
    components = 4;
    cmyk = true;
  } else if (spp > 4 && photometric == PHOTOMETRIC_RGB) {
    components = 3;
  } else {
    failLoad(w, 2412, "Bad number of colour components (" + std::to_string(spp) + ") in TIFF file '" + name + "'");
  }

  bool ccitt = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
               compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
  bool knownCompression = compression == COMPRESSION_NONE || compression == COMPRESSION_LZW ||
                          compression == COMPRESSION_PACKBITS || compression == COMPRESSION_ADOBE_DEFLATE ||
                          compression == COMPRESSION_DEFLATE || ccitt;
  bool depthOk = bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16;
  bool passThrough = !TIFFIsTiled(t) && photometric != PHOTOMETRIC_YCBCR && photometric != PHOTOMETRIC_CIELAB &&
                     photometric != PHOTOMETRIC_MASK && extraCount == 0 &&
                     !(planar == PLANARCONFIG_SEPARATE && spp > 1) && depthOk && knownCompression &&
                     spp == components && !(palette && bps > 8) && !(ccitt && bps != 1);
  if (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK && !palette &&
      photometric != PHOTOMETRIC_RGB && photometric != PHOTOMETRIC_SEPARATED)
    passThrough = false;

  std::uint16_t predictor = 1;
  if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
      compression == COMPRESSION_DEFLATE) {
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor);
    if (passThrough && predictor != 1 && predictor != 2)
      failLoad(w, 2472, "Unsupported predictor " + std::to_string(predictor) + " in TIFF file '" + name + "'");
  }
  if (compression == COMPRESSION_LZW && !passThrough)
    failLoad(w, 2474, "LZW compressed TIFF file '" + name + "' cannot be embedded");

  std::uint32_t rowsPerStrip = height;
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip == 0 || rowsPerStrip > height)
    rowsPerStrip = height;
  std::uint32_t strips = passThrough ? TIFFNumberOfStrips(t) : 1;
  if (passThrough && (strips != (height + rowsPerStrip - 1) / rowsPerStrip || strips > 65536))
    damaged();

  // What the tags declare must fit in the data the file holds: nothing is allocated, copied or decoded for an
  // image its strips or tiles cannot carry.
  {
    const std::uint64_t fileSize = src->size();
    const std::uint32_t striles = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    std::uint64_t present = 0;
    for (std::uint32_t k = 0; k < striles; ++k) {
      const std::uint64_t offset = TIFFGetStrileOffset(t, k), count = TIFFGetStrileByteCount(t, k);
      if (offset < fileSize)
        present += std::min(count, fileSize - offset);
    }
    const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
    const std::uint64_t declared = TIFFIsTiled(t) ? std::uint64_t(TIFFTileSize64(t)) * striles
                                                  : std::uint64_t(TIFFVStripSize64(t, height)) * planes;
    if (declared == 0 || declared > present * maxExpansion(compression, width) + 4096)
      failLoad(w, 2400,
               "Damaged TIFF file '" + name + "' (" + std::to_string(present) + " bytes of image data for " +
                   std::to_string(width) + " x " + std::to_string(height) + " pixels)");
  }

  // Samples the file stores in another byte order than PDF (16-bit little-endian) or with reversed bit order
  // cannot be copied: those strips are decoded by libtiff and compressed again, strip by strip.
  bool littleEndian16 = bps == 16 && !TIFFIsBigEndian(t);
  bool decodeStrips =
      passThrough && (littleEndian16 || (fillOrder == FILLORDER_LSB2MSB && compression != COMPRESSION_NONE));

  if (passThrough) {
    s.components = components;
    s.bpc = bps;
    s.colorSpace = components == 1 ? 0 : components == 3 ? 1 : 2;
    if (palette) {
      std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
      if (!TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
        damaged();
      int entries = 1 << bps;
      bool wide = false;
      for (int i = 0; i < entries; ++i)
        wide = wide || r[i] >= 256 || g[i] >= 256 || b[i] >= 256;
      image.palette.resize(std::size_t(entries) * 3);
      for (int i = 0; i < entries; ++i) {
        std::size_t k = std::size_t(i) * 3;
        image.palette[k] = static_cast<std::uint8_t>(wide ? r[i] >> 8 : r[i]);
        image.palette[k + 1] = static_cast<std::uint8_t>(wide ? g[i] >> 8 : g[i]);
        image.palette[k + 2] = static_cast<std::uint8_t>(wide ? b[i] >> 8 : b[i]);
      }
      image.paletteEntries = entries;
    }
    s.orientation = orientation;
    s.rowsPerStrip = static_cast<int>(rowsPerStrip);
    bool minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    if (decodeStrips) {
      s.passThrough = false;
      s.filter = FilterFlate;
      s.invert = minIsWhite;
      tmsize_t stripSize = TIFFStripSize(t);
      if (stripSize <= 0 || static_cast<std::uint64_t>(stripSize) > w->decodeLimit)
        damaged();
      bool swap = bps == 16 && !hostIsBigEndian();
      for (std::uint32_t k = 0; k < strips; ++k) {
        std::uint32_t rows = std::min(rowsPerStrip, height - k * rowsPerStrip);
        std::size_t bytes = static_cast<std::size_t>(TIFFVStripSize(t, rows));
        image.strips.push_back([tiffShared, client, k, stripSize, bytes, swap](const Sink &sink) {
          std::vector<std::uint8_t> buf(static_cast<std::size_t>(stripSize));
          tmsize_t got = TIFFReadEncodedStrip(tiffShared.get(), k, buf.data(), stripSize);
          if (got < 0)
            return false;
          if (swap)
            for (std::size_t i = 0; i + 1 < buf.size(); i += 2)
              std::swap(buf[i], buf[i + 1]);
          sink(buf.data(), std::min(bytes, buf.size()));
          return true;
        });
      }
      return;
    }
    s.passThrough = true;
    switch (compression) {
    case COMPRESSION_NONE:
      s.filter = FilterNone;
      s.invert = minIsWhite;
      break;
    case COMPRESSION_LZW:
      s.filter = FilterLZW;
      s.predictor = predictor;
      s.invert = minIsWhite;
      break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      s.filter = FilterFlate;
      s.predictor = predictor;
      s.invert = minIsWhite;
      break;
    case COMPRESSION_PACKBITS:
      s.filter = FilterRunLength;
      s.invert = minIsWhite;
      break;
    default: { // CCITT: the codes name black and white runs; BlackIs1 tells which sample value black has
      s.filter = FilterCCITT;
      std::uint32_t t4 = 0;
      if (compression == COMPRESSION_CCITTFAX3) {
        TIFFGetFieldDefaulted(t, TIFFTAG_GROUP3OPTIONS, &t4);
        if (t4 & GROUP3OPT_2DENCODING) {
          image.ccittK = 1;
          image.ccittKSet = true;
        }
        if (t4 & GROUP3OPT_FILLBITS)
          s.extraParms = "/EncodedByteAlign true";
      } else if (compression == COMPRESSION_CCITTFAX4) {
        image.ccittK = -1;
        image.ccittKSet = true;
      } else {
        s.extraParms = "/EndOfBlock false/EncodedByteAlign true";
      }
      if (photometric == PHOTOMETRIC_MINISBLACK)
        s.extraParms += "/BlackIs1 true";
      break;
    }
    }
    std::uint64_t fileSize = src->size();
    for (std::uint32_t k = 0; k < strips; ++k) {
      std::uint64_t offset = TIFFGetStrileOffset(t, k);
      std::uint64_t count = TIFFGetStrileByteCount(t, k);
      if (count == 0 || offset >= fileSize || count > fileSize - offset)
        damaged();
      image.strips.push_back([src, offset, count](const Sink &sink) {
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(count, 65536)));
        for (std::uint64_t done = 0; done < count;) {
          std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), count - done));
          if (!src->readFully(offset + done, buf.data(), want))
            return false;
          sink(buf.data(), want);
          done += want;
        }
        return true;
      });
    }
    return;
  }

  // Decoded into 8-bit samples while the stream is written, a strip (or a row of tiles) at a time; rows stay in the
  // file's order and the placement applies the orientation.
  s.passThrough = false;
  s.filter = FilterFlate;
  s.bpc = 8;
  s.orientation = orientation;
  auto readFailed = [w, name, client]() {
    failLoad(w, client->src->ioError() ? ErrDecodeRead : 2400,
             "Error decoding TIFF file '" + name + "'" +
                 (client->lastError.empty() ? "" : " (" + client->lastError + ")"));
  };
  if (cmyk && bps == 8 && planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(t)) {
    // CMYK read line by line, extra samples dropped.
    tmsize_t line = TIFFScanlineSize(t);
    if (line < static_cast<tmsize_t>(width) * spp)
      damaged();
    s.components = 4;
    s.colorSpace = 2;
    const std::size_t lineBytes = static_cast<std::size_t>(line);
    image.strips.push_back([tiffShared, width, height, spp, lineBytes, readFailed](const Sink &sink) {
      std::vector<std::uint8_t> in(lineBytes), out(std::size_t(width) * 4);
      for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiffShared.get(), in.data(), y, 0) < 0)
          readFailed();
        for (std::uint32_t x = 0; x < width; ++x)
          std::memcpy(out.data() + std::size_t(x) * 4, in.data() + std::size_t(x) * spp, 4);
        sink(out.data(), out.size());
      }
      return true;
    });
    return;
  }
  char why[1024] = "";
  if (!TIFFRGBAImageOK(t, why))
    failLoad(w, 2400, "TIFF file '" + name + "' cannot be decoded (" + why + ")");
  std::uint32_t bandRows = rowsPerStrip;
  if (TIFFIsTiled(t)) {
    std::uint32_t tileLength = 0;
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tileLength);
    bandRows = tileLength == 0 ? height : std::min(tileLength, height);
  }
  if (std::uint64_t(bandRows) * width * 4 > w->decodeLimit)
    failLoad(w, ErrNoMemory, "TIFF image in file '" + name + "' is too large");
  const bool gray = components == 1 && !palette;
  s.components = gray ? 1 : 3;
  s.colorSpace = gray ? 0 : 1;
  image.strips.push_back([tiffShared, width, height, bandRows, gray, orientation, readFailed](const Sink &sink) {
    RgbaReader reader;
    char emsg[1024] = "";
    if (!TIFFRGBAImageBegin(&reader.img, tiffShared.get(), 0, emsg))
      readFailed();
    reader.begun = true;
    reader.img.req_orientation = orientation; // no flipping: the rows as stored
    std::vector<std::uint32_t> raster(std::size_t(width) * bandRows);
    std::vector<std::uint8_t> row(std::size_t(width) * (gray ? 1 : 3));
    for (std::uint32_t y0 = 0; y0 < height; y0 += bandRows) {
      const std::uint32_t n = std::min(bandRows, height - y0);
      reader.img.row_offset = static_cast<int>(y0);
      reader.img.col_offset = 0;
      if (!TIFFRGBAImageGet(&reader.img, raster.data(), width, n))
        readFailed();
      for (std::uint32_t r = 0; r < n; ++r) {
        const std::uint32_t *p = raster.data() + std::size_t(r) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
          if (gray) {
            row[x] = static_cast<std::uint8_t>(TIFFGetR(p[x]));
          } else {
            row[std::size_t(x) * 3] = static_cast<std::uint8_t>(TIFFGetR(p[x]));
            row[std::size_t(x) * 3 + 1] = static_cast<std::uint8_t>(TIFFGetG(p[x]));
            row[std::size_t(x) * 3 + 2] = static_cast<std::uint8_t>(TIFFGetB(p[x]));
          }
        }
        sink(row.data(), row.size());
      }
    }
    return true;
  });
}

} // namespace pdf::detail
