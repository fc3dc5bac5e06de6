#include "capture/spool_watcher.h"

#include "capture/capture_worker.h"
#include "capture/spool_extractor.h"
#include "platform/captured_jobs.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "render/resolution.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <functional>
#include <mutex>

namespace capture {

namespace {

std::atomic<int> g_readiness{kReady};
std::atomic<bool> g_blink{false};
std::atomic<bool> g_firstRun{false};
// Held for the whole of a pass (from its start on the GUI thread through the worker to its end on the GUI thread),
// so a timer tick that comes while a pass runs does not start another.
std::atomic<bool> g_passRunning{false};

QString withSplEnding(const QString &name) { return name.left(name.size() - 3) + QStringLiteral("SPL"); }

// The spool data file of a shadow file: its name with "SPL" for the last three characters, in that case, in the case
// of the shadow file's ending, or in any case ("Mix.Shd" goes with "Mix.Spl"). Empty when there is none.
QString spoolDataOf(const QFileInfo &shadow) {
  const QString path = shadow.filePath();
  const QString upper = withSplEnding(path);
  if (QFileInfo::exists(upper))
    return upper;
  const QString sameCase =
      path.chopped(3) + (path.right(3) == path.right(3).toLower() ? QStringLiteral("spl") : QStringLiteral("SPL"));
  if (QFileInfo::exists(sameCase))
    return sameCase;
  const QString wanted = withSplEnding(shadow.fileName());
  const QDir dir = shadow.dir();
  for (const QString &n : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
    if (n.size() == wanted.size() && n.compare(wanted, Qt::CaseInsensitive) == 0)
      return dir.filePath(n);
  return {};
}

// At most this many bytes of a shadow file or spool header are read for the document name; a name is cut to 260
// characters.
constexpr qint64 kDocumentReadLimit = 64 * 1024;
constexpr int kDocumentNameLimit = 260;

QString documentFromShadow(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  const QByteArray text = f.read(kDocumentReadLimit);
  for (const QByteArray &line : text.split('\n'))
    if (line.startsWith("document="))
      return QString::fromUtf8(line.mid(9)).trimmed().left(kDocumentNameLimit);
  return {};
}

// The header record of an EMF spool file: version, size, offset of the document name (UTF-16, zero-terminated).
QString documentFromSpoolHeader(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  const QByteArray b = f.read(kDocumentReadLimit);
  const auto u32 = [&b](int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
  };
  if (b.size() < 16 || u32(0) != 0x00010000)
    return {};
  const qint64 end = std::min<qint64>(u32(4), b.size());
  const qint64 at = u32(8);
  if (at < 16 || at >= end)
    return {};
  QString name;
  for (qint64 i = at; i + 1 < end && name.size() < kDocumentNameLimit; i += 2) {
    const char16_t c = char16_t(uint8_t(b[i]) | uint8_t(b[i + 1]) << 8);
    if (c == 0)
      break;
    name.append(QChar(c));
  }
  return name.trimmed();
}

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
  return index_.find(KnownJob{name, stamp, {}}) != index_.end();
}

void KnownJobList::append(std::string name, uint32_t stamp, std::string document) {
  jobs_.push_back(KnownJob{name, stamp, std::move(document)});
  index_.insert(KnownJob{std::move(name), stamp, {}});
}

std::string KnownJobList::documentOf(int job) const {
  return job >= 1 && size_t(job) <= jobs_.size() ? jobs_[size_t(job) - 1].document : std::string();
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
bool TryBeginPass() { return !g_passRunning.exchange(true); }
void EndPass() { g_passRunning.store(false); }
void RefreshDisplayResolution(int pixels, double millimetres) {
  render::setDisplayResolution(ResolutionFromMetrics(pixels, millimetres));
}

std::string JobDocumentName(const std::string &shadowPath, const std::string &spoolPath) {
  QString name = shadowPath.empty() ? QString() : documentFromShadow(QString::fromStdString(shadowPath));
  if (name.isEmpty() && !spoolPath.empty())
    name = documentFromSpoolHeader(QString::fromStdString(spoolPath));
  return name.toStdString();
}

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
    std::string document;
    if (legacy) {
      ExtractLegacySpoolPages(fi.filePath().toStdString(), jobNumber, &error);
    } else {
      // This file system tells case apart: the data file may be named in any case ("Mix.Shd" with "Mix.Spl").
      const QString spoolData = spoolDataOf(fi);
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
      else
        document = JobDocumentName(fi.filePath().toStdString(),
                                   QFileInfo(QString::fromStdString(copy)).isFile() ? copy : std::string());
    }
    // A full disk leaves the job for a later pass, and the jobs after it too, so job numbers keep their order.
    if (platform::isDiskFull(error)) {
      problem = jobProblem(fi.completeBaseName(), error);
      break;
    }
    // Recorded whatever else the extraction gave, so the job is not tried again.
    known.append(name, stamp, std::move(document));
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

void TellCaptureProblem(CaptureWindow &window) { tellProblem(window); }

int CaptureTick(CaptureWindow &) {
  if (CaptureWorker *worker = CaptureWorker::active())
    worker->startPass();
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

} // namespace capture
