#include "emf/gdi_text.h"

#include "emf/symbol_charts.h"

#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <map>
#include <mutex>

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
const std::map<QString, QString> &standIns() {
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
  return known;
}

bool knownStandIn(const QString &face) { return standIns().count(face.trimmed().toLower()) > 0; }

QString installedFace(const QString &face, uint8_t pitchAndFamily) {
  const auto &known = standIns();
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

uint16_t be16(const QByteArray &t, qsizetype at) { return uint16_t(uint8_t(t[at]) << 8 | uint8_t(t[at + 1])); }
uint32_t be32(const QByteArray &t, qsizetype at) { return uint32_t(be16(t, at)) << 16 | be16(t, at + 2); }

// The glyphs of codes base .. base + 255 in one subtable of a cmap (formats 0, 4 and 6); false when the subtable
// cannot be read. Every offset is checked against the table.
bool readSubtable(const QByteArray &t, qsizetype off, uint32_t base, std::vector<quint32> &out) {
  out.assign(256, 0);
  if (off < 0 || off + 6 > t.size())
    return false;
  const uint16_t format = be16(t, off);
  if (format == 0) {
    if (off + 6 + 256 > t.size() || base != 0)
      return false;
    for (int c = 0; c < 256; ++c)
      out[size_t(c)] = uint8_t(t[off + 6 + c]);
    return true;
  }
  if (format == 6) {
    if (off + 10 > t.size())
      return false;
    const uint32_t first = be16(t, off + 6), count = be16(t, off + 8);
    if (off + 10 + qsizetype(count) * 2 > t.size())
      return false;
    for (uint32_t c = 0; c < 256; ++c)
      if (base + c >= first && base + c < first + count)
        out[c] = be16(t, off + 10 + qsizetype(base + c - first) * 2);
    return true;
  }
  if (format != 4 || off + 14 > t.size())
    return false;
  const int segments = be16(t, off + 6) / 2;
  const qsizetype ends = off + 14, starts = ends + segments * 2 + 2, deltas = starts + segments * 2,
                  ranges = deltas + segments * 2;
  if (ranges + segments * 2 > t.size())
    return false;
  for (int i = 0; i < segments; ++i) {
    const uint32_t end = be16(t, ends + i * 2), start = be16(t, starts + i * 2);
    const uint16_t delta = be16(t, deltas + i * 2), range = be16(t, ranges + i * 2);
    for (uint32_t c = std::max(start, base); c <= end && c < base + 256; ++c) {
      uint32_t g = 0;
      if (range == 0) {
        g = uint16_t(c + delta);
      } else {
        const qsizetype at = ranges + i * 2 + range + qsizetype(c - start) * 2;
        if (at + 2 > t.size())
          continue;
        g = be16(t, at);
        if (g)
          g = uint16_t(g + delta);
      }
      out[c - base] = g;
    }
  }
  return true;
}

const char *const kSymbolFaces[] = {"symbol", "wingdings", "wingdings 2", "wingdings 3", "webdings", "marlett"};

bool isSymbolFace(const QString &face) {
  const QString key = face.trimmed().toLower();
  return std::any_of(std::begin(kSymbolFaces), std::end(kSymbolFaces), [&](const char *n) { return key == n; });
}

// Folders of packaged symbol faces that fontconfig does not list by itself (the faces shipped for a Windows
// compatibility layer); added to fontconfig's application fonts once.
void addSymbolFolders() {
  static std::once_flag once;
  std::call_once(once, [] {
    FcInit();
    for (const char *dir : {"/usr/share/wine/fonts", "/usr/lib/wine/fonts"})
      if (QFileInfo(QString::fromLatin1(dir)).isDir())
        FcConfigAppFontAddDir(nullptr, reinterpret_cast<const FcChar8 *>(dir));
  });
}

// fontconfig's best match for a pattern (which this takes and frees); with requiredFamily, accepted only when it is
// that family.
SymbolFace bestMatch(FcPattern *pat, const QString &requiredFamily = {}) {
  SymbolFace out;
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  if (FcPattern *match = FcFontMatch(nullptr, pat, &result)) {
    FcChar8 *file = nullptr, *fam = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
        FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch) {
      const QString family = QString::fromUtf8(reinterpret_cast<const char *>(fam));
      if (requiredFamily.isEmpty() || family.compare(requiredFamily, Qt::CaseInsensitive) == 0) {
        out.file = QString::fromUtf8(reinterpret_cast<const char *>(file));
        out.family = family;
      }
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  return out;
}

// fontconfig's best match for a family name (and weight and slant), accepted only when it is that family.
SymbolFace matchFamily(const QString &family, int weight = 400, bool italic = false) {
  FcPattern *pat = FcPatternCreate();
  const QByteArray name = family.toUtf8();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8 *>(name.constData()));
  FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  return bestMatch(pat, family);
}

// The scalable, monochrome font that has the most of a chart's characters (fontconfig ranks missing characters
// before the family); empty when fontconfig finds no font at all.
SymbolFace chartFace(const char32_t *chart) {
  FcCharSet *chars = FcCharSetCreate();
  for (int i = 0; i < 224; ++i)
    if (chart[i] > 0x20)
      FcCharSetAddChar(chars, chart[i]);
  FcPattern *pat = FcPatternCreate();
  FcPatternAddCharSet(pat, FC_CHARSET, chars); // the pattern keeps its own reference
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcPatternAddBool(pat, FC_COLOR, FcFalse);
  SymbolFace out = bestMatch(pat);
  FcCharSetDestroy(chars);
  if (!out.file.isEmpty())
    out.chart = chart;
  return out;
}

} // namespace

