// The device context of metafile playback as plain data: mapping, transforms, selected objects, colours, modes,
// clipping, the current path and the save stack. The logical-to-device arithmetic lives here, in one place.
#pragma once

#include "emf/emf_records.h"

#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRegion>
#include <QRgb>
#include <QString>
#include <QTransform>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace emf {

struct ENHMETAHEADER;

struct GdiPen {
  uint32_t style = PS_SOLID; // full style word (type, cap, join, dash style)
  int32_t width = 0;         // logical units; 0 = one device pixel
  QRgb color = 0;            // 0x00RRGGBB
  bool extended = false;
  uint32_t brushStyle = BS_SOLID;
  uint32_t hatch = 0;
  std::vector<uint32_t> styleEntries; // user style dash/gap lengths
  QImage pattern;                     // pattern pens (DIB brush of an extended pen)

  uint32_t dashStyle() const { return style & PS_STYLE_MASK; }
  bool isNull() const { return dashStyle() == PS_NULL || (extended && brushStyle == BS_NULL); }
  bool geometric() const { return (style & PS_TYPE_MASK) == PS_GEOMETRIC; }
};

struct GdiBrush {
  uint32_t style = BS_SOLID;
  QRgb color = 0xffffff;
  uint32_t hatch = 0;
  QImage pattern;     // DIB and mono pattern brushes, decoded (Format_RGB32)
  QImage monoIndices; // for monochrome patterns: index per pixel (0 / 255), recoloured with text/bk colours
};

struct GdiFont {
  int32_t height = 0, width = 0, escapement = 0, orientation = 0, weight = 400;
  bool italic = false, underline = false, strikeOut = false;
  uint8_t charSet = 0, pitchAndFamily = 0;
  QString face;
};

struct GdiPalette {
  std::vector<QRgb> entries;
};

using GdiObject = std::variant<GdiPen, GdiBrush, GdiFont, GdiPalette>;
using ObjectRef = std::shared_ptr<const GdiObject>;

// The stock object for index (without the stock flag), or null for an unknown stock index.
ObjectRef stockObject(uint32_t index);

struct DeviceContext {
  // Mapping (page space to device units of the reference device).
  int mapMode = MM_TEXT;
  QPoint windowOrg{0, 0}, viewportOrg{0, 0};
  QSize windowExt{1, 1}, viewportExt{1, 1};
  int graphicsMode = GM_COMPATIBLE;
  QTransform world; // logical to page space

  ObjectRef pen, brush, font, palette;
  QRgb textColor = 0x000000, bkColor = 0xffffff;
  int bkMode = OPAQUE;
  uint32_t textAlign = 0;
  int polyFillMode = ALTERNATE;
  int rop2 = 13;
  int stretchMode = 1;
  QPoint currentPos{0, 0}; // logical units
  int arcDirection = AD_COUNTERCLOCKWISE;
  float miterLimit = 10.f;
  QPoint brushOrg{0, 0}; // device pixels
  uint32_t layout = 0;

  // Clipping in target pixels; nullopt = no region (everything).
  std::optional<QRegion> clip, meta;

  // The path in target pixels (GDI keeps paths in device space, transformed as points are added).
  QPainterPath path;
  bool pathOpen = false;  // between BEGINPATH and ENDPATH
  bool pathValid = false; // a closed bracket holds a usable path
};

// Everything the arithmetic needs about the reference device and the destination.
struct FrameMapping {
  double refWidthPx = 1, refHeightPx = 1; // reference device size in pixels
  double refWidthMm = 1, refHeightMm = 1; // and in millimetres
  QTransform deviceToTarget;              // reference-device units to target pixels
};

// The mapping of a metafile's picture frame onto dest: the frame (0.01 mm) is converted to reference-device
// pixels and that rectangle is mapped onto dest, its corners onto dest's corners.
FrameMapping frameMapping(const ENHMETAHEADER &h, const QRect &dest);

// Sets a mapping mode with the extents GDI gives it.
void setMapMode(DeviceContext &dc, int mode, const FrameMapping &fm);
// Extent setters obeying the mapping mode (ignored in fixed modes; isotropic keeps the aspect ratio).
void setWindowExt(DeviceContext &dc, QSize ext, const FrameMapping &fm);
void setViewportExt(DeviceContext &dc, QSize ext, const FrameMapping &fm);
void scaleWindowExt(DeviceContext &dc, int xNum, int xDenom, int yNum, int yDenom, const FrameMapping &fm);
void scaleViewportExt(DeviceContext &dc, int xNum, int xDenom, int yNum, int yDenom, const FrameMapping &fm);

// Page space to reference-device units.
QTransform pageTransform(const DeviceContext &dc);
// Logical units to target pixels: world, page, then frame.
QTransform logicalToTarget(const DeviceContext &dc, const FrameMapping &fm);

// Combines a region into the clip the way ExtSelectClipRgn does; a missing region with RGN_COPY removes the clip.
void combineClip(DeviceContext &dc, const std::optional<QRegion> &rgn, int mode);
// The region drawing is limited to: clip and meta region intersected (nullopt = unlimited).
std::optional<QRegion> effectiveClip(const DeviceContext &dc);

// A rectangle in logical units as the region of target pixels it covers (right and bottom edges excluded).
QRegion logicalRectRegion(double left, double top, double right, double bottom, const QTransform &m);

} // namespace emf
