#include "emf/rop.h"

#include "emf/dib.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace emf {

namespace {

constexpr uint32_t kRgb = 0x00ffffffu;
constexpr uint32_t kOpaque = 0xff000000u;

bool isDirect32(QImage::Format f) {
  return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

// A 32-bit view of an image: the image itself when it already is one, else a converted copy.
const QImage &as32(const QImage &img, QImage &holder) {
  if (isDirect32(img.format()))
    return img;
  holder = img.convertToFormat(QImage::Format_ARGB32);
  return holder;
}

void ensureDst32(QImage &dst) {
  if (!isDirect32(dst.format()))
    dst = dst.convertToFormat(QImage::Format_RGB32);
}

inline int wrapMod(int64_t v, int m) {
  int64_t r = v % m;
  return int(r < 0 ? r + m : r);
}

// Calls f(rect) for every rectangle of `area` inside the clip (or area itself without a clip).
template <typename F> void forClipped(const QRect &area, const QRegion *clip, F &&f) {
  if (area.isEmpty())
    return;
  if (!clip) {
    f(area);
    return;
  }
  const QRegion r = clip->intersected(area);
  for (const QRect &rc : r)
    f(rc);
}

inline const QRgb *row(const QImage &img, int y) { return reinterpret_cast<const QRgb *>(img.constScanLine(y)); }
inline QRgb *row(QImage &img, int y) { return reinterpret_cast<QRgb *>(img.scanLine(y)); }

// Pattern lookup for one destination row.
struct PatternRow {
  const QRgb *line = nullptr; // null: solid colour
  int width = 0;
  int start = 0; // pattern column of the first destination pixel
  uint32_t color = 0;
};

class PatternSource {
public:
  explicit PatternSource(const RopPattern &p) : pat_(p) {
    if (p.image && !p.image->isNull()) {
      img_ = &as32(*p.image, holder_);
    }
  }
  PatternRow rowFor(int y, int x0) const {
    PatternRow r;
    r.color = pat_.color & kRgb;
    if (img_) {
      r.line = row(*img_, wrapMod(int64_t(y) - pat_.origin.y(), img_->height()));
      r.width = img_->width();
      r.start = wrapMod(int64_t(x0) - pat_.origin.x(), r.width);
    }
    return r;
  }

private:
  const RopPattern &pat_;
  const QImage *img_ = nullptr;
  QImage holder_;
};

// Per-pixel evaluation of any operation index, branch-free: minterm k = (P<<2 | S<<1 | D) contributes where bit
// k of the index is set; the masks are all ones or all zeros.
struct RopEval {
  uint32_t m[8];
  explicit RopEval(uint8_t idx) {
    for (int k = 0; k < 8; ++k)
      m[k] = (idx >> k) & 1 ? 0xffffffffu : 0u;
  }
  uint32_t operator()(uint32_t d, uint32_t s, uint32_t p) const {
    const uint32_t sd = s & d, sn = s & ~d, nd = ~s & d, nn = ~(s | d);
    const uint32_t withP = (sd & m[7]) | (sn & m[6]) | (nd & m[5]) | (nn & m[4]);
    const uint32_t withoutP = (sd & m[3]) | (sn & m[2]) | (nd & m[1]) | (nn & m[0]);
    return (p & withP) | (~p & withoutP);
  }
};

// Runs op(d, s, p) over one rectangle. S and P are only read when the operation needs them.
template <bool NeedS, bool NeedP, typename Op>
void runRect(QImage &dst, const QRect &rc, const QImage *src, QPoint srcOrigin, const PatternSource &pat, Op op) {
  for (int y = rc.top(); y <= rc.bottom(); ++y) {
    QRgb *d = row(dst, y) + rc.left();
    const QRgb *s = nullptr;
    if constexpr (NeedS)
      s = row(*src, y - srcOrigin.y()) + (rc.left() - srcOrigin.x());
    PatternRow pr;
    if constexpr (NeedP)
      pr = pat.rowFor(y, rc.left());
    const int w = rc.width();
    if (!NeedP || !pr.line) {
      const uint32_t pc = pr.color;
      for (int x = 0; x < w; ++x)
        d[x] = kOpaque | (op(d[x], NeedS ? s[x] : 0u, pc) & kRgb);
    } else {
      int px = pr.start;
      for (int x = 0; x < w; ++x) {
        d[x] = kOpaque | (op(d[x], NeedS ? s[x] : 0u, pr.line[px]) & kRgb);
        if (++px == pr.width)
          px = 0;
      }
    }
  }
}

template <bool NeedS, bool NeedP, typename Op>
void runAll(QImage &dst, const QRect &area, const QRegion *clip, const QImage *src, QPoint srcOrigin,
            const PatternSource &pat, Op op) {
  forClipped(area, clip, [&](const QRect &rc) { runRect<NeedS, NeedP>(dst, rc, src, srcOrigin, pat, op); });
}

} // namespace

uint32_t rop2(int code, uint32_t d, uint32_t p) {
  uint32_t r;
  switch (code) {
  case R2_BLACK:
    r = 0;
    break;
  case R2_NOTMERGEPEN:
    r = ~(d | p);
    break;
  case R2_MASKNOTPEN:
    r = d & ~p;
    break;
  case R2_NOTCOPYPEN:
    r = ~p;
    break;
  case R2_MASKPENNOT:
    r = p & ~d;
    break;
  case R2_NOT:
    r = ~d;
    break;
  case R2_XORPEN:
    r = d ^ p;
    break;
  case R2_NOTMASKPEN:
    r = ~(d & p);
    break;
  case R2_MASKPEN:
    r = d & p;
    break;
  case R2_NOTXORPEN:
    r = ~(d ^ p);
    break;
  case R2_NOP:
    r = d;
    break;
  case R2_MERGENOTPEN:
    r = d | ~p;
    break;
  case R2_MERGEPENNOT:
    r = p | ~d;
    break;
  case R2_MERGEPEN:
    r = d | p;
    break;
  case R2_WHITE:
    r = 0xffffffffu;
    break;
  case R2_COPYPEN:
  default:
    r = p;
    break;
  }
  return r & kRgb;
}

void applyRop2Layer(QImage &dst, const QImage &layer, QPoint layerOrigin, int code, const QRegion *clip) {
  if (dst.isNull() || layer.isNull())
    return;
  ensureDst32(dst);
  QImage holder;
  const QImage &l = as32(layer, holder);
  const bool premul = l.format() == QImage::Format_ARGB32_Premultiplied;
  const bool hasAlpha = l.format() != QImage::Format_RGB32;
  const QRect area = dst.rect() & QRect(layerOrigin, l.size());
  forClipped(area, clip, [&](const QRect &rc) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
      QRgb *d = row(dst, y);
      const QRgb *s = row(l, y - layerOrigin.y());
      for (int x = rc.left(); x <= rc.right(); ++x) {
        QRgb c = s[x - layerOrigin.x()];
        if (hasAlpha) {
          if (qAlpha(c) < 128)
            continue;
          if (premul)
            c = qUnpremultiply(c);
        }
        d[x] = kOpaque | rop2(code, d[x], c);
      }
    }
  });
}

