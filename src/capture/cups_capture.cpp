#include "capture/cups_capture.h"

#include "capture/job_documents.h"
#include "capture/spool_extractor.h"
#include "capture/spool_watcher.h"
#include "platform/captured_jobs.h"
#include "platform/cups_jobs.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <algorithm>

namespace capture {
namespace {

std::atomic<CupsCapture *> g_active{nullptr};

constexpr int kStatePending = 3;
constexpr int kStateHeld = 4;
constexpr int kMaxDocuments = 1000; // documents taken from one job

QString workFolder() { return QString::fromStdString(platform::workFolder()); }

// Files of the work folder this source writes: fetched documents and PPD copies.
QString documentPath(uint32_t id, int number) {
  return workFolder() + QStringLiteral("cups-%1-%2.job").arg(id).arg(number);
}
QString ppdPath(uint32_t id) { return workFolder() + QStringLiteral("cups-%1.ppd").arg(id); }

// Removes what an earlier run left behind of its fetched documents and conversions.
void removeLeftovers() {
  QDir dir(workFolder());
  for (const QString &name :
       dir.entryList({QStringLiteral("cups-*.job"), QStringLiteral("cups-*.ppd"), QStringLiteral("conv-*.pdf")},
                     QDir::Files | QDir::Hidden | QDir::System))
    dir.remove(name);
}

bool removeIfThere(const QString &path) { return !QFile::exists(path) || QFile::remove(path); }

// The notice for a job that is not taken: names the job, its queue and why.
QString NotTakenNotice(uint32_t id, const std::string &title, const std::string &printer, const std::string &why) {
  const QString name = title.empty() ? QString() : QStringLiteral(" \"%1\"").arg(QString::fromStdString(title));
  return QStringLiteral("Print job %1%2 on %3 was not taken: %4. It stays in its queue.")
      .arg(id)
      .arg(name, QString::fromStdString(printer), QString::fromStdString(why));
}

} // namespace

CupsCapture::CupsCapture() {
  CupsCapture *expected = nullptr;
  g_active.compare_exchange_strong(expected, this);
  worker_ = std::thread([this] { run(); });
}

CupsCapture::~CupsCapture() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  stopFlag_ = true;
  wake_.notify_all();
  if (worker_.joinable())
    worker_.join();
  CupsCapture *self = this;
  g_active.compare_exchange_strong(self, nullptr);
}

CupsCapture *CupsCapture::active() { return g_active.load(); }

void CupsCapture::poll() {
  std::lock_guard lock(m_);
  if (asked_ || running_)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (lastLook_ != std::chrono::steady_clock::time_point{} &&
      now - lastLook_ < std::chrono::milliseconds(kPollIntervalMs))
    return;
  asked_ = true;
  wake_.notify_one();
}

void CupsCapture::take(std::vector<CupsCapturedJob> &jobs, std::vector<QString> &notices) {
  std::lock_guard lock(m_);
  jobs = std::move(done_);
  notices = std::move(notices_);
  done_.clear();
  notices_.clear();
}

void CupsCapture::run() {
  platform::CupsJobs cups; // made on this thread: libcups keeps its server and user per thread
  cups.setCancelFlag(&stopFlag_);
  bool first = true;
  for (;;) {
    {
      std::unique_lock lock(m_);
      wake_.wait(lock, [this] { return asked_ || stop_; });
      if (stop_)
        return;
      asked_ = false;
      running_ = true;
      lastLook_ = std::chrono::steady_clock::now();
    }
    if (first && EnsureWorkFolder())
      removeLeftovers();
    first = false;
    look(cups);
    std::lock_guard lock(m_);
    running_ = false;
  }
}

void CupsCapture::look(platform::CupsJobs &cups) {
  std::vector<platform::CupsJob> jobs;
  if (cups.myJobs(jobs) != platform::CupsStatus::Ok)
    return; // the server is away (or refuses to list): the next look tries again
  std::erase_if(jobs, [this](const platform::CupsJob &j) {
    const bool waiting = j.state == kStatePending || j.state == kStateHeld;
    // A job whose documents are still coming in is looked at again once they are all there.
    const bool incoming = std::find(j.reasons.begin(), j.reasons.end(), "job-incoming") != j.reasons.end();
    return !waiting || incoming || j.documents < 1 || handled_.count({j.id, j.created}) != 0;
  });
  if (jobs.empty())
    return;
  std::vector<platform::CupsQueue> queues;
  if (cups.queues(queues) != platform::CupsStatus::Ok)
    return;
  for (const platform::CupsJob &job : jobs) {
    if (stopFlag_)
      return;
    const auto q =
        std::find_if(queues.begin(), queues.end(), [&](const platform::CupsQueue &x) { return x.name == job.printer; });
    // Only a paused queue holds its jobs for capture; a job in a working queue is on its way to paper.
    if (q == queues.end() || !q->paused)
      continue;
    const Outcome outcome = takeJob(cups, job, *q);
    if (outcome == Outcome::Away)
      return;
    handled_.insert({job.id, job.created});
  }
}

