// The monitor's refresh against a real print server: a private cupsd with 8 and with 100 queues (root only).
// Measures what the window thread spends on one refresh (posting the tick, showing the result), what the worker
// spends asking the server, and how long a close message takes until the monitor's window is gone.
//   bench_monitor_cups [rounds]
#include "monitor/monitor_dialog.h"
#include "platform/ipc.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

struct Stats {
  std::vector<double> ms;
  void add(double v) { ms.push_back(v); }
  double median() {
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[ms.size() / 2];
  }
  double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

bool addQueues(int from, int to) {
  for (int i = from; i < to; ++i) {
    QProcess p;
    p.start(QStringLiteral("lpadmin"),
            {QStringLiteral("-p"), QStringLiteral("Bench%1").arg(i), QStringLiteral("-E"), QStringLiteral("-v"),
             QStringLiteral("file:///dev/null"), QStringLiteral("-m"), QStringLiteral("raw")});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
      return false;
  }
  return true;
}

void measure(int queues, int rounds) {
  auto spooler = platform::makeCupsSpooler();
  Stats post, show, worker, close;
  for (int r = 0; r < rounds; ++r) {
    auto dialog = std::make_unique<monitor::MonitorDialog>(*spooler, monitor::Mode::Work);
    auto channel = std::make_unique<platform::WindowChannel>(monitor::kMonitorTitle);
    QObject::connect(channel.get(), &platform::WindowChannel::closeRequested, dialog.get(),
                     &monitor::MonitorDialog::requestClose);
    QObject::connect(
        dialog.get(), &QDialog::finished, dialog.get(), [&] { channel.reset(); }, Qt::QueuedConnection);
    channel->listen();
    dialog->show();
    dialog->initialise();
    dialog->waitForWorker(60000);
    dialog->refreshTimer().stop();
    for (int t = 0; t < 5; ++t) {
      QElapsedTimer clock;
      clock.start();
      dialog->refreshTick();
      post.add(clock.nsecsElapsed() / 1e6);
      clock.restart();
      dialog->waitForWorker(60000);
      worker.add(clock.nsecsElapsed() / 1e6);
      show.add(dialog->lastShowNs() / 1e6);
    }
    // A close message as Folvex sends it, from another process's point of view (another thread here).
    double closeMs = -1;
    std::thread client([&] {
      QElapsedTimer clock;
      clock.start();
      platform::postClose(monitor::kMonitorTitle);
      while (platform::findWindow(monitor::kMonitorTitle) && clock.elapsed() < 5000)
        QThread::usleep(500);
      closeMs = clock.nsecsElapsed() / 1e6;
    });
    while (closeMs < 0)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    client.join();
    close.add(closeMs);
  }
  std::printf("%4d queues: window thread per refresh: post %.3f ms + show %.3f ms (max %.3f ms); worker (server "
              "round trips) %.2f ms; close message to window gone %.2f ms (max %.2f ms)\n",
              queues, post.median(), show.median(), post.max() + show.max(), worker.median(), close.median(),
              close.max());
}

} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  QTemporaryDir dir;
  for (const char *sub : {"reg", "data", "config", "run"})
    QDir(dir.path()).mkpath(QString::fromLatin1(sub));
  QFile::setPermissions(dir.path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("FOLVEX_REGISTRY_DIR", (dir.path() + QStringLiteral("/reg")).toLocal8Bit());
  qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", (dir.path() + QStringLiteral("/run")).toLocal8Bit());
  qputenv("TMPDIR", dir.path().toLocal8Bit());

  const QString cupsd = dir.path() + QStringLiteral("/cupsd");
  QProcess start;
  start.start(QStringLiteral("sh"), {QStringLiteral(FOLVEX_CUPSD_SCRIPTS "/cupsd-start.sh"), cupsd});
  start.waitForFinished(60000);
  QFile skip(cupsd + QStringLiteral("/skip")), server(cupsd + QStringLiteral("/server"));
  if (skip.exists() || !server.open(QIODevice::ReadOnly)) {
    skip.open(QIODevice::ReadOnly);
    std::printf("skipped: %s\n", skip.readAll().constData());
    return 0;
  }
  qputenv("CUPS_SERVER", server.readAll().trimmed());
  // The fixture's two queues and 6 more, then 100 in all.
  if (addQueues(0, 6))
    measure(8, rounds);
  if (addQueues(6, 98))
    measure(100, rounds);
  QProcess stop;
  stop.start(QStringLiteral("sh"), {QStringLiteral(FOLVEX_CUPSD_SCRIPTS "/cupsd-stop.sh"), cupsd});
  stop.waitForFinished(60000);
  return 0;
}
