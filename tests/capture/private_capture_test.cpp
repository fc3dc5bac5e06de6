// Capture in a hostile or failing world: a work folder planted by someone else, special files in the spool folder,
// something else holding the program's socket name, a full disk. The capture passes and the program itself are
// driven as the user would run them.
#include "app/frame_win.h"
#include "capture/capture_worker.h"
#include "capture/page_store.h"
#include "capture/spool_watcher.h"
#include "capture/spool_writer.h"
#include "capture_support.h"
#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "render/rasteriser.h"
#include "settings/settings.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace capture;
using namespace capture_test;

namespace {

mode_t modeOf(const QString &path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class HostileWorld : public CaptureEnv {
protected:
  void SetUp() override {
    CaptureEnv::SetUp();
    spool_ = QString::fromStdString(platform::ntSpoolFolder());
    ClearPageList(window_);
    setFirstRunFlag(false);
  }
  // A job of one page tagged `tag`; returns its name (without extension).
  QString addJob(uint32_t tag, std::vector<uint8_t> page = {}) {
    const QString name = QString("H%1").arg(++serial_, 4, 10, QLatin1Char('0'));
    if (page.empty())
      page = MakeEmf(210, 297, tag);
    EXPECT_TRUE(WriteSpoolJob((spool_ + name + ".SPL").toStdString(), {page}, "doc", true));
    return name;
  }
  // One capture pass through a window's capture worker, as the scan timer starts it; waits for the pass and its
  // thumbnails.
  static void pass(CaptureWindow &window, const CaptureWorker &worker) {
    CaptureTick(window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return worker.idle(); }, 30000));
  }
  // Runs the program with this test's folders until it ends by itself (true) or `ms` pass (false: it is killed).
  bool runProgram(int quitAfterMs, int ms, QByteArray *errors = nullptr) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("FOLVEX_QUIT_AFTER_MS", QString::number(quitAfterMs));
    env.insert("CUPS_SERVER", root() + "/no-cups.sock");
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FOLVEX_PROGRAM), {});
    if (!p.waitForStarted(10000))
      return false;
    const bool ended = p.waitForFinished(ms);
    if (!ended) {
      p.kill();
      p.waitForFinished(5000);
    }
    if (errors)
      *errors = p.readAllStandardError();
    return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  }
  void writeMachineHiveWithoutMonitor() {
    // No "InstallPath": the program starts no printer monitor of the build.
    ASSERT_TRUE(WriteBytes(root() + "/reg/machine.reg", {'R', 'E', 'G', 'E', 'D', 'I', 'T', '4', '\n'}));
  }

  QString spool_;
  FakeWindow window_;
  static inline int serial_ = 0;
};

// One page whose picture, a PNG inside a stretched bitmap record, is cut short after its header (as a damaged print
// job may hold it): the page renders without the picture.
std::vector<uint8_t> PageWithDamagedPng() {
  QImage picture(6, 4, QImage::Format_ARGB32);
  picture.fill(qRgba(20, 90, 200, 255));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "PNG");
  png.truncate(44);
  std::vector<uint8_t> page = MakeEmf(210, 297, 7);
  page.resize(page.size() - 20); // the end record comes back after the bitmap
  std::vector<uint8_t> r;
  put32(r, 81); // EMR_STRETCHDIBITS
  put32(r, uint32_t(80 + 40 + png.size()));
  for (uint32_t v : {0u, 0u, 100u, 100u, 0u, 0u, 0u, 0u, 6u, 4u}) // bounds, dest, src, src size
    put32(r, v);
  for (uint32_t v : {80u, 40u, 120u, uint32_t(png.size()), 0u, 0x00CC0020u, 100u, 100u})
    put32(r, v);
  for (uint32_t v : {40u, 6u, 4u, 0x00000001u, 5u, uint32_t(png.size()), 0u, 0u, 0u, 0u}) // header, BI_PNG
    put32(r, v);
  r.insert(r.end(), png.begin(), png.end());
  page.insert(page.end(), r.begin(), r.end());
  for (uint32_t v : {14u, 20u, 0u, 16u, 20u})
    put32(page, v);
  const uint32_t total = uint32_t(page.size());
  std::memcpy(page.data() + 48, &total, 4); // nBytes
  const uint32_t records = 3;
  std::memcpy(page.data() + 52, &records, 4);
  return page;
}

} // namespace

