// Capture speed: a pass over a spool folder of many known jobs and a few new ones, and loading one large job with
// its thumbnails. Run from any folder; everything happens in a private temporary folder.
#include "capture/page_store.h"
#include "capture/spool_extractor.h"
#include "capture/spool_watcher.h"
#include "capture/spool_writer.h"
#include "platform/paths.h"
#include "render/image_library.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace capture;

namespace {

std::vector<uint8_t> smallPage(uint32_t tag) {
  std::vector<uint8_t> b;
  auto put = [&b](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b.push_back(uint8_t(v >> (8 * i)));
  };
  // Header (108 bytes) of an A4 page, then an end record.
  for (uint32_t v : {1u, 108u, tag, 0u, 840u,  1188u, 0u,   0u,   21000u, 29700u, 0x464D4520u, 0x10000u, 128u,   2u,
                     1u, 0u,   0u,  0u, 1000u, 1400u, 254u, 356u, 0u,     0u,     0u,          254000u,  356000u})
    put(v);
  for (uint32_t v : {14u, 20u, 0u, 16u, 20u})
    put(v);
  return b;
}

class NullWindow : public CaptureWindow {
public:
  QRect stripClientRect() override { return {0, 0, 156, 600}; }
  void repaintStrip(bool) override {}
  void repaintStripRect(const QRect &, bool) override {}
  void setStripScrollRange(int, int, bool) override {}
  void setStripScrollPos(int, bool) override {}
  void setStripScrollOffset(int) override {}
  void scrollStripToEnd() override {}
  void armScanTimer(int, int) override {}
  void repaintPreview(bool) override {}
  void repaintPageInfoArea() override {}
  void repaintReadinessArea() override {}
  void repaintPrinterButton() override {}
  void showMessage(const QString &) override {}
  bool displayMetrics(int &, double &) override { return false; }
  void renderCurrentPage() override {}
};

int g_serial = 0;

void addJobs(const QString &spool, int n) {
  for (int i = 0; i < n; ++i) {
    const QString name = QString("%1").arg(++g_serial, 6, 10, QLatin1Char('0'));
    WriteSpoolJob((spool + name + ".SPL").toStdString(), {smallPage(uint32_t(g_serial))}, "bench", true);
  }
}

void clearWorkPages() {
  QDir work(QString::fromStdString(platform::workFolder()));
  for (const QString &n : work.entryList({"*.emf", "*.SPL"}, QDir::Files))
    work.remove(n);
}

// A pass over 1,000 known jobs and 10 new ones: only the new ones are copied and extracted.
void BM_ScanThousandKnownTenNew(benchmark::State &state) {
  const QString spool = QString::fromStdString(platform::ntSpoolFolder());
  addJobs(spool, 1000);
  ScanSpoolFolder();
  clearWorkPages();
  int captured = 0;
  for (auto _ : state) {
    state.PauseTiming();
    addJobs(spool, 10);
    state.ResumeTiming();
    captured += ScanSpoolFolder();
    state.PauseTiming();
    clearWorkPages();
    state.ResumeTiming();
  }
  state.counters["known_jobs"] = knownJobs().count();
  if (captured != int(state.iterations()))
    state.SkipWithError("a pass captured nothing");
}
BENCHMARK(BM_ScanThousandKnownTenNew)->Unit(benchmark::kMillisecond)->Iterations(20);

// A pass over a folder of only known jobs (the common case, once a second).
void BM_ScanKnownOnly(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(ScanSpoolFolder());
  state.counters["known_jobs"] = knownJobs().count();
}
BENCHMARK(BM_ScanKnownOnly)->Unit(benchmark::kMillisecond);

// One job of N pages: extraction from the spool file, then loading with thumbnails into an empty page list.
void BM_LoadJob(benchmark::State &state) {
  const int pages = int(state.range(0));
  std::vector<std::vector<uint8_t>> bytes;
  for (int i = 0; i < pages; ++i)
    bytes.push_back(smallPage(uint32_t(i)));
  const std::string spl = platform::tempFolder() + "bench-job.SPL";
  WriteSpoolJob(spl, bytes, "bench", false);
  NullWindow window;
  for (auto _ : state) {
    PageStore store;
    ExtractSpoolPages(spl, 1);
    // What the capture worker does: load and append, then make each thumbnail and hand it over.
    for (const ThumbnailRequest &r : store.AppendPreparedPages(PageStore::PrepareNewPages(), window))
      store.SetThumbnail(r.serial, r.ticket, MakeThumbnail(r.page, -1, r.rotation), window);
    if (store.pageCount() != pages)
      state.SkipWithError("pages missing");
  }
  state.SetComplexityN(pages);
}
BENCHMARK(BM_LoadJob)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

int main(int argc, char **argv) {
  QTemporaryDir root;
  qputenv("TMPDIR", (root.path() + "/tmp").toLocal8Bit());
  qputenv("FOLVEX_REGISTRY_DIR", (root.path() + "/reg").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (root.path() + "/data").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (root.path() + "/data").toLocal8Bit());
  for (const char *d : {"tmp", "reg", "data"})
    QDir(root.path()).mkpath(d);
  if (qgetenv("QT_QPA_PLATFORM").isEmpty())
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  EnsureWorkFolder();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
