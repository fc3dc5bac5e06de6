#include "render/encoding.h"

#include "settings/settings.h"

#include <algorithm>

namespace render {

FormatCode DefaultFormat(const Settings &s) {
  if (s.JPG_Default)
    return FormatJPG;
  if (s.GIF_Default)
    return FormatGIF;
  if (s.PNG_Default)
    return FormatPNG;
  if (s.TIF_Default)
    return FormatTIF;
  return FormatBMP;
}

const char *FormatExtension(FormatCode code) {
  switch (code) {
  case FormatJPG:
    return ".jpg";
  case FormatGIF:
    return ".gif";
  case FormatPNG:
    return ".png";
  case FormatTIF:
    return ".tif";
  default:
    return ".bmp";
  }
}

std::optional<FormatCode> PdfInsideOptionFormat(const std::string &pdfBitmapFormat) {
  const std::string f = pdfBitmapFormat.size() < 2 ? std::string("BMP") : pdfBitmapFormat;
  if (f == "JPG")
    return FormatJPG;
  if (f == "PNG")
    return FormatPNG;
  if (f == "TIF")
    return FormatTIF;
  return std::nullopt;
}

std::string StoredPdfBitmapFormat() {
  const std::optional<std::string> v = RegGetUserString("PDF_Bitmp_Format");
  if (!v || v->size() < 2)
    return "BMP";
  return *v;
}

namespace {

// Indexed colour after the reduction to the chosen count. The reduced page already has a colour map of at most 256
// entries (grey for a grey page); the image library's palette conversion would turn a grey map back into colour
// and reduce the page a second time, which costs as much as the reduction itself. Then only the type is recorded,
// for the encoders.
void makePalette(Magick::Image &image) {
  const MagickCore::Image *im = image.constImage();
  if (im->storage_class != MagickCore::PseudoClass || im->colors < 1 || im->colors > 256 || !im->colormap) {
    image.type(Magick::PaletteType);
    return;
  }
  image.modifyImage();
  image.imageInfo()->type = MagickCore::PaletteType;
}

} // namespace

void ApplyFormatOptionSet(Magick::Image &image, FormatCode code, const Settings &s) {
  using namespace Magick;
  switch (code) {
  case FormatJPG:
    image.type(s.JPG_Gray ? GrayscaleType : TrueColorType);
    image.interlaceType(s.JPG_Progress ? LineInterlace : NoInterlace);
    image.quality(size_t(std::clamp(s.JPG_Quality, 0, 100)));
    break;
  case FormatGIF:
    // Indexed colour is reached by one reduction straight to the chosen count: asking for the palette type first
    // would reduce a true colour page to 256 colours and then reduce those again.
    image.interlaceType(s.GIF_Interlace ? LineInterlace : NoInterlace);
    if (s.GIF_IndexGray != 0)
      image.type(GrayscaleType);
    image.quantizeColors(size_t(std::clamp(s.GIF_Colors, 2, 256)));
    if (s.GIF_Dither)
      image.quantizeDither(true);
    image.quantize(false);
    if (s.GIF_IndexGray == 0)
      makePalette(image);
    break;
  case FormatPNG:
    if (s.PNG_TrueIndexGray != 1)
      image.type(s.PNG_TrueIndexGray == 0 ? TrueColorType : GrayscaleType);
    image.interlaceType(s.PNG_Interlace ? LineInterlace : NoInterlace);
    if (s.PNG_TrueIndexGray != 0) {
      image.quantizeColors(size_t(std::clamp(s.PNG_Colors, 2, 256)));
      if (s.PNG_Dither)
        image.quantizeDither(true);
      image.quantize(false);
    }
    if (s.PNG_TrueIndexGray == 1)
      makePalette(image);
    // The encoder would otherwise pick the smallest type that holds the pixels (a grey page in true colour
    // became a one-bit grey file): the file gets the colour type the option names, true colour with 8 bits.
    image.defineValue("png", "color-type", s.PNG_TrueIndexGray == 0 ? "2" : s.PNG_TrueIndexGray == 1 ? "3" : "0");
    if (s.PNG_TrueIndexGray == 0)
      image.defineValue("png", "bit-depth", "8");
    break;
  case FormatTIF:
    // Eight bits per sample: the library's own depth would write sixteen. Bilevel writes one.
    if (s.TIF_TrueIndexGray != 3)
      image.depth(8);
    switch (s.TIF_TrueIndexGray) {
    case 0:
      image.type(TrueColorType);
      break;
    case 2:
      image.type(GrayscaleType);
      break;
    case 3:
      image.type(BilevelType);
      image.depth(1); // one bit per sample, as black and white is meant to be stored
      break;
    default:
      break;
    }
    if (s.TIF_TrueIndexGray == 1 || s.TIF_TrueIndexGray == 2) {
      image.quantizeColors(size_t(std::clamp(s.TIF_Colors, 2, 256)));
      image.quantize(false);
    }
    if (s.TIF_TrueIndexGray == 1)
      makePalette(image); // after the one reduction to the chosen count, as for GIF
    if (s.TIF_Lzw)
      image.compressType(LZWCompression);
    break;
  case FormatBMP:
    break;
  }
}

void ApplyFormatOptions(Magick::Image &image, int outputMode, const Settings &s,
                        const std::optional<std::string> &pdfFormat) {
  if (outputMode == 0) {
    ApplyFormatOptionSet(image, DefaultFormat(s), s);
  } else if (outputMode == 1) {
    const std::optional<FormatCode> code = PdfInsideOptionFormat(pdfFormat ? *pdfFormat : StoredPdfBitmapFormat());
    if (code)
      ApplyFormatOptionSet(image, *code, s);
  }
}

void ApplyFormatOptions(Magick::Image &image, int outputMode) { ApplyFormatOptions(image, outputMode, settings()); }

} // namespace render
