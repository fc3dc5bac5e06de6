// Draws the button and lamp pictures of the main frame's button column and writes them as PNG files.
// Run it with the output folder as its argument; the pictures are committed, so the build does not run it.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

const QColor kEdge(0x71, 0x6D, 0xB9);    // the frame's edge colour
const QColor kDeep(0x4B, 0x46, 0x94);    // glyphs
const QColor kAccent(0xD0, 0x2B, 0x6E);  // glyphs under the mouse
const QColor kTileTop(0xFB, 0xF2, 0xF2); // tile gradient
const QColor kTileBottom(0xE0, 0xD6, 0xF3);
const QColor kHoverTop(0xFF, 0xFF, 0xFF);
const QColor kHoverBottom(0xF3, 0xD9, 0xE8);
const QColor kFrameFill(0xCF, 0xCF, 0xF5);

void Tile(QPainter &p, bool hover) {
  p.fillRect(QRect(0, 0, 43, 32), kFrameFill);
  QLinearGradient g(0, 1, 0, 31);
  g.setColorAt(0, hover ? kHoverTop : kTileTop);
  g.setColorAt(1, hover ? kHoverBottom : kTileBottom);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(1.5, 1.5, 40, 29), 6, 6);
  p.fillPath(tile, g);
  p.setPen(QPen(hover ? kAccent : kEdge, hover ? 1.6 : 1.0));
  p.drawPath(tile);
}

QPen GlyphPen(bool hover, qreal w = 1.8) {
  QPen pen(hover ? kAccent : kDeep, w);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

void SaveGlyph(QPainter &p, bool hover) { // a tray with a downward arrow
  p.setPen(GlyphPen(hover));
  p.drawLine(QPointF(21.5, 7), QPointF(21.5, 18));
  p.drawPolyline(QPolygonF({QPointF(16.5, 13.5), QPointF(21.5, 18.5), QPointF(26.5, 13.5)}));
  p.drawPolyline(QPolygonF({QPointF(13, 17), QPointF(13, 24), QPointF(30, 24), QPointF(30, 17)}));
}

void MailGlyph(QPainter &p, bool hover) { // an envelope
  p.setPen(GlyphPen(hover));
  p.drawRoundedRect(QRectF(12, 9, 19, 14), 2, 2);
  p.drawPolyline(QPolygonF({QPointF(12.5, 10), QPointF(21.5, 17), QPointF(30.5, 10)}));
}

void OptionsGlyph(QPainter &p, bool hover) { // three sliders
  p.setPen(GlyphPen(hover, 1.6));
  const qreal ys[3] = {10, 16, 22};
  const qreal knobs[3] = {17, 26, 20};
  for (int i = 0; i < 3; ++i) {
    p.drawLine(QPointF(12, ys[i]), QPointF(31, ys[i]));
    p.setBrush(hover ? kHoverTop : kTileTop);
    p.drawEllipse(QPointF(knobs[i], ys[i]), 2.6, 2.6);
    p.setBrush(Qt::NoBrush);
  }
}

void PrinterGlyph(QPainter &p, bool hover) { // a printer, right of the lamp
  p.setPen(GlyphPen(hover, 1.6));
  p.drawRect(QRectF(20, 8, 12, 5));                    // paper in
  p.drawRoundedRect(QRectF(15, 13, 22, 10), 2.5, 2.5); // body
  p.setBrush(hover ? kHoverTop : kTileTop);
  p.drawRect(QRectF(19.5, 19, 13, 7)); // paper out
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(22, 22.5), QPointF(30, 22.5));
}

void HelpGlyph(QPainter &p, bool hover) { // a question mark in a ring
  p.setPen(GlyphPen(hover, 1.6));
  p.drawEllipse(QPointF(21.5, 16), 8.5, 8.5);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(13);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRectF(13, 7.5, 17, 17), Qt::AlignCenter, QStringLiteral("?"));
}

void ExitGlyph(QPainter &p, bool hover) { // a power symbol
  p.setPen(GlyphPen(hover, 2.0));
  p.drawArc(QRectF(14, 9, 15, 15), 120 * 16, 300 * 16);
  p.drawLine(QPointF(21.5, 7), QPointF(21.5, 15));
}

void Document(QPainter &p, bool hover) {
  p.setPen(GlyphPen(hover, 1.4));
  QPainterPath d;
  d.moveTo(14, 6);
  d.lineTo(24, 6);
  d.lineTo(29, 11);
  d.lineTo(29, 26);
  d.lineTo(14, 26);
  d.closeSubpath();
  p.setBrush(QColor(255, 255, 255, 200));
  p.drawPath(d);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(24, 6), QPointF(24, 11), QPointF(29, 11)}));
}