CupsCapture::Outcome CupsCapture::takeJob(platform::CupsJobs &cups, const platform::CupsJob &job,
                                          const platform::CupsQueue &queue) {
  auto refuse = [&](const std::string &why) {
    std::lock_guard lock(m_);
    notices_.push_back(NotTakenNotice(job.id, job.title, job.printer, why));
    return Outcome::Refused;
  };
  if (!EnsureWorkFolder())
    return refuse("the work folder cannot be made");
  if (job.documents > kMaxDocuments)
    return refuse("it has more than " + std::to_string(kMaxDocuments) + " documents");

  ConvertOptions options;
  options.workFolder = workFolder();
  options.media = job.media.empty() ? queue.mediaDefault : job.media;
  options.cancel = &stopFlag_;
  CupsCapturedJob taken;
  taken.id = job.id;
  taken.printer = job.printer;
  taken.title = job.title;
  taken.created = job.created;
  bool havePpd = false;
  for (int n = 1; n <= job.documents; ++n) {
    if (stopFlag_)
      return Outcome::Away;
    const QString path = documentPath(job.id, n);
    if (!removeIfThere(path))
      return refuse("the work folder holds a file that cannot be replaced");
    std::string format, error;
    const platform::CupsStatus s = cups.getDocument(job.id, n, path.toStdString(), &format, &error);
    if (s == platform::CupsStatus::Unreachable) {
      QFile::remove(path);
      return Outcome::Away;
    }
    if (s != platform::CupsStatus::Ok)
      return refuse("its document could not be fetched (" + error + ")");
    QFile doc(path);
    const QByteArray head = doc.open(QIODevice::ReadOnly) ? doc.read(1024) : QByteArray();
    doc.close();
    if (!havePpd && KindOfDocument(head, format) == DocumentKind::Other) {
      // Text and other formats are laid out for the queue's page sizes.
      const QString ppd = ppdPath(job.id);
      removeIfThere(ppd);
      havePpd = cups.getPpd(job.printer, ppd.toStdString());
      if (havePpd)
        options.ppd = ppd;
    }
    ConvertedDocument converted = DocumentPages(path, format, options);
    QFile::remove(path);
    if (stopFlag_)
      return Outcome::Away;
    if (converted.pages.empty()) {
      if (havePpd)
        QFile::remove(options.ppd);
      const std::string what = format.empty() ? std::string() : " (" + format + ")";
      return refuse("its document" + what + " cannot be converted: " + converted.error);
    }
    for (render::HPDFPAGE &page : converted.pages) {
      PreparedPage p;
      p.pdf = std::move(page);
      taken.pages.push_back(std::move(p));
    }
  }
  if (havePpd)
    QFile::remove(options.ppd);
  // Thumbnails are made here, off the GUI thread (renders are serialised with the GUI's own).
  for (PreparedPage &p : taken.pages) {
    if (stopFlag_)
      return Outcome::Away;
    p.thumbnail = MakeThumbnail(render::PageSource(p.pdf), -1, 0.0);
  }
  std::lock_guard lock(m_);
  done_.push_back(std::move(taken));
  return Outcome::Taken;
}

bool AppendCupsJobs(CupsCapture &cups, CaptureWindow &window) {
  std::vector<CupsCapturedJob> jobs;
  std::vector<QString> notices;
  cups.take(jobs, notices);
  bool appended = false;
  for (CupsCapturedJob &job : jobs) {
    KnownJobList &known = knownJobs();
    const int jobNumber = known.count() + 1;
    PreparedPages batch;
    int number = 0;
    for (PreparedPage &p : job.pages) {
      p.name = std::to_string(jobNumber) + "-" + PageFileName(++number);
      p.name.replace(p.name.size() - 4, 4, ".pdf");
      p.document = job.title; // the thumbnails' tooltips name the job
      batch.pages.push_back(std::move(p));
    }
    known.append("cups:" + job.printer + ":" + std::to_string(job.id),
                 JobTimeStamp(QDateTime::fromSecsSinceEpoch(job.created, Qt::UTC)));
    platform::CapturedJob record;
    record.kind = platform::CapturedJob::Kind::Cups;
    record.printer = job.printer;
    record.jobId = job.id;
    if (!platform::recordCapturedJob(record))
      qWarning("Folvex: print job %u on %s cannot be entered in %s; cancelling all documents will not cancel it",
               job.id, job.printer.c_str(), platform::capturedJobsPath().c_str());
    pageStore().AppendPreparedPages(std::move(batch), window);
    appended = true;
  }
  for (const QString &n : notices) {
    qWarning("Folvex: %s", qUtf8Printable(n));
    window.showStatusNotice(n);
  }
  return appended;
}

} // namespace capture
