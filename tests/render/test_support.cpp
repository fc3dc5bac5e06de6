#include "test_support.h"

#include <QFile>
#include <QPainter>
#include <cstring>
#include <vector>

using MagickCore::Quantum;

namespace rtest {

QString dataFile(const char *name) { return QStringLiteral(FOLVEX_TEST_DATA "/render/") + QString::fromUtf8(name); }

namespace {
void put32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i)
    v[at + i] = uint8_t(x >> (8 * i));
}
} // namespace

emf::HENHMETAFILE blankPage(int frameRight, int frameBottom, int frameLeft, int frameTop) {
  std::vector<uint8_t> b(108 + 20, 0);
  put32(b, 0, 1);   // EMR_HEADER
  put32(b, 4, 108); // record size
  put32(b, 8, 0);   // bounds
  put32(b, 12, 0);
  put32(b, 16, 100);
  put32(b, 20, 100);
  put32(b, 24, uint32_t(frameLeft));
  put32(b, 28, uint32_t(frameTop));
  put32(b, 32, uint32_t(frameRight));
  put32(b, 36, uint32_t(frameBottom));
  put32(b, 40, 0x464D4520); // " EMF"
  put32(b, 44, 0x10000);
  put32(b, 48, uint32_t(b.size()));
  put32(b, 52, 2);    // records
  b[56] = 1;          // handles
  put32(b, 72, 1024); // reference device, pixels
  put32(b, 76, 768);
  put32(b, 80, 320); // and millimetres
  put32(b, 84, 240);
  put32(b, 100, 320000);
  put32(b, 104, 240000);
  put32(b, 108, 14); // EMR_EOF
  put32(b, 112, 20);
  put32(b, 116, 0);
  put32(b, 120, 16);
  put32(b, 124, 20);
  return emf::SetEnhMetaFileBits(b);
}

emf::HENHMETAFILE loadData(const char *name) { return emf::GetEnhMetaFileA(dataFile(name).toStdString()); }

QImage wholePage(const emf::HENHMETAFILE &mf, int cols, int rows, int S, const render::BackgroundParams &bg) {
  QImage page(cols * S, rows * S, QImage::Format_RGB32);
  const QRect rect(0, 0, cols * S, rows * S);
  {
    QPainter dc(&page);
    render::PaintBackground(dc, rect, 0, bg);
  }
  if (mf)
    emf::PlayEnhMetaFile(page, mf, rect);
  return page;
}

QImage averageWhole(const QImage &page, int S) {
  QImage out(page.width() / S, page.height() / S, QImage::Format_RGB32);
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) {
      int r = 0, g = 0, b = 0;
      for (int dy = 0; dy < S; ++dy)
        for (int dx = 0; dx < S; ++dx) {
          const QRgb p = page.pixel(x * S + dx, y * S + dy);
          r += qRed(p);
          g += qGreen(p);
          b += qBlue(p);
        }
      out.setPixel(x, y, qRgb(r / (S * S), g / (S * S), b / (S * S)));
    }
  return out;
}

QImage toQImage(const Magick::Image &image) {
  const int w = int(image.columns()), h = int(image.rows());
  QImage out(w, h, QImage::Format_RGB32);
  const Magick::PixelPacket *p = image.getConstPixels(0, 0, size_t(w), size_t(h));
  if (!p)
    return {};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Magick::PixelPacket &q = p[size_t(y) * size_t(w) + size_t(x)];
      out.setPixel(x, y, qRgb(q.red / 257, q.green / 257, q.blue / 257));
    }
  return out;
}

} // namespace rtest
