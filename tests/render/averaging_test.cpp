#include "render/averaging.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

using render::BlockAverager;

namespace {

// A band of S rows of cols x S pixels, bytes blue, green, red, unused.
std::vector<uint8_t> makeRows(int S, int cols, uint32_t salt) {
  std::mt19937 rng(salt);
  std::vector<uint8_t> v(size_t(S) * size_t(cols) * size_t(S) * 4);
  for (auto &b : v)
    b = uint8_t(rng());
  return v;
}

} // namespace

TEST(BlockAveraging, ReciprocalDivisionIsExactTruncationForEveryPossibleSum) {
  for (int S = 1; S <= 20; ++S) {
    const uint64_t recip = render::blockReciprocal(S);
    const uint32_t d = uint32_t(S * S);
    for (uint32_t sum = 0; sum <= 255 * d; ++sum)
      ASSERT_EQ(render::divideBlockSum(sum, recip), sum / d) << "S=" << S << " sum=" << sum;
  }
}

TEST(BlockAveraging, TruncatesEachChannelWithoutRounding) {
  // One 2 x 2 block: 255, 255 / 255, 254 in every channel gives 254 (1019 / 4 = 254.75).
  const uint8_t rows[2][8] = {{255, 255, 255, 0, 255, 255, 255, 0}, {255, 255, 255, 0, 254, 254, 254, 0}};
  BlockAverager avg(2, 1);
  uint8_t out[4];
  avg.averageRow(&rows[0][0], 8, out);
  EXPECT_EQ(out[0], 254);
  EXPECT_EQ(out[1], 254);
  EXPECT_EQ(out[2], 254);
  EXPECT_EQ(out[3], 255);

  // Channels are kept apart: a block pure blue on one side and pure red on the other.
  const uint8_t mixed[2][8] = {{255, 0, 0, 0, 0, 0, 255, 0}, {255, 0, 0, 0, 0, 0, 255, 0}};
  avg.averageRow(&mixed[0][0], 8, out);
  EXPECT_EQ(out[0], 127);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 127);
}

TEST(BlockAveraging, MatchesPlainBlockSumsAtEveryOfferedFactor) {
  for (int S : {1, 2, 3, 5, 7, 10, 15, 20}) {
    const int cols = 37;
    const std::vector<uint8_t> band = makeRows(S, cols, uint32_t(S));
    const long long stride = (long long)cols * S * 4 + 12; // rows need not be packed
    std::vector<uint8_t> padded(size_t(stride) * size_t(S), 0xAB);
    for (int r = 0; r < S; ++r)
      std::copy_n(band.begin() + size_t(r) * size_t(cols) * size_t(S) * 4, size_t(cols) * size_t(S) * 4,
                  padded.begin() + size_t(r) * size_t(stride));
    BlockAverager avg(S, cols);
    std::vector<uint8_t> out(size_t(cols) * 4);
    avg.averageRow(padded.data(), stride, out.data());
    for (int x = 0; x < cols; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int r = 0; r < S; ++r)
          for (int k = 0; k < S; ++k)
            sum += padded[size_t(r) * size_t(stride) + (size_t(x) * size_t(S) + size_t(k)) * 4 + size_t(c)];
        ASSERT_EQ(out[size_t(x) * 4 + size_t(c)], sum / (S * S)) << "S=" << S << " x=" << x << " c=" << c;
      }
  }
}

TEST(BlockAveraging, ExtremesOfTheLargestFactorStayInRange) {
  const int S = 20, cols = 3;
  std::vector<uint8_t> white(size_t(S) * size_t(cols) * size_t(S) * 4, 255);
  BlockAverager avg(S, cols);
  std::vector<uint8_t> out(size_t(cols) * 4);
  avg.averageRow(white.data(), (long long)cols * S * 4, out.data());
  for (int i = 0; i < cols * 4; ++i)
    EXPECT_EQ(out[size_t(i)], 255);
  std::vector<uint8_t> black(white.size(), 0);
  avg.averageRow(black.data(), (long long)cols * S * 4, out.data());
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[5], 0);
}
