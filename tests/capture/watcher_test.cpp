// The spool watcher: job time stamps, the known job list, the folder scan on both platform forms, the capture pass,
// the scan timer tick with the readiness state, and the initial pass on its worker thread.
#include "capture/capture_worker.h"
#include "capture/page_store.h"
#include "capture/spool_extractor.h"
#include "capture/spool_watcher.h"
#include "capture/spool_writer.h"
#include "capture_support.h"
#include "platform/captured_jobs.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>
#include <QTimeZone>

using namespace capture;
using namespace capture_test;

namespace {

class Watcher : public CaptureEnv {
protected:
  void SetUp() override {
    CaptureEnv::SetUp();
    spool_ = QString::fromStdString(platform::ntSpoolFolder());
    ASSERT_TRUE(QDir().mkpath(spool_));
    setFirstRunFlag(false);
  }
  void TearDown() override { platform::forcePlatformId(0); }

  // A job of `pages` pages tagged from `tag`, under a name no other test uses (the known job list lives as long as
  // the test program). Returns the shadow file's path.
  QString addJob(int pages, uint32_t tag, QString name = {}) {
    if (name.isEmpty())
      name = QString("J%1").arg(++serial_, 5, 10, QLatin1Char('0'));
    std::vector<std::vector<uint8_t>> bytes;
    for (int i = 0; i < pages; ++i)
      bytes.push_back(MakeEmf(210, 297, tag + uint32_t(i)));
    EXPECT_TRUE(WriteSpoolJob((spool_ + name + ".SPL").toStdString(), bytes, "doc", true));
    return spool_ + name + ".SHD";
  }
  QString work() const { return QString::fromStdString(platform::workFolder()); }
  QString page(int job, int n) const {
    return work() + QString::fromStdString(std::to_string(job) + "-" + PageFileName(n));
  }
  static void setModified(const QString &path, const QDateTime &t) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(t, QFileDevice::FileModificationTime));
  }

  QString spool_;
  static inline int serial_ = 0;
};

} // namespace

TEST(JobTimeStamp, FoldsCalendarFieldsWithThirtyDayMonths) {
  // The last day of a 31-day month and the first of the next fold to the same stamp...
  EXPECT_EQ(JobTimeStamp(2024, 1, 31, 10, 20, 30), JobTimeStamp(2024, 2, 1, 10, 20, 30));
  EXPECT_EQ(JobTimeStamp(2023, 12, 31, 0, 0, 0), JobTimeStamp(2024, 1, 1, 0, 0, 0));
  // ...while other days and seconds stay apart.
  EXPECT_NE(JobTimeStamp(2024, 1, 30, 10, 20, 30), JobTimeStamp(2024, 1, 31, 10, 20, 30));
  EXPECT_EQ(JobTimeStamp(2024, 5, 6, 7, 8, 10) - JobTimeStamp(2024, 5, 6, 7, 8, 9), 1u);
  EXPECT_EQ(JobTimeStamp(2024, 5, 7, 0, 0, 0) - JobTimeStamp(2024, 5, 6, 0, 0, 0), 86400u);
  // 32-bit wrap-around instead of overflow: the year 2024 alone already exceeds 32 bits of seconds.
  const uint64_t wide = ((((2024ull * 12 + 3) * 30 + 4) * 24 + 5) * 60 + 6) * 60 + 7;
  EXPECT_EQ(JobTimeStamp(2024, 3, 4, 5, 6, 7), uint32_t(wide & 0xFFFFFFFFu));
}

TEST(JobTimeStamp, UsesUtcFieldsAndIgnoresMilliseconds) {
  const QDateTime utc(QDate(2025, 7, 31), QTime(23, 59, 58, 0), Qt::UTC);
  const QDateTime withMs(QDate(2025, 7, 31), QTime(23, 59, 58, 999), Qt::UTC);
  EXPECT_EQ(JobTimeStamp(utc), JobTimeStamp(withMs));
  EXPECT_EQ(JobTimeStamp(utc), JobTimeStamp(2025, 7, 31, 23, 59, 58));
  // The same moment written in another zone gives the same stamp.
  const QDateTime east = utc.toTimeZone(QTimeZone(3 * 3600));
  EXPECT_EQ(east.time().hour(), 2);
  EXPECT_EQ(JobTimeStamp(east), JobTimeStamp(utc));
}

