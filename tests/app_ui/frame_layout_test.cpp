// The frame's arithmetic without windows: layouts, panels, status texts, wheel routing, lamp, placement.
#include "app/frame_layout.h"

#include <gtest/gtest.h>

using namespace frame;

TEST(FrameLayout, PreviewAndStripFollowTheClientSize) {
  const FrameLayout l = ComputeFrameLayout(800, 600);
  EXPECT_EQ(l.preview, QRect(7, 7, 620, 561));
  EXPECT_EQ(l.strip, QRect(637, 7, 156, 586));
  // The smallest client still leaves the preview well beside the button column.
  const FrameLayout small = ComputeFrameLayout(kMinClientWidth, kMinClientHeight);
  EXPECT_EQ(small.preview, QRect(7, 7, 281, 345));
  EXPECT_EQ(small.strip, QRect(298, 7, 156, 370));
}

TEST(FrameLayout, ButtonColumnMaskLeavesOutBothButtonGroups) {
  const QRegion r = ButtonColumnMask(620, 561);
  EXPECT_TRUE(r.contains(QPoint(0, 35)));
  EXPECT_FALSE(r.contains(QPoint(0, 36)));
  EXPECT_FALSE(r.contains(QPoint(38, 242)));
  EXPECT_TRUE(r.contains(QPoint(39, 100)));
  EXPECT_TRUE(r.contains(QPoint(10, 243)));
  EXPECT_TRUE(r.contains(QPoint(10, 251)));
  EXPECT_FALSE(r.contains(QPoint(10, 252)));
  EXPECT_FALSE(r.contains(QPoint(10, 322)));
  EXPECT_TRUE(r.contains(QPoint(10, 323)));
  EXPECT_TRUE(r.contains(QPoint(619, 560)));
  // Every button, placed at x 0 of the frame over a child at (7, 7), lies in a left-out strip: none is covered.
  for (int i = 0; i < kButtonCount; ++i) {
    const QRect button(0 - 7, ButtonTop(i) - 7, kButtonWidth, kButtonHeight);
    const QRect inChild = button.intersected(QRect(0, 0, 36, 561)); // the part the child's left edge covers
    EXPECT_FALSE(r.intersects(QRegion(inChild))) << "button " << i;
  }
}

TEST(FramePaint, PanelsAndStatusBandsFollowTheClientSize) {
  const FrameLayout l = ComputeFrameLayout(800, 600);
  const FramePaintPlan p = ComputePaintPlan(800, 600, l);
  // Strip panel: 4 around the strip, up to 3 inside the right edge.
  EXPECT_EQ(p.stripPanel.outer, QRect(633, 3, 797 - 633, 597 - 3));
  EXPECT_EQ(p.stripPanel.inner, p.stripPanel.outer.adjusted(1, 1, -1, -1));
  EXPECT_EQ(p.previewPanel.outer, QRect(3, 3, 628, 569));
  EXPECT_EQ(p.statusOuter, QRect(3, 574, 631 - 3, 597 - 574));
  EXPECT_EQ(p.statusFill, QRect(5, 576, 630 - 5, 595 - 576));
  EXPECT_EQ(p.statusBandOuter, QRect(5, 578, 625, 11));
  EXPECT_EQ(p.statusBandInner, QRect(5, 579, 625, 6));
}

TEST(StatusLine, PageInformationText) {
  PageInfo info;
  info.currentPage = 2;
  info.pageCount = 5;
  info.fileKb = 143;
  info.widthPx = 827;
  info.heightPx = 1170;
  info.resolution = 100.0;
  info.png = true;
  info.gif = true;
  EXPECT_EQ(PageInfoText(info), QStringLiteral("3(5): 143 KB, 827x1170 pixels, 211x298 mm, 100 dpi, GIF"));
  // A fractional resolution is shown rounded up and the millimetres follow it.
  info.resolution = 96.5;
  info.jpg = true;
  EXPECT_EQ(PageInfoText(info), QStringLiteral("3(5): 143 KB, 827x1170 pixels, 218x308 mm, 97 dpi, JPEG"));
  // A page count below the page's index shows the page's own number as the count.
  info.pageCount = 1;
  EXPECT_TRUE(PageInfoText(info).startsWith(QStringLiteral("3(3): ")));
  info.pageCount = 2; // equal to the index: the count stays
  EXPECT_TRUE(PageInfoText(info).startsWith(QStringLiteral("3(2): ")));
  // A page without image tells why.
  info.problem = QStringLiteral("Page not rendered: the page has no size");
  EXPECT_EQ(PageInfoText(info), QStringLiteral("3(2): Page not rendered: the page has no size"));
}

TEST(StatusLine, FormatNameTestsTheFlagsInOrder) {
  EXPECT_EQ(OutputFormatName(true, true, true, true), "JPEG");
  EXPECT_EQ(OutputFormatName(false, true, true, true), "GIF");
  EXPECT_EQ(OutputFormatName(false, false, true, true), "PNG");
  EXPECT_EQ(OutputFormatName(false, false, false, true), "TIF");
  EXPECT_EQ(OutputFormatName(false, false, false, false), "BMP");
  EXPECT_EQ(PixelsToMm(100, 0.0), 0); // no division by zero
  EXPECT_EQ(PixelsToMm(0, 300.0), 0);
  EXPECT_EQ(PixelsToMm(1, 300.0), 1);
}

