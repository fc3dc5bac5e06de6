// Text output as the metafile's text records describe it: a logical font matched to an installed face, glyphs
// placed one by one (the dx / dy arrays, or the font's own advances), aligned on the reference point.
#pragma once

#include "emf/device_context.h"

#include <QGlyphRun>
#include <QPainterPath>
#include <QRawFont>
#include <QString>
#include <QTransform>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

class QPainter;

namespace emf {

// How a symbol font's character codes reach its glyphs: GDI's symbol character set puts the font's 224 symbols at
// 0xF020..0xF0FF and takes the bare codes 0x20..0xFF for them too. Built from the font's symbol table (Windows
// platform, symbol encoding) or, for a symbol face that only has a Unicode table, its single-byte table; or, for a
// face drawn through its chart, from the glyphs of the chart's Unicode characters in the font that stands in.
class SymbolMap {
public:
  // Null when the font has neither table (with symbolFace false the single-byte table is not used).
  static std::shared_ptr<const SymbolMap> fromFont(const QRawFont &font, bool symbolFace);
  // chart: 224 Unicode characters for the codes 0x20..0xFF, 0 where there is none.
  static std::shared_ptr<const SymbolMap> fromChart(const QRawFont &font, const char32_t *chart);
  // The glyph of a character code, 0 when the symbol table has none.
  quint32 glyph(char32_t code) const;
  // True when every code goes through the table (a charted face): codes it lacks draw the missing glyph.
  bool whole() const { return whole_; }

private:
  std::vector<quint32> glyphs_; // code 0x00..0xFF of the symbol block
  bool whole_ = false;
};

// A symbol face (Symbol, Wingdings 1-3, Webdings, Marlett) found through fontconfig: the font file and the family it
// holds, or an empty name when no such face is installed. A face that is not installed but has a chart of Unicode
// characters (Wingdings 2 and 3) gives the installed font with the most of those characters, and the chart. Other
// faces give an empty name.
struct SymbolFace {
  QString file;
  QString family;
  const char32_t *chart = nullptr;
};
SymbolFace findSymbolFace(const QString &face);
// Any other face that is installed only where fontconfig is told to look for the packaged faces above (a Tahoma),
// matched to the weight and slant; empty when there is none or Qt already has the family.
SymbolFace findPackagedFace(const QString &face, int weight, bool italic);

// A logical font matched and sized for the target.
struct SizedFont {
  QRawFont raw;
  double stretch = 1.0; // horizontal scale of the glyphs (a nonzero width asks for wider or narrower letters)
  double angleDeg = 0;  // baseline angle, counter-clockwise on the page
  bool underline = false, strikeOut = false;
  uint32_t glyphCount = 0xffff;             // glyphs in the font; larger glyph indices draw the missing-glyph box
  std::shared_ptr<const SymbolMap> symbols; // set for symbol fonts: character codes go through it
  double ascent = 0, descent = 0;           // the cell above and below the baseline, target pixels
};

class FontCache {
public:
  // heightPx / widthPx: the font's height and width converted to target pixels (signs as in the logical font).
  SizedFont resolve(const GdiFont &f, double heightPx, double widthPx);

private:
  using Key = std::tuple<QString, int, bool, uint8_t>;
  struct Base {
    QRawFont raw;
    double emPerCell = 1.0; // em size over (ascent + descent)
    uint32_t glyphCount = 0xffff;
    std::shared_ptr<const SymbolMap> symbols;
    double ascentPerEm = 0.8, descentPerEm = 0.2;
  };
  const Base &base(const GdiFont &f);
  std::map<Key, Base> bases_;
  std::map<std::tuple<Key, int64_t>, QRawFont> sized_;
};

// One piece of text ready to draw: glyphs with the pen advance after each (target pixels along the baseline, and
// perpendicular, downwards, for ETO_PDY).
struct TextLayout {
  std::vector<quint32> glyphs;
  std::vector<double> advanceX, advanceY;
  double width() const;
};

// Lays out text: glyph lookup (or glyph indices as given) and the advances (dx when given, else the font's).
TextLayout layoutText(const SizedFont &font, const QString &text, const std::vector<quint32> *glyphIndices,
                      const std::vector<double> *dx, const std::vector<double> *dy);

// Where the text goes: the baseline origin after alignment (target pixels) and the box behind the text.
struct TextPlacement {
  QTransform toTarget; // text space (x along the baseline, y down, baseline at 0, origin at the left end) to target
  QRectF box;          // the text's cell box in text space
};
TextPlacement placeText(const SizedFont &font, const TextLayout &layout, QPointF refTarget, uint32_t textAlign);

// The outlines of the glyphs in target pixels (text drawn inside a path bracket becomes part of the path).
QPainterPath textOutline(const SizedFont &font, const TextLayout &layout, const TextPlacement &place);

// Draws the glyphs in colour (antialiasing is the painter's; the caller sets it).
void drawText(QPainter &p, const SizedFont &font, const TextLayout &layout, const TextPlacement &place, QRgb color);

} // namespace emf
