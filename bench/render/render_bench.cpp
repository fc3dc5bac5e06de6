// Pages per second and peak memory of RenderPage for a text-heavy, a vector-heavy and a bitmap-heavy page at 100
// and 300 dpi and factors 0, 3, 10 and 20, with the share of the time spent in background, playback, averaging
// and finishing; plus the averaging loop, the background patterns and the encoders on their own.
// The pages are read from the shared corpus; the page benchmarks are skipped when it is absent.
#include "render/averaging.h"
#include "render/background.h"
#include "render/encoding.h"
#include "render/image_library.h"
#include "render/rasteriser.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <fstream>
#include <random>
#include <string>

namespace {

const char *kPages[] = {"gen-20-dense-text.emf", "gen-19-dense-polyline.emf", "gen-14-stretchdibits.emf"};
const char *kPageKinds[] = {"text", "vector", "bitmap"};

emf::HENHMETAFILE loadPage(int which) {
  static emf::HENHMETAFILE cache[3];
  if (!cache[which])
    cache[which] = emf::GetEnhMetaFileA(std::string(FOLVEX_SHARED_DIR "/corpus/generated/") + kPages[which]);
  return cache[which];
}

// Peak resident memory since the last reset, in MiB.
void resetPeakMemory() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
}
double peakMemoryMiB() {
  std::ifstream f("/proc/self/status");
  std::string key;
  while (f >> key) {
    if (key == "VmHWM:") {
      double kb = 0;
      f >> kb;
      return kb / 1024.0;
    }
    std::string rest;
    std::getline(f, rest);
  }
  return 0;
}

