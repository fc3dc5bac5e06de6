// Arithmetic of the preview window: scroll bars and ranges for an image, centring, the scroll requests.
#pragma once

#include "view/strip_geometry.h"

#include <QPoint>

namespace view {

inline constexpr int kPreviewLine = 100;
inline constexpr int kPreviewRangeSlack = 10;

struct PreviewBars {
  bool hShown = false, vShown = false;
  int hMax = 0, vMax = 0;       // range maxima (ranges start at 0)
  int clientW = 0, clientH = 0; // the client left for the image once the bars are shown
};
// Scroll bars for an image in a window of windowW x windowH (bars barThickness thick, taken from the client):
// horizontal first (range image width - client width + 10), then vertical with the client the horizontal bar left.
PreviewBars ComputePreviewBars(int windowW, int windowH, int imageW, int imageH, int barThickness = 12);

// Where the image's top-left corner goes: centred in the preview area when it fits, else at 0, minus the scroll
// positions (h, v).
QPoint ImageOrigin(int areaW, int areaH, int imageW, int imageH, int h, int v);

// One scroll request on one direction; the result lies within 0 .. maximum.
int PreviewScroll(ScrollRequest request, int position, int maximum, int thumb = 0);

} // namespace view
