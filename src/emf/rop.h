// Raster operations on Format_RGB32 device images: the 16 binary operations of line and fill drawing, the 256
// ternary operations of blits (destination, source, pattern), bitmap stretching as the stretch modes do it, and
// the alpha-blend and colour-key transfers. Colours are 0x00RRGGBB (the alpha byte of inputs is ignored unless a
// function says otherwise; results written to the destination always have alpha 0xFF).
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <cstdint>

namespace emf {
class RowSource;
}

namespace emf {

// ---- Binary raster operations (SetROP2) ----
enum : int {
  R2_BLACK = 1,
  R2_NOTMERGEPEN = 2,
  R2_MASKNOTPEN = 3,
  R2_NOTCOPYPEN = 4,
  R2_MASKPENNOT = 5,
  R2_NOT = 6,
  R2_XORPEN = 7,
  R2_NOTMASKPEN = 8,
  R2_MASKPEN = 9,
  R2_NOTXORPEN = 10,
  R2_NOP = 11,
  R2_MERGENOTPEN = 12,
  R2_COPYPEN = 13,
  R2_MERGEPENNOT = 14,
  R2_MERGEPEN = 15,
  R2_WHITE = 16,
};

// Result of the binary operation `code` (1..16) on a destination and pen colour, bitwise on the 24 colour bits.
// A code outside 1..16 behaves as R2_COPYPEN.
uint32_t rop2(int code, uint32_t dst, uint32_t pen);

// Applies a binary operation through a drawn layer: every pixel of `layer` (Format_ARGB32 or
// Format_ARGB32_Premultiplied, drawn with QPainter onto a transparent image) whose alpha is at least 128 is
// combined with the destination pixel under it as rop2(code, dst, layer colour). `layerOrigin` is the
// destination position of the layer's pixel (0,0). Clipped to the destination and to `clip` when given.
void applyRop2Layer(QImage &dst, const QImage &layer, QPoint layerOrigin, int code, const QRegion *clip = nullptr);

// ---- Ternary raster operations (the dwRop of blits) ----
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t SRCPAINT = 0x00EE0086;
constexpr uint32_t SRCAND = 0x008800C6;
constexpr uint32_t SRCINVERT = 0x00660046;
constexpr uint32_t SRCERASE = 0x00440328;
constexpr uint32_t NOTSRCCOPY = 0x00330008;
constexpr uint32_t NOTSRCERASE = 0x001100A6;
constexpr uint32_t MERGECOPY = 0x00C000CA;
constexpr uint32_t MERGEPAINT = 0x00BB0226;
constexpr uint32_t PATCOPY = 0x00F00021;
constexpr uint32_t PATPAINT = 0x00FB0A09;
constexpr uint32_t PATINVERT = 0x005A0049;
constexpr uint32_t DSTINVERT = 0x00550009;
constexpr uint32_t BLACKNESS = 0x00000042;
constexpr uint32_t WHITENESS = 0x00FF0062;

// The operation index (0..255) of a dwRop: bits 16..23. Result bit = bit number (P<<2 | S<<1 | D) of the index.
constexpr uint8_t ropIndex(uint32_t dwRop) { return uint8_t((dwRop >> 16) & 0xff); }
// Whether the operation reads the source / the pattern / the destination at all.
bool ropUsesSource(uint32_t dwRop);
bool ropUsesPattern(uint32_t dwRop);
bool ropUsesDestination(uint32_t dwRop);

// Evaluates a ternary operation on one pixel (24 colour bits of each input).
uint32_t rop3(uint8_t index, uint32_t dst, uint32_t src, uint32_t pat);

// The pattern of a blit: the selected brush. With `image` set it is tiled so that its pixel (0,0) lies on
// `origin` (the brush origin in device pixels, wrapped both ways); otherwise every pixel is `color`.
struct RopPattern {
  const QImage *image = nullptr; // any format; converted once per call when it is not RGB32/ARGB32
  QPoint origin;
  uint32_t color = 0; // 0x00RRGGBB
};

// Applies dwRop to `dst` (Format_RGB32 or ARGB32) inside `dstRect` (device pixels). `src` (may be null when the
// operation needs no source) supplies the source pixel for destination (x, y) at (x - srcOrigin.x(),
// y - srcOrigin.y()); it is normally already stretched to the destination size (see stretchForBlt). The work is
// limited to dstRect, the destination image, the source image's area (where a source is needed) and `clip`.
// A source needed but missing leaves the destination untouched. Named operations take fast scanline paths;
// every other index is evaluated bitwise per pixel.
void applyRop3(QImage &dst, const QRect &dstRect, const QImage *src, QPoint srcOrigin, const RopPattern &pattern,
               uint32_t dwRop, const QRegion *clip = nullptr);

// MaskBlt: where the mask bit is 1 the foreground operation (bits 0..23 of rop4, index in bits 16..23) is applied,
// where it is 0 the background operation (index in bits 24..31). `mask` is a Format_Grayscale8 image (nonzero =
// bit 1; DecodedDib::indices of a 1-bit DIB is exactly that; other formats are read as grey >= 128 = 1) whose
// pixel for destination (x, y) is at (x - maskOrigin.x(), y - maskOrigin.y()); outside the mask counts as 0.
// A null mask applies the foreground operation everywhere.
void applyRop4(QImage &dst, const QRect &dstRect, const QImage *src, QPoint srcOrigin, const RopPattern &pattern,
               uint32_t rop4, const QImage *mask, QPoint maskOrigin, const QRegion *clip = nullptr);

// ---- Stretching ----
enum : int {
  BLACKONWHITE = 1, // shrinking ANDs the merged pixels (keeps black)
  WHITEONBLACK = 2, // shrinking ORs them (keeps white)
  COLORONCOLOR = 3, // shrinking drops pixels (nearest)
  HALFTONE = 4,     // shrinking averages the covered area
};

// Stretches the part `srcRect` of `src` (any format; returned as Format_ARGB32, alpha carried through) to
// `dstSize` as the stretch mode does it (modes outside 1..4 behave as COLORONCOLOR; enlarging always repeats
// pixels), mirrored horizontally / vertically when asked (negative extents of a blit). srcRect may reach
// outside src: *validRect (when given) receives the part of the result that comes from inside src (pixels outside
// it are transparent black and must not be drawn: restrict the blit to validRect). Repeated or dropped pixels take
// the source pixel under the destination pixel's centre; a centre exactly on a source pixel edge takes the earlier
// source pixel. With `part` given, only that part of the dstSize result is
// made (the part that a band or clip actually shows): the returned image has part's size, its pixel (0,0) is
// pixel part.topLeft() of the full result, and *validRect is in the returned image's coordinates. The computed
// area is capped at `maxPixels`; a larger request, an empty size, an empty part or an empty srcRect returns a
// null image.
QImage stretchForBlt(const QImage &src, QRect srcRect, QSize dstSize, int stretchMode, bool mirrorX, bool mirrorY,
                     QRect *validRect = nullptr, const QRect *part = nullptr, uint64_t maxPixels = 200ull * 1000000);

// The same from rows read one at a time (a bitmap too large to hold whole): src supplies the rows of the bitmap,
// opaque says its pixels need no alpha; only the rows the result needs are asked for, in increasing order.
QImage stretchForBlt(RowSource &src, bool opaque, QRect srcRect, QSize dstSize, int stretchMode, bool mirrorX,
                     bool mirrorY, QRect *validRect = nullptr, const QRect *part = nullptr,
                     uint64_t maxPixels = 200ull * 1000000);

// ---- Alpha blending and colour keys ----
constexpr uint8_t AC_SRC_OVER = 0x00;
constexpr uint8_t AC_SRC_ALPHA = 0x01;

struct BlendFunction {
  uint8_t blendOp = AC_SRC_OVER;
  uint8_t blendFlags = 0;
  uint8_t sourceConstantAlpha = 255;
  uint8_t alphaFormat = 0; // AC_SRC_ALPHA: per-pixel alpha, colours premultiplied as stored
};

// AlphaBlend of `src` (Format_ARGB32 holding the bytes as stored, e.g. decodeDib(..., keepAlpha = true), already
// stretched) onto dst inside dstRect, the source pixel for (x, y) at (x - srcOrigin.x(), y - srcOrigin.y()).
// Without AC_SRC_ALPHA: dst = src * sca + dst * (1 - sca). With it: each source channel is first scaled by sca
// (as premultiplied), then dst = src' + dst * (1 - alpha'), alpha' = srcAlpha * sca. Channels are clamped to 255
// (stored colours larger than their alpha do not wrap).
void alphaBlend(QImage &dst, const QRect &dstRect, const QImage &src, QPoint srcOrigin, const BlendFunction &bf,
                const QRegion *clip = nullptr);

// TransparentBlt: copies `src` (already stretched, nearest-neighbour so keys survive) onto dst inside dstRect,
// except the pixels whose colour equals `transparent` (0x00RRGGBB, alpha ignored on both sides).
void transparentBlt(QImage &dst, const QRect &dstRect, const QImage &src, QPoint srcOrigin, uint32_t transparent,
                    const QRegion *clip = nullptr);

} // namespace emf
