// Format options applied to a rendered page before it is written: colour type, interlacing, JPEG quality,
// colour reduction, dithering, TIFF compression.
#pragma once

#include <Magick++.h>
#include <optional>
#include <string>

struct Settings;

namespace render {

// Format codes: 1 JPG, 2 GIF, 3 PNG, 4 BMP, 5 TIF.
enum FormatCode { FormatJPG = 1, FormatGIF = 2, FormatPNG = 3, FormatBMP = 4, FormatTIF = 5 };

// The first of JPG, GIF, PNG, TIF whose _Default flag is set; BMP when none is.
FormatCode DefaultFormat(const Settings &s);
// ".jpg", ".gif", ".png", ".tif", ".bmp".
const char *FormatExtension(FormatCode code);
// "JPG", "PNG", "TIF" select their options inside a PDF; anything else (and nothing) selects none.
std::optional<FormatCode> PdfInsideOptionFormat(const std::string &pdfBitmapFormat);
// The stored "PDF_Bitmp_Format", "BMP" when missing or shorter than 2 characters.
std::string StoredPdfBitmapFormat();

// The option set of one format, applied to the image (BMP: none).
void ApplyFormatOptionSet(Magick::Image &image, FormatCode code, const Settings &s);
// The option set for the output mode: 0 the default format's, 1 the PDF inside format's (pdfFormat; the stored
// value when not given), 2 and above none.
void ApplyFormatOptions(Magick::Image &image, int outputMode, const Settings &s,
                        const std::optional<std::string> &pdfFormat = std::nullopt);
// With the settings in memory.
void ApplyFormatOptions(Magick::Image &image, int outputMode);

} // namespace render
