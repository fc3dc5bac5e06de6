// Arithmetic of the page strip: the thumbnail labels, the scroll requests, the hit test. No widgets here.
#pragma once

#include <QRect>
#include <QString>

namespace view {

inline constexpr int kStripLabelHeight = 22;
inline constexpr int kStripLineUp = 100;
inline constexpr int kStripLineDown = 50;
inline constexpr int kStripPage = 300;

// Scroll requests, as a scroll bar reports them.
enum class ScrollRequest { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top, Bottom, EndScroll };

// The label under a thumbnail: "0000-0000" overwritten from the right by the characters of the page file name
// before ".emf" (12-0003.emf gives 0012-0003). Characters the name does not have leave the zeros in place.
QString StripLabel(const QString &fileName);

// Thumbnail rectangle in list coordinates (before scrolling).
struct ThumbRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The largest scroll position: trunc(y of the last page - client bottom + 1.5 x its height).
int LastPageMaxPosition(const ThumbRect &last, int clientBottom);
// Scroll-bar units to pixels: maximum position / (range maximum - range minimum). 0 when the range is empty.
double StripRatio(int maxPosition, int rangeMin, int rangeMax);

struct StripScrollResult {
  int position = 0;        // new scroll position in pixels
  int boxPosition = 0;     // scroll box in scroll-bar units, ceil(position / ratio)
  bool repaintAll = false; // top and bottom requests repaint the whole window
};
// Applies one request to the position. thumb is the scroll box position the bar reports for thumb requests.
StripScrollResult StripScroll(ScrollRequest request, int position, int maxPosition, double ratio, int thumb = 0);

// Whether one thumbnail contains the point (edges included), scroll position applied.
bool ThumbHit(const ThumbRect &r, int scrollPosition, QPoint point);
// The scroll position that brings a thumbnail with its label into a client of the given height, moving as little
// as possible: unchanged when it is in view, else its top 10 pixels below the window's top or its label's bottom at
// the window's bottom.
int PositionShowing(const ThumbRect &r, int scrollPosition, int clientHeight);

// The red double frame around the current page in window coordinates: the thumbnail grown by 1 and by 2.
QRect ThumbOnScreen(const ThumbRect &r, int scrollPosition);
// The label band under a thumbnail: the client width wide, kStripLabelHeight high.
QRect LabelBand(const ThumbRect &r, int scrollPosition, int clientWidth);

} // namespace view