TEST(KnownJobs, ExactNamesAndStampsAndNoFixedRoom) {
  KnownJobList list;
  list.append("00012.SHD", 77);
  EXPECT_TRUE(list.contains("00012.SHD", 77));
  EXPECT_FALSE(list.contains("00012.shd", 77)); // case-sensitive
  EXPECT_FALSE(list.contains("00012.SHD", 78)); // rewritten: a new job
  EXPECT_FALSE(list.contains("00012.SH", 77));
  // Far beyond 100,000 entries: nothing is dropped and the order is kept.
  for (int i = 0; i < 120000; ++i)
    list.append("J" + std::to_string(i), uint32_t(i));
  EXPECT_EQ(list.count(), 120001);
  EXPECT_TRUE(list.contains("J0", 0));
  EXPECT_TRUE(list.contains("J119999", 119999));
  EXPECT_EQ(list.jobs()[100001].name, "J100000");
  EXPECT_TRUE(list.contains("00012.SHD", 77));
}

TEST(WatcherState, DisplayResolutionAndReadinessRules) {
  EXPECT_EQ(ResolutionFromMetrics(1366, 293), 119); // 1366 px over 11.54 in
  EXPECT_EQ(ResolutionFromMetrics(1920, 0), 96);
  EXPECT_EQ(ResolutionFromMetrics(0, 300), 96);
  EXPECT_EQ(ResolutionFromMetrics(1920, -5), 96);
  EXPECT_EQ(ReadinessFromCode(-1), kNotReady);
  EXPECT_EQ(ReadinessFromCode(0), kNotReady);
  EXPECT_EQ(ReadinessFromCode(1), kReady);
  EXPECT_EQ(ReadinessFromCode(2), kPartlyReady);
  EXPECT_EQ(ReadinessFromCode(9), kPartlyReady);
}

TEST_F(Watcher, EmptySpoolFolderCapturesNothing) {
  const int before = knownJobs().count();
  EXPECT_EQ(ScanSpoolFolder(), 0);
  // Spool data files without a shadow file are not jobs on this platform form.
  ASSERT_TRUE(WriteBytes(spool_ + "LONE.SPL", MakeEmf()));
  EXPECT_EQ(ScanSpoolFolder(), 0);
  EXPECT_EQ(knownJobs().count(), before);
}

TEST_F(Watcher, ShadowFileBelowTwoBytesWaitsUntilItGrows) {
  const QString shd = addJob(1, 500);
  const int before = knownJobs().count();
  for (int size : {0, 1}) {
    QFile f(shd);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(QByteArray(size, 'x')), size);
    f.close();
    EXPECT_EQ(ScanSpoolFolder(), 0) << size << " bytes";
    EXPECT_EQ(knownJobs().count(), before) << "not recorded";
  }
  EXPECT_FALSE(QFileInfo::exists(page(before + 1, 1)));
  QFile f(shd);
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("yz");
  f.close();
  EXPECT_EQ(ScanSpoolFolder(), 1);
  EXPECT_EQ(knownJobs().count(), before + 1);
  EXPECT_EQ(TagOf(page(before + 1, 1)), 500);
}

TEST_F(Watcher, TwoJobsInOnePassGetConsecutiveNumbersInFolderOrder) {
  const int before = knownJobs().count();
  const QString tag = QString::number(++serial_);
  addJob(2, 200, "B" + tag);
  addJob(1, 100, "A" + tag);
  EXPECT_EQ(ScanSpoolFolder(), 1);
  ASSERT_EQ(knownJobs().count(), before + 2);
  EXPECT_EQ(knownJobs().jobs()[size_t(before)].name, ("A" + tag + ".SHD").toStdString());
  EXPECT_EQ(TagOf(page(before + 1, 1)), 100);
  EXPECT_EQ(TagOf(page(before + 2, 1)), 200);
  EXPECT_EQ(TagOf(page(before + 2, 2)), 201);
  // The spool data files were copied into the work folder under their own names.
  EXPECT_TRUE(QFileInfo::exists(work() + "A" + tag + ".SPL"));
  EXPECT_TRUE(QFileInfo::exists(work() + "B" + tag + ".SPL"));
  // Nothing new on the next pass.
  EXPECT_EQ(ScanSpoolFolder(), 0);
  EXPECT_EQ(knownJobs().count(), before + 2);
}

