#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <cstring>

namespace pdf::detail {

namespace {

std::uint32_t be16(const std::uint8_t *p) { return std::uint32_t(p[0]) << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Resolution from the image resources of a Photoshop segment (resource 0x03ED, 16.16 fixed point).
bool photoshopResolution(const std::vector<std::uint8_t> &seg, double *xres, double *yres) {
  static const char sig[] = "Photoshop 3.0";
  std::size_t i = sizeof sig; // signature plus its terminating zero
  if (seg.size() < i || std::memcmp(seg.data(), sig, sizeof sig) != 0)
    return false;
  while (i + 12 <= seg.size()) {
    if (std::memcmp(seg.data() + i, "8BIM", 4) != 0)
      return false;
    std::uint32_t id = be16(seg.data() + i + 4);
    std::size_t p = i + 6;
    std::size_t nameLen = seg[p];
    p += (nameLen + 2) & ~std::size_t(1); // length byte and name, padded to even
    if (p + 4 > seg.size())
      return false;
    std::size_t size = be32(seg.data() + p);
    p += 4;
    if (size > seg.size() - p)
      return false;
    if (id == 0x03ED && size >= 16) {
      double h = be32(seg.data() + p) / 65536.0;
      double v = be32(seg.data() + p + 8) / 65536.0;
      if (h > 0 && v > 0) {
        *xres = h;
        *yres = v;
        return true;
      }
      return false;
    }
    i = p + ((size + 1) & ~std::size_t(1));
  }
  return false;
}

} // namespace

void loadJpeg(Writer *w, std::shared_ptr<Source> src, LoadedImage &image) {
  ImageSlot &s = image.slot;
  const std::string &name = s.fileName;
  auto damaged = [&]() { failLoad(w, 2400, "Damaged or truncated JPEG file '" + name + "'"); };

  // Start of image: 0xFF 0xD8 after any fill bytes, within the first 768 bytes.
  std::uint8_t head[770];
  std::size_t n = src->readAt(0, head, sizeof head);
  std::uint64_t soi = UINT64_MAX;
  for (std::size_t i = 0; i + 1 < n && i <= 768; ++i) {
    if (head[i] == 0xFF && head[i + 1] == 0xD8) {
      soi = i;
      break;
    }
  }
  if (soi == UINT64_MAX)
    failLoad(w, ErrNotOfKind, "File '" + name + "' is not a JPEG file");

  std::uint64_t pos = soi + 2;
  bool adobe = false, haveFrame = false;
  int precision = 0, components = 0;
  std::int64_t width = 0, height = 0;
  std::vector<int> componentIds;
  double xres = 0, yres = 0;
  for (;;) {
    std::uint8_t m[2];
    if (!src->readFully(pos, m, 2))
      damaged();
    if (m[0] != 0xFF)
      damaged();
    if (m[1] == 0xFF) { // fill byte
      ++pos;
      continue;
    }
    pos += 2;
    std::uint8_t marker = m[1];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
      continue;
    if (marker == 0xD9)
      damaged(); // end of image before any scan
    std::uint8_t lenBytes[2];
    if (!src->readFully(pos, lenBytes, 2))
      damaged();
    std::uint32_t length = be16(lenBytes);
    if (length < 2 || pos + length > src->size())
      damaged();
    std::vector<std::uint8_t> seg(length - 2);
    if (!src->readFully(pos + 2, seg.data(), seg.size()))
      damaged();
    std::uint64_t next = pos + length;

    if (marker == 0xE0 && seg.size() >= 12 && std::memcmp(seg.data(), "JFIF\0", 5) == 0) {
      int units = seg[7];
      double xd = be16(seg.data() + 8), yd = be16(seg.data() + 10);
      if (xd > 0 && yd > 0) {
        if (units == 1) {
          xres = xd;
          yres = yd;
        } else if (units == 2) {
          xres = xd * 2.54;
          yres = yd * 2.54;
        } else if (units == 0) {
          xres = -xd;
          yres = -yd;
        }
      }
    } else if (marker == 0xED) {
      photoshopResolution(seg, &xres, &yres);
    } else if (marker == 0xEE && seg.size() >= 5 && std::memcmp(seg.data(), "Adobe", 5) == 0) {
      adobe = true;
    } else if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xCA) {
      if (seg.size() < 6)
        damaged();
      precision = seg[0];
      height = be16(seg.data() + 1);
      width = be16(seg.data() + 3);
      components = seg[5];
      if (seg.size() < 6 + std::size_t(components) * 3)
        damaged();
      for (int c = 0; c < components; ++c)
        componentIds.push_back(seg[6 + std::size_t(c) * 3]);
      haveFrame = true;
    } else if (marker == 0xC3 || (marker >= 0xC5 && marker <= 0xC7) || marker == 0xC9 || marker == 0xCB ||
               (marker >= 0xCD && marker <= 0xCF)) {
      failLoad(w, 2450, "JPEG compression scheme of file '" + name + "' is not supported");
    } else if (marker == 0xDA) {
      if (!haveFrame || seg.empty())
        damaged();
      int scanComponents = seg[0];
      if (components > 1) {
        if (scanComponents != components || seg.size() < 1 + std::size_t(scanComponents) * 2)
          failLoad(w, 2452, "First scan of JPEG file '" + name + "' does not hold all components");
        for (int c = 0; c < scanComponents; ++c)
          if (seg[1 + std::size_t(c) * 2] != componentIds[std::size_t(c)])
            failLoad(w, 2452, "First scan of JPEG file '" + name + "' does not hold all components");
      }
      break;
    }
    pos = next;
  }
  if (precision != 8)
    failLoad(w, 2404, "JPEG precision " + std::to_string(precision) + " of file '" + name + "' is not supported");
  if (width <= 0 || height <= 0)
    damaged();
  switch (components) {
  case 1:
    s.colorSpace = 0;
    break;
  case 3:
    s.colorSpace = 1;
    break;
  case 4:
    s.colorSpace = 2;
    s.invert = adobe;
    break;
  default:
    failLoad(w, 2412,
             "Bad number of colour components (" + std::to_string(components) + ") in JPEG file '" + name + "'");
  }
  s.width = static_cast<int>(width);
  s.height = static_cast<int>(height);
  s.components = components;
  s.bpc = 8;
  s.xres = xres;
  s.yres = yres;
  // Every 8 x 8 block of every component costs at least a bit or two of coded data, so a file cannot hold more
  // samples than about a thousand per byte; one that declares more is not a picture a reader could show.
  const std::uint64_t samples = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(components);
  const std::uint64_t coded = src->size() - soi;
  if (samples > coded * 2048 + (1u << 20))
    failLoad(w, 2400,
             "Damaged JPEG file '" + name + "' (" + std::to_string(coded) + " bytes of data for " +
                 std::to_string(width) + " x " + std::to_string(height) + " pixels)");
  s.passThrough = true;
  s.filter = FilterDCT;
  image.strips.push_back([src, soi](const Sink &sink) {
    std::uint8_t piece[1024];
    std::uint64_t end = src->size();
    for (std::uint64_t p = soi; p < end;) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof piece, end - p));
      std::size_t got = src->readAt(p, piece, want);
      if (got == 0)
        return false;
      sink(piece, got);
      p += got;
    }
    return true;
  });
}

} // namespace pdf::detail