TEST_F(HostileWorld, PlantedWorkFolderIsAvoidedAndEverythingMadeIsPrivate) {
  // No runtime folder: the shared temporary folder, where another user got there first. Both the folder older
  // versions used and the per-user one hold links to the user's own file and a page of the intruder's.
  qunsetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_CACHE_HOME", (root() + "/cache").toLocal8Bit());
  const QString victim = root() + "/data/precious.txt";
  ASSERT_TRUE(WriteBytes(victim, {'m', 'i', 'n', 'e'}));
  const QString job = addJob(11);
  const QString shared = root() + "/tmp/Folvex2-" + QString::number(::geteuid());
  for (const QString &planted : {root() + "/tmp/Folvex2", shared, shared + "/Folvex2"}) {
    ASSERT_TRUE(QDir().mkpath(planted));
    for (const QString &name : {QString("~CurImg.jpg"), QString("1-0001.emf"), job + ".SPL"})
      ASSERT_TRUE(QFile::link(victim, planted + "/" + name));
    ASSERT_TRUE(WriteBytes(planted + "/9-0001.emf", MakeEmf(210, 297, 666)));
    ::chmod(QFile::encodeName(planted).constData(), 0777);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
    }
  }
  const CaptureWorker worker(window_, QCoreApplication::instance());
  pass(window_, worker);
  ASSERT_EQ(pageStore().pageCount(), 1) << "only the job's own page, no page of the intruder's";
  // The window renders the new current page (the main frame does when asked), which writes the current image file.
  ASSERT_EQ(window_.count("renderCurrentPage"), 1);
  render::RenderPage(100.0, pageStore().pages[0].metafile, 0);
  EXPECT_EQ(TagOf(victim), -1);
  EXPECT_EQ(ReadAll(victim), "mine") << "no link was written through";

  const QString work = QString::fromStdString(platform::workFolder());
  EXPECT_TRUE(work.startsWith(root() + "/cache/")) << work.toStdString();
  for (QString dir = work; dir.startsWith(root() + "/cache/"); dir = QFileInfo(dir).path()) {
    while (dir.endsWith('/'))
      dir.chop(1);
    EXPECT_EQ(modeOf(dir), 0700u) << dir.toStdString();
  }
  const QStringList made = QDir(work).entryList(QDir::Files);
  EXPECT_TRUE(made.contains("~CurImg.jpg") && made.contains(job + ".SPL")) << made.join(' ').toStdString();
  for (const QString &name : made)
    EXPECT_EQ(modeOf(work + name), 0600u) << name.toStdString();
}

TEST_F(HostileWorld, ProgramQuitsInTimeAndQuietlyWithSpecialFilesInTheSpoolFolder) {
  writeMachineHiveWithoutMonitor();
  // A job whose page holds a damaged PNG picture, then jobs whose spool data or shadow file is a FIFO.
  addJob(0, PageWithDamagedPng());
  ASSERT_EQ(::mkfifo(QFile::encodeName(spool_ + "00009.SPL").constData(), 0600), 0);
  ASSERT_TRUE(WriteBytes(spool_ + "00009.SHD", {1, 2, 3}));
  ASSERT_EQ(::mkfifo(QFile::encodeName(spool_ + "00010.SHD").constData(), 0600), 0);
  QByteArray errors;
  EXPECT_TRUE(runProgram(1500, 20000, &errors)) << "the program did not end by itself within 20 s";
  EXPECT_FALSE(errors.contains("libpng")) << errors.toStdString();
  // It did capture the job it could read, and ended as usual: the placement is stored.
  EXPECT_GT(RegGetInt("lvWinBottom"), 0);
}

