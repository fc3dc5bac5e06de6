// Writing a rendered page as an image file. The page carries its format options (colour type and count, interlace,
// JPEG quality, compression, resolution), set by the format option step; the encoders here turn its pixels into the
// file straight through the format libraries, row by row, without another copy of the page. Pages these encoders do
// not take (an alpha channel, an unusual colour space) are written by the image library itself.
#pragma once

#include "render/encoding.h"
#include "render/rgb_page.h"

#include <Magick++.h>
#include <cstddef>
#include <functional>
#include <string>

namespace render {

// Receives the bytes of the file in order; false stops the encoding (the bytes cannot be stored).
using ByteSink = std::function<bool(const void *data, size_t size)>;

// Encodes the image in the format, with the options it carries, into sink. Empty on success, else the reason.
// Any thread; the image is only read.
std::string EncodeImage(const Magick::Image &image, FormatCode format, const ByteSink &sink);

// Encodes the page in the format: an image as EncodeImage does, an 8-bit page with the options it carries (GIF
// through the image library's colour reduction).
std::string EncodePage(const RenderedPage &page, FormatCode format, const ByteSink &sink);

// Encodes the image into the file descriptor (written from its current position). Empty on success, else the
// reason (the system's text for a failed write).
std::string EncodeImageToFd(const Magick::Image &image, FormatCode format, int fd);

// Which encoder EncodeImage uses for this image in this format: true for its own, false when the image library
// writes it.
bool HasDirectEncoder(const Magick::Image &image, FormatCode format);

} // namespace render
