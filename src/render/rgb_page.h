// A rendered page held as 8-bit samples (red, green, blue; rows top to bottom) together with the options it is
// written with. Pages whose format keeps true colour and that need no later step of the image library (sharpening,
// turning, colour reduction) are made this way: three bytes a pixel instead of the image library's eight, and the
// encoders take the rows as they are.
#pragma once

#include "render/encoding.h"

#include <Magick++.h>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <memory>

struct Settings;

namespace render {

struct RgbPage {
  size_t columns = 0, rows = 0;
  std::shared_ptr<uint8_t[]> samples; // columns x rows x 3 bytes, shared by copies of the page
  double resolution = 0;              // pixels per inch recorded in the file; 0 records none
  int jpegQuality = 92;
  bool interlace = false; // JPEG progressive, PNG Adam7
  bool lzw = false;       // TIFF compression

  bool empty() const { return !samples || columns == 0 || rows == 0; }
  const uint8_t *row(size_t y) const { return samples.get() + y * columns * 3; }
  uint8_t *row(size_t y) { return samples.get() + y * columns * 3; }
};

// Whether a page written in format with these settings can be an RgbPage: BMP always, JPEG, PNG and TIFF in true
// colour; GIF and the grey, palette and black and white options reduce colours with the image library.
bool RgbPageSuits(FormatCode format, const Settings &s);

// The options of format under the settings (those of ApplyFormatOptionSet for a true colour page), and the
// resolution, truncated as the image library's density is.
void SetRgbPageOptions(RgbPage &page, FormatCode format, const Settings &s, double resolution);

// A page ready to be written: the image library's image, or an 8-bit page.
struct RenderedPage {
  Magick::Image image;
  RgbPage rgb;

  RenderedPage() = default;
  RenderedPage(Magick::Image i) : image(std::move(i)) {} // NOLINT: an image is a page
  RenderedPage(RgbPage p) : rgb(std::move(p)) {}         // NOLINT: so is an 8-bit page

  bool isRgb() const { return !rgb.empty(); }
  bool empty() const { return isRgb() ? false : !image.isValid() || image.columns() == 0 || image.rows() == 0; }
  size_t columns() const { return isRgb() ? rgb.columns : image.columns(); }
  size_t rows() const { return isRgb() ? rgb.rows : image.rows(); }
  // The page as the image library's image (an 8-bit page is converted, with its resolution).
  Magick::Image magick() const;
  // The page as 32-bit pixels for the screen.
  QImage bitmap() const;
};

} // namespace render
