// Printing into Folvex against a private CUPS server (started by the monitor's cupsd-start.sh in a folder of its
// own): the queue the documented command adds, jobs of each document kind becoming pages in the running main
// window, another user's job left alone, a job that cannot be converted named and left, a server that hangs or
// goes away survived. Skips when the server could not be started.
#include "app/frame_commands.h"
#include "app/frame_win.h"
#include "app/monitor_link.h"
#include "app/prompts.h"
#include "capture/cups_capture.h"
#include "capture/page_store.h"
#include "capture/spool_watcher.h"
#include "output/export.h"
#include "output/messages.h"
#include "platform/captured_jobs.h"
#include "platform/cups_jobs.h"
#include "platform/paths.h"
#include "render/image_library.h"
#include "render/resolution.h"
#include "settings/settings.h"
#include "view/page_strip.h"

#include <Magick++.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace {

QString g_dir; // the private server's folder

struct Result {
  int code = -1;
  QString out;
};

// Runs a program to its end; stdinFile (when given) is its standard input.
Result run(const QString &program, const QStringList &args, const QString &stdinFile = {}) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (!stdinFile.isEmpty())
    p.setStandardInputFile(stdinFile);
  p.start(program, args);
  Result r;
  if (!p.waitForStarted(10000) || !p.waitForFinished(60000))
    return r;
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAll());
  return r;
}

// "request id is Folvex-17 (1 file(s))" gives 17.
uint32_t jobIdOf(const Result &lp) {
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("-(\\d+) \\(")).match(lp.out);
  return m.hasMatch() ? m.captured(1).toUInt() : 0;
}

QSizeF pdfinfoSize(const QString &pdf, int page) {
  const Result r = run(QStringLiteral("pdfinfo"),
                       {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page), pdf});
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(r.out);
  return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

