#include "capture/image_pdf.h"

#include <Magick++.h>
#include <zlib.h>

#include <cmath>
#include <exception>
#include <vector>

namespace capture {
namespace {

// One decoded picture: 8-bit RGB samples, and 8-bit alpha when the picture has transparency.
struct Picture {
  size_t width = 0, height = 0;
  double dpiX = 72, dpiY = 72;
  QByteArray rgb;
  QByteArray alpha; // empty when opaque
};

const char *coderOf(ImageFormat f) {
  switch (f) {
  case ImageFormat::Png:
    return "png";
  case ImageFormat::Jpeg:
    return "jpeg";
  case ImageFormat::Tiff:
    return "tiff";
  case ImageFormat::Gif:
    return "gif";
  }
  return "png";
}

bool deflate(const QByteArray &in, QByteArray &out) {
  uLongf size = compressBound(uLong(in.size()));
  out.resize(qsizetype(size));
  if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(in.constData()),
                uLong(in.size()), Z_BEST_SPEED) != Z_OK)
    return false;
  out.resize(qsizetype(size));
  return true;
}

// Reads frame `frame` of the file through the named coder only (so a file is never read as another format).
bool readPicture(const QString &path, ImageFormat format, int frame, Picture &pic, std::string &error) {
  const std::string frameName =
      std::string(coderOf(format)) + ":" + path.toStdString() + "[" + std::to_string(frame) + "]";
  Magick::Image img;
  try {
    Magick::Image probe;
    probe.ping(frameName);
    const long long pixels = (long long)probe.columns() * (long long)probe.rows();
    if (probe.columns() == 0 || probe.rows() == 0) {
      error = "the image is empty";
      return false;
    }
    if (pixels > kMaxImagePixels) {
      error = "the image is too large (" + std::to_string(probe.columns()) + " x " + std::to_string(probe.rows()) +
              " pixels)";
      return false;
    }
    img.read(frameName);
  } catch (const Magick::Warning &) {
    // A warning still leaves a picture (for instance an unknown chunk); an error does not.
  } catch (const std::exception &e) {
    error = e.what();
    return false;
  }
  if (img.columns() == 0 || img.rows() == 0) {
    error = "the image is empty";
    return false;
  }
  try {
    if (img.colorSpace() == Magick::CMYKColorspace)
      img.colorSpace(Magick::sRGBColorspace);
    pic.width = img.columns();
    pic.height = img.rows();
    // Not density(): its geometry keeps whole numbers only, and 300 dpi arrive as 118.11 pixels per centimetre.
    pic.dpiX = ImageResolution(int(img.resolutionUnits()), img.xResolution());
    pic.dpiY = ImageResolution(int(img.resolutionUnits()), img.yResolution());
    const size_t n = pic.width * pic.height;
    QByteArray rgba(qsizetype(n * 4), Qt::Uninitialized);
    img.write(0, 0, pic.width, pic.height, "RGBA", Magick::CharPixel, rgba.data());
    pic.rgb.resize(qsizetype(n * 3));
    const bool transparent = img.matte();
    if (transparent)
      pic.alpha.resize(qsizetype(n));
    const auto *src = reinterpret_cast<const uint8_t *>(rgba.constData());
    auto *rgb = reinterpret_cast<uint8_t *>(pic.rgb.data());
    for (size_t i = 0; i < n; ++i) {
      rgb[3 * i] = src[4 * i];
      rgb[3 * i + 1] = src[4 * i + 1];
      rgb[3 * i + 2] = src[4 * i + 2];
      if (transparent)
        pic.alpha[qsizetype(i)] = char(src[4 * i + 3]);
    }
  } catch (const std::exception &e) {
    error = e.what();
    return false;
  }
  return true;
}

