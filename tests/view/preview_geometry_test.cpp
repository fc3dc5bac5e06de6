// The preview's scroll bars, centring and scroll requests.
#include "view/preview_geometry.h"

#include <gtest/gtest.h>

using namespace view;

TEST(PreviewBars, ExactFitShowsNoBarOnePixelMoreShowsRangeEleven) {
  PreviewBars b = ComputePreviewBars(600, 500, 600, 500);
  EXPECT_FALSE(b.hShown);
  EXPECT_FALSE(b.vShown);
  EXPECT_EQ(ImageOrigin(600, 500, 600, 500, 0, 0), QPoint(0, 0));
  b = ComputePreviewBars(600, 500, 601, 400);
  EXPECT_TRUE(b.hShown);
  EXPECT_FALSE(b.vShown);
  EXPECT_EQ(b.hMax, 11);
  EXPECT_EQ(b.clientH, 488);
}

TEST(PreviewBars, HorizontalBarCanBringTheVerticalOne) {
  // 495 high fits 500 but not the 488 left under a horizontal bar.
  const PreviewBars b = ComputePreviewBars(600, 500, 700, 495);
  EXPECT_TRUE(b.hShown);
  EXPECT_TRUE(b.vShown);
  EXPECT_EQ(b.hMax, 700 - 600 + 10); // set before the vertical bar took its width
  EXPECT_EQ(b.vMax, 495 - 488 + 10);
  EXPECT_EQ(b.clientW, 588);
  // Only vertical.
  const PreviewBars v = ComputePreviewBars(600, 500, 300, 2000);
  EXPECT_FALSE(v.hShown);
  EXPECT_TRUE(v.vShown);
  EXPECT_EQ(v.vMax, 1510);
}

TEST(PreviewOrigin, CentredWhenSmallerTopLeftWhenLarger) {
  EXPECT_EQ(ImageOrigin(600, 500, 250, 200, 0, 0), QPoint(175, 150));
  EXPECT_EQ(ImageOrigin(601, 501, 250, 200, 0, 0), QPoint(175, 150)); // halving rounds down
  EXPECT_EQ(ImageOrigin(600, 500, 900, 200, 40, 0), QPoint(-40, 150));
  EXPECT_EQ(ImageOrigin(600, 500, 900, 1200, 40, 70), QPoint(-40, -70));
}

TEST(PreviewScroll, LinesPagesThumbAndLimits) {
  EXPECT_EQ(PreviewScroll(ScrollRequest::LineDown, 0, 250), 100);
  EXPECT_EQ(PreviewScroll(ScrollRequest::LineDown, 200, 250), 250);
  EXPECT_EQ(PreviewScroll(ScrollRequest::LineUp, 250, 250), 150);
  EXPECT_EQ(PreviewScroll(ScrollRequest::LineUp, 50, 250), 0);
  EXPECT_EQ(PreviewScroll(ScrollRequest::PageUp, 180, 250), 0);
  EXPECT_EQ(PreviewScroll(ScrollRequest::PageDown, 10, 250), 250);
  EXPECT_EQ(PreviewScroll(ScrollRequest::ThumbTrack, 10, 250, 77), 77);
  EXPECT_EQ(PreviewScroll(ScrollRequest::ThumbPosition, 10, 250, 400), 250); // limited afterwards
  EXPECT_EQ(PreviewScroll(ScrollRequest::Top, 120, 250), 120);
  EXPECT_EQ(PreviewScroll(ScrollRequest::Bottom, 120, 250), 120);
  // A position beyond a new, smaller maximum is brought back.
  EXPECT_EQ(PreviewScroll(ScrollRequest::EndScroll, 400, 250), 250);
  EXPECT_EQ(PreviewScroll(ScrollRequest::LineDown, 0, 0), 0);
}
