#include "capture/spool_watcher.h"

#include "capture/spool_extractor.h"
#include "platform/captured_jobs.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "render/resolution.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QTimeZone>
#include <cerrno>
#include <cmath>
#include <functional>
#include <mutex>

namespace capture {

namespace {

std::atomic<int> g_readiness{kReady};
std::atomic<bool> g_blink{false};
std::atomic<bool> g_firstRun{false};
// Held for the whole of a pass (the initial one from its start on the worker to its end on the GUI thread), so a
// timer tick that comes while a pass runs, e.g. inside a message box's event loop, does not start another.
std::atomic<bool> g_passRunning{false};

QString withSplEnding(const QString &name) { return name.left(name.size() - 3) + QStringLiteral("SPL"); }

// Why the last pass left jobs for a later one, and what the window was last told of it.
std::mutex g_problemMutex;
std::string g_problem;
std::string g_problemTold;

void setProblem(std::string text) {
  std::lock_guard lock(g_problemMutex);
  g_problem = std::move(text);
}

// Tells the window of a new problem, or that the last one is over; each only once. GUI thread.
void tellProblem(CaptureWindow &window) {
  std::string text;
  {
    std::lock_guard lock(g_problemMutex);
    if (g_problem == g_problemTold)
      return;
    g_problemTold = text = g_problem;
  }
  window.showStatusNotice(QString::fromStdString(text));
}

// The job stays in the spool folder and is captured by the first pass after the disk has room again.
std::string jobProblem(const QString &job, int error) {
  return "Print job " + job.toStdString() + " waits: " + platform::writeErrorText(error) + ".";
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
  std::string problem;
  KnownJobList &known = knownJobs();
  bool captured = false;
  for (const QFileInfo &fi : found) {
    // Only regular files are jobs: a FIFO, socket or device of such a name is never opened.
    if (!fi.isFile())
      continue;
    // A shadow file still being written is looked at again by a later pass.
    if (!legacy && fi.size() < 2)
      continue;
    const std::string name = fi.fileName().toStdString();
    const uint32_t stamp = JobTimeStamp(fi.lastModified());
    if (known.contains(name, stamp))
      continue;
    // Without a usable work folder nothing can be captured; the jobs wait for a later pass.
    if (const std::string why = platform::workFolderProblem(); !why.empty()) {
      problem = "Print jobs are not captured: " + why + ".";
      break;
    }
    const int jobNumber = known.count() + 1;
    int error = 0;
    bool extracted = true;
    if (legacy) {
      ExtractLegacySpoolPages(fi.filePath().toStdString(), jobNumber, &error);
    } else {
      QString spoolData = withSplEnding(fi.filePath());
      // This file system tells case apart: a lower-case shadow file's data file may be lower-case too.
      if (!QFileInfo::exists(spoolData) && QFileInfo::exists(fi.filePath().chopped(3) + QStringLiteral("spl")))
        spoolData = fi.filePath().chopped(3) + QStringLiteral("spl");
      const std::string copy = platform::workFolder() + withSplEnding(fi.fileName()).toStdString();
      // A job that cannot fit is not even tried: the pass then costs nothing while the disk stays full.
      const QFileInfo data(spoolData);
      if (data.isFile() && !platform::hasFreeSpace(platform::workFolder(), uint64_t(data.size())))
        error = ENOSPC;
      // A failed copy leaves no stale older copy behind: the extractor then finds nothing.
      else if (platform::copyToPrivateFile(spoolData.toStdString(), copy, &error))
        extracted = ExtractSpoolPages(copy, jobNumber, &error) == 1;
      else
        extracted = false;
      if (platform::isDiskFull(error))
        QFile::remove(QString::fromStdString(copy));
    }
    // A full disk leaves the job for a later pass, and the jobs after it too, so job numbers keep their order.
    if (platform::isDiskFull(error)) {
      problem = jobProblem(fi.completeBaseName(), error);
      break;
    }
    // Recorded whatever else the extraction gave, so the job is not tried again.
    known.append(name, stamp);
    // A job whose pages were taken is one that cancelling all documents cancels (by removing its files).
    if (extracted) {
      platform::CapturedJob job;
      job.kind = platform::CapturedJob::Kind::Spool;
      job.shadow = QFileInfo(fi.filePath()).absoluteFilePath().toStdString();
      if (!platform::recordCapturedJob(job))
        qWarning("Folvex: spool job %s cannot be entered in %s; cancelling all documents will not remove it",
                 qUtf8Printable(fi.filePath()), platform::capturedJobsPath().c_str());
    }
    captured = true;
  }
  setProblem(problem);
  return captured ? 1 : 0;
}

std::string captureProblem() {
  std::lock_guard lock(g_problemMutex);
  return g_problem;
}

int CaptureTick(CaptureWindow &window) {
  if (g_passRunning.exchange(true))
    return 0;
  refreshDisplayResolution(window);
  const int scanned = ScanSpoolFolder();
  tellProblem(window);
  bool captured = false;
  if (scanned == 1) {
    pageStore().LoadNewPages(window);
    captured = true;
  }
  if (CupsCapture *cups = CupsCapture::active()) {
    cups->poll();
    captured = AppendCupsJobs(*cups, window) || captured;
  }
  if (captured && !g_firstRun.load()) {
    window.scrollStripToEnd();
    window.repaintStrip(false);
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
  if (blink) {
    CaptureTick(window);
  } else if (CupsCapture *cups = CupsCapture::active(); cups && !g_passRunning.exchange(true)) {
    if (AppendCupsJobs(*cups, window)) {
      window.scrollStripToEnd();
      window.repaintStrip(false);
    }
    g_passRunning.store(false);
  }

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
      stop_(std::make_shared<std::atomic<bool>>(false)), shared_(std::make_shared<Shared>()) {
  if (context && context->thread() != receiver_->thread())
    receiver_->moveToThread(context->thread());
  g_firstRun.store(true);
  g_passRunning.store(true);
  // A new run has captured nothing yet: what the list names from an earlier run is not this run's to cancel.
  if (!platform::clearCapturedJobs())
    qWarning("Folvex: the list of captured jobs %s cannot be emptied", platform::capturedJobsPath().c_str());
  cups_ = std::make_unique<CupsCapture>();
  cups_->poll();
  int pixels = 0;
  double mm = 0;
  const bool haveMetrics = window.displayMetrics(pixels, mm);

  QObject *receiver = receiver_.get();
  CaptureWindow *w = &window;
  auto finished = finished_;
  auto stop = stop_;
  auto shared = shared_;
  worker_ = std::thread([=] {
    if (haveMetrics)
      refreshDisplayResolution(pixels, mm);
    auto batch = std::make_shared<PreparedPages>();
    const bool captured = ScanSpoolFolder() == 1;
    if (captured)
      *batch = PageStore::PrepareNewPages(stop.get());
    // The GUI part: dropped by Qt when the receiver is gone (the main frame ended first), and not even sent once
    // the owner has given up waiting for this worker.
    std::unique_lock lock(shared->mutex);
    if (!shared->abandoned)
      QMetaObject::invokeMethod(
          receiver,
          [=] {
            tellProblem(*w);
            if (captured)
              pageStore().AppendPreparedPages(std::move(*batch), *w);
            // The first pass never scrolls the strip; it arms the scan timer whether or not a job was found.
            w->armScanTimer(kScanTimerId, kScanTimerInterval);
            g_firstRun.store(false);
            g_passRunning.store(false);
            finished->store(true);
          },
          Qt::QueuedConnection);
    shared->workerDone = true;
    lock.unlock();
    shared->doneChanged.notify_all();
  });
}

bool InitialCapture::wait(int milliseconds) {
  if (!worker_.joinable())
    return true;
  {
    std::unique_lock lock(shared_->mutex);
    const auto done = [this] { return shared_->workerDone; };
    if (milliseconds < 0)
      shared_->doneChanged.wait(lock, done);
    else if (!shared_->doneChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), done))
      return false;
  }
  worker_.join();
  return true;
}

InitialCapture::~InitialCapture() {
  stop_->store(true);
  const bool done = wait(kEndWaitMs);
  {
    std::lock_guard lock(shared_->mutex);
    shared_->abandoned = true;
  }
  if (!done) {
    qWarning("Folvex: the first capture pass did not end in time; the program ends without it");
    worker_.detach();
  }
  receiver_.reset(); // drops the GUI part if it has not run yet
  if (!finished_->load()) {
    g_firstRun.store(false);
    g_passRunning.store(false);
  }
}

} // namespace capture