// A PDF document of one page per picture, each image drawn over the whole page.
class PdfBuilder {
public:
  PdfBuilder() { out_ = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"; }

  bool addPage(const Picture &pic) {
    QByteArray rgb, alpha;
    if (!deflate(pic.rgb, rgb) || (!pic.alpha.isEmpty() && !deflate(pic.alpha, alpha)))
      return false;
    const double w = double(pic.width) * 72.0 / pic.dpiX;
    const double h = double(pic.height) * 72.0 / pic.dpiY;
    const int page = reserve(), content = reserve(), image = reserve();
    const int mask = alpha.isEmpty() ? 0 : reserve();
    pages_.push_back(page);
    begin(page);
    out_ += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(w) + " " + number(h) +
            "] /Resources << /XObject << /Im0 " + ref(image) + " >> >> /Contents " + ref(content) + " >>\n";
    end();
    const QByteArray draw = "q " + number(w) + " 0 0 " + number(h) + " 0 0 cm /Im0 Do Q\n";
    stream(content, "<< /Length " + QByteArray::number(draw.size()) + " >>", draw);
    QByteArray dict = "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(qulonglong(pic.width)) +
                      " /Height " + QByteArray::number(qulonglong(pic.height)) +
                      " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode /Length " +
                      QByteArray::number(rgb.size());
    if (mask)
      dict += " /SMask " + ref(mask);
    stream(image, dict + " >>", rgb);
    if (mask)
      stream(mask,
             "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(qulonglong(pic.width)) + " /Height " +
                 QByteArray::number(qulonglong(pic.height)) +
                 " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length " +
                 QByteArray::number(alpha.size()) + " >>",
             alpha);
    return true;
  }

  QByteArray finish() {
    begin(1);
    out_ += "<< /Type /Catalog /Pages 2 0 R >>\n";
    end();
    begin(2);
    out_ += "<< /Type /Pages /Count " + QByteArray::number(qulonglong(pages_.size())) + " /Kids [";
    for (int p : pages_)
      out_ += " " + ref(p);
    out_ += " ] >>\n";
    end();
    const qsizetype xref = out_.size();
    out_ += "xref\n0 " + QByteArray::number(qulonglong(offsets_.size())) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i < offsets_.size(); ++i)
      out_ += QByteArray::number(qlonglong(offsets_[i])).rightJustified(10, '0') + " 00000 n \n";
    out_ += "trailer\n<< /Size " + QByteArray::number(qulonglong(offsets_.size())) + " /Root 1 0 R >>\nstartxref\n" +
            QByteArray::number(qlonglong(xref)) + "\n%%EOF\n";
    return out_;
  }

  bool empty() const { return pages_.empty(); }

private:
  static QByteArray number(double v) { return QByteArray::number(v, 'f', 4); }
  static QByteArray ref(int object) { return QByteArray::number(object) + " 0 R"; }
  int reserve() {
    offsets_.push_back(0);
    return int(offsets_.size()) - 1;
  }
  void begin(int object) {
    offsets_[size_t(object)] = out_.size();
    out_ += QByteArray::number(object) + " 0 obj\n";
  }
  void end() { out_ += "endobj\n"; }
  void stream(int object, const QByteArray &dict, const QByteArray &data) {
    begin(object);
    out_ += dict + "\nstream\n";
    out_ += data;
    out_ += "\nendstream\n";
    end();
  }

  QByteArray out_;
  std::vector<qsizetype> offsets_{0, 0, 0}; // object 0 (free), 1 the catalogue, 2 the page tree
  std::vector<int> pages_;
};

} // namespace

double ImageResolution(int units, double value) {
  double dpi = units == 1 ? value : units == 2 ? value * 2.54 : 0.0;
  return std::isfinite(dpi) && dpi >= 1.0 && dpi <= 100000.0 ? dpi : 72.0;
}

QByteArray ImageToPdf(const QString &path, ImageFormat format, std::string *error) {
  std::string why;
  PdfBuilder pdf;
  const int frames = format == ImageFormat::Tiff ? kMaxImageFrames : 1;
  for (int frame = 0; frame < frames; ++frame) {
    Picture pic;
    if (!readPicture(path, format, frame, pic, why)) {
      if (frame > 0)
        break; // the frames of the file have ended
      if (error)
        *error = why;
      return {};
    }
    if (!pdf.addPage(pic)) {
      if (error)
        *error = "not enough memory for the image";
      return {};
    }
  }
  return pdf.finish();
}

} // namespace capture