TEST_F(Watcher, RewrittenJobIsCapturedAgainUnlessItsStampFoldsTheSame) {
  const QString shd = addJob(1, 300);
  setModified(shd, QDateTime(QDate(2026, 1, 31), QTime(10, 0, 5), Qt::UTC));
  const int before = knownJobs().count();
  EXPECT_EQ(ScanSpoolFolder(), 1);
  // The first of the next month at the same time of day (and another millisecond) counts as known.
  setModified(shd, QDateTime(QDate(2026, 2, 1), QTime(10, 0, 5, 400), Qt::UTC));
  EXPECT_EQ(ScanSpoolFolder(), 0);
  // Any other time is a new job with the next number.
  setModified(shd, QDateTime(QDate(2026, 2, 1), QTime(10, 0, 6), Qt::UTC));
  EXPECT_EQ(ScanSpoolFolder(), 1);
  EXPECT_EQ(knownJobs().count(), before + 2);
  EXPECT_EQ(TagOf(page(before + 2, 1)), 300);
}

TEST_F(Watcher, JobFilesAreFoundWhateverTheCaseOfTheirNames) {
  // Lower case, and mixed case with the two endings written differently.
  const std::vector<std::pair<QString, QString>> endings = {{".shd", ".spl"}, {".Shd", ".Spl"}, {".SHD", ".spL"}};
  for (const auto &[shd, spl] : endings) {
    const QString name = QString("Mix%1").arg(++serial_);
    std::vector<std::vector<uint8_t>> pages{MakeEmf(210, 297, 31), MakeEmf(210, 297, 32)};
    ASSERT_TRUE(WriteSpoolJob((spool_ + name + spl).toStdString(), pages, "doc", false));
    ASSERT_TRUE(WriteBytes(spool_ + name + shd, {1, 2}));
    const int before = knownJobs().count();
    EXPECT_EQ(ScanSpoolFolder(), 1) << shd.toStdString();
    EXPECT_EQ(knownJobs().jobs().back().name, (name + shd).toStdString());
    EXPECT_TRUE(QFileInfo::exists(work() + name + ".SPL")) << spl.toStdString();
    EXPECT_EQ(TagOf(page(before + 1, 1)), 31) << spl.toStdString();
    EXPECT_EQ(TagOf(page(before + 1, 2)), 32) << spl.toStdString();
  }
}

TEST_F(Watcher, TheJobsDocumentNameComesFromItsShadowFileOrItsSpoolHeader) {
  const QString named = addJob(1, 700); // the shadow file says "document=doc"
  ASSERT_EQ(ScanSpoolFolder(), 1);
  const int job = knownJobs().count();
  EXPECT_EQ(knownJobs().documentOf(job), "doc");
  // A shadow file without that line: the spool file's header names the document.
  const QString name = QString("H%1").arg(++serial_);
  ASSERT_TRUE(WriteSpoolJob((spool_ + name + ".SPL").toStdString(), {MakeEmf()}, "Quarterly report.xlsx", false));
  ASSERT_TRUE(WriteBytes(spool_ + name + ".SHD", {0x49, 0x66, 0, 0, 0, 0}));
  ASSERT_EQ(ScanSpoolFolder(), 1);
  EXPECT_EQ(knownJobs().documentOf(job + 1), "Quarterly report.xlsx");
  EXPECT_EQ(knownJobs().documentOf(job + 2), "");
  EXPECT_EQ(knownJobs().documentOf(0), "");
  // A header whose name offset points outside it gives no name.
  auto bytes = BuildSpoolFile({MakeEmf()}, "x");
  bytes[8] = 0xF0;
  bytes[9] = 0xFF;
  ASSERT_TRUE(WriteBytes(root() + "/bad.SPL", bytes));
  EXPECT_EQ(JobDocumentName("", (root() + "/bad.SPL").toStdString()), "");
  EXPECT_EQ(JobDocumentName(named.toStdString(), ""), "doc");
}

TEST_F(Watcher, JobWithoutSpoolDataIsStillRecorded) {
  const QString name = QString("N%1").arg(++serial_);
  ASSERT_TRUE(WriteBytes(spool_ + name + ".SHD", {1, 2, 3}));
  // A stale copy of the same name in the work folder must not be taken for this job's data.
  ASSERT_TRUE(QDir().mkpath(work()));
  std::vector<std::vector<uint8_t>> stale{MakeEmf(210, 297, 9)};
  ASSERT_TRUE(WriteSpoolJob((work() + name + ".SPL").toStdString(), stale, "old", false));
  const int before = knownJobs().count();
  EXPECT_EQ(ScanSpoolFolder(), 1);
  EXPECT_EQ(knownJobs().count(), before + 1);
  EXPECT_FALSE(QFileInfo::exists(page(before + 1, 1)));
  EXPECT_EQ(ScanSpoolFolder(), 0);
}

