#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <cmath>
#include <cstring>

namespace pdf {

using namespace detail;

namespace detail {

int registerIndexed(Writer *w, const std::vector<std::uint8_t> &palette, int entries) {
  for (std::size_t i = 0; i < w->colorSpaces.size(); ++i) {
    const ColorSpace &cs = w->colorSpaces[i];
    if (cs.device < 0 && cs.entries == entries && cs.palette == palette)
      return static_cast<int>(i);
  }
  ColorSpace cs;
  cs.device = -1;
  cs.entries = entries;
  cs.palette = palette;
  cs.csObject = w->out.reserve();
  cs.paletteObject = w->out.reserve();
  w->colorSpaces.push_back(std::move(cs));
  return static_cast<int>(w->colorSpaces.size()) - 1;
}

namespace {

const char *filterName(int filter) {
  switch (filter) {
  case FilterLZW:
    return "LZWDecode";
  case FilterRunLength:
    return "RunLengthDecode";
  case FilterCCITT:
    return "CCITTFaxDecode";
  case FilterDCT:
    return "DCTDecode";
  case FilterFlate:
    return "FlateDecode";
  default:
    return nullptr;
  }
}

void putKeyValue(Output &out, const char *key, std::int64_t value) {
  out.put(key);
  out.put(" ");
  out.putInt(value);
}

void writePalette(Writer *w, ColorSpace &cs) {
  Output &out = w->out;
  out.beginObject(cs.paletteObject);
  out.put("<<");
  out.put("/Filter/FlateDecode\n");
  out.putLengthRef();
  out.put(">>\n");
  out.beginStream(true);
  out.write(cs.palette.data(), cs.palette.size());
  out.endStream();
  cs.paletteWritten = true;
}

} // namespace

namespace {

// Writes the XObject(s) of the image; throws LoadFailure when its data cannot be read to the end.
void writeImageObjects(Writer *w, LoadedImage &image);

} // namespace

int emitImage(Writer *w, LoadedImage &image) {
  // A failure part way through the data takes back everything written for the image: no object of a failed
  // image stays in the document.
  Output &out = w->out;
  const Output::Mark mark = out.mark();
  const std::size_t colorSpaces = w->colorSpaces.size(), xobjects = w->xobjects.size();
  std::vector<bool> palettesWritten;
  for (const ColorSpace &cs : w->colorSpaces)
    palettesWritten.push_back(cs.paletteWritten);
  auto takeBack = [&] {
    out.rollback(mark);
    w->colorSpaces.resize(colorSpaces);
    w->xobjects.resize(xobjects);
    for (std::size_t i = 0; i < colorSpaces; ++i)
      w->colorSpaces[i].paletteWritten = palettesWritten[i];
  };
  try {
    writeImageObjects(w, image);
  } catch (const LoadFailure &) {
    takeBack();
    throw;
  } catch (const std::bad_alloc &) {
    takeBack();
    throw;
  }
  out.commit();

  std::size_t slotIndex = 0;
  while (slotIndex < w->images.size() && w->images[slotIndex].inUse)
    ++slotIndex;
  if (slotIndex == w->images.size())
    w->images.emplace_back();
  image.slot.inUse = true;
  w->images[slotIndex] = image.slot;
  return static_cast<int>(slotIndex);
}

namespace {

void writeImageObjects(Writer *w, LoadedImage &image) {
  Output &out = w->out;
  ImageSlot &s = image.slot;
  if (image.paletteEntries > 0)
    s.colorSpace = registerIndexed(w, image.palette, image.paletteEntries);

  s.strips = static_cast<int>(image.strips.size());
  s.xobject = static_cast<int>(w->xobjects.size());
  int rows = std::abs(s.height);
  bool readFailed = false;
  for (int k = 0; k < s.strips; ++k) {
    int stripRows = rows;
    if (s.strips > 1)
      stripRows = std::min(s.rowsPerStrip, rows - k * s.rowsPerStrip);
    XObject x;
    x.object = out.beginObject();
    w->xobjects.push_back(x);
    out.put("<<");
    out.put("/Subtype/Image\n");
    putKeyValue(out, "/Width", s.width);
    out.put("\n");
    putKeyValue(out, "/Height", stripRows);
    out.put("\n");
    if (s.hasKey) {
      int n = s.colorSpace == 1 ? 3 : s.colorSpace == 2 ? 4 : 1;
      out.put("/Mask[");
      for (int c = 0; c < n; ++c) {
        if (c)
          out.put(" ");
        out.putInt(s.key[static_cast<std::size_t>(c)]);
        out.put(" ");
        out.putInt(s.key[static_cast<std::size_t>(c)]);
      }
      out.put("]\n");
    }
    putKeyValue(out, "/BitsPerComponent", s.bpc);
    out.put("\n");
    out.put("/ColorSpace");
    const ColorSpace &cs = w->colorSpaces[static_cast<std::size_t>(s.colorSpace)];
    if (cs.device == 0)
      out.put("/DeviceGray");
    else if (cs.device == 1)
      out.put("/DeviceRGB");
    else if (cs.device == 2)
      out.put("/DeviceCMYK");
    else {
      out.put(" ");
      out.putInt(cs.csObject);
      out.put(" 0 R");
    }
    out.put("\n");
    if (s.invert) {
      out.put("/Decode[1 0");
      for (int c = 1; c < s.components; ++c)
        out.put(" 1 0");
      out.put("]\n");
    }
    bool ownFilter = s.passThrough && filterName(s.filter) != nullptr;
    if (ownFilter) {
      out.put("/Filter/");
      out.put(filterName(s.filter));
      out.put("\n");
    } else {
      out.put("/Filter/FlateDecode\n");
    }
    bool predicted = (s.filter == FilterLZW || s.filter == FilterFlate) && s.predictor > 1;
    if (s.passThrough && (!s.extraParms.empty() || s.predictor > 1 || s.filter == FilterCCITT)) {
      out.put("/DecodeParms<<");
      out.put(s.extraParms);
      if (predicted) {
        putKeyValue(out, "/Predictor", s.predictor);
        putKeyValue(out, "/Columns", s.width);
        if (s.bpc != 8)
          putKeyValue(out, "/BitsPerComponent", s.bpc);
        if (s.components != 1)
          putKeyValue(out, "/Colors", s.components);
      }
      if (s.filter == FilterCCITT) {
        if (image.ccittKSet)
          putKeyValue(out, "/K", image.ccittK);
        if (s.width != 1728)
          putKeyValue(out, "/Columns", s.width);
        putKeyValue(out, "/Rows", stripRows);
      }
      out.put(">>\n");
    }
    out.putLengthRef();
    out.put(">>\n");
    out.beginStream(!ownFilter);
    bool ok =
        image.strips[static_cast<std::size_t>(k)]([&out](const void *data, std::size_t n) { out.write(data, n); });
    out.endStream();
    if (!ok)
      readFailed = true;

    if (k == 0 && cs.device < 0 && !cs.paletteWritten)
      writePalette(w, w->colorSpaces[static_cast<std::size_t>(s.colorSpace)]);
    if (readFailed)
      break;
  }
  if (readFailed)
    failLoad(w, ErrDecodeRead, "Error reading image data from file '" + s.fileName + "'");
}

} // namespace

} // namespace detail

namespace {

enum class Kind { Bmp, Gif, Jpeg, Png, Tiff, Unknown };

bool startsWith(Source &src, const char *magic, std::size_t n) {
  std::uint8_t buf[8];
  return n <= sizeof buf && src.readFully(0, buf, n) && std::memcmp(buf, magic, n) == 0;
}

bool jpegStartWithin768(Source &src) {
  std::uint8_t buf[770];
  std::size_t n = src.readAt(0, buf, sizeof buf);
  for (std::size_t i = 0; i + 1 < n && i <= 768; ++i) {
    if (buf[i] != 0xFF)
      continue;
    std::size_t j = i;
    while (j + 1 < n && buf[j + 1] == 0xFF)
      ++j;
    if (j + 1 < n && buf[j + 1] == 0xD8 && j <= 768)
      return true;
    i = j;
  }
  return false;
}

// The largest side in points an image may have at its own resolution: ten times the largest page a reader shows
// (14400 points, 200 inches). Beyond it a page placed with "adjustpage" could not be shown by anything.
constexpr double kMaxImagePoints = 144000;

void checkPlacedSize(Writer *w, const ImageSlot &s) {
  double nw = std::abs(static_cast<double>(s.width)), nh = std::abs(static_cast<double>(s.height));
  if (s.xres > 0 && s.yres > 0) {
    nw = nw * 72.0 / s.xres;
    nh = nh * 72.0 / s.yres;
  } else if (s.xres < 0 && s.yres < 0) {
    nh = nh * (s.yres / s.xres);
  }
  if (nw > kMaxImagePoints || nh > kMaxImagePoints) {
    std::string ws, hs;
    FormatReal(std::min(nw, 2147483647.0), &ws);
    FormatReal(std::min(nh, 2147483647.0), &hs);
    failLoad(w, 2400,
             "Image file '" + s.fileName + "' would make a page of " + ws + " x " + hs +
                 " points; pages larger than 14400 points cannot be shown");
  }
}

const char kPngSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};

Kind detect(const std::shared_ptr<Source> &src) {
  if (startsWith(*src, "BM", 2))
    return Kind::Bmp;
  if (startsWith(*src, "GIF", 3))
    return Kind::Gif;
  if (startsWith(*src, kPngSignature, 8))
    return Kind::Png;
  if (isTiff(src))
    return Kind::Tiff;
  if (jpegStartWithin768(*src))
    return Kind::Jpeg;
  return Kind::Unknown;
}

} // namespace

