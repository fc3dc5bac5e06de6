#include "platform/captured_jobs.h"

#include "platform/paths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <algorithm>
#include <functional>

namespace platform {
namespace {

constexpr qint64 kMaxListBytes = 4 * 1024 * 1024; // far above any real list; a larger file is not read

std::vector<CapturedJob> Parse(const QByteArray &data) {
  std::vector<CapturedJob> jobs;
  for (const QByteArray &line : data.split('\n')) {
    const QList<QByteArray> f = line.split('\t');
    CapturedJob j;
    if (f.size() == 3 && f[0] == "cups" && !f[1].isEmpty()) {
      bool ok = false;
      const qulonglong id = f[2].toULongLong(&ok);
      if (!ok || id == 0 || id > 0xFFFFFFFFull)
        continue;
      j.kind = CapturedJob::Kind::Cups;
      j.printer = f[1].toStdString();
      j.jobId = static_cast<uint32_t>(id);
    } else if (f.size() == 2 && f[0] == "spool" && !f[1].isEmpty()) {
      j.kind = CapturedJob::Kind::Spool;
      j.shadow = f[1].toStdString();
    } else {
      continue;
    }
    if (std::find(jobs.begin(), jobs.end(), j) == jobs.end())
      jobs.push_back(std::move(j));
  }
  return jobs;
}

std::vector<CapturedJob> ReadList(const QString &path) {
  QFile f(path);
  if (f.size() > kMaxListBytes || !f.open(QIODevice::ReadOnly))
    return {};
  return Parse(f.read(kMaxListBytes));
}

bool WriteList(const QString &path, const std::vector<CapturedJob> &jobs) {
  QByteArray out;
  for (const CapturedJob &j : jobs) {
    // Names with a tab or line break cannot be listed; CUPS refuses them as queue names anyway.
    const std::string &field = j.kind == CapturedJob::Kind::Cups ? j.printer : j.shadow;
    if (field.find_first_of("\t\n\r") != std::string::npos)
      continue;
    if (j.kind == CapturedJob::Kind::Cups)
      out += "cups\t" + QByteArray::fromStdString(j.printer) + '\t' + QByteArray::number(j.jobId) + '\n';
    else
      out += "spool\t" + QByteArray::fromStdString(j.shadow) + '\n';
  }
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    return false;
  f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return f.write(out) == out.size() && f.commit();
}

// Reads, changes and writes the list under its lock file.
bool Update(const std::function<void(std::vector<CapturedJob> &)> &change) {
  const QString path = QString::fromStdString(capturedJobsPath());
  QDir().mkpath(QFileInfo(path).absolutePath());
  QLockFile lock(path + QStringLiteral(".lock"));
  if (!lock.tryLock(5000))
    return false;
  std::vector<CapturedJob> jobs = ReadList(path);
  change(jobs);
  return WriteList(path, jobs);
}

} // namespace

std::string capturedJobsPath() { return appDataFolder() + "/lvFXCaptured.txt"; }

std::vector<CapturedJob> capturedJobs() {
  const QString path = QString::fromStdString(capturedJobsPath());
  QLockFile lock(path + QStringLiteral(".lock"));
  const bool locked = QFileInfo(path).absoluteDir().exists() && lock.tryLock(5000);
  (void)locked; // a list that cannot be locked is still read: at worst a write in progress is missed
  return ReadList(path);
}

bool recordCapturedJob(const CapturedJob &job) {
  return Update([&](std::vector<CapturedJob> &jobs) {
    if (std::find(jobs.begin(), jobs.end(), job) == jobs.end())
      jobs.push_back(job);
  });
}

bool forgetCapturedJobs(const std::vector<CapturedJob> &gone) {
  return Update([&](std::vector<CapturedJob> &jobs) {
    std::erase_if(jobs, [&](const CapturedJob &j) { return std::find(gone.begin(), gone.end(), j) != gone.end(); });
  });
}

bool clearCapturedJobs() {
  return Update([](std::vector<CapturedJob> &jobs) { jobs.clear(); });
}

} // namespace platform
