#include "render/rgb_page.h"

#include "settings/settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace render {

bool RgbPageSuits(FormatCode format, const Settings &s) {
  switch (format) {
  case FormatBMP:
    return true;
  case FormatJPG:
    return !s.JPG_Gray;
  case FormatPNG:
    return s.PNG_TrueIndexGray == 0;
  case FormatTIF:
    return s.TIF_TrueIndexGray == 0;
  default:
    return false;
  }
}

void SetRgbPageOptions(RgbPage &page, FormatCode format, const Settings &s, double resolution) {
  page.resolution = resolution > 0 ? std::trunc(std::min(resolution, 1e6)) : 0.0;
  page.interlace = false;
  page.lzw = false;
  page.jpegQuality = 92;
  switch (format) {
  case FormatJPG:
    page.jpegQuality = std::clamp(s.JPG_Quality, 0, 100);
    if (page.jpegQuality == 0)
      page.jpegQuality = 92; // no quality given: the encoder's own
    page.interlace = s.JPG_Progress != 0;
    break;
  case FormatPNG:
    page.interlace = s.PNG_Interlace != 0;
    break;
  case FormatTIF:
    page.lzw = s.TIF_Lzw != 0;
    break;
  default:
    break;
  }
}

Magick::Image RenderedPage::magick() const {
  if (!isRgb())
    return image;
  Magick::Image out(rgb.columns, rgb.rows, "RGB", Magick::CharPixel, rgb.samples.get());
  out.resolutionUnits(MagickCore::PixelsPerInchResolution);
  out.density(Magick::Geometry(size_t(rgb.resolution), size_t(rgb.resolution)));
  return out;
}

QImage RenderedPage::bitmap() const {
  const size_t w = columns(), h = rows();
  if (w == 0 || h == 0 || w > 0x7FFFFFFF / 4 || h > 0x7FFFFFFF)
    return {};
  QImage out(int(w), int(h), QImage::Format_RGB32);
  if (out.isNull())
    return {};
  if (isRgb()) {
    for (size_t y = 0; y < h; ++y) {
      const uint8_t *s = rgb.row(y);
      auto *d = reinterpret_cast<uint32_t *>(out.scanLine(int(y)));
      for (size_t x = 0; x < w; ++x)
        d[x] = 0xFF000000u | uint32_t(s[3 * x]) << 16 | uint32_t(s[3 * x + 1]) << 8 | s[3 * x + 2];
    }
    return out;
  }
  Magick::Image img(image); // shares pixels until written; write() below only reads
  // QImage rows of 32-bit pixels have no padding, so one export fills the whole image (B, G, R, A in memory).
  img.write(0, 0, w, h, "BGRA", Magick::CharPixel, out.bits());
  for (size_t y = 0; y < h; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(out.scanLine(int(y)));
    for (size_t x = 0; x < w; ++x)
      row[x] |= 0xFF000000u;
  }
  return out;
}

} // namespace render