TEST_F(Watcher, LegacyPlatformScansSpoolFilesForPageNames) {
  platform::forcePlatformId(platform::VER_PLATFORM_WIN32_WINDOWS);
  const QString legacy = QString::fromStdString(platform::legacySpoolFolder());
  ASSERT_TRUE(QDir().mkpath(legacy));
  ASSERT_TRUE(WriteBytes(QString::fromStdString(platform::tempFolder()) + "~EMFP001.TMP", MakeEmf(210, 297, 61)));
  const std::string body = "\x02 job ~EMFP001.TMP end";
  const QString name = QString("L%1.SPL").arg(++serial_);
  ASSERT_TRUE(WriteBytes(legacy + name, std::vector<uint8_t>(body.begin(), body.end())));
  const int before = knownJobs().count();
  EXPECT_EQ(ScanSpoolFolder(), 1);
  ASSERT_EQ(knownJobs().count(), before + 1);
  EXPECT_EQ(knownJobs().jobs().back().name, name.toStdString());
  EXPECT_EQ(TagOf(page(before + 1, 1)), 61);
  EXPECT_EQ(ScanSpoolFolder(), 0);
  // Shadow files mean nothing on this form.
  platform::forcePlatformId(0);
  EXPECT_EQ(ScanSpoolFolder(), 0);
}

// ---- the capture pass and the timer ----

class Pass : public Watcher {
protected:
  void SetUp() override {
    Watcher::SetUp();
    ClearPageList(window);
    window.calls.clear();
    window.screenPixels = 1366;
    window.screenMm = 293;
  }
  // Waits until the worker has no pass and no thumbnail left.
  static bool settle(const CaptureWorker &worker) {
    return QTest::qWaitFor([&] { return worker.idle(); }, 60000);
  }
  FakeWindow window;
};

TEST_F(Pass, InitialPassRunsOffTheGuiThreadAndHandsItsResultsToIt) {
  RegSetInt("lvKodEstPrinters", 1);
  addJob(2, 70);
  const int before = knownJobs().count();
  CaptureWorker worker(window, QCoreApplication::instance());
  EXPECT_EQ(CaptureWorker::active(), &worker);
  worker.startInitialPass();
  EXPECT_TRUE(firstRunFlag());
  worker.waitForPass();
  // The worker has scanned and loaded, but changed neither the page list nor any window.
  EXPECT_EQ(knownJobs().count(), before + 1);
  EXPECT_EQ(pageStore().pageCount(), 0);
  EXPECT_EQ(window.count("armScanTimer"), 0);
  EXPECT_FALSE(worker.idle());
  // A timer tick before the pass has ended starts no second pass.
  addJob(1, 90);
  ScanTimerTick(window);
  ScanTimerTick(window);
  EXPECT_EQ(knownJobs().count(), before + 1);

  ASSERT_TRUE(settle(worker));
  EXPECT_FALSE(window.wrongThread);
  ASSERT_EQ(pageStore().pageCount(), 2);
  EXPECT_EQ(pageStore().currentPage, 0);
  EXPECT_EQ(window.count("renderCurrentPage"), 1);
  // Every thumbnail was made on the worker and taken in its place.
  for (const PageRecord &p : pageStore().pages) {
    EXPECT_FALSE(p.thumbnailPending);
    EXPECT_EQ(p.thumbnail.size(), QSize(p.thumbW, p.thumbH));
  }
  EXPECT_EQ(window.count("armScanTimer"), 1);
  EXPECT_EQ(window.timerId, 111);
  EXPECT_EQ(window.timerMs, 500);
  EXPECT_EQ(window.count("scrollStripToEnd"), 0); // the first pass does not scroll
  EXPECT_FALSE(firstRunFlag());
  EXPECT_EQ(displayResolution(), 119);
  EXPECT_EQ(pageStore().pages[0].document, "doc");

  // From now on every second tick runs a pass; a later pass scrolls the strip to its end and arms nothing.
  window.calls.clear();
  ScanTimerTick(window);
  if (!blinkFlag())
    ScanTimerTick(window);
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(knownJobs().count(), before + 2);
  EXPECT_EQ(pageStore().pageCount(), 3);
  EXPECT_EQ(window.count("scrollStripToEnd"), 1);
  EXPECT_EQ(window.count("armScanTimer"), 0);
  EXPECT_EQ(window.count("renderCurrentPage"), 0);
  EXPECT_TRUE(QDir(work()).entryList({"*.emf"}).isEmpty());
  // A pass without news neither loads nor scrolls.
  window.calls.clear();
  EXPECT_EQ(CaptureTick(window), 0);
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(pageStore().pageCount(), 3);
  EXPECT_EQ(window.count("scrollStripToEnd"), 0);
}

