#include "emf/gdi_text.h"

#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <cmath>
#include <map>

namespace emf {

namespace {

constexpr double kMaxFontPx = 20000; // larger requests are drawn at this size

QFont::StyleHint styleHint(uint8_t pitchAndFamily) {
  switch (pitchAndFamily & 0xf0) {
  case 0x10:
    return QFont::Serif;
  case 0x20:
    return QFont::SansSerif;
  case 0x30:
    return QFont::TypeWriter;
  case 0x40:
    return QFont::Cursive;
  case 0x50:
    return QFont::Decorative;
  default:
    return (pitchAndFamily & 3) == 1 ? QFont::TypeWriter : QFont::AnyStyle;
  }
}

// The installed family drawn for a face name: the usual Windows faces map to their metric-compatible stand-ins,
// an installed family is used as it is, and anything else falls back to the sans-serif (or monospace) stand-in.
QString installedFace(const QString &face, uint8_t pitchAndFamily) {
  static const std::map<QString, QString> known = {
      {"arial", "Liberation Sans"},
      {"helvetica", "Liberation Sans"},
      {"times new roman", "Liberation Serif"},
      {"times", "Liberation Serif"},
      {"courier new", "Liberation Mono"},
      {"courier", "Liberation Mono"},
      {"calibri", "Carlito"},
      {"cambria", "Caladea"},
  };
  const QString key = face.trimmed().toLower();
  auto it = known.find(key);
  if (it != known.end() && QFontDatabase::hasFamily(it->second))
    return it->second;
  if (!face.isEmpty() && QFontDatabase::hasFamily(face))
    return face;
  const bool mono = (pitchAndFamily & 3) == 1 || (pitchAndFamily & 0xf0) == 0x30;
  const bool serif = (pitchAndFamily & 0xf0) == 0x10;
  return mono    ? QStringLiteral("Liberation Mono")
         : serif ? QStringLiteral("Liberation Serif")
                 : QStringLiteral("Liberation Sans");
}

} // namespace

const FontCache::Base &FontCache::base(const GdiFont &f) {
  const int weight = f.weight <= 0 ? 400 : std::clamp(f.weight, 100, 900);
  Key key{f.face, weight, f.italic, f.pitchAndFamily};
  auto it = bases_.find(key);
  if (it != bases_.end())
    return it->second;
  if (bases_.size() >= 256) {
    // A bound on what many different files can leave behind; sized fonts refer to their bases, so both go.
    bases_.clear();
    sized_.clear();
  }
  QFont qf(f.face.isEmpty() ? QStringLiteral("Arial") : f.face);
  qf.setStyleHint(styleHint(f.pitchAndFamily));
  qf.setFamily(installedFace(f.face, f.pitchAndFamily));
  qf.setWeight(QFont::Weight(weight));
  qf.setItalic(f.italic);
  qf.setPixelSize(256);
  qf.setHintingPreference(QFont::PreferNoHinting);
  Base b;
  b.raw = QRawFont::fromFont(qf);
  if (!b.raw.isValid()) {
    QFont fallback(QStringLiteral("Sans Serif"));
    fallback.setPixelSize(256);
    b.raw = QRawFont::fromFont(fallback);
  }
  if (b.raw.isValid()) {
    const QByteArray maxp = b.raw.fontTable("maxp");
    if (maxp.size() >= 6)
      b.glyphCount = uint32_t(uint8_t(maxp[4]) << 8 | uint8_t(maxp[5]));
    const double cell = b.raw.ascent() + b.raw.descent();
    if (cell > 0)
      b.emPerCell = b.raw.pixelSize() / cell;
  }
  return bases_.emplace(key, b).first->second;
}

SizedFont FontCache::resolve(const GdiFont &f, double heightPx, double widthPx) {
  SizedFont out;
  const Base &b = base(f);
  double em;
  if (heightPx < 0)
    em = -heightPx; // character height: the em size
  else
    em = heightPx * b.emPerCell; // cell height: ascent plus descent
  if (!(em > 0.05))
    em = 0.05;
  em = std::min(em, kMaxFontPx);
  const int weight = f.weight <= 0 ? 400 : std::clamp(f.weight, 100, 900);
  const int64_t sizeKey = int64_t(std::llround(em * 64));
  auto key = std::make_tuple(Key{f.face, weight, f.italic, f.pitchAndFamily}, sizeKey);
  auto it = sized_.find(key);
  if (it == sized_.end()) {
    QRawFont r = b.raw;
    if (r.isValid())
      r.setPixelSize(sizeKey / 64.0);
    if (sized_.size() > 512)
      sized_.clear();
    it = sized_.emplace(key, r).first;
  }
  out.raw = it->second;
  if (widthPx != 0 && out.raw.isValid()) {
    const double avg = out.raw.averageCharWidth();
    if (avg > 0)
      out.stretch = std::clamp(std::abs(widthPx) / avg, 0.01, 100.0);
  }
  out.angleDeg = f.escapement / 10.0;
  out.glyphCount = b.glyphCount;
  out.underline = f.underline;
  out.strikeOut = f.strikeOut;
  return out;
}

double TextLayout::width() const {
  double w = 0;
  for (double a : advanceX)
    w += a;
  return w;
}

TextLayout layoutText(const SizedFont &font, const QString &text, const std::vector<quint32> *glyphIndices,
                      const std::vector<double> *dx, const std::vector<double> *dy) {
  TextLayout l;
  if (glyphIndices) {
    l.glyphs = *glyphIndices;
    // Indices meant for another font may lie past this one's glyphs: those draw the missing-glyph box.
    for (quint32 &g : l.glyphs)
      if (g >= font.glyphCount)
        g = 0;
  } else if (font.raw.isValid()) {
    const QList<quint32> g = font.raw.glyphIndexesForString(text);
    l.glyphs.assign(g.begin(), g.end());
  }
  const size_t n = l.glyphs.size();
  l.advanceX.assign(n, 0.0);
  l.advanceY.assign(n, 0.0);
  if (dx && dx->size() >= n) {
    for (size_t i = 0; i < n; ++i)
      l.advanceX[i] = (*dx)[i];
    if (dy && dy->size() >= n)
      for (size_t i = 0; i < n; ++i)
        l.advanceY[i] = (*dy)[i];
  } else if (font.raw.isValid() && n > 0) {
    const QList<QPointF> adv = font.raw.advancesForGlyphIndexes(QList<quint32>(l.glyphs.begin(), l.glyphs.end()));
    for (size_t i = 0; i < n && i < size_t(adv.size()); ++i)
      l.advanceX[i] = adv[qsizetype(i)].x() * font.stretch;
  }
  return l;
}

TextPlacement placeText(const SizedFont &font, const TextLayout &layout, QPointF refTarget, uint32_t textAlign) {
  TextPlacement p;
  const double ascent = font.raw.isValid() ? font.raw.ascent() : 0;
  const double descent = font.raw.isValid() ? font.raw.descent() : 0;
  const double width = layout.width();
  double x0 = 0;
  switch (textAlign & TA_CENTER) {
  case TA_RIGHT:
    x0 = -width;
    break;
  case TA_CENTER:
    x0 = -width / 2;
    break;
  default:
    break;
  }
  double y0 = 0; // baseline offset from the reference point
  switch (textAlign & TA_BASELINE) {
  case TA_BASELINE:
    break;
  case TA_BOTTOM:
    y0 = -descent;
    break;
  default: // TA_TOP
    y0 = ascent;
    break;
  }
  p.toTarget = QTransform().translate(refTarget.x(), refTarget.y()).rotate(-font.angleDeg).translate(x0, y0);
  p.box = QRectF(0, -ascent, width, ascent + descent);
  return p;
}

QPainterPath textOutline(const SizedFont &font, const TextLayout &layout, const TextPlacement &place) {
  QPainterPath out;
  if (!font.raw.isValid())
    return out;
  const QTransform m = QTransform::fromScale(font.stretch, 1) * place.toTarget;
  double x = 0, y = 0;
  for (size_t i = 0; i < layout.glyphs.size(); ++i) {
    const QPainterPath g = font.raw.pathForGlyph(layout.glyphs[i]);
    out.addPath(m.map(g.translated(x / font.stretch, y)));
    x += layout.advanceX[i];
    y += layout.advanceY[i];
  }
  return out;
}

void drawText(QPainter &p, const SizedFont &font, const TextLayout &layout, const TextPlacement &place, QRgb color) {
  if (!font.raw.isValid() || layout.glyphs.empty())
    return;
  const size_t n = layout.glyphs.size();
  QList<quint32> glyphs(layout.glyphs.begin(), layout.glyphs.end());
  QList<QPointF> positions;
  positions.reserve(qsizetype(n));
  double x = 0, y = 0;
  for (size_t i = 0; i < n; ++i) {
    positions.append(QPointF(x / font.stretch, y));
    x += layout.advanceX[i];
    y += layout.advanceY[i];
  }
  QGlyphRun run;
  run.setRawFont(font.raw);
  run.setGlyphIndexes(glyphs);
  run.setPositions(positions);
  p.save();
  p.setTransform(QTransform::fromScale(font.stretch, 1) * place.toTarget);
  p.setPen(QColor::fromRgb(color));
  p.drawGlyphRun(QPointF(0, 0), run);
  if (font.underline || font.strikeOut) {
    // The lines span the text's advance, at the font's positions, at least one pixel thick.
    p.setTransform(place.toTarget);
    const double thick = std::max(1.0, font.raw.lineThickness());
    const double width = layout.width();
    if (font.underline)
      p.fillRect(QRectF(0, font.raw.underlinePosition() - thick / 2, width, thick), QColor::fromRgb(color));
    if (font.strikeOut)
      p.fillRect(QRectF(0, -font.raw.xHeight() / 2 - thick / 2, width, thick), QColor::fromRgb(color));
  }
  p.restore();
}

} // namespace emf
