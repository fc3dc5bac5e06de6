#include "render/averaging.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace render {

namespace {

// Columns are taken in chunks whose column sums (4 x S 16-bit values per output column) stay in the first-level
// cache.
int chunkColumns(int s) { return std::max(1, 4096 / (4 * s)); }

// Truncating division of the block sums of factors 2 .. 16, which fit 16 bits (at most 255 x 256), as the vector
// code does it in eight lanes at once: the high half of a 16 x 16-bit product, then a shift. The multiplier is
// 2^(16 + shift) / d rounded up, with the largest shift that keeps it within 16 bits. It is exact when every sum x
// up to 255 d satisfies x e < 2^(16 + shift), e being what rounding the multiplier up added (m d - 2^(16 + shift)):
// then x m / 2^(16 + shift) stays below the next integer. Where that fails (S = 14) the sum is first divided by
// the power of two in S x S, which changes no quotient (floor(floor(x / a) / b) = floor(x / ab)).
struct BlockDivisor16 {
  int preShift = 0;
  uint16_t multiplier = 0;
  int shift = 0;
};
constexpr BlockDivisor16 blockDivisor16(int factor, int preShift) {
  const uint64_t d = (uint64_t(factor) * uint64_t(factor)) >> preShift;
  BlockDivisor16 r{preShift, 0, 0};
  for (int shift = 0; shift < 16; ++shift) {
    const uint64_t m = ((uint64_t(1) << (16 + shift)) + d - 1) / d;
    if (m > 0xFFFF)
      break;
    r.multiplier = uint16_t(m);
    r.shift = shift;
  }
  return r;
}
constexpr bool divisorIsExact(int factor, BlockDivisor16 div) {
  const uint64_t area = uint64_t(factor) * uint64_t(factor), d = area >> div.preShift;
  const uint64_t scale = uint64_t(1) << (16 + div.shift);
  const uint64_t excess = uint64_t(div.multiplier) * d - scale;
  return div.multiplier != 0 && (d << div.preShift) == area && 255 * area <= 0xFFFF &&
         ((255 * area) >> div.preShift) * excess < scale;
}
constexpr BlockDivisor16 blockDivisor16(int factor) {
  int twos = 0;
  while ((uint64_t(factor) * uint64_t(factor)) % (uint64_t(2) << twos) == 0)
    ++twos;
  const BlockDivisor16 plain = blockDivisor16(factor, 0);
  return divisorIsExact(factor, plain) ? plain : blockDivisor16(factor, twos);
}
constexpr bool allDivisorsExact() {
  for (int s = 2; s <= 16; ++s)
    if (!divisorIsExact(s, blockDivisor16(s)))
      return false;
  return true;
}
static_assert(allDivisorsExact());

// One output row; FixedS is the factor known at compile time (0: taken from s at run time), which lets the
// compiler unroll and vectorise the sums of the usual factors.
template <int FixedS>
void averageRowImpl(const uint8_t *src, long long stride, uint8_t *out, int cols, int runtimeS, uint64_t recip,
                    uint16_t *__restrict acc) {
  const int s = FixedS > 0 ? FixedS : runtimeS;
  if constexpr (FixedS > 0)
    recip = blockReciprocal(FixedS);
  const int chunkCols = chunkColumns(s);
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

#if defined(__SSE2__)

// The vector path. Stage one sums the S rows of a chunk of columns 16 bytes at a time in registers (bytes widened
// to 16-bit lanes: a column sum is at most 20 x 255) and stores each sum once; stage two adds the S column sums of
// each output pixel as 4-lane groups, two pixels per register, divides and packs four pixels per store.
template <int FixedS>
void averageRowSse2(const uint8_t *src, long long stride, uint8_t *out, int cols, int runtimeS, uint64_t recip,
                    uint16_t *__restrict acc) {
  const int s = FixedS > 0 ? FixedS : runtimeS;
  if constexpr (FixedS > 0)
    recip = blockReciprocal(FixedS);
  const BlockDivisor16 div = blockDivisor16(s);
  const __m128i zero = _mm_setzero_si128();
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  const __m128i multiplier = _mm_set1_epi16(short(div.multiplier));
  const __m128i preShift = _mm_cvtsi32_si128(div.preShift), shift = _mm_cvtsi32_si128(div.shift);
  const __m128 divisor = _mm_set1_ps(float(s * s));
  const int chunkCols = chunkColumns(s);
  for (int x0 = 0; x0 < cols; x0 += chunkCols) {
    const int cx = std::min(chunkCols, cols - x0);
    const size_t n = size_t(cx) * size_t(s) * 4;
    const uint8_t *first = src + size_t(x0) * size_t(s) * 4;
    size_t j = 0;
    for (; j + 16 <= n; j += 16) {
      const uint8_t *p = first + j;
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
      for (int r = 1; r < s; ++r) {
        v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + r * stride));
        lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
        hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + j), lo);
      _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + j + 8), hi);
    }
    for (; j < n; ++j) { // the last pixels of a row, where 16 bytes would read past it
      uint16_t sum = 0;
      for (int r = 0; r < s; ++r)
        sum = uint16_t(sum + first[r * stride + (long long)j]);
      acc[j] = sum;
    }

    // Two output pixels' 4-channel column sums k side by side: pixel x in the low half, x + 1 in the high half.
    auto columnPair = [&](int x, int k) {
      const uint16_t *a = acc + (size_t(x) * size_t(s) + size_t(k)) * 4, *b = a + size_t(s) * 4;
      return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(a)),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b)));
    };
    uint8_t *o = out + size_t(x0) * 4;
    int x = 0;
    if (s <= 16) {
      // Block sums fit 16 bits: eight lanes, and the multiply-high division.
      auto quotientPair = [&](int px) {
        __m128i sum = columnPair(px, 0);
        for (int k = 1; k < s; ++k)
          sum = _mm_add_epi16(sum, columnPair(px, k));
        if (div.preShift)
          sum = _mm_srl_epi16(sum, preShift);
        return _mm_srl_epi16(_mm_mulhi_epu16(sum, multiplier), shift);
      };
      for (; x + 4 <= cx; x += 4) {
        const __m128i q = _mm_packus_epi16(quotientPair(x), quotientPair(x + 2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + size_t(x) * 4), _mm_or_si128(q, opaque));
      }
    } else {
      // Sums reach 255 x 400: each half of the S column sums (at most 10 x 5100) is added in 16-bit lanes, the
      // halves in 32-bit lanes, and the sums divided as floats. That is exact: the sums and S x S are exact floats,
      // the division is correctly rounded, and a quotient that is not an integer lies at least 1 / 400 below the
      // next one, far more than the rounding error of a float below 256 (2^-17).
      auto quotientPair = [&](int px) {
        __m128i a = columnPair(px, 0), b = columnPair(px, s / 2);
        for (int k = 1; k < s / 2; ++k)
          a = _mm_add_epi16(a, columnPair(px, k));
        for (int k = s / 2 + 1; k < s; ++k)
          b = _mm_add_epi16(b, columnPair(px, k));
        const __m128i lo = _mm_add_epi32(_mm_unpacklo_epi16(a, zero), _mm_unpacklo_epi16(b, zero));
        const __m128i hi = _mm_add_epi32(_mm_unpackhi_epi16(a, zero), _mm_unpackhi_epi16(b, zero));
        const __m128i qlo = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(lo), divisor));
        const __m128i qhi = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(hi), divisor));
        return _mm_packs_epi32(qlo, qhi);
      };
      for (; x + 4 <= cx; x += 4) {
        const __m128i q = _mm_packus_epi16(quotientPair(x), quotientPair(x + 2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + size_t(x) * 4), _mm_or_si128(q, opaque));
      }
    }
    for (; x < cx; ++x) {
      const uint16_t *a = acc + size_t(x) * size_t(s) * 4;
      uint32_t b = 0, g = 0, rr = 0;
      for (int k = 0; k < s; ++k) {
        b += a[4 * k];
        g += a[4 * k + 1];
        rr += a[4 * k + 2];
      }
      o[4 * x] = uint8_t(divideBlockSum(b, recip));
      o[4 * x + 1] = uint8_t(divideBlockSum(g, recip));
      o[4 * x + 2] = uint8_t(divideBlockSum(rr, recip));
      o[4 * x + 3] = 255;
    }
  }
}

