// PNG pictures embedded in metafile bitmaps, read with libpng's simplified interface: a damaged picture gives a
// reason instead of a message on the standard error.
#pragma once

#include <QImage>

#include <cstdint>
#include <span>
#include <string>

namespace emf {

// Decodes `bytes` into a Format_ARGB32 image (not premultiplied). Refused, with the reason, when the bytes are no
// PNG, the picture is wider or higher than maxSide or holds more than maxPixels pixels, or its data is damaged.
// hasAlpha tells whether the picture has an alpha channel (or a transparent colour).
bool DecodePng(std::span<const uint8_t> bytes, int32_t maxSide, uint64_t maxPixels, QImage &out, bool &hasAlpha,
               std::string *reason);

} // namespace emf
