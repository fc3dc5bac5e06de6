#include "fidelity.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace fidelity {

namespace {

constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);

QImage opaqueRgb(const QImage &img) {
  if (img.format() == QImage::Format_RGB32)
    return img;
  if (!img.hasAlphaChannel())
    return img.convertToFormat(QImage::Format_RGB32);
  QImage out(img.size(), QImage::Format_RGB32);
  out.fill(Qt::white);
  QPainter p(&out);
  p.drawImage(0, 0, img);
  p.end();
  return out;
}

std::vector<double> grey(const QImage &img) {
  std::vector<double> g(size_t(img.width()) * size_t(img.height()));
  for (int y = 0; y < img.height(); ++y) {
    const QRgb *r = reinterpret_cast<const QRgb *>(img.constScanLine(y));
    double *o = g.data() + size_t(y) * size_t(img.width());
    for (int x = 0; x < img.width(); ++x)
      o[x] = qRed(r[x]) * 0.299 + qGreen(r[x]) * 0.587 + qBlue(r[x]) * 0.114;
  }
  return g;
}

// n x n block means; partial blocks at the right and bottom average what they have.
std::vector<double> blockMean(const std::vector<double> &img, int w, int h, int n, int &bw, int &bh) {
  bw = (w + n - 1) / n;
  bh = (h + n - 1) / n;
  std::vector<double> out(size_t(bw) * size_t(bh), 0.0);
  for (int by = 0; by < bh; ++by)
    for (int bx = 0; bx < bw; ++bx) {
      const int y0 = by * n, y1 = std::min(h, y0 + n), x0 = bx * n, x1 = std::min(w, x0 + n);
      double s = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
          s += img[size_t(y) * size_t(w) + size_t(x)];
      out[size_t(by) * size_t(bw) + size_t(bx)] = s / double((y1 - y0) * (x1 - x0));
    }
  return out;
}

// Sums of every wy x wx window (stride 1) through a summed-area table, as (h-wy+1) x (w-wx+1) values.
std::vector<double> windowSums(const std::vector<double> &a, int w, int h, int wy, int wx) {
  std::vector<double> c(size_t(w + 1) * size_t(h + 1), 0.0);
  const size_t cw = size_t(w) + 1;
  // column-wise cumulative sums first, then row-wise, as the reference script does
  std::vector<double> col(size_t(w) * size_t(h));
  for (int x = 0; x < w; ++x) {
    double s = 0;
    for (int y = 0; y < h; ++y) {
      s += a[size_t(y) * size_t(w) + size_t(x)];
      col[size_t(y) * size_t(w) + size_t(x)] = s;
    }
  }
  for (int y = 0; y < h; ++y) {
    double s = 0;
    for (int x = 0; x < w; ++x) {
      s += col[size_t(y) * size_t(w) + size_t(x)];
      c[size_t(y + 1) * cw + size_t(x + 1)] = s;
    }
  }
  const int ow = w - wx + 1, oh = h - wy + 1;
  std::vector<double> out(size_t(ow) * size_t(oh));
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      out[size_t(y) * size_t(ow) + size_t(x)] = c[size_t(y + wy) * cw + size_t(x + wx)] -
                                                c[size_t(y) * cw + size_t(x + wx)] -
                                                c[size_t(y + wy) * cw + size_t(x)] + c[size_t(y) * cw + size_t(x)];
  return out;
}

} // namespace

PageGeometry pageGeometry(const emf::RECTL &frame, int dpi, int scalePercent, int aa) {
  PageGeometry g;
  const int64_t W = int64_t((int64_t(frame.right) - frame.left) * double(scalePercent) / 100.0);
  const int64_t H = int64_t((int64_t(frame.bottom) - frame.top) * double(scalePercent) / 100.0);
  g.cols = int(std::ceil(double(W) * dpi * 0.0003937007874015748));
  g.rows = int(std::ceil(double(H) * dpi * 0.0003937007874015748));
  g.S = aa >= 2 ? aa : 1;
  int K = 200;
  if (g.S >= 12)
    K = 20;
  else if (g.S >= 10)
    K = 40;
  else if (g.S >= 8)
    K = 60;
  else if (g.S >= 6)
    K = 80;
  else if (g.S >= 4)
    K = 100;
  g.B = K * g.S;
  return g;
}