std::shared_ptr<const SymbolMap> SymbolMap::fromChart(const QRawFont &font, const char32_t *chart) {
  auto map = std::make_shared<SymbolMap>();
  map->glyphs_.assign(256, 0);
  map->whole_ = true;
  for (int i = 0; i < 224; ++i)
    if (chart[i] != 0) {
      const char32_t c = chart[i];
      map->glyphs_[size_t(0x20 + i)] = font.glyphIndexesForString(QString::fromUcs4(&c, 1)).value(0);
    }
  return map;
}

std::shared_ptr<const SymbolMap> SymbolMap::fromFont(const QRawFont &font, bool symbolFace) {
  const QByteArray t = font.fontTable("cmap");
  if (t.size() < 4)
    return nullptr;
  const int n = be16(t, 2);
  qsizetype symbol = -1, macRoman = -1;
  for (int i = 0; i < n && 4 + i * 8 + 8 <= t.size(); ++i) {
    const uint16_t platform = be16(t, 4 + i * 8), encoding = be16(t, 4 + i * 8 + 2);
    const qsizetype off = qsizetype(be32(t, 4 + i * 8 + 4));
    if (platform == 3 && encoding == 0)
      symbol = off;
    else if (platform == 1 && encoding == 0)
      macRoman = off;
  }
  auto map = std::make_shared<SymbolMap>();
  if (symbol >= 0 && readSubtable(t, symbol, 0xF000, map->glyphs_))
    return map;
  if (symbolFace && macRoman >= 0 && readSubtable(t, macRoman, 0, map->glyphs_))
    return map;
  return nullptr;
}

quint32 SymbolMap::glyph(char32_t code) const {
  if (code >= 0xF000 && code <= 0xF0FF)
    code -= 0xF000;
  return code < 0x100 ? glyphs_[code] : 0;
}

SymbolFace findPackagedFace(const QString &face, int weight, bool italic) {
  if (face.trimmed().isEmpty() || isSymbolFace(face) || QFontDatabase::hasFamily(face))
    return {};
  addSymbolFolders();
  return matchFamily(face.trimmed(), weight, italic);
}

SymbolFace findSymbolFace(const QString &face) {
  if (!isSymbolFace(face))
    return {};
  addSymbolFolders();
  SymbolFace found = matchFamily(face.trimmed());
  // Wingdings 2 and 3 are rarely installed: their codes become the Unicode characters of their symbols, drawn from
  // the font that has the most of them.
  if (found.file.isEmpty())
    if (const char32_t *chart = symbolChart(face))
      found = chartFace(chart);
  return found;
}

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
  const SymbolFace symbolFace = findSymbolFace(f.face);
  const SymbolFace packaged =
      symbolFace.file.isEmpty() && !knownStandIn(f.face) ? findPackagedFace(f.face, weight, f.italic) : SymbolFace{};
  if (!symbolFace.file.isEmpty())
    b.raw = QRawFont(symbolFace.file, 256, QFont::PreferNoHinting);
  else if (!packaged.file.isEmpty())
    b.raw = QRawFont(packaged.file, 256, QFont::PreferNoHinting);
  else
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
    // The cell is the font's Windows ascent and descent (OS/2 usWinAscent, usWinDescent), as GDI measures it; fonts
    // without them use the horizontal header's.
    b.ascentPerEm = b.raw.ascent() / b.raw.pixelSize();
    b.descentPerEm = b.raw.descent() / b.raw.pixelSize();
    const QByteArray os2 = b.raw.fontTable("OS/2"), head = b.raw.fontTable("head");
    if (os2.size() >= 78 && head.size() >= 20) {
      const int upm = be16(head, 18), winAscent = be16(os2, 74), winDescent = be16(os2, 76);
      if (upm > 0 && winAscent + winDescent > 0) {
        b.ascentPerEm = double(winAscent) / upm;
        b.descentPerEm = double(winDescent) / upm;
      }
    }
    const double cell = b.ascentPerEm + b.descentPerEm;
    if (cell > 0)
      b.emPerCell = 1.0 / cell;
    // Symbol fonts, and any font asked for in the symbol character set, take their codes through the symbol table.
    if (symbolFace.chart)
      b.symbols = SymbolMap::fromChart(b.raw, symbolFace.chart);
    else if (!symbolFace.file.isEmpty() || f.charSet == 2)
      b.symbols = SymbolMap::fromFont(b.raw, !symbolFace.file.isEmpty());
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
  out.symbols = b.symbols;
  if (out.raw.isValid()) {
    out.ascent = out.raw.pixelSize() * b.ascentPerEm;
    out.descent = out.raw.pixelSize() * b.descentPerEm;
  }
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
  } else if (font.symbols && font.symbols->whole()) {
    // A charted face: every code goes through the chart, and what it lacks draws the missing glyph.
    for (const QChar ch : text)
      l.glyphs.push_back(font.symbols->glyph(ch.unicode()));
  } else if (font.raw.isValid()) {
    const QList<quint32> g = font.raw.glyphIndexesForString(text);
    l.glyphs.assign(g.begin(), g.end());
    if (font.symbols && g.size() == text.size())
      for (qsizetype i = 0; i < text.size(); ++i) {
        // Codes of the symbol block (bare or at 0xF0xx) take the symbol table's glyph; others keep Unicode's.
        const char32_t c = text[i].unicode();
        if (const quint32 sg = font.symbols->glyph(c); sg != 0 || c < 0x100 || (c >= 0xF000 && c <= 0xF0FF))
          l.glyphs[size_t(i)] = sg;
      }
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
  const double ascent = font.raw.isValid() ? font.ascent : 0;
  const double descent = font.raw.isValid() ? font.descent : 0;
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
