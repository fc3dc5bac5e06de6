#include "render/averaging.h"

#include <algorithm>
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

TEST(BlockAveraging, BothPathsMatchPlainBlockSumsAtEveryFactor) {
  for (int S = 1; S <= 20; ++S)
    for (int cols : {1, 7, 37, 601}) { // 601 spans several chunks of column sums at every factor
      const std::vector<uint8_t> band = makeRows(S, cols, uint32_t(S * 1000 + cols));
      const long long stride = (long long)cols * S * 4 + 12; // rows need not be packed
      std::vector<uint8_t> padded(size_t(stride) * size_t(S), 0xAB);
      for (int r = 0; r < S; ++r)
        std::copy_n(band.begin() + size_t(r) * size_t(cols) * size_t(S) * 4, size_t(cols) * size_t(S) * 4,
                    padded.begin() + size_t(r) * size_t(stride));
      BlockAverager avg(S, cols);
      std::vector<uint8_t> out(size_t(cols) * 4 + 4, 0x5A), portable(out);
      avg.averageRow(padded.data(), stride, out.data());
      avg.averageRowPortable(padded.data(), stride, portable.data());
      ASSERT_EQ(out, portable) << "S=" << S << " cols=" << cols;
      ASSERT_EQ(out.back(), 0x5A) << "wrote past the row, S=" << S << " cols=" << cols;
      for (int x = 0; x < cols; ++x) {
        for (int c = 0; c < 3; ++c) {
          int sum = 0;
          for (int r = 0; r < S; ++r)
            for (int k = 0; k < S; ++k)
              sum += padded[size_t(r) * size_t(stride) + (size_t(x) * size_t(S) + size_t(k)) * 4 + size_t(c)];
          ASSERT_EQ(out[size_t(x) * 4 + size_t(c)], sum / (S * S)) << "S=" << S << " x=" << x << " c=" << c;
        }
        ASSERT_EQ(out[size_t(x) * 4 + 3], 255);
      }
    }
}

TEST(BlockAveraging, EveryPossibleBlockSumIsDividedExactlyOnBothPaths) {
  // Blocks whose channels carry consecutive sums 0 .. 255 x S x S, 256 output pixels per row.
  const int cols = 256;
  std::vector<uint8_t> band, out(size_t(cols) * 4), portable(out.size());
  for (int S = 1; S <= 20; ++S) {
    const int area = S * S, maxSum = 255 * area;
    const long long stride = (long long)cols * S * 4;
    band.assign(size_t(stride) * size_t(S), 0);
    BlockAverager avg(S, cols);
    for (int base = 0; base <= maxSum; base += 3 * cols) {
      for (int x = 0; x < cols; ++x)
        for (int c = 0; c < 3; ++c) {
          const int sum = std::min(base + 3 * x + c, maxSum);
          for (int i = 0; i < area; ++i) // the block's bytes in turn: 255 until the sum is spent
            band[size_t(i / S) * size_t(stride) + (size_t(x) * size_t(S) + size_t(i % S)) * 4 + size_t(c)] =
                uint8_t(std::clamp(sum - 255 * i, 0, 255));
        }
      avg.averageRow(band.data(), stride, out.data());
      avg.averageRowPortable(band.data(), stride, portable.data());
      for (int x = 0; x < cols; ++x)
        for (int c = 0; c < 3; ++c) {
          const int sum = std::min(base + 3 * x + c, maxSum);
          ASSERT_EQ(out[size_t(x) * 4 + size_t(c)], sum / area) << "S=" << S << " sum=" << sum;
          ASSERT_EQ(portable[size_t(x) * 4 + size_t(c)], sum / area) << "S=" << S << " sum=" << sum;
        }
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

TEST(BlockAveraging, WideningScalesEachSampleTo16BitsAndMakesPixelsOpaque) {
  const int cols = 11; // vector groups of 4 and a tail
  const std::vector<uint8_t> row = makeRows(1, cols, 7);
  std::vector<uint16_t> out(size_t(cols) * 4 + 1, 0x5A5A);
  render::widenRow(row.data(), out.data(), cols);
  for (size_t i = 0; i < size_t(cols) * 4; ++i)
    ASSERT_EQ(out[i], i % 4 == 3 ? 0 : row[i] * 257) << "sample " << i;
  EXPECT_EQ(out.back(), 0x5A5A);
}