bool ropUsesSource(uint32_t dwRop) {
  const uint8_t i = ropIndex(dwRop);
  return ((i >> 2) & 0x33) != (i & 0x33);
}
bool ropUsesPattern(uint32_t dwRop) {
  const uint8_t i = ropIndex(dwRop);
  return ((i >> 4) & 0x0f) != (i & 0x0f);
}
bool ropUsesDestination(uint32_t dwRop) {
  const uint8_t i = ropIndex(dwRop);
  return ((i >> 1) & 0x55) != (i & 0x55);
}

uint32_t rop3(uint8_t index, uint32_t dst, uint32_t src, uint32_t pat) { return RopEval(index)(dst, src, pat) & kRgb; }

void applyRop3(QImage &dst, const QRect &dstRect, const QImage *src, QPoint srcOrigin, const RopPattern &pattern,
               uint32_t dwRop, const QRegion *clip) {
  if (dst.isNull())
    return;
  ensureDst32(dst);
  QRect area = dstRect.normalized() & dst.rect();
  const bool needS = ropUsesSource(dwRop);
  const bool needP = ropUsesPattern(dwRop);
  QImage srcHolder;
  const QImage *s = nullptr;
  if (needS) {
    if (!src || src->isNull())
      return;
    s = &as32(*src, srcHolder);
    area &= QRect(srcOrigin, s->size());
  }
  if (area.isEmpty())
    return;
  const PatternSource pat(pattern);
  const uint8_t idx = ropIndex(dwRop);
  switch (idx) {
  case 0xCC: // SRCCOPY
    forClipped(area, clip, [&](const QRect &rc) {
      for (int y = rc.top(); y <= rc.bottom(); ++y) {
        QRgb *d = row(dst, y) + rc.left();
        const QRgb *sr = row(*s, y - srcOrigin.y()) + (rc.left() - srcOrigin.x());
        for (int x = 0, w = rc.width(); x < w; ++x)
          d[x] = sr[x] | kOpaque;
      }
    });
    return;
  case 0x00: // BLACKNESS
  case 0xFF: // WHITENESS
  {
    const uint32_t v = idx ? 0xffffffffu : kOpaque;
    forClipped(area, clip, [&](const QRect &rc) {
      for (int y = rc.top(); y <= rc.bottom(); ++y)
        std::fill_n(row(dst, y) + rc.left(), rc.width(), v);
    });
    return;
  }
  case 0xAA: // destination unchanged
    return;
  case 0xEE:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t sv, uint32_t) { return d | sv; });
    return;
  case 0x88:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t sv, uint32_t) { return d & sv; });
    return;
  case 0x66:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t sv, uint32_t) { return d ^ sv; });
    return;
  case 0x44:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t sv, uint32_t) { return sv & ~d; });
    return;
  case 0x33:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t, uint32_t sv, uint32_t) { return ~sv; });
    return;
  case 0x11:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat,
                        [](uint32_t d, uint32_t sv, uint32_t) { return ~(d | sv); });
    return;
  case 0xC0:
    runAll<true, true>(dst, area, clip, s, srcOrigin, pat, [](uint32_t, uint32_t sv, uint32_t p) { return sv & p; });
    return;
  case 0xBB:
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t sv, uint32_t) { return ~sv | d; });
    return;
  case 0xF0:
    runAll<false, true>(dst, area, clip, s, srcOrigin, pat, [](uint32_t, uint32_t, uint32_t p) { return p; });
    return;
  case 0xFB:
    runAll<true, true>(dst, area, clip, s, srcOrigin, pat,
                       [](uint32_t d, uint32_t sv, uint32_t p) { return p | ~sv | d; });
    return;
  case 0x5A:
    runAll<false, true>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t, uint32_t p) { return d ^ p; });
    return;
  case 0x55:
    runAll<false, false>(dst, area, clip, s, srcOrigin, pat, [](uint32_t d, uint32_t, uint32_t) { return ~d; });
    return;
  case 0xB8: // PSDPxax: the pattern through a monochrome source mask, common in text and icon drawing
    runAll<true, true>(dst, area, clip, s, srcOrigin, pat,
                       [](uint32_t d, uint32_t sv, uint32_t p) { return ((d ^ p) & sv) ^ p; });
    return;
  case 0xE2: // DSPDxax
    runAll<true, true>(dst, area, clip, s, srcOrigin, pat,
                       [](uint32_t d, uint32_t sv, uint32_t p) { return ((p ^ d) & sv) ^ d; });
    return;
  default:
    break;
  }
  const RopEval ev(idx);
  if (needS && needP)
    runAll<true, true>(dst, area, clip, s, srcOrigin, pat, ev);
  else if (needS)
    runAll<true, false>(dst, area, clip, s, srcOrigin, pat, ev);
  else if (needP)
    runAll<false, true>(dst, area, clip, s, srcOrigin, pat, ev);
  else
    runAll<false, false>(dst, area, clip, s, srcOrigin, pat, ev);
}