TEST(StatusLine, ReadinessTextByStateAndWidth) {
  EXPECT_FALSE(ReadinessPlacement(630, 500, 1));
  const auto ready = ReadinessPlacement(631, 500, 1);
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->text, "Ready to process print jobs.");
  EXPECT_EQ(ready->at, QPoint(631 - 320, 479));
  EXPECT_FALSE(ready->warning);
  const auto partly = ReadinessPlacement(1000, 700, 2);
  ASSERT_TRUE(partly);
  EXPECT_EQ(partly->text, "System ready. Partly acceptable printers exist.");
  EXPECT_EQ(partly->at, QPoint(610, 679));
  const auto none = ReadinessPlacement(1000, 700, 0);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->text, "System not ready. No acceptable printers!");
  EXPECT_EQ(none->at, QPoint(620, 679));
  EXPECT_TRUE(none->warning);
  EXPECT_FALSE(ReadinessPlacement(1000, 700, 7));
  // A text too wide for the room left of the strip ends where the status line ends; a narrow one stays put.
  const auto wide = ReadinessPlacement(1000, 700, 2, [](const QString &) { return 240; });
  EXPECT_EQ(wide->at.x(), 1000 - 172 - 240);
  const auto narrow = ReadinessPlacement(1000, 700, 2, [](const QString &) { return 150; });
  EXPECT_EQ(narrow->at.x(), 610);
}

TEST(StatusLine, ZonesNeverOverlapAndThePageInformationIsCutToItsZone) {
  const auto width = [](const QString &t) { return int(t.size()) * 6; };
  for (int cx : {kMinClientWidth, 630, 631, 700, 1000, 1600}) {
    const StatusZones z = ComputeStatusZones(cx, 500, width);
    EXPECT_EQ(z.pageInfo.left(), 20) << cx;
    EXPECT_EQ(z.pageInfo.top(), 475) << cx;
    EXPECT_EQ(z.pageInfo.bottom(), 495) << cx;
    if (cx < kReadinessMinWidth) {
      EXPECT_FALSE(z.readiness) << cx;
      EXPECT_EQ(z.pageInfo.right(), cx - 171) << cx;
      continue;
    }
    ASSERT_TRUE(z.readiness) << cx;
    EXPECT_FALSE(z.readiness->intersects(z.pageInfo)) << cx;
    EXPECT_EQ(z.readiness->right(), cx - 171) << cx;
    // Every state's text lies inside the readiness zone.
    for (int state : {0, 1, 2}) {
      const auto t = ReadinessPlacement(cx, 500, state, width);
      ASSERT_TRUE(t);
      EXPECT_TRUE(z.readiness->contains(QRect(t->at, QSize(width(t->text), 12)))) << cx << " state " << state;
    }
  }
  // The page information is cut with an ellipsis inside its zone, never drawn into the readiness text.
  const QFontMetrics fm(QFont(QStringLiteral("DejaVu Sans"), 8));
  const auto measure = [&fm](const QString &t) { return fm.horizontalAdvance(t); };
  const PageInfo info{0, 11, 32, 827, 1170, 100.0, true, false, false, false, {}};
  const StatusText cut = PageInfoPlacement(631, 500, info, fm);
  EXPECT_TRUE(cut.text.startsWith(QStringLiteral("1(11): "))) << cut.text.toStdString();
  EXPECT_TRUE(cut.text.endsWith(QChar(0x2026))) << cut.text.toStdString();
  EXPECT_LE(fm.horizontalAdvance(cut.text), ComputeStatusZones(631, 500, measure).pageInfo.width());
  EXPECT_EQ(PageInfoPlacement(1600, 500, info, fm).text, PageInfoText(info));
}

TEST(WheelRouting, StripZoneThenPreviewBarsByHeight) {
  // Right 170 pixels: the strip, whatever the preview shows.
  EXPECT_EQ(RouteWheel(800, 600, {630, 10}, -120, true, true), WheelTarget::StripLineDown);
  EXPECT_EQ(RouteWheel(800, 600, {630, 10}, 0, false, false), WheelTarget::StripLineDown);
  EXPECT_EQ(RouteWheel(800, 600, {799, 10}, 120, false, false), WheelTarget::StripLineUp);
  EXPECT_EQ(RouteWheel(800, 600, {629, 10}, 120, false, false), WheelTarget::None);
  // Vertical bar: at least 47 above the bottom.
  EXPECT_EQ(RouteWheel(800, 600, {100, 553}, -1, true, false), WheelTarget::PreviewLineDown);
  EXPECT_EQ(RouteWheel(800, 600, {100, 553}, 1, true, false), WheelTarget::PreviewLineUp);
  EXPECT_EQ(RouteWheel(800, 600, {100, 554}, -1, true, false), WheelTarget::None);
  // Horizontal bar: the bottom 47 pixels.
  EXPECT_EQ(RouteWheel(800, 600, {100, 554}, -1, true, true), WheelTarget::PreviewLineRight);
  EXPECT_EQ(RouteWheel(800, 600, {100, 599}, 5, false, true), WheelTarget::PreviewLineLeft);
  EXPECT_EQ(RouteWheel(800, 600, {100, 100}, 5, false, true), WheelTarget::None);
}