QImage renderPage(const emf::HENHMETAFILE &mf, int aa, int dpi, std::string *error, uint64_t maxPixels) {
  auto failWith = [&](const char *why) {
    if (error)
      *error = why;
    return QImage();
  };
  if (!mf)
    return failWith("no metafile");
  const PageGeometry g = pageGeometry(mf->header().rclFrame, dpi, 100, aa);
  if (g.cols <= 0 || g.rows <= 0)
    return failWith("empty page");
  if (uint64_t(g.cols) * uint64_t(g.rows) > maxPixels)
    return failWith("page too large");
  QImage out(g.cols, g.rows, QImage::Format_RGB32);
  if (out.isNull())
    return failWith("out of memory");
  const int S = g.S, B = g.B;
  const int64_t totalRows = int64_t(g.rows) * S;
  const int n = int(totalRows / B) + 1;
  const QRect page(0, 0, g.cols * S, int(totalRows));
  for (int i = 0; i < n; ++i) {
    const int h = i < n - 1 ? B : int(totalRows - int64_t(B) * (n - 1));
    if (h <= 0)
      break;
    QImage band(g.cols * S, h, QImage::Format_RGB32);
    if (band.isNull())
      return failWith("out of memory");
    band.fill(Qt::white);
    emf::PlayEnhMetaFile(band, mf, page.translated(0, -i * B));
    const int outRows = h / S;
    const unsigned div = unsigned(S * S);
    for (int r = 0; r < outRows; ++r) {
      QRgb *o = reinterpret_cast<QRgb *>(out.scanLine(i * (B / S) + r));
      for (int c = 0; c < g.cols; ++c) {
        unsigned sr = 0, sg = 0, sb = 0;
        for (int dy = 0; dy < S; ++dy) {
          const QRgb *src = reinterpret_cast<const QRgb *>(band.constScanLine(r * S + dy)) + c * S;
          for (int dx = 0; dx < S; ++dx) {
            sr += qRed(src[dx]);
            sg += qGreen(src[dx]);
            sb += qBlue(src[dx]);
          }
        }
        o[c] = qRgb(int(sr / div), int(sg / div), int(sb / div));
      }
    }
  }
  return out;
}

double ssim8(const std::vector<double> &ga, const std::vector<double> &gb, int width, int height) {
  int bw = 0, bh = 0;
  const std::vector<double> x = blockMean(ga, width, height, 8, bw, bh);
  const std::vector<double> y = blockMean(gb, width, height, 8, bw, bh);
  const int wy = std::min(8, bh), wx = std::min(8, bw);
  const double n = double(wy * wx);
  std::vector<double> xx(x.size()), yy(x.size()), xy(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    xx[i] = x[i] * x[i];
    yy[i] = y[i] * y[i];
    xy[i] = x[i] * y[i];
  }
  const auto sx = windowSums(x, bw, bh, wy, wx), sy = windowSums(y, bw, bh, wy, wx);
  const auto sxx = windowSums(xx, bw, bh, wy, wx), syy = windowSums(yy, bw, bh, wy, wx);
  const auto sxy = windowSums(xy, bw, bh, wy, wx);
  double total = 0;
  for (size_t i = 0; i < sx.size(); ++i) {
    const double mx = sx[i] / n, my = sy[i] / n;
    const double vx = std::max(sxx[i] / n - mx * mx, 0.0);
    const double vy = std::max(syy[i] / n - my * my, 0.0);
    const double cov = sxy[i] / n - mx * my;
    total += ((2 * mx * my + kC1) * (2 * cov + kC2)) / ((mx * mx + my * my + kC1) * (vx + vy + kC2));
  }
  return sx.empty() ? 0.0 : total / double(sx.size());
}

Scores compare(const QImage &ain, const QImage &bin) {
  Scores s;
  const QImage a = opaqueRgb(ain), b = opaqueRgb(bin);
  if (a.size() != b.size() || a.isNull())
    return s;
  const int w = a.width(), h = a.height();
  double sumAbs = 0, sumSq = 0;
  uint64_t over = 0;
  for (int y = 0; y < h; ++y) {
    const QRgb *ra = reinterpret_cast<const QRgb *>(a.constScanLine(y));
    const QRgb *rb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const int dr = std::abs(qRed(ra[x]) - qRed(rb[x]));
      const int dg = std::abs(qGreen(ra[x]) - qGreen(rb[x]));
      const int db = std::abs(qBlue(ra[x]) - qBlue(rb[x]));
      sumAbs += dr + dg + db;
      sumSq += double(dr * dr + dg * dg + db * db);
      if (std::max({dr, dg, db}) > 32)
        ++over;
    }
  }
  const double samples = 3.0 * double(w) * double(h);
  s.mad = sumAbs / samples;
  const double mse = sumSq / samples;
  s.psnr = mse == 0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(255.0 * 255.0 / mse);
  s.diff32 = 100.0 * double(over) / (double(w) * double(h));
  s.ssim8 = ssim8(grey(a), grey(b), w, h);
  return s;
}

QImage heatmap(const QImage &ain, const QImage &bin) {
  const QImage a = opaqueRgb(ain), b = opaqueRgb(bin);
  if (a.size() != b.size() || a.isNull())
    return {};
  QImage out(a.size(), QImage::Format_RGB32);
  for (int y = 0; y < a.height(); ++y) {
    const QRgb *ra = reinterpret_cast<const QRgb *>(a.constScanLine(y));
    const QRgb *rb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
    QRgb *o = reinterpret_cast<QRgb *>(out.scanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      const int m = std::max({std::abs(qRed(ra[x]) - qRed(rb[x])), std::abs(qGreen(ra[x]) - qGreen(rb[x])),
                              std::abs(qBlue(ra[x]) - qBlue(rb[x]))});
      if (m > 0) {
        const double t = std::min(1.0, m / 64.0);
        o[x] = qRgb(255, int(std::lround(230.0 * (1.0 - t))), 0);
      } else {
        const double g = qRed(ra[x]) * 0.299 + qGreen(ra[x]) * 0.587 + qBlue(ra[x]) * 0.114;
        const int v = int(std::lround(255.0 - (255.0 - g) * 0.25));
        o[x] = qRgb(v, v, v);
      }
    }
  }
  return out;
}

} // namespace fidelity