void Badge(QPainter &p, bool hover, const QString &text) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(7);
  f.setBold(true);
  p.setFont(f);
  const QRectF r(17, 16, 20, 9);
  p.setPen(Qt::NoPen);
  p.setBrush(hover ? kAccent : kDeep);
  p.drawRoundedRect(r, 2, 2);
  p.setBrush(Qt::NoBrush);
  p.setPen(Qt::white);
  p.drawText(r, Qt::AlignCenter, text);
}

void PdfGlyph(QPainter &p, bool hover) {
  Document(p, hover);
  Badge(p, hover, QStringLiteral("PDF"));
}

void HtmlGlyph(QPainter &p, bool hover) {
  Document(p, hover);
  Badge(p, hover, QStringLiteral("</>"));
}

void Lamp(QPainter &p, const QColor &core, bool lit) {
  p.fillRect(QRect(0, 0, 17, 9), Qt::transparent);
  QPainterPath capsule;
  capsule.addRoundedRect(QRectF(0.5, 0.5, 16, 8), 4, 4);
  p.fillPath(capsule, QColor(0x3A, 0x36, 0x6E));
  for (qreal x : {4.5, 12.5}) {
    QRadialGradient g(QPointF(x - 0.8, 3.6), 3.4);
    g.setColorAt(0, lit ? core.lighter(160) : core.darker(250));
    g.setColorAt(0.6, lit ? core : core.darker(300));
    g.setColorAt(1, lit ? core.darker(140) : core.darker(400));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPointF(x, 4.5), 3, 3);
  }
}

// The program's icon: a printed page turning into a picture.
QImage AppIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  QLinearGradient bg(0, 0, 0, 64);
  bg.setColorAt(0, QColor(0x8A, 0x86, 0xD0));
  bg.setColorAt(1, kDeep);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(2, 2, 60, 60), 13, 13);
  p.fillPath(tile, bg);
  // The page, with a folded corner.
  QPainterPath page;
  page.moveTo(16, 10);
  page.lineTo(40, 10);
  page.lineTo(50, 20);
  page.lineTo(50, 54);
  page.lineTo(16, 54);
  page.closeSubpath();
  p.fillPath(page, QColor(0xFB, 0xF2, 0xF2));
  QPainterPath fold;
  fold.moveTo(40, 10);
  fold.lineTo(40, 20);
  fold.lineTo(50, 20);
  fold.closeSubpath();
  p.fillPath(fold, kTileBottom);
  // The picture on it: sun and hills.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF5, 0xC4, 0x18));
  p.drawEllipse(QPointF(27, 27), 4.5, 4.5);
  QPainterPath hills;
  hills.moveTo(19, 49);
  hills.lineTo(29, 36);
  hills.lineTo(35, 43);
  hills.lineTo(40, 37);
  hills.lineTo(47, 49);
  hills.closeSubpath();
  p.fillPath(hills, kAccent);
  p.end();
  return img;
}

bool Write(const QImage &img, const QString &path) {
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char *argv[]) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_pictures OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  using Glyph = void (*)(QPainter &, bool);
  const Glyph glyphs[8] = {SaveGlyph, MailGlyph, OptionsGlyph, PrinterGlyph, HelpGlyph, ExitGlyph, PdfGlyph, HtmlGlyph};
  bool ok = true;
  for (int i = 0; i < 8; ++i) {
    for (bool hover : {false, true}) {
      QImage img(43, 32, QImage::Format_ARGB32);
      img.fill(Qt::transparent);
      QPainter p(&img);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::TextAntialiasing);
      Tile(p, hover);
      glyphs[i](p, hover);
      p.end();
      ok &= Write(img, QStringLiteral("%1/button%2%3.png").arg(out).arg(i).arg(hover ? "-hover" : ""));
    }
  }
  const struct {
    const char *name;
    QColor core;
    bool lit;
  } lamps[] = {{"lamp-green", QColor(0x2E, 0xC8, 0x4B), true},
               {"lamp-yellow", QColor(0xF5, 0xC4, 0x18), true},
               {"lamp-red-lit", QColor(0xF0, 0x2A, 0x2A), true},
               {"lamp-red-dark", QColor(0xF0, 0x2A, 0x2A), false}};
  for (const auto &l : lamps) {
    QImage img(17, 9, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Lamp(p, l.core, l.lit);
    p.end();
    ok &= Write(img, QStringLiteral("%1/%2.png").arg(out, QLatin1String(l.name)));
  }
  ok &= Write(AppIcon(64), QStringLiteral("%1/app-icon.png").arg(out));
  return ok ? 0 : 1;
}
