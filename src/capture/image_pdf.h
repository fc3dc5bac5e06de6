// An image file as a PDF document of one page per image: the page has the image's own size at its own resolution
// (72 pixels per inch when the file records none), so a printed picture becomes a page like any other.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

namespace capture {

enum class ImageFormat { Png, Jpeg, Tiff, Gif };

// Largest image taken, in pixels; a larger one is refused.
inline constexpr long long kMaxImagePixels = 64LL * 1024 * 1024;
// Most pages taken from one multi-page TIFF file.
inline constexpr int kMaxImageFrames = 1000;

// The PDF document (one page for PNG, JPEG and GIF, whose first frame is the picture; one page per frame for
// TIFF). Transparent parts of the picture stay transparent on the page. Empty, with *error set, when the file
// cannot be read as that format or is too large.
QByteArray ImageToPdf(const QString &path, ImageFormat format, std::string *error);

// The resolution in pixels per inch an image records: `units` 1 for pixels per inch, 2 for pixels per
// centimetre; anything else, or a value that is not a usable resolution, gives 72.
double ImageResolution(int units, double value);

} // namespace capture