TEST_F(Pass, FirstPassWithNoJobStillArmsTheTimer) {
  CaptureWorker worker(window, QCoreApplication::instance());
  worker.startInitialPass();
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(window.count("armScanTimer"), 1);
  EXPECT_EQ(window.count("scrollStripToEnd"), 0);
  EXPECT_FALSE(firstRunFlag());
  // Later passes do not arm it again.
  CaptureTick(window);
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(window.count("armScanTimer"), 1);
}

TEST_F(Pass, EverySecondTickRunsAPassAndTheLampIsRepaintedOnEvery) {
  RegSetInt("lvKodEstPrinters", 1);
  CaptureWorker worker(window, QCoreApplication::instance());
  // Bring the blink flag to "clear" so the next tick is a scanning one.
  if (blinkFlag())
    ScanTimerTick(window);
  addJob(1, 1);
  const int before = knownJobs().count();
  window.calls.clear();
  ScanTimerTick(window); // blink set: scans
  EXPECT_TRUE(blinkFlag());
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(knownJobs().count(), before + 1);
  addJob(1, 2);
  ScanTimerTick(window); // blink clear: no scan
  EXPECT_FALSE(blinkFlag());
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(knownJobs().count(), before + 1);
  ScanTimerTick(window);
  ASSERT_TRUE(settle(worker));
  EXPECT_EQ(knownJobs().count(), before + 2);
  EXPECT_EQ(window.count("repaintPrinterButton"), 3);
}

TEST_F(Pass, ReadinessFollowsThePrinterCode) {
  auto ticks = [&](int n) {
    window.calls.clear();
    for (int i = 0; i < n; ++i)
      ScanTimerTick(window);
    return window.count("repaintReadinessArea");
  };
  RegSetInt("lvKodEstPrinters", 0);
  EXPECT_EQ(ticks(3), 3); // at 0: every tick
  EXPECT_EQ(readinessState(), kNotReady);
  RegSetInt("lvKodEstPrinters", 1);
  EXPECT_EQ(ticks(3), 1); // at 1: on the change only
  EXPECT_EQ(readinessState(), kReady);
  RegSetInt("lvKodEstPrinters", 2);
  EXPECT_EQ(ticks(3), 1);
  EXPECT_EQ(readinessState(), kPartlyReady);
  RegSetInt("lvKodEstPrinters", 5);
  EXPECT_EQ(ticks(2), 0);
  // Missing reads as -1: not ready, repainted every tick.
  auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->remove("lvKodEstPrinters"));
  EXPECT_EQ(ticks(2), 2);
  EXPECT_EQ(readinessState(), kNotReady);
}

TEST_F(Pass, AWorkerDestroyedBeforeItsGuiPartFreesThePass) {
  // Destroying the worker before the GUI part ran drops that part and frees the pass for the next worker.
  addJob(1, 5);
  {
    CaptureWorker worker(window, QCoreApplication::instance());
    worker.startInitialPass();
    worker.waitForPass();
  }
  EXPECT_EQ(CaptureWorker::active(), nullptr);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.count("armScanTimer"), 0);
  EXPECT_FALSE(firstRunFlag());
  EXPECT_EQ(pageStore().pageCount(), 0);
  EXPECT_EQ(CaptureTick(window), 0); // no worker: nothing happens
  CaptureWorker next(window, QCoreApplication::instance());
  EXPECT_TRUE(next.startPass());
  ASSERT_TRUE(settle(next));
  EXPECT_FALSE(window.wrongThread);
}

TEST_F(Pass, SpoolJobsWhosePagesWereTakenAreListedForCancellingAfreshEachRun) {
  using platform::CapturedJob;
  ASSERT_TRUE(platform::recordCapturedJob({CapturedJob::Kind::Cups, "Earlier", 3, ""})); // from an earlier run
  const QString taken = addJob(1, 40);
  const QString name = QString("Z%1").arg(++serial_);
  ASSERT_TRUE(WriteBytes(spool_ + name + ".SHD", {1, 2, 3})); // no spool data: no page is taken
  {
    CaptureWorker worker(window, QCoreApplication::instance());
    worker.startInitialPass();
    ASSERT_TRUE(settle(worker));
  }
  EXPECT_EQ(platform::capturedJobs(), (std::vector<CapturedJob>{{CapturedJob::Kind::Spool, "", 0,
                                                                 QFileInfo(taken).absoluteFilePath().toStdString()}}));
}