TEST_F(HostileWorld, ProgramRunsWhenSomethingElseHoldsItsSocketName) {
  writeMachineHiveWithoutMonitor();
  // Where its socket belongs, a folder with something in it: it cannot be removed and is no socket.
  const QString name = platform::windowSocketName(QString::fromLatin1(kFrameTitle));
  ASSERT_TRUE(QDir().mkpath(name + "/inside"));
  QByteArray errors;
  EXPECT_TRUE(runProgram(800, 20000, &errors));
  EXPECT_GT(RegGetInt("lvWinBottom"), 0) << "it ran to its end instead of taking itself for a second copy";
  EXPECT_TRUE(errors.contains(QFile::encodeName(name))) << "the reason is told: " << errors.toStdString();

  // Without a runtime folder the socket does not go into the shared temporary folder, where another user may
  // have left anything under the name older versions used.
  if (::geteuid() == 0) {
    qunsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(::chmod(QFile::encodeName(root() + "/tmp").constData(), 01777), 0);
    const QString old = root() + "/tmp/" + QFileInfo(name).fileName();
    ASSERT_TRUE(WriteBytes(old, {'x'}));
    ASSERT_EQ(::chown(QFile::encodeName(old).constData(), 65534, 65534), 0);
    ASSERT_TRUE(RegSetInt("lvWinBottom", 0));
    EXPECT_TRUE(runProgram(800, 20000));
    EXPECT_GT(RegGetInt("lvWinBottom"), 0);
  }
}

// The main frame, counting what its status line is told.
class CountingFrame : public lvFrameWin {
public:
  int told = 0;
  void showStatusNotice(const QString &text) override {
    ++told;
    lvFrameWin::showStatusNotice(text);
  }
};

TEST_F(HostileWorld, FullDiskHoldsJobAndSettingsBackTellsOnceAndCatchesUp) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "mounting a small file system to fill needs the superuser";
  // The work folder and the settings on a small file system of their own, in this program's own mount namespace.
  const QString small = root() + "/run";
  if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k,mode=0700") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  struct Unmount {
    QByteArray at;
    ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
  } unmount{QFile::encodeName(small)};
  qputenv("FOLVEX_REGISTRY_DIR", (small + "/reg").toLocal8Bit());
  ASSERT_TRUE(RegSetInt("JPG_Quality", 80));
  CountingFrame frame;
  const auto settle = [] { QCoreApplication::processEvents(); };

  // Fill the disk.
  const QString filler = small + "/filler";
  {
    QFile f(filler);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size() && f.flush()) {
    }
  }
  // Settings writes fail: the hive stays as it was, and the status line says once that the disk is full.
  EXPECT_FALSE(RegSetInt("JPG_Quality", 70));
  EXPECT_FALSE(RegSetInt("JPG_Quality", 60));
  settle();
  EXPECT_EQ(frame.told, 1);
  EXPECT_TRUE(frame.statusNotice().contains("Settings not saved: the disk is full (ENOSPC)."))
      << frame.statusNotice().toStdString();
  EXPECT_EQ(RegGetInt("JPG_Quality"), 80);
  EXPECT_EQ(QDir(small + "/reg").entryList(QDir::Files), QStringList({"user.reg", "user.reg.lock"}));

  // A job arrives: it waits, and the status line tells so once.
  const QString job = addJob(42);
  const int before = knownJobs().count();
  pass(frame, *frame.captureWorker());
  pass(frame, *frame.captureWorker());
  EXPECT_EQ(knownJobs().count(), before);
  EXPECT_EQ(pageStore().pageCount(), 0);
  EXPECT_EQ(frame.told, 2);
  EXPECT_TRUE(frame.statusNotice().contains("Print job " + job + " waits: the disk is full (ENOSPC)."))
      << frame.statusNotice().toStdString();

  // Space again: settings are written, the job is captured with the number it would have had, the notices go.
  ASSERT_TRUE(QFile::remove(filler));
  EXPECT_TRUE(RegSetInt("JPG_Quality", 70));
  EXPECT_EQ(RegGetInt("JPG_Quality"), 70);
  pass(frame, *frame.captureWorker());
  settle();
  EXPECT_EQ(knownJobs().count(), before + 1);
  ASSERT_EQ(pageStore().pageCount(), 1);
  EXPECT_EQ(pageStore().pages[0].name, std::to_string(before + 1) + "-0001.emf");
  EXPECT_EQ(frame.statusNotice(), QString());
  EXPECT_EQ(frame.told, 4);
  ClearPageList(frame);
}