void applyRop4(QImage &dst, const QRect &dstRect, const QImage *src, QPoint srcOrigin, const RopPattern &pattern,
               uint32_t rop4, const QImage *mask, QPoint maskOrigin, const QRegion *clip) {
  const uint8_t fg = uint8_t((rop4 >> 16) & 0xff);
  const uint8_t bg = uint8_t((rop4 >> 24) & 0xff);
  if (!mask || mask->isNull() || fg == bg) {
    applyRop3(dst, dstRect, src, srcOrigin, pattern, uint32_t(fg) << 16, clip);
    return;
  }
  if (dst.isNull())
    return;
  ensureDst32(dst);
  QRect area = dstRect.normalized() & dst.rect();
  const bool needS = ropUsesSource(uint32_t(fg) << 16) || ropUsesSource(uint32_t(bg) << 16);
  QImage srcHolder;
  const QImage *s = nullptr;
  if (needS) {
    if (!src || src->isNull())
      return;
    s = &as32(*src, srcHolder);
    area &= QRect(srcOrigin, s->size());
  }
  if (area.isEmpty())
    return;
  const QImage m =
      mask->format() == QImage::Format_Grayscale8 ? *mask : mask->convertToFormat(QImage::Format_Grayscale8);
  const bool greyThreshold = mask->format() != QImage::Format_Grayscale8;
  const QRect maskArea(maskOrigin, m.size());
  const PatternSource pat(pattern);
  const RopEval fgEval(fg), bgEval(bg);
  forClipped(area, clip, [&](const QRect &rc) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
      QRgb *d = row(dst, y);
      const QRgb *sr = needS ? row(*s, y - srcOrigin.y()) : nullptr;
      const bool maskRow = y >= maskArea.top() && y <= maskArea.bottom();
      const uint8_t *mr = maskRow ? m.constScanLine(y - maskOrigin.y()) : nullptr;
      PatternRow pr = pat.rowFor(y, rc.left());
      int px = pr.start;
      for (int x = rc.left(); x <= rc.right(); ++x) {
        bool bit = false;
        if (mr && x >= maskArea.left() && x <= maskArea.right())
          bit = greyThreshold ? mr[x - maskOrigin.x()] >= 128 : mr[x - maskOrigin.x()] != 0;
        const uint32_t pv = pr.line ? pr.line[px] : pr.color;
        if (pr.line && ++px == pr.width)
          px = 0;
        d[x] = kOpaque | ((bit ? fgEval : bgEval)(d[x], sr ? sr[x - srcOrigin.x()] : 0u, pv) & kRgb);
      }
    }
  });
}