class PrintIntoFolvex : public ::testing::Test {
protected:
  void SetUp() override {
    if (!QFile::exists(g_dir + QStringLiteral("/pid")) || QFile::exists(g_dir + QStringLiteral("/skip"))) {
      QFile skip(g_dir + QStringLiteral("/skip"));
      const QString why = skip.open(QIODevice::ReadOnly) ? QString::fromUtf8(skip.readAll()).trimmed()
                                                         : QStringLiteral("no private cupsd for this run");
      GTEST_SKIP() << "CUPS integration skipped: " << why.toStdString();
    }
    ASSERT_TRUE(work_.isValid());
    for (const char *d : {"tmp", "reg", "data"})
      ASSERT_TRUE(QDir(work_.path()).mkpath(d));
    qputenv("TMPDIR", (work_.path() + "/tmp").toLocal8Bit());
    qputenv("FOLVEX_REGISTRY_DIR", (work_.path() + "/reg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (work_.path() + "/data").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (work_.path() + "/data").toLocal8Bit());
    RegSetInt("lvKodEstPrinters", 1); // the printer monitor found acceptable printers
    if (!queueAdded_) {
      // The documented command, against this server (lpadmin finds it through CUPS_SERVER).
      const Result add = run(QStringLiteral("sh"), {QStringLiteral(FOLVEX_SOURCE_DIR "/scripts/add-folvex-queue.sh")});
      ASSERT_EQ(add.code, 0) << add.out.toStdString();
      queueAdded_ = true;
    }
    purgeJobs();
    frame_ = std::make_unique<lvFrameWin>();
    frame_->show();
    frame_->resize(900, 700);
    frame_->startInitialCapture();
  }
  void TearDown() override {
    if (frame_) {
      frame_->strip()->scanTimer().stop();
      capture::ClearPageList(*frame_);
      frame_.reset();
    }
    purgeJobs();
  }
  static void purgeJobs() { run(QStringLiteral("cancel"), {QStringLiteral("-a"), QStringLiteral("-x")}); }
  QString file(const QString &name) const { return work_.path() + "/" + name; }
  uint32_t print(const QStringList &args) {
    const Result lp = run(QStringLiteral("lp"), QStringList{QStringLiteral("-d"), QStringLiteral("Folvex")} + args);
    EXPECT_EQ(lp.code, 0) << lp.out.toStdString();
    return jobIdOf(lp);
  }
  static int pages() { return capture::pageStore().pageCount(); }
  static std::vector<uint32_t> capturedIds() {
    std::vector<uint32_t> ids;
    for (const platform::CapturedJob &j : platform::capturedJobs())
      if (j.kind == platform::CapturedJob::Kind::Cups && j.printer == "Folvex")
        ids.push_back(j.jobId);
    return ids;
  }
  static bool held(uint32_t id) {
    const Result r = run(QStringLiteral("lpstat"), {QStringLiteral("-o"), QStringLiteral("Folvex")});
    return r.out.contains(QStringLiteral("Folvex-%1 ").arg(id));
  }

  static inline bool queueAdded_ = false;
  QTemporaryDir work_;
  std::unique_ptr<lvFrameWin> frame_;
};

} // namespace

TEST_F(PrintIntoFolvex, TheQueueIsPausedAcceptsJobsAndOffersA4AndLetter) {
  platform::CupsJobs cups;
  std::vector<platform::CupsQueue> queues;
  ASSERT_EQ(cups.queues(queues), platform::CupsStatus::Ok);
  const auto q = std::find_if(queues.begin(), queues.end(), [](const auto &x) { return x.name == "Folvex"; });
  ASSERT_NE(q, queues.end());
  EXPECT_TRUE(q->paused);
  EXPECT_EQ(q->mediaDefault, "iso_a4_210x297mm");
  const Result accepting = run(QStringLiteral("lpstat"), {QStringLiteral("-a"), QStringLiteral("Folvex")});
  EXPECT_TRUE(accepting.out.contains(QStringLiteral("accepting"))) << accepting.out.toStdString();
  // Print dialogs offer the sizes the queue lists.
  http_t *http =
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
  ASSERT_TRUE(http);
  ipp_t *req = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/printers/Folvex");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "media-supported");
  ipp_t *response = cupsDoRequest(http, req, "/");
  std::vector<std::string> media;
  if (ipp_attribute_t *a = response ? ippFindAttribute(response, "media-supported", IPP_TAG_ZERO) : nullptr)
    for (int i = 0; i < ippGetCount(a); ++i)
      media.push_back(ippGetString(a, i, nullptr));
  ippDelete(response);
  httpClose(http);
  EXPECT_EQ(media, (std::vector<std::string>{"iso_a4_210x297mm", "na_letter_8.5x11in"}));
}

TEST_F(PrintIntoFolvex, JobsOfEachKindBecomePagesOfTheirSizesOnce) {
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  {
    Magick::Image png(Magick::Geometry(300, 150), Magick::Color("orange"));
    png.resolutionUnits(Magick::PixelsPerInchResolution);
    png.density(Magick::Geometry(150, 150));
    png.write("png:" + file("picture.png").toStdString());
    QFile text(file("note.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("A note of two pages.\n\fThe second page.\n");
  }
  const uint32_t idPdf = print({pdf});
  const uint32_t idPs = print({QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.ps")});
  const uint32_t idPng = print({file("picture.png")});
  const uint32_t idText = print({file("note.txt")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 7; }, 30000)) << pages();
  EXPECT_EQ(pages(), 7);
  const auto &store = capture::pageStore();
  std::vector<QSizeF> expected = {pdfinfoSize(pdf, 1), pdfinfoSize(pdf, 2)};
  expected.insert(expected.end(), {QSizeF(595, 842), QSizeF(792, 612), QSizeF(144, 72), QSizeF(595, 842),
                                   QSizeF(595, 842)}); // the text laid out for the queue's A4
  ASSERT_FALSE(expected[0].isEmpty()) << "pdfinfo gives the PDF's page sizes";
  const int firstJob = std::stoi(store.pages[0].name);
  for (int i = 0; i < 7; ++i) {
    const capture::PageRecord &p = store.pages[size_t(i)];
    ASSERT_TRUE(p.pdf) << i;
    EXPECT_NEAR(p.pdf->sizePoints().width(), expected[size_t(i)].width(), 1.0) << i;
    EXPECT_NEAR(p.pdf->sizePoints().height(), expected[size_t(i)].height(), 1.0) << i;
    EXPECT_FALSE(p.thumbnail.isNull());
  }
  // Names follow the job and page rule, one job number per print job in the order they were printed.
  EXPECT_EQ(store.pages[1].name, std::to_string(firstJob) + "-0002.pdf");
  EXPECT_EQ(store.pages[4].name, std::to_string(firstJob + 2) + "-0001.pdf");
  EXPECT_EQ(capture::PageSuffix(store.pages[6].name).substr(5), "0002");
  EXPECT_EQ(store.pages[0].document, "two-pages.pdf") << "the job's name goes with its pages (their tooltips)";
  EXPECT_EQ(store.currentPage, 0);
  // The first page is rendered as a click renders it, without holding up the window.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !store.currentImageDisplay.isNull(); }, 20000));
  // Every job is listed as captured and stays held in its queue.
  EXPECT_EQ(capturedIds(), (std::vector<uint32_t>{idPdf, idPs, idPng, idText}));
  for (uint32_t id : {idPdf, idPs, idPng, idText})
    EXPECT_TRUE(held(id)) << id;
  // Later passes do not take them again.
  QTest::qWait(2500);
  EXPECT_EQ(pages(), 7);
  EXPECT_EQ(capturedIds().size(), 4u);
}

TEST_F(PrintIntoFolvex, PagesOfAPrintedPdfSaveAsImages) {
  const uint32_t id = print({QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf")});
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 2; }, 20000)) << pages();
  // "Save to disk", the file dialog answered with a folder and a name.
  QTemporaryDir saved;
  output::setMessageHook([](const output::MessageRequest &) { return int(QMessageBox::Ok); });
  output::setDialogHook([&](QDialog &d) {
    if (auto *fd = qobject_cast<QFileDialog *>(&d)) {
      fd->setDirectory(saved.path());
      fd->selectFile(saved.filePath(QStringLiteral("Doc")));
    }
    return int(QDialog::Accepted); // the image format options, when they are asked for, as they are
  });
  EXPECT_TRUE(frame_->runCommand(frame::ID_SAVE_DISK));
  EXPECT_TRUE(QTest::qWaitFor([] { return !output::ExportRunning(); }, 60000));
  output::setDialogHook(nullptr);
  output::setMessageHook(nullptr);
  const QStringList files = QDir(saved.path()).entryList(QDir::Files, QDir::Name);
  ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
  const std::string job = capture::PageSuffix(capture::pageStore().pages[0].name).substr(0, 4);
  EXPECT_EQ(files[0].toStdString(), "Doc" + job + "-0001.jpg");
  // The pages at the current resolution: A4 portrait, then Letter landscape.
  const double r = render::CurrentResolution();
  EXPECT_EQ(QImage(saved.filePath(files[0])).size(), QSize(int(std::ceil(595 * r / 72)), int(std::ceil(842 * r / 72))));
  EXPECT_EQ(QImage(saved.filePath(files[1])).size(), QSize(int(std::ceil(792 * r / 72)), int(std::ceil(612 * r / 72))));
}

TEST_F(PrintIntoFolvex, AnotherUsersJobIsNeverTaken) {
  if (getuid() != 0)
    GTEST_SKIP() << "printing as a second user needs root";
  const QString runuser =
      QStandardPaths::findExecutable(QStringLiteral("runuser"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  if (runuser.isEmpty())
    GTEST_SKIP() << "runuser is not installed";
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  // The other user's job comes first, so the own one is taken after the other was looked at.
  const Result other = run(runuser,
                           {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), QStringLiteral("lp"),
                            QStringLiteral("-d"), QStringLiteral("Folvex")},
                           pdf);
  if (other.code != 0)
    GTEST_SKIP() << "the user nobody cannot print here: " << other.out.toStdString();
  const uint32_t otherId = jobIdOf(other);
  const uint32_t mine = print({QStringLiteral("-t"), QStringLiteral("mine"), pdf});
  ASSERT_TRUE(QTest::qWaitFor([&] { return capturedIds().size() == size_t(1); }, 20000)) << capturedIds().size();
  QTest::qWait(2500);
  EXPECT_EQ(pages(), 2);
  EXPECT_EQ(capturedIds(), std::vector<uint32_t>{mine});
  EXPECT_TRUE(held(otherId));
}

TEST_F(PrintIntoFolvex, AJobHeldInAWorkingQueueIsLeftAlone) {
  // FolvexOne is not paused: a job held there waits for its owner to release it to paper.
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  const Result held = run(QStringLiteral("lp"), {QStringLiteral("-d"), QStringLiteral("FolvexOne"),
                                                 QStringLiteral("-H"), QStringLiteral("indefinite"), pdf});
  ASSERT_EQ(held.code, 0) << held.out.toStdString();
  const uint32_t mine = print({pdf});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 2; }, 20000)) << pages();
  EXPECT_EQ(pages(), 2);
  QTest::qWait(2500);
  EXPECT_EQ(pages(), 2);
  EXPECT_EQ(capturedIds(), std::vector<uint32_t>{mine});
  EXPECT_EQ(platform::capturedJobs().size(), 1u);
}

TEST_F(PrintIntoFolvex, DeleteAllCancelsExactlyTheCapturedJobs) {
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  // A job Folvex never showed: held in a working queue.
  const Result other = run(QStringLiteral("lp"), {QStringLiteral("-d"), QStringLiteral("FolvexOne"),
                                                  QStringLiteral("-H"), QStringLiteral("indefinite"), pdf});
  ASSERT_EQ(other.code, 0) << other.out.toStdString();
  const uint32_t shown = print({pdf});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 2; }, 20000)) << pages();
  // "Delete All", answered Yes: the printer monitor is started with "delete_all" and cancels the captured jobs.
  frame::PromptHooks yes;
  yes.message = [](const frame::MessageRequest &) { return QMessageBox::Yes; };
  frame::setPromptHooks(yes);
  EXPECT_TRUE(frame_->runCommand(frame::ID_DELETE_ALL));
  frame::setPromptHooks({});
  EXPECT_EQ(pages(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !held(shown); }, 30000)) << "the captured job is cancelled";
  const Result left = run(QStringLiteral("lpstat"), {QStringLiteral("-o"), QStringLiteral("FolvexOne")});
  EXPECT_TRUE(left.out.contains(QStringLiteral("FolvexOne-%1 ").arg(jobIdOf(other)))) << left.out.toStdString();
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::capturedJobs().empty(); }, 10000));
}