// The small factors in one pass, four output pixels (S x 16 bytes of each row) at a time: the rows are summed in
// registers and the S pixels of each block are added by moving 64-bit halves (one pixel's four 16-bit channels)
// between registers, so no column sums go through memory.
template <int S> void averageRowSmallSse2(const uint8_t *src, long long stride, uint8_t *out, int cols) {
  static_assert(S >= 2 && S <= 4);
  constexpr BlockDivisor16 div = blockDivisor16(S);
  static_assert(div.preShift == 0);
  const __m128i zero = _mm_setzero_si128();
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  const __m128i multiplier = _mm_set1_epi16(short(div.multiplier));
  auto halves = [](__m128i lowFrom, __m128i highFrom) { // low half of one register, high half of another
    return _mm_castpd_si128(_mm_move_sd(_mm_castsi128_pd(highFrom), _mm_castsi128_pd(lowFrom)));
  };
  int x = 0;
  for (; x + 4 <= cols; x += 4) {
    const uint8_t *p = src + size_t(x) * S * 4;
    __m128i lo[S], hi[S]; // column sums of the 4 S pixels: 4i and 4i + 1 in lo[i], 4i + 2 and 4i + 3 in hi[i]
    for (int i = 0; i < S; ++i) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
      lo[i] = _mm_unpacklo_epi8(v, zero);
      hi[i] = _mm_unpackhi_epi8(v, zero);
      for (int r = 1; r < S; ++r) {
        v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + r * stride + 16 * i));
        lo[i] = _mm_add_epi16(lo[i], _mm_unpacklo_epi8(v, zero));
        hi[i] = _mm_add_epi16(hi[i], _mm_unpackhi_epi8(v, zero));
      }
    }
    // Block sums of output pixels 0, 1 (first) and 2, 3 (second), one pixel per 64-bit half.
    __m128i first, second;
    if constexpr (S == 2) {
      first = _mm_add_epi16(_mm_unpacklo_epi64(lo[0], hi[0]), _mm_unpackhi_epi64(lo[0], hi[0]));
      second = _mm_add_epi16(_mm_unpacklo_epi64(lo[1], hi[1]), _mm_unpackhi_epi64(lo[1], hi[1]));
    } else if constexpr (S == 3) {
      // Pixels 0 .. 5 are lo[0], hi[0], lo[1]: (0 + 1 + 2, 3 + 4 + 5) = (0, 3) + (1, 4) + (2, 5).
      auto blockPair = [&](__m128i a, __m128i b, __m128i c) {
        const __m128i middle = _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(a), _mm_castsi128_pd(c), 1));
        return _mm_add_epi16(_mm_add_epi16(halves(a, b), middle), halves(b, c));
      };
      first = blockPair(lo[0], hi[0], lo[1]);
      second = blockPair(hi[1], lo[2], hi[2]);
    } else {
      const __m128i a = _mm_add_epi16(lo[0], hi[0]), b = _mm_add_epi16(lo[1], hi[1]);
      const __m128i c = _mm_add_epi16(lo[2], hi[2]), d = _mm_add_epi16(lo[3], hi[3]);
      first = _mm_add_epi16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
      second = _mm_add_epi16(_mm_unpacklo_epi64(c, d), _mm_unpackhi_epi64(c, d));
    }
    auto quotient = [&](__m128i sum) { return _mm_srli_epi16(_mm_mulhi_epu16(sum, multiplier), div.shift); };
    const __m128i q = _mm_packus_epi16(quotient(first), quotient(second));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + size_t(x) * 4), _mm_or_si128(q, opaque));
  }
  constexpr uint64_t recip = blockReciprocal(S);
  for (; x < cols; ++x) { // the last pixels of a row, where 16 bytes would read past it
    for (int c = 0; c < 3; ++c) {
      uint32_t sum = 0;
      for (int r = 0; r < S; ++r)
        for (int k = 0; k < S; ++k)
          sum += src[r * stride + (long long)(x * S + k) * 4 + c];
      out[size_t(x) * 4 + size_t(c)] = uint8_t(divideBlockSum(sum, recip));
    }
    out[size_t(x) * 4 + 3] = 255;
  }
}