namespace {

// Source span [a, b) of one destination index along one axis; a == b means "outside the source".
struct Span {
  int a = 0, b = 0;
};

enum class Combine { Nearest, And, Or, Average };

// Maps `count` destination indices starting at `first` (final, possibly mirrored coordinates) onto the source
// interval [s0, s0 + sLen) clipped to [0, limit).
std::vector<Span> axisSpans(int64_t s0, int64_t sLen, int64_t dLen, bool mirror, int first, int count, bool merge,
                            int limit) {
  std::vector<Span> out(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int64_t final = first + i;
    const int64_t u = mirror ? dLen - 1 - final : final;
    int64_t a, b;
    if (merge) {
      a = s0 + (u * sLen) / dLen;
      b = s0 + ((u + 1) * sLen) / dLen;
      if (b <= a)
        b = a + 1;
    } else {
      // the source pixel under the destination pixel's centre; a centre exactly on a source pixel edge takes
      // the pixel before it (so 24 rows enlarged to 126 repeat 5, 6, 5, 5, 5, 6, ... times)
      a = s0 + ((2 * u + 1) * sLen - 1) / (2 * dLen);
      b = a + 1;
    }
    a = std::clamp<int64_t>(a, 0, limit);
    b = std::clamp<int64_t>(b, 0, limit);
    out[size_t(i)] = Span{int(a), int(b)};
  }
  return out;
}

inline uint32_t combineSpan(const QRgb *p, int a, int b, int step, Combine c) {
  switch (c) {
  case Combine::Nearest:
    return p[ptrdiff_t(a) * step];
  case Combine::And: {
    uint32_t v = 0xffffffffu;
    for (int i = a; i < b; ++i)
      v &= p[ptrdiff_t(i) * step];
    return v;
  }
  case Combine::Or: {
    uint32_t v = 0;
    for (int i = a; i < b; ++i)
      v |= p[ptrdiff_t(i) * step];
    return v;
  }
  case Combine::Average: {
    uint32_t sa = 0, sr = 0, sg = 0, sb = 0;
    for (int i = a; i < b; ++i) {
      const QRgb v = p[ptrdiff_t(i) * step];
      sa += qAlpha(v);
      sr += qRed(v);
      sg += qGreen(v);
      sb += qBlue(v);
    }
    const uint32_t n = uint32_t(b - a), h = n / 2;
    return qRgba(int((sr + h) / n), int((sg + h) / n), int((sb + h) / n), int((sa + h) / n));
  }
  }
  return 0;
}

} // namespace

namespace {

// A QImage read as rows (Format_ARGB32 or RGB32; others are converted once).
class ImageRows : public RowSource {
public:
  explicit ImageRows(const QImage &src)
      : img_(src.format() == QImage::Format_ARGB32 || src.format() == QImage::Format_RGB32
                 ? src
                 : src.convertToFormat(QImage::Format_ARGB32)) {}
  int width() const override { return img_.width(); }
  int height() const override { return img_.height(); }
  const QRgb *row(int y) override { return emf::row(std::as_const(img_), y); }
  bool opaque() const { return img_.format() == QImage::Format_RGB32; }

private:
  QImage img_;
};

} // namespace

