// The device-context arithmetic: frame mapping, mapping modes, extents, clip combination.
#include "emf/device_context.h"
#include "emf/metafile.h"

#include <gtest/gtest.h>

using namespace emf;

namespace {

ENHMETAHEADER header(RECTL frame, SIZEL device, SIZEL mm) {
  ENHMETAHEADER h;
  h.rclFrame = frame;
  h.szlDevice = device;
  h.szlMillimeters = mm;
  return h;
}

void expectNear(QPointF a, QPointF b) {
  EXPECT_NEAR(a.x(), b.x(), 1e-6) << "x";
  EXPECT_NEAR(a.y(), b.y(), 1e-6) << "y";
}

} // namespace

TEST(FrameMapping, FrameCornersLandOnDestinationCorners) {
  // 4 pixels per millimetre; frame from (10 mm, 5 mm) to (60 mm, 30 mm) = reference pixels (40,20)-(240,120).
  const ENHMETAHEADER h = header({1000, 500, 6000, 3000}, {800, 600}, {200, 150});
  const FrameMapping fm = frameMapping(h, QRect(100, -50, 400, 200));
  expectNear(fm.deviceToTarget.map(QPointF(40, 20)), QPointF(100, -50));
  expectNear(fm.deviceToTarget.map(QPointF(240, 120)), QPointF(500, 150));
  EXPECT_DOUBLE_EQ(fm.refWidthPx, 800);
  EXPECT_DOUBLE_EQ(fm.refHeightMm, 150);
}

TEST(FrameMapping, DegenerateFrameOrDeviceStillMapsSomething) {
  // Zero-sized frame: the bounds are used instead.
  ENHMETAHEADER h = header({0, 0, 0, 0}, {100, 100}, {10, 10});
  h.rclBounds = {0, 0, 99, 49};
  const FrameMapping fm = frameMapping(h, QRect(0, 0, 200, 100));
  expectNear(fm.deviceToTarget.map(QPointF(100, 50)), QPointF(200, 100));
  // A reference device with zero millimetres does not divide by zero.
  const FrameMapping bad = frameMapping(header({0, 0, 1000, 1000}, {0, 0}, {0, 0}), QRect(0, 0, 10, 10));
  EXPECT_TRUE(bad.deviceToTarget.isInvertible());
}

class MappingModes : public ::testing::Test {
protected:
  // 10 pixels per millimetre, 1:1 onto the target.
  FrameMapping fm = frameMapping(header({0, 0, 10000, 10000}, {1000, 1000}, {100, 100}), QRect(0, 0, 1000, 1000));
  DeviceContext dc;
  QPointF map(double x, double y) { return logicalToTarget(dc, fm).map(QPointF(x, y)); }
};

TEST_F(MappingModes, FixedModesUseTheReferenceDeviceSize) {
  setMapMode(dc, MM_TEXT, fm);
  expectNear(map(5, 7), QPointF(5, 7));
  setMapMode(dc, MM_LOMETRIC, fm); // 0.1 mm, y up
  expectNear(map(100, -100), QPointF(100, 100));
  setMapMode(dc, MM_HIMETRIC, fm); // 0.01 mm
  expectNear(map(1000, -500), QPointF(100, 50));
  setMapMode(dc, MM_LOENGLISH, fm); // 0.01 inch = 0.254 mm = 2.54 px
  EXPECT_NEAR(map(100, 0).x(), 254, 0.5);
  setMapMode(dc, MM_HIENGLISH, fm);
  EXPECT_NEAR(map(1000, 0).x(), 254, 0.5);
  setMapMode(dc, MM_TWIPS, fm); // 1/1440 inch
  EXPECT_NEAR(map(1440, -1440).x(), 254, 0.5);
  EXPECT_NEAR(map(1440, -1440).y(), 254, 0.5);
}

