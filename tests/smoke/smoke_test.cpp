// Starts Folvex and qvt under the offscreen platform with private folders and checks that each opens its window,
// closes it again by itself and ends with status 0.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Outcome {
  bool started = false;
  bool finished = false;
  QProcess::ExitStatus status = QProcess::CrashExit;
  int code = -1;
  QByteArray output;
};

Outcome runProgram(const QString &name, const QTemporaryDir &dir) {
  const QString root = dir.path();
  for (const char *sub : {"registry", "tmp", "run", "config", "data"})
    QDir().mkpath(root + "/" + sub);
  QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("FOLVEX_QUIT_AFTER_MS", "700");
  env.insert("FOLVEX_REGISTRY_DIR", root + "/registry");
  env.insert("TMPDIR", root + "/tmp");
  env.insert("XDG_RUNTIME_DIR", root + "/run");
  env.insert("XDG_CONFIG_HOME", root + "/config");
  env.insert("XDG_DATA_HOME", root + "/data");
  // No print server answers here, so no printer of this machine is paused, resumed or cancelled.
  env.insert("CUPS_SERVER", root + "/run/no-cups.sock");

  QProcess p;
  p.setProcessEnvironment(env);
  p.setWorkingDirectory(root);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QStringLiteral(FOLVEX_BIN_DIR) + "/" + name, {});
  Outcome o;
  o.started = p.waitForStarted(30000);
  if (!o.started)
    return o;
  o.finished = p.waitForFinished(120000);
  if (!o.finished) {
    p.kill();
    p.waitForFinished(5000);
  }
  o.status = p.exitStatus();
  o.code = p.exitCode();
  o.output = p.readAll();
  return o;
}

} // namespace

TEST(Smoke, ProgramsOpenAndCloseTheirWindows) {
  for (const QString name : {"Folvex", "qvt"}) {
    SCOPED_TRACE(name.toStdString());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Outcome o = runProgram(name, dir);
    ASSERT_TRUE(o.started) << "program missing: " << FOLVEX_BIN_DIR << "/" << name.toStdString();
    EXPECT_TRUE(o.finished) << "did not end by itself";
    EXPECT_EQ(o.status, QProcess::NormalExit) << o.output.toStdString();
    EXPECT_EQ(o.code, 0) << o.output.toStdString();
  }
}