QImage stretchForBlt(const QImage &src, QRect srcRect, QSize dstSize, int stretchMode, bool mirrorX, bool mirrorY,
                     QRect *validRect, const QRect *part, uint64_t maxPixels) {
  if (validRect)
    *validRect = QRect();
  if (src.isNull())
    return {};
  ImageRows rows(src);
  return stretchForBlt(rows, rows.opaque(), srcRect, dstSize, stretchMode, mirrorX, mirrorY, validRect, part,
                       maxPixels);
}

QImage stretchForBlt(RowSource &s, bool opaque, QRect srcRect, QSize dstSize, int stretchMode, bool mirrorX,
                     bool mirrorY, QRect *validRect, const QRect *part, uint64_t maxPixels) {
  if (validRect)
    *validRect = QRect();
  srcRect = srcRect.normalized();
  if (s.width() <= 0 || s.height() <= 0 || srcRect.isEmpty() || dstSize.isEmpty())
    return {};
  const QRect want = part ? (*part & QRect(QPoint(0, 0), dstSize)) : QRect(QPoint(0, 0), dstSize);
  if (want.isEmpty() || uint64_t(want.width()) * uint64_t(want.height()) > maxPixels)
    return {};

  auto combineFor = [&](int dLen, int sLen) {
    if (dLen >= sLen)
      return Combine::Nearest;
    switch (stretchMode) {
    case BLACKONWHITE:
      return Combine::And;
    case WHITEONBLACK:
      return Combine::Or;
    case HALFTONE:
      return Combine::Average;
    default:
      return Combine::Nearest;
    }
  };
  const Combine cx = combineFor(dstSize.width(), srcRect.width());
  const Combine cy = combineFor(dstSize.height(), srcRect.height());
  const std::vector<Span> xs = axisSpans(srcRect.x(), srcRect.width(), dstSize.width(), mirrorX, want.x(), want.width(),
                                         cx != Combine::Nearest, s.width());
  const std::vector<Span> ys = axisSpans(srcRect.y(), srcRect.height(), dstSize.height(), mirrorY, want.y(),
                                         want.height(), cy != Combine::Nearest, s.height());

  QImage out(want.size(), QImage::Format_ARGB32);
  if (out.isNull())
    return {};
  const QRgb fixAlpha = opaque ? kOpaque : 0;

  // valid part: indices with non-empty spans on both axes (contiguous, the mapping being monotonic)
  auto validRange = [](const std::vector<Span> &v, int &lo, int &hi) {
    lo = -1;
    hi = -2;
    for (int i = 0; i < int(v.size()); ++i)
      if (v[size_t(i)].b > v[size_t(i)].a) {
        if (lo < 0)
          lo = i;
        hi = i;
      }
  };
  int x0, x1, y0, y1;
  validRange(xs, x0, x1);
  validRange(ys, y0, y1);
  out.fill(Qt::transparent);
  if (x0 < 0 || y0 < 0)
    return out;
  if (validRect)
    *validRect = QRect(QPoint(x0, y0), QPoint(x1, y1));

  if (cx == Combine::Nearest && cy == Combine::Nearest) {
    for (int y = y0; y <= y1; ++y) {
      const QRgb *sr = s.row(ys[size_t(y)].a);
      if (!sr)
        return {};
      QRgb *d = row(out, y);
      for (int x = x0; x <= x1; ++x)
        d[x] = sr[xs[size_t(x)].a] | fixAlpha;
    }
    return out;
  }
  // Each source row is combined horizontally once, then folded into the destination rows it belongs to: only one
  // row of the source is needed at a time.
  const int bw = x1 - x0 + 1;
  std::vector<QRgb> hrow(static_cast<size_t>(bw));
  std::vector<uint32_t> acc(size_t(bw) * 4);
  for (int y = y0; y <= y1; ++y) {
    const Span sp = ys[size_t(y)];
    QRgb *d = row(out, y);
    const int first = sp.a, last = cy == Combine::Nearest ? sp.a + 1 : sp.b;
    for (int r = first; r < last; ++r) {
      const QRgb *sr = s.row(r);
      if (!sr)
        return {};
      for (int x = x0; x <= x1; ++x) {
        const Span sx = xs[size_t(x)];
        hrow[size_t(x - x0)] = combineSpan(sr, sx.a, sx.b, 1, cx) | fixAlpha;
      }
      if (cy == Combine::Nearest) {
        std::copy(hrow.begin(), hrow.end(), d + x0);
        break;
      }
      for (int x = 0; x < bw; ++x) {
        const QRgb v = hrow[size_t(x)];
        uint32_t *a = acc.data() + size_t(x) * 4;
        if (r == first) {
          if (cy == Combine::Average) {
            a[0] = qAlpha(v), a[1] = qRed(v), a[2] = qGreen(v), a[3] = qBlue(v);
          } else {
            a[0] = v;
          }
        } else if (cy == Combine::Average) {
          a[0] += qAlpha(v), a[1] += qRed(v), a[2] += qGreen(v), a[3] += qBlue(v);
        } else if (cy == Combine::And) {
          a[0] &= v;
        } else {
          a[0] |= v;
        }
      }
    }
    if (cy == Combine::Nearest)
      continue;
    const uint32_t n = uint32_t(last - first), h = n / 2;
    for (int x = 0; x < bw; ++x) {
      const uint32_t *a = acc.data() + size_t(x) * 4;
      d[x0 + x] = cy == Combine::Average
                      ? qRgba(int((a[1] + h) / n), int((a[2] + h) / n), int((a[3] + h) / n), int((a[0] + h) / n))
                      : a[0];
    }
  }
  return out;
}

