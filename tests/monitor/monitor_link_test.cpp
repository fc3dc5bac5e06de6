// Folvex's side of the monitor: the command words it starts qvt with, finding, raising and closing it.
// A stand-in "qvt" script records its command words; one test runs the real qvt.
#include "app/monitor_link.h"
#include "app/prompts.h"
#include "platform/ipc.h"
#include "platform/registry.h"

#include "test_env.h"

#include <QPointer>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

class MonitorLink : public MonitorEnv {
protected:
  void SetUp() override {
    MonitorEnv::SetUp();
    frame::PromptHooks hooks;
    hooks.message = [this](const frame::MessageRequest &r) {
      questions << r.caption + QLatin1Char('|') + r.text;
      return answer ? QMessageBox::Yes : QMessageBox::No;
    };
    frame::setPromptHooks(hooks);
  }
  void TearDown() override {
    frame::setPromptHooks({});
    MonitorEnv::TearDown();
  }
  void setInstallPath(const QString &folder) {
    auto key =
        platform::RegKey::create(platform::Hive::LocalMachine, "Software\\Tarvik\\Folvex2", platform::RegAccess::All);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setString("InstallPath", folder.toStdString()));
  }
  // An installation folder whose "qvt" only notes its command words.
  QString fakeInstall() {
    const QString folder = path("tmp") + QStringLiteral("/install");
    QDir().mkpath(folder);
    const QString script = folder + QStringLiteral("/qvt");
    writeAll(script.toStdString(), "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/calls.log\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setInstallPath(folder);
    return folder;
  }
  QStringList calls(const QString &folder, int expected) {
    const std::string file = (folder + QStringLiteral("/calls.log")).toStdString();
    [[maybe_unused]] const bool arrived = QTest::qWaitFor(
        [&] { return QString::fromStdString(readAll(file)).count(QLatin1Char('\n')) >= expected; }, 5000);
    QTest::qWait(100); // nothing more should follow
    const std::string text = readAll(file);
    if (text == "<missing>")
      return {};
    return QString::fromStdString(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  QStringList questions;
  bool answer = false;
};

// A monitor window in another thread, as a running qvt would be.
class StandInMonitor {
public:
  explicit StandInMonitor(bool closeWhenAsked) {
    thread_.start();
    channel_ = new platform::WindowChannel(app::kMonitorWindowTitle);
    channel_->moveToThread(&thread_);
    QObject::connect(channel_, &platform::WindowChannel::raiseRequested, channel_, [this] { ++raises; });
    QObject::connect(channel_, &platform::WindowChannel::closeRequested, channel_, [this, closeWhenAsked] {
      ++closes;
      if (closeWhenAsked)
        channel_->deleteLater();
    });
    QMetaObject::invokeMethod(
        channel_, [this] { listening = channel_->listen(); }, Qt::BlockingQueuedConnection);
  }
  ~StandInMonitor() {
    if (channel_)
      QMetaObject::invokeMethod(
          channel_, [this] { delete channel_.data(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }
  std::atomic<int> raises{0};
  std::atomic<int> closes{0};
  bool listening = false;

private:
  QThread thread_;
  QPointer<platform::WindowChannel> channel_;
};

TEST_F(MonitorLink, AMonitorWithoutItsProgramCannotStart) {
  // A private machine hive without "InstallPath" (without one, the hive beside the program would be read).
  writeAll(path("reg").toStdString() + "/machine.reg", "Windows Registry Editor Version 5.00\n\n");
  EXPECT_TRUE(app::monitorProgram().isEmpty()) << "no InstallPath";
  EXPECT_FALSE(app::startMonitor(QStringLiteral("set")));
  // An installation folder without qvt fails the same way, silently.
  setInstallPath(path("tmp"));
  EXPECT_EQ(app::monitorProgram(), path("tmp") + QStringLiteral("/qvt"));
  EXPECT_FALSE(app::startMonitor(QStringLiteral("set")));
  app::showPrinterMonitor();
  EXPECT_TRUE(questions.isEmpty());
}

TEST_F(MonitorLink, TheCommandsStartTheirWords) {
  const QString folder = fakeInstall();
  EXPECT_TRUE(app::startMonitor(QStringLiteral("set")));
  EXPECT_EQ(calls(folder, 1), QStringList{"set"});
  app::showPrinterMonitor();
  EXPECT_EQ(calls(folder, 2), (QStringList{"set", "work"}));
}

TEST_F(MonitorLink, AnOpenMonitorIsBroughtForwardInsteadOfStartingAnother) {
  const QString folder = fakeInstall();
  StandInMonitor monitor(false);
  ASSERT_TRUE(monitor.listening);
  app::showPrinterMonitor();
  EXPECT_TRUE(QTest::qWaitFor([&] { return monitor.raises >= 1; }, 3000));
  EXPECT_TRUE(calls(folder, 0).isEmpty());
}

TEST_F(MonitorLink, CancellingAllDocumentsAsksFirst) {
  const QString folder = fakeInstall();
  answer = false;
  EXPECT_FALSE(app::cancelAllDocuments());
  EXPECT_EQ(questions,
            QStringList{"Tarvik Folvex! message|Are you sure you want to cancel all documents for all printers?"});
  EXPECT_TRUE(calls(folder, 0).isEmpty());
  answer = true;
  EXPECT_TRUE(app::cancelAllDocuments());
  EXPECT_EQ(calls(folder, 1), QStringList{"delete_all"});
}

TEST_F(MonitorLink, AtTheEndTheMonitorIsClosedAndStartedToRestore) {
  const QString folder = fakeInstall();
  {
    StandInMonitor monitor(true);
    ASSERT_TRUE(monitor.listening);
    app::closeMonitorAtExit(true);
    EXPECT_EQ(monitor.closes, 1);
  }
  EXPECT_EQ(calls(folder, 1), QStringList{"refresh_and_delete_all"});
  // No monitor: the loop ends at once and the restoring start is still made.
  app::closeMonitorAtExit(false);
  EXPECT_EQ(calls(folder, 2), (QStringList{"refresh_and_delete_all", "refresh"}));
}

TEST_F(MonitorLink, AMonitorThatNeverClosesDoesNotHoldTheEnd) {
  const QString folder = fakeInstall();
  StandInMonitor stubborn(false);
  app::closeMonitorAtExit(false, 2);
  EXPECT_EQ(stubborn.closes, 2);
  EXPECT_EQ(calls(folder, 1), QStringList{"refresh"});
}

TEST_F(MonitorLink, TheRealMonitorIsFoundClosedAndRestarted) {
  const QString bin = QStringLiteral(FOLVEX_BIN_DIR);
  if (!QFileInfo(bin + QStringLiteral("/qvt")).isExecutable())
    GTEST_SKIP() << "qvt is not built in " << bin.toStdString();
  setInstallPath(bin);
  qputenv("CUPS_SERVER", (path("tmp") + QStringLiteral("/no-cupsd.sock")).toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Without a command word qvt stays open in its small window.
  ASSERT_TRUE(app::startMonitor(QString()));
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::findWindow(app::kMonitorWindowTitle); }, 10000));
  app::closeMonitorAtExit(false);
  // The restoring "refresh" run ends by itself.
  EXPECT_TRUE(QTest::qWaitFor([] { return !platform::findWindow(app::kMonitorWindowTitle); }, 10000));
  EXPECT_TRUE(questions.isEmpty());
  // qvt found no printer and said so in the settings key.
  auto key =
      platform::RegKey::open(platform::Hive::CurrentUser, "Software\\Tarvik\\Folvex2", platform::RegAccess::Read);
  ASSERT_TRUE(key);
  auto value = key->query("lvKodEstPrinters");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, platform::REG_DWORD);
}

} // namespace
