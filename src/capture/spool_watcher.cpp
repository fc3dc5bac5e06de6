#include "capture/spool_watcher.h"

#include "settings/settings.h"
#include "capture/spool_extractor.h"
#include "platform/paths.h"
#include "render/resolution.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QTimeZone>
#include <cmath>
#include <functional>

namespace capture {

namespace {

std::atomic<int> g_readiness{kReady};
std::atomic<bool> g_blink{false};
std::atomic<bool> g_firstRun{false};
// Held for the whole of a pass (the initial one from its start on the worker to its end on the GUI thread), so a
// timer tick that comes while a pass runs, e.g. inside a message box's event loop, does not start another.
std::atomic<bool> g_passRunning{false};

QString withSplEnding(const QString &name) { return name.left(name.size() - 3) + QStringLiteral("SPL"); }

bool copyReplacing(const QString &src, const QString &dst) {
  if (QFileInfo::exists(dst) && !QFile::remove(dst))
    return false;
  return QFile::copy(src, dst);
}

void refreshDisplayResolution(int pixels, double millimetres) {
  render::setDisplayResolution(ResolutionFromMetrics(pixels, millimetres));
}

void refreshDisplayResolution(CaptureWindow &window) {
  int pixels = 0;
  double mm = 0;
  if (window.displayMetrics(pixels, mm))
    refreshDisplayResolution(pixels, mm);
}

} // namespace

// ---- time stamps ----

uint32_t JobTimeStamp(int year, int month, int day, int hour, int minute, int second) {
  uint32_t s = uint32_t(year);
  s = s * 12u + uint32_t(month);
  s = s * 30u + uint32_t(day);
  s = s * 24u + uint32_t(hour);
  s = s * 60u + uint32_t(minute);
  s = s * 60u + uint32_t(second);
  return s;
}

uint32_t JobTimeStamp(const QDateTime &lastWrite) {
  const QDateTime utc = lastWrite.toUTC();
  const QDate d = utc.date();
  const QTime t = utc.time();
  return JobTimeStamp(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

// ---- known job list ----

size_t KnownJobList::KeyHash::operator()(const KnownJob &j) const {
  return std::hash<std::string>()(j.name) ^ (size_t(j.stamp) * 0x9E3779B97F4A7C15ull);
}

bool KnownJobList::contains(const std::string &name, uint32_t stamp) const {
  return index_.find(KnownJob{name, stamp}) != index_.end();
}

void KnownJobList::append(std::string name, uint32_t stamp) {
  jobs_.push_back(KnownJob{name, stamp});
  index_.insert(KnownJob{std::move(name), stamp});
}

KnownJobList &knownJobs() {
  static KnownJobList list;
  return list;
}

// ---- process-wide state ----

int displayResolution() { return int(std::ceil(render::DisplayResolution())); }

int ResolutionFromMetrics(int pixelsWide, double millimetresWide) {
  if (pixelsWide <= 0 || !(millimetresWide > 0))
    return 96;
  const double r = std::ceil(pixelsWide / (millimetresWide * 0.03937007874015748));
  return r >= 1 && r < 1e6 ? int(r) : 96;
}

int readinessState() { return g_readiness.load(); }
void setReadinessState(int state) { g_readiness.store(state); }
int ReadinessFromCode(int32_t code) { return code < 1 ? kNotReady : code == 1 ? kReady : kPartlyReady; }
bool blinkFlag() { return g_blink.load(); }
bool firstRunFlag() { return g_firstRun.load(); }
void setFirstRunFlag(bool on) { g_firstRun.store(on); }

// ---- the pass ----

int ScanSpoolFolder() {
  const bool legacy = platform::platformId() == platform::VER_PLATFORM_WIN32_WINDOWS;
  const QDir dir(QString::fromStdString(legacy ? platform::legacySpoolFolder() : platform::ntSpoolFolder()));
  const QFileInfoList found =
      dir.entryInfoList({legacy ? QStringLiteral("*.SPL") : QStringLiteral("*.SHD")},
                        QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
  if (found.isEmpty())
    return 0;

  KnownJobList &known = knownJobs();
  bool captured = false;
  for (const QFileInfo &fi : found) {
    // A shadow file still being written is looked at again by a later pass.
    if (!legacy && fi.size() < 2)
      continue;
    const std::string name = fi.fileName().toStdString();
    const uint32_t stamp = JobTimeStamp(fi.lastModified());
    if (known.contains(name, stamp))
      continue;
    const int jobNumber = known.count() + 1;
    if (legacy) {
      ExtractLegacySpoolPages(fi.filePath().toStdString(), jobNumber);
    } else {
      QString spoolData = withSplEnding(fi.filePath());
      // This file system tells case apart: a lower-case shadow file's data file may be lower-case too.
      if (!QFileInfo::exists(spoolData) && QFileInfo::exists(fi.filePath().chopped(3) + QStringLiteral("spl")))
        spoolData = fi.filePath().chopped(3) + QStringLiteral("spl");
      const QString copy = QString::fromStdString(platform::workFolder()) + withSplEnding(fi.fileName());
      // A failed copy leaves no stale older copy behind: the extractor then finds nothing.
      if (EnsureWorkFolder())
        copyReplacing(spoolData, copy);
      ExtractSpoolPages(copy.toStdString(), jobNumber);
    }
    // Recorded whatever the extraction gave, so the job is not tried again.
    known.append(name, stamp);
    captured = true;
  }
  return captured ? 1 : 0;
}

int CaptureTick(CaptureWindow &window) {
  if (g_passRunning.exchange(true))
    return 0;
  refreshDisplayResolution(window);
  if (ScanSpoolFolder() == 1) {
    pageStore().LoadNewPages(window);
    if (!g_firstRun.load()) {
      window.scrollStripToEnd();
      window.repaintStrip(false);
    }
  }
  if (g_firstRun.load())
    window.armScanTimer(kScanTimerId, kScanTimerInterval);
  g_firstRun.store(false);
  g_passRunning.store(false);
  return 0;
}

void ScanTimerTick(CaptureWindow &window) {
  const bool blink = !g_blink.load();
  g_blink.store(blink);
  window.repaintPrinterButton();
  if (blink)
    CaptureTick(window);

  const int32_t code = RegGetInt("lvKodEstPrinters");
  if (code <= 0) {
    g_readiness.store(kNotReady);
    window.repaintReadinessArea();
  } else if (code == 1) {
    if (g_readiness.load() != kReady) {
      g_readiness.store(kReady);
      window.repaintReadinessArea();
    }
  } else if (g_readiness.load() != kPartlyReady) {
    g_readiness.store(kPartlyReady);
    window.repaintReadinessArea();
  }
}

// ---- the initial pass ----

InitialCapture::InitialCapture(CaptureWindow &window, QObject *context)
    : receiver_(std::make_unique<QObject>()), finished_(std::make_shared<std::atomic<bool>>(false)),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
  if (context && context->thread() != receiver_->thread())
    receiver_->moveToThread(context->thread());
  g_firstRun.store(true);
  g_passRunning.store(true);
  int pixels = 0;
  double mm = 0;
  const bool haveMetrics = window.displayMetrics(pixels, mm);

  QObject *receiver = receiver_.get();
  CaptureWindow *w = &window;
  auto finished = finished_;
  auto stop = stop_;
  worker_ = std::thread([=] {
    if (haveMetrics)
      refreshDisplayResolution(pixels, mm);
    auto batch = std::make_shared<PreparedPages>();
    const bool captured = ScanSpoolFolder() == 1;
    if (captured)
      *batch = PageStore::PrepareNewPages(stop.get());
    // The GUI part: dropped by Qt when the receiver is gone (the main frame ended first).
    QMetaObject::invokeMethod(
        receiver,
        [=] {
          if (captured)
            pageStore().AppendPreparedPages(std::move(*batch), *w);
          // The first pass never scrolls the strip; it arms the scan timer whether or not a job was found.
          w->armScanTimer(kScanTimerId, kScanTimerInterval);
          g_firstRun.store(false);
          g_passRunning.store(false);
          finished->store(true);
        },
        Qt::QueuedConnection);
  });
}

void InitialCapture::wait() {
  if (worker_.joinable())
    worker_.join();
}

InitialCapture::~InitialCapture() {
  stop_->store(true);
  wait();
  receiver_.reset(); // drops the GUI part if it has not run yet
  if (!finished_->load()) {
    g_firstRun.store(false);
    g_passRunning.store(false);
  }
}

} // namespace capture