void alphaBlend(QImage &dst, const QRect &dstRect, const QImage &src, QPoint srcOrigin, const BlendFunction &bf,
                const QRegion *clip) {
  if (dst.isNull() || src.isNull())
    return;
  ensureDst32(dst);
  QImage holder;
  const QImage &s = as32(src, holder);
  const QRect area = dstRect.normalized() & dst.rect() & QRect(srcOrigin, s.size());
  const uint32_t sca = bf.sourceConstantAlpha;
  const bool perPixel = (bf.alphaFormat & AC_SRC_ALPHA) && s.format() != QImage::Format_RGB32;
  if (sca == 0 && !perPixel)
    return;
  forClipped(area, clip, [&](const QRect &rc) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
      QRgb *d = row(dst, y) + rc.left();
      const QRgb *sr = row(s, y - srcOrigin.y()) + (rc.left() - srcOrigin.x());
      for (int x = 0, w = rc.width(); x < w; ++x) {
        const QRgb sv = sr[x], dv = d[x];
        if (!perPixel) {
          const uint32_t inv = 255 - sca;
          const uint32_t r = (qRed(sv) * sca + qRed(dv) * inv + 127) / 255;
          const uint32_t g = (qGreen(sv) * sca + qGreen(dv) * inv + 127) / 255;
          const uint32_t b = (qBlue(sv) * sca + qBlue(dv) * inv + 127) / 255;
          d[x] = kOpaque | (r << 16) | (g << 8) | b;
          continue;
        }
        uint32_t sa = qAlpha(sv), sr8 = qRed(sv), sg8 = qGreen(sv), sb8 = qBlue(sv);
        if (sca != 255) {
          sa = (sa * sca + 127) / 255;
          sr8 = (sr8 * sca + 127) / 255;
          sg8 = (sg8 * sca + 127) / 255;
          sb8 = (sb8 * sca + 127) / 255;
        }
        if (sa == 255) {
          d[x] = kOpaque | (sr8 << 16) | (sg8 << 8) | sb8;
          continue;
        }
        const uint32_t inv = 255 - sa;
        const uint32_t r = std::min<uint32_t>(255, sr8 + (qRed(dv) * inv + 127) / 255);
        const uint32_t g = std::min<uint32_t>(255, sg8 + (qGreen(dv) * inv + 127) / 255);
        const uint32_t b = std::min<uint32_t>(255, sb8 + (qBlue(dv) * inv + 127) / 255);
        d[x] = kOpaque | (r << 16) | (g << 8) | b;
      }
    }
  });
}

void transparentBlt(QImage &dst, const QRect &dstRect, const QImage &src, QPoint srcOrigin, uint32_t transparent,
                    const QRegion *clip) {
  if (dst.isNull() || src.isNull())
    return;
  ensureDst32(dst);
  QImage holder;
  const QImage &s = as32(src, holder);
  const QRect area = dstRect.normalized() & dst.rect() & QRect(srcOrigin, s.size());
  const uint32_t key = transparent & kRgb;
  forClipped(area, clip, [&](const QRect &rc) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
      QRgb *d = row(dst, y) + rc.left();
      const QRgb *sr = row(s, y - srcOrigin.y()) + (rc.left() - srcOrigin.x());
      for (int x = 0, w = rc.width(); x < w; ++x)
        if ((sr[x] & kRgb) != key)
          d[x] = sr[x] | kOpaque;
    }
  });
}

} // namespace emf
