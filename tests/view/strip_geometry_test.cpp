// The page strip's arithmetic: labels, scrolling, hit test.
#include "view/strip_geometry.h"

#include <gtest/gtest.h>
#include <vector>

using namespace view;

TEST(StripLabel, FillsFromTheRightAndKeepsLeadingZeros) {
  EXPECT_EQ(StripLabel("12-0003.emf"), "0012-0003");
  EXPECT_EQ(StripLabel("5-0001.emf"), "0005-0001");
  EXPECT_EQ(StripLabel("7-0001.emf"), "0007-0001");
  EXPECT_EQ(StripLabel("1234-0002.emf"), "1234-0002");
  // Longer job numbers show their last four digits.
  EXPECT_EQ(StripLabel("123456-0002.emf"), "3456-0002");
  EXPECT_EQ(StripLabel("4-1000.emf"), "0004-1000");
}

TEST(StripLabel, ShortOrOddNamesNeverReadOutsideTheName) {
  EXPECT_EQ(StripLabel(""), "0000-0000");
  EXPECT_EQ(StripLabel(".emf"), "0000-0000");
  EXPECT_EQ(StripLabel("1.emf"), "0000-0001");
  EXPECT_EQ(StripLabel("abc"), "0000-0000");
  EXPECT_EQ(StripLabel("0001.emf"), "0000-0001");
}

namespace {
std::vector<ThumbRect> Column(int pages, int h = 130, int firstY = 10) {
  std::vector<ThumbRect> r;
  int y = firstY;
  for (int i = 0; i < pages; ++i) {
    r.push_back({7, y, 100, h});
    y += h + 24;
  }
  return r;
}
} // namespace

TEST(StripScroll, MaximumPositionAndRatio) {
  // Last page at y 10 + 9 x 154 = 1396, height 130: 1396 - 500 + 195.
  EXPECT_EQ(LastPageMaxPosition(Column(10).back(), 500), 1091);
  // Truncated toward zero, also below zero.
  EXPECT_EQ(LastPageMaxPosition({0, 0, 10, 131}, 500), static_cast<int>(-500 + 196.5));
  EXPECT_DOUBLE_EQ(StripRatio(1000, 0, 100), 10.0);
  EXPECT_DOUBLE_EQ(StripRatio(1000, 0, 0), 0.0); // no division by zero
}

TEST(StripScroll, LineUpIsHundredLineDownFifty) {
  const double ratio = 10.0;
  EXPECT_EQ(StripScroll(ScrollRequest::LineUp, 250, 1000, ratio).position, 150);
  EXPECT_EQ(StripScroll(ScrollRequest::LineUp, 60, 1000, ratio).position, 0);
  EXPECT_EQ(StripScroll(ScrollRequest::LineUp, 0, 1000, ratio).position, 0);
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 250, 1000, ratio).position, 300);
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 980, 1000, ratio).position, 1000);
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 1000, 1000, ratio).position, 1000);
  // The scroll box follows: ceil(position / ratio).
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 250, 1000, ratio).boxPosition, 30);
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 251, 1000, ratio).boxPosition, 31);
}

TEST(StripScroll, PageDownOvershootsOnceAndPageUpComesBack) {
  const double ratio = 10.0;
  StripScrollResult r = StripScroll(ScrollRequest::PageDown, 701, 1000, ratio);
  EXPECT_EQ(r.position, 1001);
  r = StripScroll(ScrollRequest::PageDown, 999, 1000, ratio);
  EXPECT_EQ(r.position, 1299); // 299 past the maximum
  EXPECT_EQ(StripScroll(ScrollRequest::LineDown, 1299, 1000, ratio).position, 1299);
  EXPECT_EQ(StripScroll(ScrollRequest::PageDown, 1299, 1000, ratio).position, 1000);
  EXPECT_EQ(StripScroll(ScrollRequest::PageUp, 1299, 1000, ratio).position, 999);
  EXPECT_EQ(StripScroll(ScrollRequest::PageUp, 200, 1000, ratio).position, 0);
}

