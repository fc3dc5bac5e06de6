#include "render/rasteriser.h"

#include <gtest/gtest.h>

using render::BandPlan;
using render::PlanBands;

TEST(OutputSize, A4At100DpiAndHalfScale) {
  const emf::RECTL a4{0, 0, 21000, 29700};
  const render::PageSize full = render::OutputSize(a4, 100, 100);
  EXPECT_EQ(full.cols, 827);  // ceil(826.77)
  EXPECT_EQ(full.rows, 1170); // ceil(1169.29)
  const render::PageSize half = render::OutputSize(a4, 100, 50);
  EXPECT_EQ(half.cols, 414);
  EXPECT_EQ(half.rows, 585);
}

TEST(OutputSize, ResolutionNotAbove0Uses72AndFrameOffsetsCount) {
  const emf::RECTL frame{1000, 2000, 1000 + 2540, 2000 + 5080}; // one by two inches
  EXPECT_EQ(render::OutputSize(frame, 0, 100).cols, 72);
  EXPECT_EQ(render::OutputSize(frame, -5, 100).rows, 144);
  EXPECT_EQ(render::OutputSize(frame, 300, 100).cols, 300);
}

TEST(OutputSize, EmptyOrInvertedFramesGiveNoPixels) {
  EXPECT_EQ(render::OutputSize({0, 0, 0, 100}, 100, 100).cols, 0);
  EXPECT_EQ(render::OutputSize({500, 0, 100, 100}, 100, 100).cols, 0);
  EXPECT_EQ(render::OutputSize({0, 500, 100, 100}, 100, 100).rows, 0);
  // The largest frame a header can hold still gives a finite size.
  const render::PageSize huge = render::OutputSize({-2147483647 - 1, 0, 2147483647, 100}, 300, 300);
  EXPECT_GT(huge.cols, 0);
}

TEST(BandPlan, BandHeightsOfEveryOfferedFactor) {
  struct Row {
    int f, S, K, B;
  };
  const Row table[] = {{0, 1, 200, 200},  {1, 1, 200, 200}, {2, 2, 200, 400},  {3, 3, 200, 600},
                       {5, 5, 100, 500},  {7, 7, 80, 560},  {10, 10, 40, 400}, {15, 15, 20, 300},
                       {20, 20, 20, 400}, {4, 4, 100, 400}, {8, 8, 60, 480},   {11, 11, 40, 440}};
  for (const Row &r : table) {
    const BandPlan p = PlanBands(1170, r.f, false);
    EXPECT_EQ(p.S, r.S) << "factor " << r.f;
    EXPECT_EQ(p.K, r.K) << "factor " << r.f;
    EXPECT_EQ(p.B, r.B) << "factor " << r.f;
  }
}

TEST(BandPlan, CountsAndLastBand) {
  // Factor none: 1170 rows in 200-row bands: 5 full bands and 170 rows.
  BandPlan p = PlanBands(1170, 0, false);
  EXPECT_EQ(p.n, 6);
  EXPECT_EQ(p.heightOf(0), 200);
  EXPECT_EQ(p.heightOf(5), 170);
  // Factor 3: 3510 supersampled rows in bands of 600.
  p = PlanBands(1170, 3, false);
  EXPECT_EQ(p.n, 6);
  EXPECT_EQ(p.heightOf(5), 3510 - 3000);
  EXPECT_EQ(p.heightOf(5) % 3, 0);
}

TEST(BandPlan, HeightThatIsAMultipleOfTheBandEndsAfterTheLastFullBand) {
  BandPlan p = PlanBands(400, 0, false);
  EXPECT_EQ(p.n, 3);
  EXPECT_EQ(p.heightOf(1), 200);
  EXPECT_EQ(p.heightOf(2), 0);
  p = PlanBands(400, 2, false);
  EXPECT_EQ(p.n, 3);
  EXPECT_EQ(p.heightOf(2), 0);
}

TEST(BandPlan, ThumbnailsNeverSupersample) {
  const BandPlan p = PlanBands(585, 20, true);
  EXPECT_EQ(p.S, 1);
  EXPECT_EQ(p.B, 200);
  EXPECT_EQ(p.n, 3);
  EXPECT_EQ(p.heightOf(2), 185);
}

TEST(BandPlan, FactorsAboveTheLargestAreHeldTo20) {
  const BandPlan p = PlanBands(100, 99, false);
  EXPECT_EQ(p.S, 20);
  EXPECT_LE(p.S * p.S, 400);
}
