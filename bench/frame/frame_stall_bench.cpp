// The main window's event loop while print jobs arrive. The real frame runs offscreen with its capture; a 1 ms timer
// notes the longest gap between two of its turns, that is the longest time the window could not paint or answer.
//
//   bench_frame_stall [CORPUS_EMF_FOLDER]
//
// Two jobs arrive in turn: 300 pages (the three pages of the sample job, a hundred times over) and the 17 largest
// metafiles of the corpus. Each is measured from the moment its files are in the spool folder until every page is in
// the strip with its thumbnail and the first page is shown in the preview. Everything happens in private folders.
#include "app/frame_win.h"
#include "app/prompts.h"
#include "capture/page_store.h"
#include "capture/spool_writer.h"
#include "platform/paths.h"
#include "render/image_library.h"
#include "view/page_strip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  const QByteArray b = f.readAll();
  return std::vector<uint8_t>(b.begin(), b.end());
}

// Measures the event loop's longest gap while cond() is false (and for settleMs after it became true).
struct StallMeter {
  qint64 longest = 0;
  int over50 = 0;
  qint64 took = 0;
  bool finished = false;

  void run(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      const qint64 gap = now - last;
      longest = std::max(longest, gap);
      if (gap > 50)
        ++over50;
      last = now;
    });
    tick.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (done()) {
        finished = true;
        took = clock.elapsed();
        loop.quit();
      } else if (clock.elapsed() > timeoutMs) {
        took = clock.elapsed();
        loop.quit();
      }
    });
    check.start();
    loop.exec();
  }
};

// Every page is in the list, none waits for its thumbnail, and the first page is shown.
bool jobShown(int pages) {
  const auto &store = capture::pageStore();
  if (store.pageCount() != pages || store.viewState.load() != capture::kViewImageReady)
    return false;
  for (const auto &p : store.pages)
    if (p.thumbnail.isNull() || p.thumbnailPending)
      return false;
  return true;
}

void measure(lvFrameWin &w, const char *what, const std::vector<std::vector<uint8_t>> &pages) {
  capture::ClearPageList(w);
  const QString spool = QString::fromStdString(platform::ntSpoolFolder());
  const std::string name = capture::NextFreeJobName(spool.toStdString());
  std::string error;
  if (!capture::WriteSpoolJob((spool + QString::fromStdString(name) + ".SPL").toStdString(), pages, what, true,
                              &error)) {
    std::fprintf(stderr, "cannot write the job: %s\n", error.c_str());
    return;
  }
  StallMeter meter;
  const int n = int(pages.size());
  meter.run([n] { return jobShown(n); }, 600000);
  std::printf("%-24s %4d pages: longest stall %5lld ms, stalls over 50 ms: %3d, shown after %6lld ms%s\n", what, n,
              static_cast<long long>(meter.longest), meter.over50, static_cast<long long>(meter.took),
              meter.finished ? "" : " (timed out)");
  std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  QTemporaryDir root;
  for (const char *d : {"tmp", "reg", "run", "data"})
    QDir(root.path()).mkpath(d);
  QFile::setPermissions(root.path() + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  {
    QFile machine(root.path() + "/reg/machine.reg"); // no "InstallPath": no printer monitor is started
    if (machine.open(QIODevice::WriteOnly))
      machine.write("Windows Registry Editor Version 5.00\n");
  }
  qputenv("FOLVEX_REGISTRY_DIR", (root.path() + "/reg").toLocal8Bit());
  qputenv("TMPDIR", (root.path() + "/tmp").toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", (root.path() + "/run").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (root.path() + "/data").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (root.path() + "/data").toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  frame::PromptHooks hooks;
  hooks.message = [](const frame::MessageRequest &) { return QMessageBox::Ok; };
  frame::setPromptHooks(hooks);

  const QString corpus = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(FOLVEX_SHARED_DIR "/corpus/emf");
  QDir dir(corpus);
  if (!dir.exists()) {
    std::fprintf(stderr, "no corpus at %s\n", qPrintable(corpus));
    return 2;
  }
  std::vector<std::vector<uint8_t>> sample;
  for (const char *n : {"aspose-golfer.emf", "poi-vector_image.emf", "tika-testMSChart-govdocs-428996.pptx_image1.emf"})
    sample.push_back(readFile(dir.filePath(QLatin1String(n))));
  std::vector<std::vector<uint8_t>> hundredfold;
  for (int i = 0; i < 100; ++i)
    hundredfold.insert(hundredfold.end(), sample.begin(), sample.end());
  std::vector<std::vector<uint8_t>> heavy;
  for (const QFileInfo &fi : dir.entryInfoList({"*.emf"}, QDir::Files, QDir::Size))
    if (heavy.size() < 17)
      heavy.push_back(readFile(fi.filePath()));
  for (const auto &p : sample)
    if (p.empty()) {
      std::fprintf(stderr, "a page of the sample job is missing in %s\n", qPrintable(corpus));
      return 2;
    }

  QDir().mkpath(QString::fromStdString(platform::ntSpoolFolder()));
  lvFrameWin w;
  w.resize(1200, 800);
  w.show();
  w.startInitialCapture();
  // The first pass (of an empty spool folder) arms the scan timer.
  while (!w.strip()->scanTimer().isActive())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

  measure(w, "300 sample pages", hundredfold);
  measure(w, "17 heavy corpus pages", heavy);
  w.close();
  return 0;
}
