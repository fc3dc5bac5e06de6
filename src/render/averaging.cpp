#include "render/averaging.h"

#include <algorithm>

namespace render {

BlockAverager::BlockAverager(int factor, int outCols)
    : s_(std::clamp(factor, 1, 20)), cols_(std::max(outCols, 0)), recip_(blockReciprocal(s_)),
      sums_(size_t(std::max(1, 4096 / (4 * s_))) * size_t(s_) * 4) {}

namespace {

// One output row; FixedS is the factor known at compile time (0: taken from s at run time), which lets the
// compiler unroll and vectorise the sums of the usual factors.
template <int FixedS>
void averageRowImpl(const uint8_t *src, long long stride, uint8_t *out, int cols, int runtimeS, uint64_t recip,
                    uint16_t *__restrict acc) {
  const int s = FixedS > 0 ? FixedS : runtimeS;
  if constexpr (FixedS > 0)
    recip = blockReciprocal(FixedS);
  // Columns are taken in chunks whose column sums stay in the first-level cache.
  const int chunkCols = std::max(1, 4096 / (4 * s));
  for (int x0 = 0; x0 < cols; x0 += chunkCols) {
    const int cx = std::min(chunkCols, cols - x0);
    const size_t n = size_t(cx) * size_t(s) * 4;
    const size_t first = size_t(x0) * size_t(s) * 4;
    // Column sums over the S rows of the block: plain widening adds the compiler turns into vector code.
    {
      const uint8_t *__restrict row = src + first;
      for (size_t j = 0; j < n; ++j)
        acc[j] = row[j];
    }
    for (int r = 1; r < s; ++r) {
      const uint8_t *__restrict row = src + r * stride + first;
      for (size_t j = 0; j < n; ++j)
        acc[j] = uint16_t(acc[j] + row[j]);
    }
    // Sums of S neighbouring column sums per channel, then the exact truncating division.
    for (int x = 0; x < cx; ++x) {
      const uint16_t *a = acc + size_t(x) * size_t(s) * 4;
      uint32_t b = 0, g = 0, rr = 0;
      for (int k = 0; k < s; ++k) {
        b += a[4 * k];
        g += a[4 * k + 1];
        rr += a[4 * k + 2];
      }
      uint8_t *o = out + size_t(x0 + x) * 4;
      o[0] = uint8_t(divideBlockSum(b, recip));
      o[1] = uint8_t(divideBlockSum(g, recip));
      o[2] = uint8_t(divideBlockSum(rr, recip));
      o[3] = 255;
    }
  }
}

} // namespace

void BlockAverager::averageRow(const uint8_t *src, long long stride, uint8_t *out) {
  uint16_t *acc = sums_.data();
  switch (s_) {
  case 2:
    return averageRowImpl<2>(src, stride, out, cols_, s_, recip_, acc);
  case 3:
    return averageRowImpl<3>(src, stride, out, cols_, s_, recip_, acc);
  case 5:
    return averageRowImpl<5>(src, stride, out, cols_, s_, recip_, acc);
  case 7:
    return averageRowImpl<7>(src, stride, out, cols_, s_, recip_, acc);
  case 10:
    return averageRowImpl<10>(src, stride, out, cols_, s_, recip_, acc);
  case 15:
    return averageRowImpl<15>(src, stride, out, cols_, s_, recip_, acc);
  case 20:
    return averageRowImpl<20>(src, stride, out, cols_, s_, recip_, acc);
  default:
    return averageRowImpl<0>(src, stride, out, cols_, s_, recip_, acc);
  }
}

void widenRow(const uint8_t *__restrict bgrx, uint16_t *__restrict out, long long cols) {
  for (long long x = 0; x < cols; ++x) {
    out[4 * x] = uint16_t(bgrx[4 * x] * 257u);
    out[4 * x + 1] = uint16_t(bgrx[4 * x + 1] * 257u);
    out[4 * x + 2] = uint16_t(bgrx[4 * x + 2] * 257u);
    out[4 * x + 3] = 0;
  }
}

} // namespace render
