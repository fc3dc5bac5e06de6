// Saving 100 captured A4 pages at 100 dpi and factor 3 as JPG and as PNG files through the frame's export: pages
// per second, peak memory, the share of rendering and of encoding and writing, and the longest time the window's
// event loop went without turning while the export ran (the window must stay responsive: below 50 ms).
#include "app/frame_win.h"
#include "capture/page_store.h"
#include "output/export.h"
#include "output/save_disk.h"
#include "render/image_library.h"
#include "render/rasteriser.h"
#include "settings/settings.h"
#include "view/page_strip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>

// The application with a clock on its event dispatch: the longest processor time the GUI thread spent on one event
// (paints, timers, the export's queued calls), which, unlike the stall, leaves out time the thread waited for a
// processor taken by other programs.
class TimingApplication : public QApplication {
public:
  using QApplication::QApplication;
  static inline double longestEventMs = 0;
  bool notify(QObject *receiver, QEvent *event) override {
    if (depth_++ > 0) {
      const bool r = QApplication::notify(receiver, event);
      --depth_;
      return r;
    }
    const double start = render::ThreadCpuMilliseconds();
    const bool r = QApplication::notify(receiver, event);
    longestEventMs = std::max(longestEventMs, render::ThreadCpuMilliseconds() - start);
    --depth_;
    return r;
  }

private:
  int depth_ = 0;
};

namespace {

// Four A4 pages of different kinds: shapes, brushes, a bitmap, text from a real print job.
const char *kPages[] = {"gen-06-shapes.emf", "gen-05-brushes.emf", "gen-14-stretchdibits.emf", "stories2-00035-p1.emf"};
constexpr int kPageCount = 100;

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

std::unique_ptr<lvFrameWin> g_frame;

lvFrameWin *frameWithPages() {
  if (g_frame)
    return g_frame.get();
  g_frame = std::make_unique<lvFrameWin>();
  g_frame->resize(1000, 800);
  g_frame->show();
  g_frame->strip()->scanTimer().stop();
  auto &store = capture::pageStore();
  for (int i = 0; i < kPageCount; ++i) {
    capture::PageRecord r;
    r.name = "1-" + QStringLiteral("%1").arg(i + 1, 4, 10, QLatin1Char('0')).toStdString() + ".emf";
    r.metafile = emf::GetEnhMetaFileA(std::string(FOLVEX_TEST_DATA "/fidelity/") + kPages[i % 4]);
    r.thumbnail = QImage(10, 10, QImage::Format_RGB32);
    store.pages.push_back(std::move(r));
  }
  store.currentPage = 0;
  return g_frame.get();
}

void BM_SaveAllPages(benchmark::State &state) {
  const auto format = render::FormatCode(state.range(0));
  lvFrameWin *frame = frameWithPages();
  if (!capture::pageStore().pages[0].metafile) {
    state.SkipWithError("the sample pages are missing");
    return;
  }
  Settings &s = settings();
  s = Settings{};
  s.KodAntialias = 3;
  s.CheckN = 2;
  s.ResCur = 100;
  s.JPG_Default = format == render::FormatJPG;
  s.PNG_Default = format == render::FormatPNG;
  frame->renderPage(0);
  TimingApplication::longestEventMs = 0;
  QTemporaryDir out;
  double stallMs = 0, pagesPerSecond = 0, peak = 0;
  output::ExportStats stats;
  for (auto _ : state) {
    resetPeakMemory();
    QElapsedTimer sinceTick;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
      sinceTick.restart();
    });
    QElapsedTimer wall;
    wall.start();
    if (!output::GenerateImageFiles(out.path() + QLatin1Char('/'), QStringLiteral("Bench"))) {
      state.SkipWithError("the export did not start");
      return;
    }
    sinceTick.start();
    ticker.start();
    while (output::ExportRunning())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ticker.stop();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    pagesPerSecond = kPageCount / seconds;
    stallMs = longest;
    peak = peakMemoryMiB();
    stats = output::LastExportStats();
  }
  state.counters["pages_per_s"] = pagesPerSecond;
  state.counters["peak_MiB"] = peak;
  state.counters["render_share"] = stats.renderMs / stats.totalMs;
  state.counters["write_share"] = stats.writeMs / stats.totalMs;
  state.counters["render_ms_per_page"] = stats.renderMs / std::max(stats.pages, 1);
  state.counters["render_finish_ms_per_page"] = stats.renderFinishMs / std::max(stats.pages, 1);
  state.counters["write_ms_per_page"] = stats.writeMs / std::max(stats.pages, 1);
  state.counters["longest_stall_ms"] = stallMs;
  state.counters["longest_gui_event_cpu_ms"] = TimingApplication::longestEventMs;
  state.counters["files"] = double(QDir(out.path()).entryList(QDir::Files).size());
  state.SetLabel(format == render::FormatJPG ? "JPG" : "PNG");
}
BENCHMARK(BM_SaveAllPages)
    ->Arg(render::FormatJPG)
    ->Arg(render::FormatPNG)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The same event loop with no export: its longest stall is what the machine itself costs (other programs taking the
// processors), the floor under the stall measured during an export.
void BM_IdleEventLoop(benchmark::State &state) {
  double longest = 0;
  TimingApplication::longestEventMs = 0;
  for (auto _ : state) {
    QElapsedTimer sinceTick, wall;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
      sinceTick.restart();
    });
    sinceTick.start();
    wall.start();
    ticker.start();
    while (wall.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  state.counters["longest_stall_ms"] = longest;
  state.counters["longest_gui_event_cpu_ms"] = TimingApplication::longestEventMs;
}
BENCHMARK(BM_IdleEventLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The benchmark keeps to folders of its own: registry, work folder, runtime folder.
  QTemporaryDir home;
  for (const char *name : {"reg", "tmp", "run", "config", "data"})
    QDir().mkpath(home.filePath(QLatin1String(name)));
  QFile::setPermissions(home.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("FOLVEX_REGISTRY_DIR", home.filePath("reg").toLocal8Bit());
  qputenv("TMPDIR", home.filePath("tmp").toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", home.filePath("run").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
  TimingApplication app(argc, argv);
  render::InitializeImageLibrary();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  capture::pageStore().pages.clear();
  g_frame.reset();
  return 0;
}
