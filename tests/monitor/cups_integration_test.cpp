// The monitor against a private CUPS server (started by cupsd-start.sh with two raw printers on /dev/null:
// FolvexOne ready, FolvexTwo paused). Skips when the server could not be started.
#include "test_env.h"

#include "monitor/monitor_core.h"
#include "monitor/monitor_dialog.h"
#include "monitor/printer_settings.h"
#include "platform/captured_jobs.h"
#include "platform/ipc.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace {

using namespace monitor;

bool isPaused(platform::Spooler &spooler, const std::string &printer) {
  const platform::PrinterRead r = spooler.getPrinter(printer);
  EXPECT_EQ(r.error, platform::SpoolError::None) << printer;
  return r.info.status & platform::PRINTER_STATUS_PAUSED;
}

class CupsMonitor : public MonitorEnv {
protected:
  void SetUp() override {
    MonitorEnv::SetUp();
    dir_ = qEnvironmentVariable("FOLVEX_CUPSD_DIR");
    QString socket;
    if (QFile server(dir_ + QStringLiteral("/server")); server.open(QIODevice::ReadOnly))
      socket = QString::fromUtf8(server.readAll()).trimmed();
    if (dir_.isEmpty() || QFile::exists(dir_ + QStringLiteral("/skip")) || socket.isEmpty() ||
        !QFileInfo::exists(socket)) {
      QFile skip(dir_ + QStringLiteral("/skip"));
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
      for (const std::string &q : added_)
        run("lpadmin", {QStringLiteral("-x"), QString::fromStdString(q)});
      spooler_->resumePrinter("FolvexOne");
      spooler_->pausePrinter("FolvexTwo");
      cancelAll("FolvexOne");
      cancelAll("FolvexTwo");
    }
    MonitorEnv::TearDown();
  }
  static int run(const char *program, const QStringList &args, QByteArray *err = nullptr) {
    QProcess p;
    p.start(QString::fromLatin1(program), args);
    if (!p.waitForStarted(5000) || !p.waitForFinished(20000))
      return -1;
    if (err)
      *err = p.readAllStandardError();
    return p.exitCode();
  }
  // A queue of the private server printing to the given device (the device need not answer).
  void addQueue(const std::string &name, const char *uri, bool paused = false) {
    QByteArray err;
    ASSERT_EQ(run("lpadmin",
                  {QStringLiteral("-p"), QString::fromStdString(name), QStringLiteral("-E"), QStringLiteral("-v"),
                   QString::fromLatin1(uri), QStringLiteral("-m"), QStringLiteral("raw")},
                  &err),
              0)
        << err.toStdString();
    added_.push_back(name);
    if (paused) {
      ASSERT_TRUE(spooler_->pausePrinter(name));
    }
  }
  void cancelAll(const std::string &printer) {
    if (auto jobs = spooler_->enumJobs(printer))
      for (const auto &j : *jobs)
        spooler_->setJob(printer, j.jobId, platform::JobControl::Delete);
  }
  bool paused(const std::string &printer) { return isPaused(*spooler_, printer); }
  uint32_t submit(const std::string &printer, const QString &title) {
    QProcess lp;
    lp.start(QStringLiteral("lp"), {QStringLiteral("-d"), QString::fromStdString(printer), QStringLiteral("-t"), title,
                                    QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-")});
    EXPECT_TRUE(lp.waitForStarted(5000));
    lp.write("%!PS\nshowpage\n");
    lp.closeWriteChannel();
    EXPECT_TRUE(lp.waitForFinished(10000));
    EXPECT_EQ(lp.exitCode(), 0) << lp.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(lp.readAllStandardOutput()); // "request id is NAME-12 (1 file(s))"
    const QString id = out.section(QLatin1Char('-'), -1).section(QLatin1Char(' '), 0, 0);
    return id.toUInt();
  }
  MonitorCore::Hooks hooks(bool answer = false) {
    return {[this](const Notice &n) { notices_.push_back(n.text.toStdString()); }, [answer] { return answer; },
            [this] { return folvexRunning_; }};
  }
  // Stops the private server (as a crash or a stop of the service would) and starts it again.
  qint64 serverPid() const {
    QFile f(dir_ + QStringLiteral("/pid"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
  }
  void stopServer() {
    const qint64 pid = serverPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; }, 10000));
  }
  void startServer() {
    qint64 pid = 0;
    QProcess cupsd;
    cupsd.setProgram(QStringLiteral("/usr/sbin/cupsd"));
    cupsd.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), dir_ + QStringLiteral("/etc/cupsd.conf"),
                        QStringLiteral("-s"), dir_ + QStringLiteral("/etc/cups-files.conf")});
    // Its output must not hold the test's own output open: the test would not end before the server.
    cupsd.setStandardInputFile(QProcess::nullDevice());
    cupsd.setStandardOutputFile(dir_ + QStringLiteral("/log/stdout"), QIODevice::Append);
    cupsd.setStandardErrorFile(dir_ + QStringLiteral("/log/stdout"), QIODevice::Append);
    ASSERT_TRUE(cupsd.startDetached(&pid));
    QFile f(dir_ + QStringLiteral("/pid"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray::number(pid));
    f.close();
    auto probe = platform::makeCupsSpooler();
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe->snapshot().reachable; }, 10000));
  }
  int rowOf(const MonitorCore &core, const std::string &name) {
    const auto &rows = core.printerRows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const PrinterRow &r) { return r.name == name; });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
  }
  // A Folvex of this test's environment, or the monitor alone, with the private server.
  static QProcessEnvironment programEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("FOLVEX_QUIT_AFTER_MS"), QStringLiteral("120000")); // no welcome screen, no waits
    return env;
  }

  QString dir_;
  std::unique_ptr<platform::Spooler> spooler_;
  std::vector<std::string> notices_;
  std::vector<std::string> added_;
  bool folvexRunning_ = false;
};