TEST(ButtonColumn, RowsTipsAndLamp) {
  const int tops[] = {45, 79, 113, 147, 181, 215, 261, 295};
  for (int i = 0; i < kButtonCount; ++i)
    EXPECT_EQ(ButtonTop(i), tops[i]);
  EXPECT_EQ(ButtonTop(8), -1);
  EXPECT_EQ(ButtonTooltip(0), "Save to Disk (Ctrl+S)");
  EXPECT_EQ(ButtonTooltip(5), "Exit (Alt+F4)");
  EXPECT_EQ(ButtonTooltip(7), "Save files with HTML (Ctrl+W)");
  EXPECT_TRUE(ButtonTooltip(-1).isEmpty());

  EXPECT_EQ(LampFor(1, false, false), LampPicture::Green);
  EXPECT_EQ(LampFor(1, true, true), LampPicture::Green);
  EXPECT_EQ(LampFor(2, false, false), LampPicture::Yellow);
  EXPECT_EQ(LampFor(0, true, false), LampPicture::RedLit);
  EXPECT_EQ(LampFor(0, false, false), LampPicture::RedDark);
  EXPECT_EQ(LampFor(0, false, true), LampPicture::RedLit); // under the mouse the lamp stays lit
}

TEST(Placement, FirstStartIsEightyFivePercentByEightyAndCentred) {
  const Placement p = StartPlacement(StoredPlacement{}, 1920, 1050);
  EXPECT_FALSE(p.maximised);
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.top, 0);
  EXPECT_EQ(p.right, 1632);
  EXPECT_EQ(p.bottom, 840);
  EXPECT_TRUE(ShouldCentre(p));
  // Rounded toward zero.
  const Placement q = StartPlacement(StoredPlacement{}, 1001, 1001);
  EXPECT_EQ(q.right, 850);
  EXPECT_EQ(q.bottom, 800);
}

TEST(Placement, StoredRectangleIsClampedToTheScreen) {
  StoredPlacement s;
  s.winLeft = -50;
  s.winTop = -10;
  s.winRight = 3000;
  s.winBottom = 2000;
  const Placement p = StartPlacement(s, 1920, 1050);
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.top, 0);
  EXPECT_EQ(p.right, 1920);
  EXPECT_EQ(p.bottom, 1050);
  s = {0, 100, 50, 900, 700};
  const Placement kept = StartPlacement(s, 1920, 1050);
  EXPECT_EQ(kept.left, 100);
  EXPECT_EQ(kept.top, 50);
  EXPECT_EQ(kept.right, 900);
  EXPECT_EQ(kept.bottom, 700);
  EXPECT_FALSE(ShouldCentre(kept));
  // A bottom below 1 counts as no stored rectangle at all.
  s.winBottom = 0;
  EXPECT_EQ(StartPlacement(s, 1000, 1000).right, 850);
}

TEST(Placement, RectangleThatClampsToNothingFallsBackToTheFirstStartSize) {
  StoredPlacement s;
  s.winLeft = 5000; // a screen that is gone
  s.winTop = 100;
  s.winRight = 6000;
  s.winBottom = 600;
  const Placement p = StartPlacement(s, 1920, 1050);
  EXPECT_GT(p.right - p.left, 0);
  EXPECT_GT(p.bottom - p.top, 0);
  EXPECT_EQ(p.right, 1632);
  EXPECT_TRUE(ShouldCentre(p));
}

TEST(Placement, MaximisedUsesTheMaximisedSizeAndIgnoresTheRectangle) {
  StoredPlacement s{1, 10, 10, 20, 20};
  const Placement p = StartPlacement(s, 1920, 1050);
  EXPECT_TRUE(p.maximised);
  EXPECT_EQ(p.right, 1920);
  EXPECT_EQ(p.bottom, 1050);
  EXPECT_FALSE(ShouldCentre(p));
}

TEST(Placement, EndValuesKeepTheOldRectangleWhenMaximised) {
  const auto max = EndPlacementValues(true, QRect(1, 2, 3, 4));
  ASSERT_EQ(max.size(), 1u);
  EXPECT_EQ(max[0], (std::pair<std::string, int>{"lvKodMainWinMax", 1}));
  const auto normal = EndPlacementValues(false, QRect(10, 20, 300, 400));
  const std::vector<std::pair<std::string, int>> expected = {
      {"lvKodMainWinMax", 0}, {"lvWinBottom", 420}, {"lvWinTop", 20}, {"lvWinLeft", 10}, {"lvWinRight", 310}};
  EXPECT_EQ(normal, expected);
}
