#include "render/averaging.h"

#include <algorithm>

namespace render {

BlockAverager::BlockAverager(int factor, int outCols)
    : s_(std::clamp(factor, 1, 20)), cols_(std::max(outCols, 0)), recip_(blockReciprocal(s_)),
      sums_(size_t(cols_) * size_t(s_) * 4) {}

void BlockAverager::averageRow(const uint8_t *src, long long stride, uint8_t *out) {
  const size_t n = sums_.size();
  uint32_t *__restrict acc = sums_.data();
  // Column sums over the S rows of the block: plain widening adds the compiler turns into vector code.
  {
    const uint8_t *__restrict row = src;
    for (size_t j = 0; j < n; ++j)
      acc[j] = row[j];
  }
  for (int r = 1; r < s_; ++r) {
    const uint8_t *__restrict row = src + r * stride;
    for (size_t j = 0; j < n; ++j)
      acc[j] += row[j];
  }
  // Row sums of S neighbouring column sums, four channels at a time, then the exact truncating division.
  const int s = s_;
  const uint64_t recip = recip_;
  for (int x = 0; x < cols_; ++x) {
    const uint32_t *a = acc + size_t(x) * size_t(s) * 4;
    uint32_t b = 0, g = 0, rr = 0;
    for (int k = 0; k < s; ++k) {
      b += a[4 * k];
      g += a[4 * k + 1];
      rr += a[4 * k + 2];
    }
    uint8_t *o = out + size_t(x) * 4;
    o[0] = uint8_t(divideBlockSum(b, recip));
    o[1] = uint8_t(divideBlockSum(g, recip));
    o[2] = uint8_t(divideBlockSum(rr, recip));
    o[3] = 255;
  }
}

} // namespace render
