#include "app/frame_layout.h"

#include <algorithm>
#include <cmath>

namespace frame {
namespace {

// A rectangle given by its edges, right and bottom outside it.
QRect Edges(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

} // namespace

FrameLayout ComputeFrameLayout(int cx, int cy) {
  FrameLayout l;
  l.preview = QRect(7, 7, cx - 180, cy - 39);
  l.strip = QRect(cx - 163, 7, 156, cy - 14);
  return l;
}

QRegion ButtonColumnMask(int w, int h) {
  QRegion r(0, 0, std::max(w, 0), std::max(h, 0));
  r -= QRegion(Edges(0, 36, 39, 243));
  r -= QRegion(Edges(0, 252, 39, 323));
  return r;
}

FramePaintPlan ComputePaintPlan(int cx, int cy, const FrameLayout &layout) {
  FramePaintPlan p;
  const QRect &s = layout.strip;
  const QRect strip = Edges(s.left() - 4, s.top() - 4, cx - 3, s.top() + s.height() + 4);
  p.stripPanel = {strip, strip.adjusted(1, 1, -1, -1)};
  const QRect &v = layout.preview;
  const QRect pv = Edges(v.left() - 4, v.top() - 4, v.left() + v.width() + 4, v.top() + v.height() + 4);
  p.previewPanel = Panel{pv, pv.adjusted(1, 1, -1, -1)};
  const QRect outer = Edges(3, cy - 26, cx - 169, cy - 3);
  p.statusOuter = outer;
  p.statusInner = outer.adjusted(1, 1, -1, -1);
  p.statusFill = Edges(5, cy - 24, cx - 170, cy - 5);
  p.statusBandOuter = Edges(5, cy - 22, cx - 170, cy - 11);
  p.statusBandInner = Edges(5, cy - 21, cx - 170, cy - 15);
  return p;
}

QString OutputFormatName(bool jpg, bool gif, bool png, bool tif) {
  if (jpg)
    return QStringLiteral("JPEG");
  if (gif)
    return QStringLiteral("GIF");
  if (png)
    return QStringLiteral("PNG");
  if (tif)
    return QStringLiteral("TIF");
  return QStringLiteral("BMP");
}

int PixelsToMm(int pixels, double resolution) {
  if (!(resolution > 0.0))
    return 0;
  return static_cast<int>(std::ceil(pixels / (resolution * 0.03937007874015748)));
}

QString PageInfoText(const PageInfo &info) {
  const int number = info.currentPage + 1;
  // The count shown is the page count, or the page's own number when the count is below its index.
  const int count = info.pageCount < info.currentPage ? number : info.pageCount;
  if (!info.problem.isEmpty())
    return QStringLiteral("%1(%2): %3").arg(number).arg(count).arg(info.problem);
  return QString::asprintf("%d(%d): %d KB, %dx%d pixels, %dx%d mm, %d dpi, %s", number, count, info.fileKb,
                           info.widthPx, info.heightPx, PixelsToMm(info.widthPx, info.resolution),
                           PixelsToMm(info.heightPx, info.resolution), static_cast<int>(std::ceil(info.resolution)),
                           qPrintable(OutputFormatName(info.jpg, info.gif, info.png, info.tif)));
}

std::optional<StatusText> ReadinessPlacement(int cx, int cy, int readinessState,
                                             const std::function<int(const QString &)> &textWidth) {
  if (cx < kReadinessMinWidth)
    return std::nullopt;
  const int y = cy - 21;
  std::optional<StatusText> t;
  switch (readinessState) {
  case 1:
    t = StatusText{QStringLiteral("Ready to process print jobs."), QPoint(cx - 320, y), false};
    break;
  case 2:
    t = StatusText{QStringLiteral("System ready. Partly acceptable printers exist."), QPoint(cx - 390, y), false};
    break;
  case 0:
    t = StatusText{QStringLiteral("System not ready. No acceptable printers!"), QPoint(cx - 380, y), true};
    break;
  default:
    return std::nullopt;
  }
  if (textWidth) {
    const int lastX = cx - 172; // the status line's fill ends at cx - 170
    t->at.setX(std::min(t->at.x(), lastX - textWidth(t->text)));
  }
  return t;
}

StatusZones ComputeStatusZones(int cx, int cy, const std::function<int(const QString &)> &textWidth) {
  StatusZones z;
  const int top = cy - 25, bottom = cy - 4, lineEnd = cx - 170;
  int pageInfoEnd = lineEnd;
  if (cx >= kReadinessMinWidth) {
    int left = lineEnd;
    for (int state : {0, 1, 2})
      if (const auto t = ReadinessPlacement(cx, cy, state, textWidth))
        left = std::min(left, t->at.x());
    z.readiness = Edges(left, top, lineEnd, bottom);
    pageInfoEnd = left - 10;
  }
  z.pageInfo = Edges(20, top, std::max(pageInfoEnd, 20), bottom);
  return z;
}

StatusText PageInfoPlacement(int cx, int cy, const PageInfo &info, const QFontMetrics &metrics) {
  const StatusZones z =
      ComputeStatusZones(cx, cy, [&metrics](const QString &t) { return metrics.horizontalAdvance(t); });
  return StatusText{metrics.elidedText(PageInfoText(info), Qt::ElideRight, z.pageInfo.width()), QPoint(20, cy - 21),
                    false};
}

WheelTarget RouteWheel(int cx, int cy, QPoint point, int delta, bool previewVBarShown, bool previewHBarShown) {
  const bool down = delta <= 0;
  if (point.x() >= cx - kWheelStripZone)
    return down ? WheelTarget::StripLineDown : WheelTarget::StripLineUp;
  const bool aboveBottomZone = cy - point.y() >= kWheelBottomZone;
  if (previewVBarShown && aboveBottomZone)
    return down ? WheelTarget::PreviewLineDown : WheelTarget::PreviewLineUp;
  if (previewHBarShown && !aboveBottomZone)
    return down ? WheelTarget::PreviewLineRight : WheelTarget::PreviewLineLeft;
  return WheelTarget::None;
}

int ButtonTop(int index) {
  static constexpr int kTops[kButtonCount] = {45, 79, 113, 147, 181, 215, 261, 295};
  return index >= 0 && index < kButtonCount ? kTops[index] : -1;
}

QString ButtonTooltip(int index) {
  static const char *const kTips[kButtonCount] = {"Save to Disk (Ctrl+S)",
                                                  "Send E-Mail (Ctrl+M)",
                                                  "Options...",
                                                  "Printers...",
                                                  "Help... (F1)",
                                                  "Exit (Alt+F4)",
                                                  "Save to Multipaged PDF (Ctrl+P)",
                                                  "Save files with HTML (Ctrl+W)"};
  return index >= 0 && index < kButtonCount ? QString::fromLatin1(kTips[index]) : QString();
}

LampPicture LampFor(int readinessState, bool blinkFlag, bool underMouse) {
  if (readinessState == 1)
    return LampPicture::Green;
  if (readinessState == 2)
    return LampPicture::Yellow;
  if (underMouse)
    return LampPicture::RedLit;
  return blinkFlag ? LampPicture::RedLit : LampPicture::RedDark;
}

Placement StartPlacement(const StoredPlacement &s, int maxWidth, int maxHeight) {
  Placement p;
  if (s.kodMainWinMax != 0) {
    p.maximised = true;
    p.right = maxWidth;
    p.bottom = maxHeight;
    return p;
  }
  if (s.winBottom < 1) {
    p.right = static_cast<int>(maxWidth * 0.85);
    p.bottom = static_cast<int>(maxHeight * 0.8);
  } else {
    p.bottom = s.winBottom;
    p.top = s.winTop;
    p.left = s.winLeft;
    p.right = s.winRight;
  }
  p.right = std::min(p.right, maxWidth);
  p.bottom = std::min(p.bottom, maxHeight);
  p.top = std::max(p.top, 0);
  p.left = std::max(p.left, 0);
  // A stored rectangle that is empty or inverted after clamping would make a frame of no size: fall back to the
  // first-start size at the same corner.
  if (p.right - p.left < 1 || p.bottom - p.top < 1) {
    p.left = p.top = 0;
    p.right = static_cast<int>(maxWidth * 0.85);
    p.bottom = static_cast<int>(maxHeight * 0.8);
  }
  return p;
}

bool ShouldCentre(const Placement &p) { return !p.maximised && p.left == 0 && p.top == 0; }

std::vector<std::pair<std::string, int>> EndPlacementValues(bool maximised, const QRect &normal) {
  if (maximised)
    return {{"lvKodMainWinMax", 1}};
  return {{"lvKodMainWinMax", 0},
          {"lvWinBottom", normal.y() + normal.height()},
          {"lvWinTop", normal.y()},
          {"lvWinLeft", normal.x()},
          {"lvWinRight", normal.x() + normal.width()}};
}

} // namespace frame