TEST_F(CupsMonitor, ListsQueuesWithTheirRecordsAndJobsInOneLook) {
  const platform::SpoolerSnapshot empty = spooler_->snapshot();
  ASSERT_TRUE(empty.reachable);
  auto named = [](const std::vector<platform::PrinterInfo2> &t, const char *n) {
    return std::find_if(t.begin(), t.end(), [&](const platform::PrinterInfo2 &p) { return p.name == n; });
  };
  ASSERT_NE(named(empty.local, "FolvexOne"), empty.local.end());
  EXPECT_EQ(named(empty.local, "FolvexTwo")->status & platform::PRINTER_STATUS_PAUSED,
            uint32_t(platform::PRINTER_STATUS_PAUSED));
  EXPECT_TRUE(empty.connections.empty());
  EXPECT_TRUE(empty.jobs.empty());
  EXPECT_EQ(spooler_->getPrinter("NoSuchQueue").error, platform::SpoolError::Open);

  const uint32_t id = submit("FolvexTwo", QStringLiteral("held report"));
  const platform::SpoolerSnapshot snap = spooler_->snapshot();
  ASSERT_EQ(snap.jobs.count("FolvexTwo"), 1u);
  const platform::JobInfo1 &job = snap.jobs.at("FolvexTwo").front();
  EXPECT_EQ(job.jobId, id);
  EXPECT_EQ(job.document, "held report");
  EXPECT_EQ(job.userName, spooler_->userName());
  EXPECT_FALSE(job.datatype.empty());

  MonitorCore core(*spooler_, Mode::Work, hooks());
  core.initialise();
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(core.code(), 1) << "root may administer both queues";
  EXPECT_EQ(readKodEstPrinters(), 1);
  const auto &rows = core.printerRows();
  const int one = rowOf(core, "FolvexOne"), two = rowOf(core, "FolvexTwo");
  ASSERT_GE(one, 0);
  ASSERT_GE(two, 0);
  EXPECT_EQ(rows[one].status, "Ready");
  EXPECT_EQ(rows[two].status, "Paused");
  EXPECT_EQ(rows[one].port, "file:///dev/null");
  EXPECT_EQ(rows[one].image, ImgPlus);

  core.refreshTick();
  EXPECT_EQ(rows[two].documents, "1");
  EXPECT_EQ(rows[one].documents, "0");
  core.clickPrinterRows({two});
  ASSERT_EQ(core.jobs().size(), 1u);
  EXPECT_EQ(core.jobs()[0].document, "held report");
  EXPECT_EQ(core.jobs()[0].owner, spooler_->userName()) << "the user who printed it";
  EXPECT_EQ(core.jobs()[0].port, "file:///dev/null");
  EXPECT_TRUE(core.buttons().resume);

  // A queue that refuses jobs is shown as such, not as "Ready".
  ASSERT_EQ(run("cupsreject", {QStringLiteral("FolvexOne")}), 0);
  core.refreshTick();
  EXPECT_EQ(rows[one].status, "RejectingJobs");
  ASSERT_EQ(run("cupsaccept", {QStringLiteral("FolvexOne")}), 0);
}