namespace detail {

int loadImageBody(Writer *w, const std::string &type, const std::string &name) {
  Kind kind = Kind::Unknown;
  if (type.empty())
    raiseError(w, ErrImageType, "Parameter 'imagetype' is empty");
  else if (type == "bmp")
    kind = Kind::Bmp;
  else if (type == "gif")
    kind = Kind::Gif;
  else if (type == "jpeg")
    kind = Kind::Jpeg;
  else if (type == "png")
    kind = Kind::Png;
  else if (type == "tiff")
    kind = Kind::Tiff;
  else if (type != "auto")
    raiseError(w, ErrImageKeyword, "Unknown keyword '" + type + "' for parameter 'imagetype'");

  try {
    std::shared_ptr<Source> src = openSource(w->memoryFiles, w->searchPath, name);
    if (!src)
      failLoad(w, ErrOpenFile, "Couldn't open image file '" + name + "'");
    if (type == "auto") {
      kind = detect(src);
      if (kind == Kind::Unknown)
        failLoad(w, 2434, "Unknown image type in file '" + name + "'");
    }
    LoadedImage image;
    image.slot.fileName = name;
    switch (kind) {
    case Kind::Bmp:
      loadBmp(w, src, image);
      break;
    case Kind::Gif:
      loadGif(w, src, image);
      break;
    case Kind::Jpeg:
      loadJpeg(w, src, image);
      break;
    case Kind::Png:
      loadPng(w, src, image);
      break;
    case Kind::Tiff:
      loadTiff(w, src, image);
      break;
    case Kind::Unknown:
      break;
    }
    checkPlacedSize(w, image.slot);
    // Inside a page the image goes between two content streams of that page.
    bool inPage = w->scope == Scope::Page;
    if (inPage)
      w->out.endStream();
    int handle = -1;
    try {
      handle = emitImage(w, image);
    } catch (const LoadFailure &) {
      if (inPage)
        beginContentStream(w, w->pages.back());
      throw;
    } catch (const std::bad_alloc &) {
      if (inPage)
        beginContentStream(w, w->pages.back());
      throw;
    }
    if (inPage)
      beginContentStream(w, w->pages.back());
    return handle;
  } catch (const LoadFailure &) {
    return -1;
  } catch (const std::bad_alloc &) {
    recordError(w, ErrNoMemory, "Not enough memory for image file '" + name + "'");
    return -1;
  }
}

} // namespace detail

} // namespace pdf