#endif

} // namespace

BlockAverager::BlockAverager(int factor, int outCols)
    : s_(std::clamp(factor, 1, 20)), cols_(std::max(outCols, 0)), recip_(blockReciprocal(s_)),
      sums_(size_t(chunkColumns(s_)) * size_t(s_) * 4) {}

void BlockAverager::averageRowPortable(const uint8_t *src, long long stride, uint8_t *out) {
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

void BlockAverager::averageRow(const uint8_t *src, long long stride, uint8_t *out) {
#if defined(__SSE2__)
  uint16_t *acc = sums_.data();
  switch (s_) {
  case 1:
    return averageRowPortable(src, stride, out);
  case 2:
    return averageRowSmallSse2<2>(src, stride, out, cols_);
  case 3:
    return averageRowSmallSse2<3>(src, stride, out, cols_);
  case 4:
    return averageRowSmallSse2<4>(src, stride, out, cols_);
  case 5:
    return averageRowSse2<5>(src, stride, out, cols_, s_, recip_, acc);
  case 10:
    return averageRowSse2<10>(src, stride, out, cols_, s_, recip_, acc);
  case 20:
    return averageRowSse2<20>(src, stride, out, cols_, s_, recip_, acc);
  default:
    return averageRowSse2<0>(src, stride, out, cols_, s_, recip_, acc);
  }
#else
  averageRowPortable(src, stride, out);
#endif
}

void widenRow(const uint8_t *__restrict bgrx, uint16_t *__restrict out, long long cols) {
  long long x = 0;
#if defined(__SSE2__)
  // A byte paired with itself is the byte times 257; the fourth sample of each pixel is masked to 0.
  const __m128i keep = _mm_set1_epi64x(0x0000FFFFFFFFFFFFll);
  for (; x + 4 <= cols; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bgrx + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x), _mm_and_si128(_mm_unpacklo_epi8(v, v), keep));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x + 8), _mm_and_si128(_mm_unpackhi_epi8(v, v), keep));
  }
#endif
  for (; x < cols; ++x) {
    out[4 * x] = uint16_t(bgrx[4 * x] * 257u);
    out[4 * x + 1] = uint16_t(bgrx[4 * x + 1] * 257u);
    out[4 * x + 2] = uint16_t(bgrx[4 * x + 2] * 257u);
    out[4 * x + 3] = 0;
  }
}

} // namespace render