TEST_F(CupsMonitor, PauseResumeSaveAndCancelReachTheServer) {
  MonitorCore core(*spooler_, Mode::Work, hooks());
  core.initialise();
  const int one = rowOf(core, "FolvexOne");
  core.clickPrinterRows({one});
  ASSERT_TRUE(core.buttons().setToPause);
  // "Save Setting" right after "Set to Pause" saves the queue's real state: paused.
  core.setToPause();
  EXPECT_TRUE(paused("FolvexOne"));
  core.saveSetting();
  EXPECT_NE(readAll(defaultFile()).find("FolvexOne\nTRUE\n"), std::string::npos);
  core.resume();
  EXPECT_FALSE(paused("FolvexOne"));
  EXPECT_EQ(core.printerRows()[one].status, "Ready");
  core.saveSetting();
  EXPECT_NE(readAll(defaultFile()).find("FolvexOne\nFALSE\n"), std::string::npos);
  EXPECT_TRUE(notices_.empty());

  // Jobs wait on the paused queue; cancelling one leaves the other, cancelling all leaves none.
  submit("FolvexTwo", QStringLiteral("first"));
  submit("FolvexTwo", QStringLiteral("second"));
  const int two = rowOf(core, "FolvexTwo");
  core.refreshTick();
  core.clickPrinterRows({two});
  ASSERT_EQ(core.jobs().size(), 2u);
  core.clickJobRows({0});
  core.cancelCurrentDocument();
  auto left = spooler_->enumJobs("FolvexTwo");
  ASSERT_TRUE(left);
  ASSERT_EQ(left->size(), 1u);
  EXPECT_EQ(left->front().document, "second");
  core.cancelAllDocuments(two);
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
  EXPECT_TRUE(paused("FolvexOne"));
  EXPECT_TRUE(paused("FolvexTwo"));

  // delete_all cancels exactly the jobs Folvex captured.
  const uint32_t captured = submit("FolvexTwo", QStringLiteral("captured"));
  submit("FolvexTwo", QStringLiteral("never shown"));
  ASSERT_TRUE(platform::recordCapturedJob({platform::CapturedJob::Kind::Cups, "FolvexTwo", captured, {}}));
  {
    MonitorCore core(*spooler_, Mode::DeleteAll, hooks());
    EXPECT_TRUE(core.initialise().closeNow);
  }
  const auto left = spooler_->enumJobs("FolvexTwo");
  ASSERT_TRUE(left);
  ASSERT_EQ(left->size(), 1u);
  EXPECT_EQ(left->front().document, "never shown");
  EXPECT_TRUE(platform::capturedJobs().empty());

  {
    MonitorCore core(*spooler_, Mode::Refresh, hooks());
    EXPECT_TRUE(core.initialise().closeNow);
  }
  EXPECT_FALSE(paused("FolvexOne"));
  EXPECT_TRUE(paused("FolvexTwo"));
  EXPECT_FALSE(preparedMarkExists());
  EXPECT_TRUE(notices_.empty());
}

