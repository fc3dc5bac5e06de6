// Playback speed: a text-heavy and a vector-heavy page played into a 2480 x 3508 image (A4 at 300 dpi), and into
// the 600-row bands of a 3x supersampled A4 page at 100 dpi (the renderer's usual work), plus the damaged files.
#include "emf/metafile.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <cmath>
#include <map>

namespace {

struct Page {
  const char *name;
  const char *path; // under the shared corpus
};

const Page kPages[] = {
    {"text_generated", "corpus/generated/gen-20-dense-text.emf"},
    {"vector_generated", "corpus/generated/gen-19-dense-polyline.emf"},
    {"text_real", "corpus/emf/emf2svg-test-178.emf"},
    {"vector_real", "corpus/emf/hughbe-nt4_l_image001.emf"},
};

emf::HENHMETAFILE load(const char *rel) {
  static std::map<std::string, emf::HENHMETAFILE> cache;
  auto it = cache.find(rel);
  if (it != cache.end())
    return it->second;
  emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(std::string(FOLVEX_SHARED_DIR) + "/" + rel);
  cache[rel] = mf;
  return mf;
}

void BM_WholePage300dpi(benchmark::State &state) {
  const Page &page = kPages[state.range(0)];
  state.SetLabel(page.name);
  emf::HENHMETAFILE mf = load(page.path);
  if (!mf) {
    state.SkipWithError("corpus file not found (shared folder missing)");
    return;
  }
  QImage img(2480, 3508, QImage::Format_RGB32);
  for (auto _ : state) {
    img.fill(Qt::white);
    emf::PlayEnhMetaFile(img, mf, img.rect());
    benchmark::DoNotOptimize(img.constBits());
  }
}

// The page as the renderer plays it at 100 dpi with 3x supersampling: 2481 x 3510 supersampled pixels in bands
// of 600 rows, each band a fresh white image with the whole page's destination shifted up.
void BM_Bands3x(benchmark::State &state) {
  const Page &page = kPages[state.range(0)];
  state.SetLabel(page.name);
  emf::HENHMETAFILE mf = load(page.path);
  if (!mf) {
    state.SkipWithError("corpus file not found (shared folder missing)");
    return;
  }
  const int cols = 827 * 3, rows = 1170 * 3, band = 600;
  QImage img(cols, band, QImage::Format_RGB32);
  int bands = 0;
  for (auto _ : state) {
    for (int top = 0; top < rows; top += band) {
      img.fill(Qt::white);
      emf::PlayEnhMetaFile(img, mf, QRect(0, -top, cols, rows));
      ++bands;
    }
    benchmark::DoNotOptimize(img.constBits());
  }
  state.counters["bands"] = benchmark::Counter(bands, benchmark::Counter::kIsRate);
}

// Each damaged file: load (or reject) and play at a small size.
void BM_MalformedFile(benchmark::State &state) {
  const QStringList files = QDir(QStringLiteral(FOLVEX_TEST_DATA "/emf/malformed")).entryList(QDir::Files, QDir::Name);
  if (state.range(0) >= files.size()) {
    state.SkipWithError("no such test file");
    return;
  }
  const QString name = files[int(state.range(0))];
  state.SetLabel(name.toStdString());
  const std::string path = QStringLiteral(FOLVEX_TEST_DATA "/emf/malformed/").toStdString() + name.toStdString();
  QImage img(827, 1170, QImage::Format_RGB32);
  for (auto _ : state) {
    emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(path);
    if (mf)
      emf::PlayEnhMetaFile(img, mf, img.rect());
    benchmark::DoNotOptimize(img.constBits());
  }
}

} // namespace

BENCHMARK(BM_WholePage300dpi)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bands3x)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MalformedFile)->DenseRange(0, 15)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
