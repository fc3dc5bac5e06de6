// Block averaging of a supersampled band: every S x S block of 32-bit pixels (bytes blue, green, red, unused)
// becomes one output pixel whose channels are the block's sums divided by S x S, truncated.
#pragma once

#include <cstdint>
#include <vector>

namespace render {

class BlockAverager {
public:
  // factor S (1 .. 20) and the number of output columns.
  BlockAverager(int factor, int outCols);

  // Averages the S rows starting at src (stride in bytes between rows) into outCols pixels of out, each written
  // as 4 bytes blue, green, red, 255. Uses the processor's vector instructions where the build has them.
  void averageRow(const uint8_t *src, long long stride, uint8_t *out);
  // The same bytes without vector instructions: what averageRow does on processors without them.
  void averageRowPortable(const uint8_t *src, long long stride, uint8_t *out);

  int factor() const { return s_; }
  int columns() const { return cols_; }

private:
  int s_;
  int cols_;
  uint64_t recip_;             // 2^32 / (S x S), rounded up: exact truncating division for every possible block sum
  std::vector<uint16_t> sums_; // column sums of up to 20 rows: at most 5100
};

// Widens cols pixels of 4 bytes (blue, green, red, unused) to 16-bit samples in the same order, the fourth (the
// opacity of the image library's pixels) set to 0: opaque. 8-bit values v become v x 257, so 255 is full scale.
void widenRow(const uint8_t *bgrx, uint16_t *out, long long cols);

// Truncating division of a block sum by S x S through the reciprocal above (exposed for the tests).
constexpr uint32_t divideBlockSum(uint32_t sum, uint64_t recip) { return uint32_t((uint64_t(sum) * recip) >> 32); }
constexpr uint64_t blockReciprocal(int factor) {
  const uint64_t d = uint64_t(factor) * uint64_t(factor);
  return ((uint64_t(1) << 32) / d) + 1;
}

} // namespace render