TEST_F(CupsMonitor, NewQueuesAreAllPreparedAndLeaveTheOtherRecordsAlone) {
  MonitorCore(*spooler_, Mode::Set, hooks()).initialise(); // FolvexOne paused for capture
  ASSERT_TRUE(paused("FolvexOne"));
  const std::string before = readAll(defaultFile());
  // Two queues installed while the queues are paused.
  addQueue("FolvexNewA", "file:///dev/null");
  addQueue("FolvexNewB", "file:///dev/null");
  MonitorCore(*spooler_, Mode::Set, hooks()).initialise();
  EXPECT_TRUE(paused("FolvexNewA"));
  EXPECT_TRUE(paused("FolvexNewB"));
  const std::string after = readAll(defaultFile());
  EXPECT_EQ(after.substr(after.find('\n')), before.substr(before.find('\n')) +
                                                "FolvexNewA\nFALSE\nfile:///dev/null\napplication/octet-stream\n"
                                                "FolvexNewB\nFALSE\nfile:///dev/null\napplication/octet-stream\n")
      << "the other printers keep their normal settings";
  MonitorCore(*spooler_, Mode::Refresh, hooks()).initialise();
  EXPECT_FALSE(paused("FolvexOne"));
  EXPECT_FALSE(paused("FolvexNewA"));
  EXPECT_FALSE(paused("FolvexNewB"));
  EXPECT_TRUE(paused("FolvexTwo"));
}

TEST_F(CupsMonitor, NetworkAndSharedQueuesAreNeverPausedOrEmptied) {
  addQueue("FolvexIpp", "ipp://192.0.2.1/ipp/print");
  addQueue("FolvexSocket", "socket://192.0.2.1:9100");
  addQueue("FolvexCluster", "implicitclass://FolvexCluster/");
  addQueue("FolvexHeldIpp", "ipps://192.0.2.1/ipp/print", true);
  const platform::SpoolerSnapshot snap = spooler_->snapshot();
  for (const platform::PrinterInfo2 &p : snap.local) {
    if (p.name == "FolvexIpp" || p.name == "FolvexSocket" || p.name == "FolvexHeldIpp")
      EXPECT_EQ(p.reach, platform::QueueReach::Network) << p.name;
    else if (p.name == "FolvexCluster")
      EXPECT_EQ(p.reach, platform::QueueReach::Shared);
    else
      EXPECT_EQ(p.reach, platform::QueueReach::Local) << p.name;
  }
  const uint32_t held = submit("FolvexHeldIpp", QStringLiteral("on the network queue"));
  ASSERT_TRUE(platform::recordCapturedJob({platform::CapturedJob::Kind::Cups, "FolvexHeldIpp", held, {}}));
  MonitorCore(*spooler_, Mode::Set, hooks()).initialise();
  EXPECT_TRUE(paused("FolvexOne"));
  for (const char *q : {"FolvexIpp", "FolvexSocket", "FolvexCluster"})
    EXPECT_FALSE(paused(q)) << q;
  {
    MonitorCore work(*spooler_, Mode::Work, hooks());
    work.initialise();
    work.setAllToDefault();
    for (const char *q : {"FolvexIpp", "FolvexSocket", "FolvexCluster"})
      EXPECT_FALSE(paused(q)) << q;
  }
  MonitorCore(*spooler_, Mode::RefreshAndDeleteAll, hooks(true)).initialise();
  EXPECT_EQ(spooler_->enumJobs("FolvexHeldIpp")->size(), 1u);
  EXPECT_TRUE(paused("FolvexHeldIpp")) << "left as the user set it";
  EXPECT_FALSE(paused("FolvexOne"));
}