TEST(StripScroll, ShortListNeverScrollsAboveTheTop) {
  const int maxPos = LastPageMaxPosition(Column(1).back(), 600); // negative
  ASSERT_LT(maxPos, 0);
  const double ratio = StripRatio(maxPos, 0, 10);
  for (ScrollRequest req : {ScrollRequest::LineDown, ScrollRequest::PageDown, ScrollRequest::Bottom,
                            ScrollRequest::ThumbTrack, ScrollRequest::LineUp, ScrollRequest::PageUp}) {
    const StripScrollResult r = StripScroll(req, 0, maxPos, ratio, 5);
    EXPECT_EQ(r.position, 0) << static_cast<int>(req);
    EXPECT_EQ(r.boxPosition, 0) << static_cast<int>(req);
  }
}

TEST(StripScroll, ThumbBottomAndTop) {
  // Range 0..70 (7 pages), maximum 543.
  const double ratio = StripRatio(543, 0, 70);
  EXPECT_EQ(StripScroll(ScrollRequest::ThumbTrack, 0, 543, ratio, 35).position, 272); // ceil(271.5)
  EXPECT_EQ(StripScroll(ScrollRequest::ThumbPosition, 0, 543, ratio, 70).position, 543);
  // Past the maximum (after a page down) the thumb does nothing.
  EXPECT_EQ(StripScroll(ScrollRequest::ThumbTrack, 600, 543, ratio, 10).position, 600);
  const StripScrollResult bottom = StripScroll(ScrollRequest::Bottom, 100, 543, ratio);
  EXPECT_EQ(bottom.position, 543);
  EXPECT_EQ(bottom.boxPosition, 70);
  EXPECT_TRUE(bottom.repaintAll);
  EXPECT_EQ(StripScroll(ScrollRequest::Bottom, 700, 543, ratio).position, 700);
  const StripScrollResult top = StripScroll(ScrollRequest::Top, 300, 543, ratio);
  EXPECT_EQ(top.position, 300);
  EXPECT_TRUE(top.repaintAll);
  EXPECT_EQ(StripScroll(ScrollRequest::EndScroll, 300, 543, ratio).position, 300);
}

TEST(ThumbHit, EdgesIncludedScrollApplied) {
  const ThumbRect r{7, 164, 100, 130};
  EXPECT_TRUE(ThumbHit(r, 0, {7, 164}));
  EXPECT_TRUE(ThumbHit(r, 0, {107, 294}));
  EXPECT_FALSE(ThumbHit(r, 0, {108, 200}));
  EXPECT_FALSE(ThumbHit(r, 0, {50, 163}));
  EXPECT_TRUE(ThumbHit(r, 154, {50, 10}));
  EXPECT_FALSE(ThumbHit(r, 154, {50, 9}));
}

TEST(StripScroll, PositionShowingMovesAsLittleAsPossible) {
  const ThumbRect r{7, 500, 100, 130};              // with its label: 490 .. 652
  EXPECT_EQ(PositionShowing(r, 200, 500), 200);     // in view
  EXPECT_EQ(PositionShowing(r, 0, 500), 652 - 500); // below: its label's bottom at the window's bottom
  EXPECT_EQ(PositionShowing(r, 600, 500), 490);     // above: 10 pixels below the window's top
  EXPECT_EQ(PositionShowing({7, 5, 100, 130}, 100, 500), 0);
  EXPECT_EQ(PositionShowing(r, 0, 100), 490); // taller than the window: its top
}

TEST(StripPaintGeometry, FrameAndLabelBand) {
  const ThumbRect r{7, 300, 130, 92};
  EXPECT_EQ(ThumbOnScreen(r, 100), QRect(7, 200, 130, 92));
  EXPECT_EQ(LabelBand(r, 100, 144), QRect(0, 292, 144, 22));
}