TEST_F(PrintIntoFolvex, AJobThatCannotBeConvertedIsNamedAndStays) {
  QFile data(file("printer-data.prn"));
  ASSERT_TRUE(data.open(QIODevice::WriteOnly));
  data.write("\x1b%-12345X@PJL JOB\r\n\x1b"
             "E nothing a filter knows\r\n");
  data.close();
  const uint32_t id = print({QStringLiteral("-o"), QStringLiteral("raw"), QStringLiteral("-t"),
                             QStringLiteral("raw data"), file("printer-data.prn")});
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return frame_->statusNotice().contains(QStringLiteral("Print job %1").arg(id)); }, 20000))
      << frame_->statusNotice().toStdString();
  EXPECT_EQ(pages(), 0);
  EXPECT_TRUE(capturedIds().empty());
  EXPECT_TRUE(held(id));
  // It is told once; a job printed after it is taken as usual.
  const uint32_t next = print({QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 2; }, 20000)) << pages();
  EXPECT_EQ(pages(), 2);
  EXPECT_EQ(capturedIds(), std::vector<uint32_t>{next});
}

TEST_F(PrintIntoFolvex, AServerThatHangsOrGoesAwayIsSurvived) {
  QFile pidFile(g_dir + QStringLiteral("/pid"));
  ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
  const pid_t pid = pid_t(QString::fromUtf8(pidFile.readAll()).trimmed().toInt());
  pidFile.close();
  ASSERT_GT(pid, 1);
  // The window keeps answering while the server does not: count the turns of its event loop.
  int turns = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] { ++turns; });
  beat.start(100);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  QTest::qWait(4000);
  kill(pid, SIGCONT);
  EXPECT_GE(turns, 20) << "the capture passes waited for the hanging server";
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  print({pdf});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 2; }, 20000)) << pages();
  EXPECT_EQ(pages(), 2);

  // The server goes away and comes back with the same configuration (and the held jobs).
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  for (int i = 0; i < 50 && kill(pid, 0) == 0; ++i)
    QTest::qWait(100);
  turns = 0;
  QTest::qWait(2500);
  EXPECT_GE(turns, 10);
  EXPECT_EQ(frame_->readinessText()->text, QStringLiteral("Ready to process print jobs."));
  qint64 restarted = 0;
  QProcess cupsd;
  cupsd.setProgram(
      QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}));
  cupsd.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), g_dir + QStringLiteral("/etc/cupsd.conf"),
                      QStringLiteral("-s"), g_dir + QStringLiteral("/etc/cups-files.conf")});
  // Not on this program's output: ctest reads that until every writer has closed it.
  cupsd.setStandardInputFile(QProcess::nullDevice());
  cupsd.setStandardOutputFile(QProcess::nullDevice());
  cupsd.setStandardErrorFile(QProcess::nullDevice());
  ASSERT_TRUE(cupsd.startDetached(&restarted));
  ASSERT_TRUE(pidFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
  pidFile.write(QByteArray::number(restarted)); // the fixture's cleanup stops this one
  pidFile.close();
  ASSERT_TRUE(QTest::qWaitFor(
      [] { return run(QStringLiteral("lpstat"), {QStringLiteral("-r")}).out.contains("is running"); }, 10000));
  print({pdf});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages() >= 4; }, 20000)) << pages();
  EXPECT_EQ(pages(), 4);
  EXPECT_EQ(capturedIds().size(), 2u) << "the job held over the restart is not taken twice";
}

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  g_dir = qEnvironmentVariable("FOLVEX_CUPSD_DIR");
  if (QFile server(g_dir + QStringLiteral("/server")); server.open(QIODevice::ReadOnly))
    qputenv("CUPS_SERVER", server.readAll().trimmed());
  QApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