TEST_F(CupsMonitor, AStoppedServerLeavesTheFilesAsTheyWereAndTheMonitorRecovers) {
  MonitorCore(*spooler_, Mode::Set, hooks()).initialise();
  MonitorCore(*spooler_, Mode::Refresh, hooks()).initialise();
  const std::string defaults = readAll(defaultFile()), prepared = readAll(preparedFile());
  ASSERT_NE(defaults, "<missing>");
  MonitorCore work(*spooler_, Mode::Work, hooks());
  work.initialise();
  stopServer();
  {
    auto spooler = platform::makeCupsSpooler();
    // "work" sees the server go, and ends while it is away.
    work.refreshTick();
    EXPECT_TRUE(work.serverDown());
    EXPECT_EQ(work.infoText(), serverDownText());
    work.recordPreparedSettings();
    // "set" started while it is away waits for it.
    MonitorCore set(*spooler, Mode::Set, hooks());
    EXPECT_FALSE(set.initialise().closeNow);
    EXPECT_FALSE(set.refreshTick());
    set.recordPreparedSettings();
    EXPECT_EQ(readAll(defaultFile()), defaults);
    EXPECT_EQ(readAll(preparedFile()), prepared);
    EXPECT_EQ(readKodEstPrinters(), 0);
    EXPECT_TRUE(notices_.empty()) << "no box per queue";
    startServer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return set.refreshTick(); }, 5000)) << "set did not recover";
    EXPECT_TRUE(isPaused(*spooler, "FolvexOne"));
    EXPECT_EQ(readAll(defaultFile()), defaults);
  }
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        work.refreshTick();
        return !work.serverDown();
      },
      5000));
  EXPECT_EQ(work.infoText(), infoTextFor(1));
}

TEST_F(CupsMonitor, AHungServerNeverStopsTheDialog) {
  MonitorDialog dialog(*spooler_, Mode::Work);
  dialog.setNotifier([this](const Notice &n) { notices_.push_back(n.text.toStdString()); });
  dialog.show();
  dialog.initialise();
  ASSERT_TRUE(dialog.waitForWorker(10000));
  const pid_t pid = static_cast<pid_t>(serverPid());
  ::kill(pid, SIGSTOP);
  // The window thread keeps turning while the refreshes wait for the stopped server.
  dialog.refreshTimer().setInterval(200);
  qint64 longest = 0;
  QElapsedTimer clock, gap;
  clock.start();
  gap.start();
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
  beat.start(10);
  QTest::qWait(4500);
  beat.stop();
  // A close message is handled at once, although a request still waits for the server.
  QElapsedTimer closing;
  closing.start();
  dialog.requestClose();
  const qint64 closeMs = closing.elapsed();
  ::kill(pid, SIGCONT);
  EXPECT_LT(longest, 100) << "the event loop stood still for " << longest << " ms";
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_LT(closeMs, 100);
}

TEST_F(CupsMonitor, AUserWithoutAdministerRightsIsToldAndNothingIsPrepared) {
  const QString qvt = QStringLiteral(FOLVEX_BIN_DIR "/qvt");
  const QString runuser = QStringLiteral("/usr/sbin/runuser");
  if (!QFileInfo(qvt).isExecutable() || !QFileInfo(runuser).isExecutable())
    GTEST_SKIP() << "needs qvt and runuser";
  // "nobody" is in no group that may administer the server (SystemGroup root lpadmin).
  QProcess groups;
  groups.start(QStringLiteral("id"), {QStringLiteral("-Gn"), QStringLiteral("nobody")});
  ASSERT_TRUE(groups.waitForFinished(5000));
  if (groups.exitCode() != 0 || groups.readAllStandardOutput().contains("lpadmin"))
    GTEST_SKIP() << "no user outside the lpadmin group";
  // A folder of the unprivileged user's own for its registry and files.
  QTemporaryDir home(QStringLiteral("/tmp/folvex-nobody-XXXXXX"));
  ASSERT_TRUE(home.isValid());
  for (const char *sub : {"reg", "run", "data", "tmp", "config"})
    QDir().mkpath(home.path() + QLatin1Char('/') + QString::fromLatin1(sub));
  ASSERT_EQ(run("chown", {QStringLiteral("-R"), QStringLiteral("nobody"), home.path()}), 0);
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
      << QStringLiteral("QT_QPA_PLATFORM=offscreen") << QStringLiteral("FOLVEX_QUIT_AFTER_MS=1500");
  // "set" as that user: the queues cannot be administered, so nothing changes; the window stays open with the
  // message until it is closed (here by the test switch).
  QProcess qvtRun;
  qvtRun.start(runuser, QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                    QStringLiteral("env")} +
                            env + QStringList{qvt, QStringLiteral("set")});
  ASSERT_TRUE(qvtRun.waitForStarted(5000));
  ASSERT_TRUE(qvtRun.waitForFinished(30000)) << "qvt did not end";
  EXPECT_EQ(qvtRun.exitCode(), 0);
  QFile hive(home.path() + QStringLiteral("/reg/user.reg"));
  ASSERT_TRUE(hive.open(QIODevice::ReadOnly));
  EXPECT_TRUE(hive.readAll().contains("\"lvKodEstPrinters\"=dword:00000000")) << "not prepared";
  EXPECT_FALSE(paused("FolvexOne"));
  EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/data/Folvex2/lvFXPrn.ini")));
  EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/data/Folvex2/lvFXPrn.prepared")))
      << "nothing claims the printers prepared";
}