void BM_RenderPage(benchmark::State &state) {
  const int which = int(state.range(0));
  const double dpi = double(state.range(1));
  const int factor = int(state.range(2));
  const emf::HENHMETAFILE page = loadPage(which);
  if (!page) {
    state.SkipWithError("the shared corpus is not here");
    return;
  }
  settings() = Settings{};
  settings().KodAntialias = factor;
  render::RenderOptions options;
  options.outputMode = 2; // no format options, no file: encoding is measured on its own
  double background = 0, play = 0, average = 0, finish = 0;
  resetPeakMemory();
  for (auto _ : state) {
    Magick::Image img = render::RenderPage(dpi, page, 0, options);
    benchmark::DoNotOptimize(img.columns());
    const render::RenderRecord r = render::lastRenderRecord();
    background += r.backgroundMs;
    play += r.playMs;
    average += r.averageMs;
    finish += r.finishMs;
  }
  const double n = double(state.iterations());
  state.counters["pages_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
  state.counters["background_ms"] = background / n;
  state.counters["play_ms"] = play / n;
  state.counters["average_ms"] = average / n;
  state.counters["finish_ms"] = finish / n;
  state.counters["peak_MiB"] = peakMemoryMiB();
  state.SetLabel(kPageKinds[which]);
}

void pageArguments(benchmark::internal::Benchmark *b) {
  for (int which = 0; which < 3; ++which)
    for (int dpi : {100, 300})
      for (int factor : {0, 3, 10, 20})
        b->Args({which, dpi, factor});
}
BENCHMARK(BM_RenderPage)->Apply(pageArguments)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A hostile page: one run-length bitmap of 14142 x 14142 pixels in 256 bytes, stretched over a 100 x 100 mm page. The
// bitmap may cost what stretching any bitmap over the page costs - 8 ns of processor time per supersampled page
// pixel - plus one second, and 256 MiB of memory, more than the same page without it; beyond that budget the
// benchmark reports an error.
void BM_HostileBitmapPage(benchmark::State &state) {
  const double dpi = double(state.range(0));
  const int factor = int(state.range(1));
  const emf::HENHMETAFILE page = emf::GetEnhMetaFileA(FOLVEX_TEST_DATA "/emf/malformed/hostile-rle8-14142.emf");
  if (!page) {
    state.SkipWithError("the hostile page is missing");
    return;
  }
  // The same frame without the bitmap: what the page costs anyway.
  std::vector<uint8_t> blank(page->bytes().begin(), page->bytes().begin() + 108);
  for (uint32_t v : {14u, 20u, 0u, 16u, 20u})
    for (int i = 0; i < 4; ++i)
      blank.push_back(uint8_t(v >> (8 * i)));
  for (int i = 0; i < 4; ++i)
    blank[48 + i] = uint8_t(128 >> (8 * i)); // nBytes
  const emf::HENHMETAFILE empty = emf::SetEnhMetaFileBits(blank);
  settings() = Settings{};
  settings().KodAntialias = factor;
  render::RenderOptions options;
  options.outputMode = 2;
  auto measure = [&](const emf::HENHMETAFILE &mf, double &cpuMs, double &peakMiB) {
    resetPeakMemory();
    const double before = peakMemoryMiB();
    const double start = render::ThreadCpuMilliseconds();
    Magick::Image img = render::RenderPage(dpi, mf, 0, options);
    benchmark::DoNotOptimize(img.columns());
    cpuMs = render::ThreadCpuMilliseconds() - start;
    peakMiB = peakMemoryMiB() - before;
  };
  double blankMs = 0, blankMiB = 0;
  measure(empty, blankMs, blankMiB);
  double ms = 0, mib = 0;
  for (auto _ : state)
    measure(page, ms, mib);
  state.counters["cpu_ms"] = ms;
  state.counters["blank_cpu_ms"] = blankMs;
  state.counters["peak_MiB"] = mib;
  state.counters["blank_peak_MiB"] = blankMiB;
  const double side = std::ceil(100 * dpi / 25.4) * std::max(1, factor);
  const double budgetMs = blankMs + 1000 + side * side * 8e-6;
  state.counters["budget_cpu_ms"] = budgetMs;
  if (ms > budgetMs || mib > blankMiB + 256)
    state.SkipWithError("over budget: the bitmap costs more processor time or memory than stretching it may");
}
BENCHMARK(BM_HostileBitmapPage)->Args({100, 3})->Args({300, 20})->Unit(benchmark::kMillisecond)->Iterations(1);

// The averaging loop alone: one band of an A4 page at 300 dpi (2481 output columns).
void BM_Averaging(benchmark::State &state) {
  const int S = int(state.range(0));
  const int cols = 2481;
  const render::BandPlan plan = render::PlanBands(3508, S, false);
  std::vector<uint8_t> band(size_t(cols) * size_t(S) * 4 * size_t(plan.B));
  std::mt19937 rng(1);
  for (auto &b : band)
    b = uint8_t(rng());
  std::vector<uint8_t> out(size_t(cols) * 4);
  render::BlockAverager avg(S, cols);
  const long long stride = (long long)cols * S * 4;
  for (auto _ : state) {
    for (int r = 0; r < plan.K; ++r)
      avg.averageRow(band.data() + size_t(r) * size_t(S) * size_t(stride), stride, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(band.size()));
}
BENCHMARK(BM_Averaging)->DenseRange(2, 20)->Unit(benchmark::kMillisecond);

// Widening averaged rows to the image library's 16-bit pixels: the rows of an A4 page at 300 dpi.
void BM_WidenRow(benchmark::State &state) {
  const int cols = 2481, rows = 3508;
  std::vector<uint8_t> src(size_t(cols) * 4 * 16);
  std::mt19937 rng(1);
  for (auto &b : src)
    b = uint8_t(rng());
  std::vector<uint16_t> out(size_t(cols) * 4);
  for (auto _ : state) {
    for (int r = 0; r < rows; ++r)
      render::widenRow(src.data() + size_t(r % 16) * size_t(cols) * 4, out.data(), cols);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(cols) * rows * 4);
}
BENCHMARK(BM_WidenRow)->Unit(benchmark::kMillisecond);

// One band of background at factor S for an A4 page at 300 dpi, per style.
void BM_PaintBackground(benchmark::State &state) {
  const int style = int(state.range(0));
  const int S = int(state.range(1));
  const render::BandPlan plan = render::PlanBands(3508, S, false);
  QImage band(2481 * S, plan.B, QImage::Format_RGB32);
  render::BackgroundParams p;
  p.style = style;
  p.m = S;
  p.angle = 30;
  const int a = plan.B * (plan.n / 2); // a band in the middle of the page
  for (auto _ : state) {
    QPainter dc(&band);
    render::PaintBackground(dc, QRect(QPoint(0, -a), QSize(2481 * S, 3508 * S)), a, p);
  }
}
BENCHMARK(BM_PaintBackground)->ArgsProduct({{100, 0, 1, 4, 5}, {1, 3, 20}})->Unit(benchmark::kMillisecond);

// Format options and writing of a rendered A4 page at 100 dpi, per format.
void BM_Encode(benchmark::State &state) {
  const render::FormatCode code = render::FormatCode(state.range(0));
  const emf::HENHMETAFILE page = loadPage(2);
  if (!page) {
    state.SkipWithError("the shared corpus is not here");
    return;
  }
  settings() = Settings{};
  settings().KodAntialias = 0;
  render::RenderOptions options;
  options.outputMode = 2;
  const Magick::Image rendered = render::RenderPage(100, page, 0, options);
  const Settings s;
  for (auto _ : state) {
    Magick::Image img = rendered;
    render::ApplyFormatOptionSet(img, code, s);
    Magick::Blob blob;
    img.magick(std::string(render::FormatExtension(code) + 1));
    img.write(&blob);
    benchmark::DoNotOptimize(blob.length());
  }
}
BENCHMARK(BM_Encode)->DenseRange(1, 5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  QTemporaryDir tmp;
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  QDir().mkpath(tmp.path() + QStringLiteral("/registry"));
  qputenv("FOLVEX_REGISTRY_DIR", (tmp.path() + QStringLiteral("/registry")).toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
