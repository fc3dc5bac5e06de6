#include "emf/png_decode.h"

#include <png.h>

namespace emf {

bool DecodePng(std::span<const uint8_t> bytes, int32_t maxSide, uint64_t maxPixels, QImage &out, bool &hasAlpha,
               std::string *reason) {
  const auto fail = [reason](const char *text) {
    if (reason)
      *reason = text;
    return false;
  };
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    return fail("embedded image cannot be read");
  if (image.width == 0 || image.height == 0 || image.width > uint32_t(maxSide) || image.height > uint32_t(maxSide) ||
      uint64_t(image.width) * image.height > maxPixels) {
    png_image_free(&image);
    return fail("embedded image too large");
  }
  hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  // 16-bit samples without gamma information are taken as they stand, the way other readers take them.
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  // Blue, green, red, alpha in memory: the layout of Format_ARGB32 on this little-endian machine.
  image.format = PNG_FORMAT_BGRA;
  QImage decoded(int(image.width), int(image.height), QImage::Format_ARGB32);
  if (decoded.isNull()) {
    png_image_free(&image);
    return fail("out of memory");
  }
  if (!png_image_finish_read(&image, nullptr, decoded.bits(), png_int_32(decoded.bytesPerLine()), nullptr))
    return fail("embedded image cannot be decoded"); // the image is freed by the failed call
  out = std::move(decoded);
  return true;
}

} // namespace emf