TEST_F(CupsMonitor, FolvexEndedBySigtermRestoresAndAKilledFolvexIsRestoredAtTheNextStart) {
  const QString folvex = QStringLiteral(FOLVEX_BIN_DIR "/Folvex");
  if (!QFileInfo(folvex).isExecutable())
    GTEST_SKIP() << "Folvex is not built";
  // The program's own hive of this build names its folder as the installation folder (qvt lies there).
  QFile::remove(path("reg") + QStringLiteral("/machine.reg"));
  auto startFolvex = [&](QProcess &p) {
    p.setProcessEnvironment(programEnvironment());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(folvex, {});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return isPaused(*spooler_, "FolvexOne"); }, 15000)) << "not prepared";
  };
  {
    QProcess p;
    startFolvex(p);
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "the normal end ran";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !isPaused(*spooler_, "FolvexOne"); }, 15000))
        << "the printers were not restored";
    EXPECT_TRUE(isPaused(*spooler_, "FolvexTwo"));
  }
  {
    QProcess p;
    startFolvex(p);
    p.kill();
    ASSERT_TRUE(p.waitForFinished(5000));
    QTest::qWait(500);
    EXPECT_TRUE(isPaused(*spooler_, "FolvexOne")) << "nothing ran after kill -9";
    EXPECT_TRUE(preparedMarkExists());
  }
  // The monitor opened by hand afterwards restores them at once (no Folvex runs).
  QProcess qvt;
  QProcessEnvironment env = programEnvironment();
  env.insert(QStringLiteral("FOLVEX_QUIT_AFTER_MS"), QStringLiteral("1500"));
  qvt.setProcessEnvironment(env);
  qvt.start(QStringLiteral(FOLVEX_BIN_DIR "/qvt"), {QStringLiteral("work")});
  ASSERT_TRUE(qvt.waitForFinished(20000));
  EXPECT_FALSE(isPaused(*spooler_, "FolvexOne"));
  EXPECT_TRUE(isPaused(*spooler_, "FolvexTwo"));
  EXPECT_FALSE(preparedMarkExists());
}

TEST(CupsNoServer, NoReachableServerIsItsOwnStateWithoutWaiting) {
  const QByteArray saved = qgetenv("CUPS_SERVER");
  qputenv("CUPS_SERVER", "/nonexistent/folder/cups.sock");
  auto spooler = platform::makeCupsSpooler();
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(spooler->snapshot().reachable);
  EXPECT_EQ(spooler->lastStatus(), platform::SpoolStatus::NoServer);
  EXPECT_FALSE(spooler->enumJobs("FolvexOne"));
  EXPECT_FALSE(spooler->pausePrinter("FolvexOne"));
  EXPECT_EQ(spooler->lastStatus(), platform::SpoolStatus::NoServer);
  EXPECT_LT(clock.elapsed(), 2000);
  qputenv("CUPS_SERVER", saved);
}

} // namespace