TEST_F(MappingModes, ExtentsOnlyChangeInScalableModes) {
  setMapMode(dc, MM_LOMETRIC, fm);
  setWindowExt(dc, QSize(1, 1), fm);
  setViewportExt(dc, QSize(50, 50), fm);
  expectNear(map(100, -100), QPointF(100, 100)); // unchanged: fixed mode

  setMapMode(dc, MM_ANISOTROPIC, fm);
  setWindowExt(dc, QSize(100, 200), fm);
  setViewportExt(dc, QSize(400, -200), fm);
  dc.windowOrg = QPoint(10, 20);
  dc.viewportOrg = QPoint(5, 500);
  expectNear(map(10, 20), QPointF(5, 500));
  expectNear(map(110, 220), QPointF(405, 300));
  // Zero extents are refused.
  setWindowExt(dc, QSize(0, 5), fm);
  EXPECT_EQ(dc.windowExt, QSize(100, 200));

  scaleViewportExt(dc, 1, 2, 3, 1, fm);
  EXPECT_EQ(dc.viewportExt, QSize(200, -600));
  scaleWindowExt(dc, 1, 0, 1, 1, fm); // division by zero ignored
  EXPECT_EQ(dc.windowExt, QSize(100, 200));
}

TEST_F(MappingModes, IsotropicKeepsUnitsSquare) {
  setMapMode(dc, MM_ISOTROPIC, fm);
  setWindowExt(dc, QSize(100, 100), fm);
  setViewportExt(dc, QSize(1000, -500), fm);
  // The larger scale shrinks to the smaller one; the sign of each axis stays.
  const QPointF p = map(100, 100);
  EXPECT_NEAR(p.x(), 500, 1);
  EXPECT_NEAR(p.y(), -500, 1);
}

TEST_F(MappingModes, WorldTransformComesFirst) {
  setMapMode(dc, MM_ANISOTROPIC, fm);
  setWindowExt(dc, QSize(1, 1), fm);
  setViewportExt(dc, QSize(2, 2), fm);
  dc.world = QTransform(0, 1, -1, 0, 10, 0); // quarter turn, then shift
  expectNear(map(5, 0), QPointF(20, 10));
}

TEST(ClipCombination, ModesAndReset) {
  DeviceContext dc;
  const QRegion a(0, 0, 10, 10), b(5, 5, 10, 10);
  combineClip(dc, a, RGN_AND); // no clip yet: AND gives the region
  EXPECT_EQ(*dc.clip, a);
  combineClip(dc, b, RGN_OR);
  EXPECT_EQ(*dc.clip, a.united(b));
  combineClip(dc, a, RGN_COPY);
  combineClip(dc, b, RGN_XOR);
  EXPECT_EQ(*dc.clip, a.xored(b));
  combineClip(dc, a, RGN_COPY);
  combineClip(dc, b, RGN_DIFF);
  EXPECT_EQ(*dc.clip, a.subtracted(b));
  combineClip(dc, std::nullopt, RGN_AND); // a missing region only counts for RGN_COPY
  EXPECT_TRUE(dc.clip.has_value());
  combineClip(dc, std::nullopt, RGN_COPY);
  EXPECT_FALSE(dc.clip.has_value());

  // Excluding from "everything" keeps everything else.
  combineClip(dc, a, RGN_DIFF);
  EXPECT_FALSE(dc.clip->contains(QPoint(5, 5)));
  EXPECT_TRUE(dc.clip->contains(QPoint(-1000, 3000)));

  // The meta region limits whatever clip follows.
  dc.meta = QRegion(0, 0, 4, 4);
  dc.clip = QRegion(2, 2, 10, 10);
  EXPECT_EQ(*effectiveClip(dc), QRegion(2, 2, 2, 2));
}

TEST(ClipCombination, LogicalRectanglesExcludeRightAndBottom) {
  const QRegion r = logicalRectRegion(10, 20, 30, 25, QTransform());
  EXPECT_EQ(r.boundingRect(), QRect(10, 20, 20, 5));
  // Corners given in either order cover the same pixels.
  EXPECT_EQ(logicalRectRegion(30, 25, 10, 20, QTransform()), r);
  EXPECT_TRUE(logicalRectRegion(5, 5, 5, 9, QTransform()).isEmpty());
  // Under a scale the rectangle scales; under a rotation it becomes a polygon of the same area.
  EXPECT_EQ(logicalRectRegion(1, 1, 3, 2, QTransform::fromScale(10, 10)).boundingRect(), QRect(10, 10, 20, 10));
  const QRegion rotated = logicalRectRegion(0, 0, 100, 100, QTransform().rotate(45));
  EXPECT_NEAR(double(rotated.boundingRect().width()), 141.0, 2.0);
}
