// Speed of the bitmap paths of blit records: DIB decoding, SRCCOPY and other raster operations, stretching and
// alpha blending, on sizes a supersampled page band meets.
#include "emf/dib.h"
#include "emf/rop.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

std::vector<uint8_t> infoHeader(int32_t w, int32_t h, uint16_t bpp, uint32_t compression) {
  std::vector<uint8_t> b(40, 0);
  auto put32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b[off + size_t(i)] = uint8_t(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, uint32_t(w));
  put32(8, uint32_t(h));
  b[12] = 1;
  b[14] = uint8_t(bpp);
  put32(16, compression);
  return b;
}

QImage sample(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    QRgb *r = reinterpret_cast<QRgb *>(img.scanLine(y));
    for (int x = 0; x < w; ++x)
      r[x] = qRgb(x & 255, y & 255, (x ^ y) & 255);
  }
  return img;
}

void BM_DecodeDib24(benchmark::State &state) {
  const int w = 2000, h = 1500;
  const auto bmi = infoHeader(w, h, 24, emf::BI_RGB);
  std::vector<uint8_t> bits(size_t((w * 3 + 3) / 4 * 4) * h, 0x5a);
  for (auto _ : state)
    benchmark::DoNotOptimize(emf::decodeDib(bmi, bits, emf::DIB_RGB_COLORS));
  state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_DecodeDib24)->Unit(benchmark::kMillisecond);

// The same bitmap met again in the next band: served from the cache.
void BM_DecodeDib24Cached(benchmark::State &state) {
  const int w = 2000, h = 1500;
  const auto bmi = infoHeader(w, h, 24, emf::BI_RGB);
  std::vector<uint8_t> bits(size_t((w * 3 + 3) / 4 * 4) * h, 0x5a);
  emf::DibCache cache;
  for (auto _ : state)
    benchmark::DoNotOptimize(cache.get(bmi, bits, emf::DIB_RGB_COLORS));
  state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_DecodeDib24Cached)->Unit(benchmark::kMicrosecond);

void BM_DecodeDib8(benchmark::State &state) {
  const int w = 2000, h = 1500;
  auto bmi = infoHeader(w, h, 8, emf::BI_RGB);
  for (int i = 0; i < 256; ++i)
    bmi.insert(bmi.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
  std::vector<uint8_t> bits(size_t(w) * h);
  for (size_t i = 0; i < bits.size(); ++i)
    bits[i] = uint8_t(i * 7);
  for (auto _ : state)
    benchmark::DoNotOptimize(emf::decodeDib(bmi, bits, emf::DIB_RGB_COLORS));
  state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_DecodeDib8)->Unit(benchmark::kMillisecond);

// A 3x supersampled A4 band: 2481 x 600.
void BM_Rop3(benchmark::State &state) {
  const uint32_t rop = uint32_t(state.range(0));
  QImage dst = sample(2481, 600);
  const QImage src = sample(2481, 600);
  emf::RopPattern pat;
  pat.color = 0x336699;
  for (auto _ : state) {
    emf::applyRop3(dst, dst.rect(), &src, QPoint(0, 0), pat, rop);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(dst.width()) * dst.height());
}
BENCHMARK(BM_Rop3)
    ->Arg(int64_t(emf::SRCCOPY))
    ->Arg(int64_t(emf::SRCAND))
    ->Arg(int64_t(emf::PATCOPY))
    ->Arg(0x00B8074A) // pattern through a source mask (own path)
    ->Arg(0x001A0000) // general evaluator
    ->Unit(benchmark::kMillisecond);

void BM_StretchEnlarge(benchmark::State &state) {
  const QImage src = sample(400, 300);
  const QRect part(0, 0, 2481, 600); // one band of a page-sized picture
  for (auto _ : state)
    benchmark::DoNotOptimize(
        emf::stretchForBlt(src, src.rect(), QSize(2481, 1860), emf::COLORONCOLOR, false, false, nullptr, &part));
  state.SetItemsProcessed(state.iterations() * int64_t(part.width()) * part.height());
}
BENCHMARK(BM_StretchEnlarge)->Unit(benchmark::kMillisecond);

void BM_StretchShrinkHalftone(benchmark::State &state) {
  const QImage src = sample(4000, 3000);
  for (auto _ : state)
    benchmark::DoNotOptimize(emf::stretchForBlt(src, src.rect(), QSize(1240, 930), emf::HALFTONE, false, false));
  state.SetItemsProcessed(state.iterations() * int64_t(src.width()) * src.height());
}
BENCHMARK(BM_StretchShrinkHalftone)->Unit(benchmark::kMillisecond);

void BM_AlphaBlendPerPixel(benchmark::State &state) {
  QImage dst = sample(2481, 600);
  QImage src(2481, 600, QImage::Format_ARGB32);
  for (int y = 0; y < src.height(); ++y) {
    QRgb *r = reinterpret_cast<QRgb *>(src.scanLine(y));
    for (int x = 0; x < src.width(); ++x)
      r[x] = qRgba(x & 127, y & 127, 0, ((x + y) & 255) | 128);
  }
  emf::BlendFunction bf;
  bf.alphaFormat = emf::AC_SRC_ALPHA;
  for (auto _ : state) {
    emf::alphaBlend(dst, dst.rect(), src, QPoint(0, 0), bf);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(dst.width()) * dst.height());
}
BENCHMARK(BM_AlphaBlendPerPixel)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
