// Geometry and text rules of the main frame, kept apart from the widgets so they can be checked directly:
// child window rectangles per client size, the panels and bands of the paint handler, the status line texts
// and where they go, the mouse-wheel routing, the button rows and the lamp picture, and the placement rules.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QRegion>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace frame {

// Colours as 0x00BBGGRR values, the way the settings store keeps colours.
inline constexpr unsigned kFrameFill = 0xF5CFCF;
inline constexpr unsigned kFrameEdge = 0xB96D71;
inline constexpr unsigned kPanelFill = 0xF8E0E0;
inline constexpr unsigned kStatusInnerEdge = 0xFBF2F2;
inline constexpr unsigned kStatusOuterBand = 0xF7D7D7;
inline constexpr unsigned kStatusInnerBand = 0xF5CFCF;
inline constexpr unsigned kStatusText = 0xAF0000;
inline constexpr unsigned kNotReadyText = 0x0000FF;
inline constexpr unsigned kWelcomeTitle = 0xAF00FF;

// The smallest client area. The page information needs more than 460 pixels of width, and below that the preview
// would lie almost wholly under the button column; the buttons reach 327 pixels down, and the status line below the
// preview needs the rest of 384. The frame cannot be made smaller.
inline constexpr int kMinClientWidth = 461;
inline constexpr int kMinClientHeight = 384;
// The readiness text needs at least this client width.
inline constexpr int kReadinessMinWidth = 631;
// Mouse-wheel zones: the strip zone at the right, the horizontal zone at the bottom.
inline constexpr int kWheelStripZone = 170;
inline constexpr int kWheelBottomZone = 47;
inline constexpr int kScrollBarThickness = 12;

struct FrameLayout {
  QRect preview;
  QRect strip;
};

// Rectangles of the preview and the page strip for a client area cx x cy (at least the smallest client area).
FrameLayout ComputeFrameLayout(int cx, int cy);

// The region of a child placed at (7, 7) over the button column: its whole w x h area without the two strips
// x 0..39 x y 36..243 and x 0..39 x y 252..323 (child coordinates), so the buttons stay visible.
QRegion ButtonColumnMask(int w, int h);

// The paint handler's surfaces for a client area cx x cy and the placed child windows.
struct Panel {
  QRect outer; // filled with the panel colour and framed with the edge colour
  QRect inner; // framed with white (or the status line's inner edge colour)
};
struct FramePaintPlan {
  Panel stripPanel;
  Panel previewPanel;
  QRect statusOuter;     // framed kFrameEdge
  QRect statusInner;     // framed kStatusInnerEdge
  QRect statusFill;      // filled kPanelFill
  QRect statusBandOuter; // filled kStatusOuterBand
  QRect statusBandInner; // filled kStatusInnerBand
};
FramePaintPlan ComputePaintPlan(int cx, int cy, const FrameLayout &layout);

// What the status line shows of the current page.
struct PageInfo {
  int currentPage = -1; // index, -1 none
  int pageCount = 0;
  int fileKb = 0;
  int widthPx = 0;
  int heightPx = 0;
  double resolution = 100.0; // dots per inch
  bool jpg = false, gif = false, png = false, tif = false;
  QString problem; // why the page gave no image; the text then tells that instead of the image's numbers
};
// "%d(%d): %d KB, %dx%d pixels, %dx%d mm, %d dpi, %s" for the page; "%d(%d): <problem>" for a page without image.
QString PageInfoText(const PageInfo &info);
// "JPEG", "GIF", "PNG", "TIF" or "BMP", testing the format flags in that order.
QString OutputFormatName(bool jpg, bool gif, bool png, bool tif);
// Millimetres of a pixel count at a resolution, rounded up (0 for a resolution of 0 or less).
int PixelsToMm(int pixels, double resolution);

// A text of the status line with its top-left corner in client coordinates.
struct StatusText {
  QString text;
  QPoint at;
  bool warning = false; // drawn in kNotReadyText instead of kStatusText
};
// The two zones of the status line's texts, each from 25 to 4 pixels above the client bottom. The readiness zone
// reaches from the leftmost place any readiness text takes to the end of the line (absent when the client is too
// narrow for the readiness text); the page information ends 10 pixels before it, or at the end of the line. So the
// repaint of one never cuts through the other's text. textWidth measures a text in the status font.
struct StatusZones {
  QRect pageInfo;
  std::optional<QRect> readiness;
};
StatusZones ComputeStatusZones(int cx, int cy, const std::function<int(const QString &)> &textWidth);
// The page information in its zone, cut with "..." where it would not fit.
StatusText PageInfoPlacement(int cx, int cy, const PageInfo &info, const QFontMetrics &metrics);
// The readiness text for the state, when the client is wide enough. With the text's width in the status font, a text
// that would run past the status line (into the strip's panel) moves left to end there.
std::optional<StatusText> ReadinessPlacement(int cx, int cy, int readinessState,
                                             const std::function<int(const QString &)> &textWidth = {});

// Mouse-wheel routing over the frame (point in client coordinates; delta > 0 is "up").
enum class WheelTarget {
  None,
  StripLineUp,
  StripLineDown,
  PreviewLineUp,
  PreviewLineDown,
  PreviewLineLeft,
  PreviewLineRight
};
WheelTarget RouteWheel(int cx, int cy, QPoint point, int delta, bool previewVBarShown, bool previewHBarShown);

// The button column.
inline constexpr int kButtonCount = 8;
inline constexpr int kButtonWidth = 43;
inline constexpr int kButtonHeight = 32;
inline constexpr int kLampWidth = 17;
inline constexpr int kLampHeight = 9;
int ButtonTop(int index); // client y of the button's top edge
QString ButtonTooltip(int index);
enum class LampPicture { Green, Yellow, RedLit, RedDark };
LampPicture LampFor(int readinessState, bool blinkFlag, bool underMouse);

// Start-up placement of the frame from the stored values (-1 for a missing value) and the maximised size.
struct Placement {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool maximised = false;
};
struct StoredPlacement {
  int kodMainWinMax = 0; // as the settings store loaded it (0 when missing)
  int winLeft = -1, winTop = -1, winRight = -1, winBottom = -1;
};
Placement StartPlacement(const StoredPlacement &stored, int maxWidth, int maxHeight);
// True when the frame is to be centred on the screen (not maximised and at 0, 0).
bool ShouldCentre(const Placement &p);

// The values to store at the end: maximised stores lvKodMainWinMax = 1 and nothing else, so the last normal
// rectangle of an earlier run stays; otherwise lvKodMainWinMax = 0 and the normal rectangle.
std::vector<std::pair<std::string, int>> EndPlacementValues(bool maximised, const QRect &normal);

} // namespace frame
