// The monitor against a private CUPS server (started by cupsd-start.sh with two raw printers on /dev/null:
// FolvexOne ready, FolvexTwo paused). Skips when the server could not be started.
#include "test_env.h"

#include "monitor/monitor_core.h"
#include "monitor/printer_settings.h"

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

namespace {

using namespace monitor;

class CupsMonitor : public MonitorEnv {
protected:
  void SetUp() override {
    MonitorEnv::SetUp();
    const QString dir = qEnvironmentVariable("FOLVEX_CUPSD_DIR");
    QString socket;
    if (QFile server(dir + QStringLiteral("/server")); server.open(QIODevice::ReadOnly))
      socket = QString::fromUtf8(server.readAll()).trimmed();
    if (dir.isEmpty() || QFile::exists(dir + QStringLiteral("/skip")) || socket.isEmpty() ||
        !QFileInfo::exists(socket)) {
      QFile skip(dir + QStringLiteral("/skip"));
      const QString why = skip.open(QIODevice::ReadOnly) ? QString::fromUtf8(skip.readAll()).trimmed()
                                                         : QStringLiteral("no private cupsd for this run");
      GTEST_SKIP() << "CUPS integration skipped: " << why.toStdString();
    }
    qputenv("CUPS_SERVER", socket.toLocal8Bit());
    spooler_ = platform::makeCupsSpooler();
    // Every test starts from the fixture's state.
    ASSERT_TRUE(spooler_->resumePrinter("FolvexOne"));
    ASSERT_TRUE(spooler_->pausePrinter("FolvexTwo"));
    cancelAll("FolvexOne");
    cancelAll("FolvexTwo");
  }
  void TearDown() override {
    if (spooler_) {
      spooler_->resumePrinter("FolvexOne");
      spooler_->pausePrinter("FolvexTwo");
      cancelAll("FolvexOne");
      cancelAll("FolvexTwo");
    }
    MonitorEnv::TearDown();
  }
  void cancelAll(const std::string &printer) {
    if (auto jobs = spooler_->enumJobs(printer))
      for (const auto &j : *jobs)
        spooler_->setJob(printer, j.jobId, platform::JobControl::Delete);
  }
  uint32_t status(const std::string &printer) {
    const platform::PrinterRead r = spooler_->getPrinter(printer);
    EXPECT_EQ(r.error, platform::SpoolError::None);
    return r.info.status;
  }
  static void submit(const std::string &printer, const QString &title) {
    QProcess lp;
    lp.start(QStringLiteral("lp"), {QStringLiteral("-d"), QString::fromStdString(printer), QStringLiteral("-t"), title,
                                    QStringLiteral("-o"), QStringLiteral("raw"), QStringLiteral("-")});
    ASSERT_TRUE(lp.waitForStarted(5000));
    lp.write("sample page\n");
    lp.closeWriteChannel();
    ASSERT_TRUE(lp.waitForFinished(10000));
    ASSERT_EQ(lp.exitCode(), 0) << lp.readAllStandardError().toStdString();
  }
  MonitorCore::Hooks hooks() {
    return {[this](const Notice &n) { notices_.push_back(n.text.toStdString()); }, [] { return false; }};
  }
  std::unique_ptr<platform::Spooler> spooler_;
  std::vector<std::string> notices_;
};

TEST_F(CupsMonitor, ListsQueuesWithTheirRecordsAndJobs) {
  const auto local = spooler_->enumPrinters(platform::PrinterEnum::Local);
  EXPECT_NE(std::find(local.begin(), local.end(), "FolvexOne"), local.end());
  EXPECT_NE(std::find(local.begin(), local.end(), "FolvexTwo"), local.end());
  EXPECT_TRUE(spooler_->enumPrinters(platform::PrinterEnum::Connections).empty());
  EXPECT_FALSE(spooler_->openPrinter("NoSuchQueue"));
  EXPECT_EQ(spooler_->getPrinter("NoSuchQueue").error, platform::SpoolError::Open);

  submit("FolvexTwo", QStringLiteral("held report"));
  MonitorCore core(*spooler_, Mode::Work, hooks());
  core.initialise();
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(core.code(), 1) << "root may administer both queues";
  EXPECT_EQ(readKodEstPrinters(), 1);

  const auto &rows = core.printerRows();
  auto row = [&](const std::string &name) {
    return std::find_if(rows.begin(), rows.end(), [&](const PrinterRow &r) { return r.name == name; });
  };
  ASSERT_NE(row("FolvexOne"), rows.end());
  ASSERT_NE(row("FolvexTwo"), rows.end());
  EXPECT_EQ(row("FolvexOne")->status, "Ready");
  EXPECT_EQ(row("FolvexTwo")->status, "Paused");
  EXPECT_EQ(row("FolvexOne")->port, "file:///dev/null");
  EXPECT_EQ(row("FolvexOne")->image, ImgPlus);
  EXPECT_FALSE(row("FolvexOne")->response.empty());

  core.refreshTick();
  EXPECT_EQ(row("FolvexTwo")->documents, "1");
  EXPECT_EQ(row("FolvexOne")->documents, "0");

  core.clickPrinterRows({static_cast<int>(row("FolvexTwo") - rows.begin())});
  ASSERT_EQ(core.jobs().size(), 1u);
  EXPECT_EQ(core.jobs()[0].document, "held report");
  EXPECT_EQ(core.jobs()[0].port, "file:///dev/null");
  EXPECT_FALSE(core.jobs()[0].submitted.empty());
  EXPECT_TRUE(core.buttons().resume);
  EXPECT_FALSE(core.buttons().setToPause);
  EXPECT_TRUE(core.buttons().cancelAll);
}

TEST_F(CupsMonitor, PauseResumeAndCancelReachTheServer) {
  MonitorCore core(*spooler_, Mode::Work, hooks());
  core.initialise();
  const auto &rows = core.printerRows();
  const auto one = std::find_if(rows.begin(), rows.end(), [](const PrinterRow &r) { return r.name == "FolvexOne"; });
  ASSERT_NE(one, rows.end());
  core.clickPrinterRows({static_cast<int>(one - rows.begin())});
  ASSERT_TRUE(core.buttons().setToPause);

  core.setToPause();
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(status("FolvexOne") & platform::PRINTER_STATUS_PAUSED);
  EXPECT_TRUE(core.pausedQuery("FolvexOne"));
  core.resume();
  EXPECT_FALSE(status("FolvexOne") & platform::PRINTER_STATUS_PAUSED);
  EXPECT_EQ(one->status, "Ready");

  // Jobs wait on the paused queue; cancelling one leaves the other, cancelling all leaves none.
  submit("FolvexTwo", QStringLiteral("first"));
  submit("FolvexTwo", QStringLiteral("second"));
  const auto two = std::find_if(rows.begin(), rows.end(), [](const PrinterRow &r) { return r.name == "FolvexTwo"; });
  core.clickPrinterRows({static_cast<int>(two - rows.begin())});
  ASSERT_EQ(core.jobs().size(), 2u);
  core.clickJobRows({0});
  core.cancelCurrentDocument();
  auto left = spooler_->enumJobs("FolvexTwo");
  ASSERT_TRUE(left);
  ASSERT_EQ(left->size(), 1u);
  EXPECT_EQ(left->front().document, "second");
  core.cancelAllDocuments(static_cast<int>(two - rows.begin()));
  EXPECT_TRUE(core.jobs().empty());
  EXPECT_TRUE(spooler_->enumJobs("FolvexTwo")->empty());
}

TEST_F(CupsMonitor, SetAndRefreshModesChangeAndRestoreTheQueues) {
  {
    // First run: lvFXPrn.ini records the queues as they are, lvFXPrnNew.ini all paused; "set" pauses FolvexOne.
    MonitorCore core(*spooler_, Mode::Set, hooks());
    const MonitorCore::InitResult r = core.initialise();
    EXPECT_TRUE(r.closeNow);
    EXPECT_EQ(r.closeTimerMs, 5000);
    core.recordPreparedSettings();
  }
  EXPECT_NE(readAll(defaultFile()).find("FolvexOne\nFALSE\nfile:///dev/null\n"), std::string::npos);
  EXPECT_NE(readAll(defaultFile()).find("FolvexTwo\nTRUE\nfile:///dev/null\n"), std::string::npos);
  EXPECT_NE(readAll(preparedFile()).find("FolvexOne\nTRUE\n"), std::string::npos);
  EXPECT_TRUE(status("FolvexOne") & platform::PRINTER_STATUS_PAUSED);
  EXPECT_TRUE(status("FolvexTwo") & platform::PRINTER_STATUS_PAUSED);

  {
    MonitorCore core(*spooler_, Mode::Refresh, hooks());
    EXPECT_TRUE(core.initialise().closeNow);
    core.recordPreparedSettings();
  }
  EXPECT_FALSE(status("FolvexOne") & platform::PRINTER_STATUS_PAUSED);
  EXPECT_TRUE(status("FolvexTwo") & platform::PRINTER_STATUS_PAUSED);

  // delete_all cancels the held jobs of every saved printer.
  submit("FolvexTwo", QStringLiteral("held"));
  {
    MonitorCore core(*spooler_, Mode::DeleteAll, hooks());
    EXPECT_TRUE(core.initialise().closeNow);
  }
  EXPECT_TRUE(spooler_->enumJobs("FolvexTwo")->empty());
  EXPECT_TRUE(notices_.empty());
}

TEST_F(CupsMonitor, AUserWithoutAdministerRightsGetsTheConditionalCodeAndChangesNothing) {
  const QString qvt = QStringLiteral(FOLVEX_BIN_DIR "/qvt");
  const QString runuser = QStringLiteral("/usr/sbin/runuser");
  if (!QFileInfo(qvt).isExecutable() || !QFileInfo(runuser).isExecutable())
    GTEST_SKIP() << "needs qvt and runuser";
  // A folder of the unprivileged user's own for its registry and files.
  QTemporaryDir home(QStringLiteral("/tmp/folvex-nobody-XXXXXX"));
  ASSERT_TRUE(home.isValid());
  for (const char *sub : {"reg", "run", "data", "tmp", "config"})
    QDir().mkpath(home.path() + QLatin1Char('/') + QString::fromLatin1(sub));
  QProcess chown;
  chown.start(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("nobody"), home.path()});
  ASSERT_TRUE(chown.waitForFinished(10000));
  ASSERT_EQ(chown.exitCode(), 0);
  QFile::setPermissions(home.path(),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther | QFile::ReadOther);
  QFile::setPermissions(home.path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  QStringList env;
  for (const auto &[name, sub] :
       std::initializer_list<std::pair<const char *, const char *>>{{"FOLVEX_REGISTRY_DIR", "reg"},
                                                                    {"XDG_RUNTIME_DIR", "run"},
                                                                    {"XDG_DATA_HOME", "data"},
                                                                    {"TMPDIR", "tmp"},
                                                                    {"XDG_CONFIG_HOME", "config"},
                                                                    {"HOME", ""}})
    env << QString::fromLatin1(name) + QLatin1Char('=') + home.path() + QLatin1Char('/') + QString::fromLatin1(sub);
  env << QStringLiteral("CUPS_SERVER=") + qEnvironmentVariable("CUPS_SERVER")
      << QStringLiteral("QT_QPA_PLATFORM=offscreen") << QStringLiteral("FOLVEX_QUIT_AFTER_MS=300");
  // "set" as that user: the queues cannot be administered, so nothing changes and the program ends by itself.
  QProcess run;
  run.start(runuser,
            QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), QStringLiteral("env")} +
                env + QStringList{qvt, QStringLiteral("set")});
  ASSERT_TRUE(run.waitForStarted(5000));
  ASSERT_TRUE(run.waitForFinished(30000)) << "qvt did not end";
  EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
  QFile hive(home.path() + QStringLiteral("/reg/user.reg"));
  ASSERT_TRUE(hive.open(QIODevice::ReadOnly));
  EXPECT_TRUE(hive.readAll().contains("\"lvKodEstPrinters\"=dword:00000002"));
  EXPECT_FALSE(status("FolvexOne") & platform::PRINTER_STATUS_PAUSED);
}

TEST(CupsNoServer, NoReachableServerMeansNoPrintersWithoutWaiting) {
  const QByteArray saved = qgetenv("CUPS_SERVER");
  qputenv("CUPS_SERVER", "/nonexistent/folder/cups.sock");
  auto spooler = platform::makeCupsSpooler();
  EXPECT_TRUE(spooler->enumPrinters(platform::PrinterEnum::Local).empty());
  EXPECT_TRUE(spooler->enumPrinters(platform::PrinterEnum::Connections).empty());
  EXPECT_FALSE(spooler->openPrinter("FolvexOne"));
  EXPECT_FALSE(spooler->enumJobs("FolvexOne"));
  EXPECT_FALSE(spooler->pausePrinter("FolvexOne"));
  qputenv("CUPS_SERVER", saved);
}

} // namespace
