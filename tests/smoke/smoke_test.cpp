// Starts Folvex and qvt under the offscreen platform with private folders and checks that each opens its window,
// closes it again by itself and ends with status 0.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <unistd.h>

namespace {

struct Outcome {
  bool started = false;
  bool finished = false;
  QProcess::ExitStatus status = QProcess::CrashExit;
  int code = -1;
  QByteArray output;
};

void makeFolders(const QString &root) {
  for (const char *sub : {"registry", "tmp", "run", "config", "data"})
    QDir().mkpath(root + "/" + sub);
}

Outcome runProgram(const QString &name, const QTemporaryDir &dir) {
  const QString root = dir.path();
  makeFolders(root);
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

TEST(Smoke, ProgramsGoOnWithADamagedUserHive) {
  for (const QString name : {"Folvex", "qvt"}) {
    SCOPED_TRACE(name.toStdString());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    makeFolders(dir.path());
    QFile hive(dir.path() + "/registry/user.reg");
    ASSERT_TRUE(hive.open(QIODevice::WriteOnly));
    hive.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n\"Kod");
    hive.close();
    const Outcome o = runProgram(name, dir);
    ASSERT_TRUE(o.started);
    EXPECT_TRUE(o.finished) << "did not end by itself";
    EXPECT_EQ(o.status, QProcess::NormalExit) << o.output.toStdString();
    EXPECT_EQ(o.code, 0) << o.output.toStdString();
    if (name == "Folvex") { // it reads every setting at start
      EXPECT_TRUE(QFile::exists(dir.path() + "/registry/user.reg.bad")) << o.output.toStdString();
    }
  }
}

namespace {

// Runs the probe with a clean environment of private folders (no FOLVEX_REGISTRY_DIR) and returns its lines.
std::map<std::string, std::string> probe(const QString &program, const QString &root, const QStringList &args = {}) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("FOLVEX_REGISTRY_DIR");
  env.remove("XDG_RUNTIME_DIR");
  env.insert("XDG_CONFIG_HOME", root + "/config");
  env.insert("XDG_DATA_HOME", root + "/data");
  env.insert("TMPDIR", root + "/tmp");
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  std::map<std::string, std::string> lines;
  if (!p.waitForFinished(60000) || p.exitCode() != 0)
    return lines;
  for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
    const int eq = line.indexOf('=');
    if (eq > 0)
      lines[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
  }
  return lines;
}

} // namespace

TEST(Smoke, BuildTreeProgramsFindTheirMachineHiveWithoutAnyVariable) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string root = dir.path().toStdString();
  for (const QStringList &args : {QStringList{}, QStringList{"qt"}}) {
    auto lines = probe(FOLDERS_PROBE, dir.path(), args);
    EXPECT_EQ(lines["machine"], std::string(FOLVEX_BIN_DIR) + "/machine.reg");
    EXPECT_EQ(lines["install"], FOLVEX_BIN_DIR);
    EXPECT_EQ(lines["user"], root + "/config/Folvex2/user.reg");
    EXPECT_EQ(lines["appdata"], root + "/data/Folvex2");
    EXPECT_EQ(lines["work"], root + "/tmp/Folvex2-" + std::to_string(::geteuid()) + "//Folvex2/");
    EXPECT_EQ(lines["spool"], root + "/data/Folvex2/Windows/SYSTEM32/spool/PRINTERS/");
  }
  EXPECT_TRUE(QDir(dir.path() + "/data/Folvex2/Windows/SYSTEM32/spool/PRINTERS").exists());
}

TEST(Smoke, InstalledCopyFindsTheMachineHiveWrittenForIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString prefix = dir.path() + "/prefix with space";
  QProcess install;
  install.setProcessChannelMode(QProcess::MergedChannels);
  install.start(CMAKE_PROGRAM, {"--install", BUILD_DIR, "--prefix", prefix});
  ASSERT_TRUE(install.waitForFinished(240000));
  ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();

  const QString folder = prefix + "/lib/folvex";
  for (const char *name : {"Folvex", "qvt", "machine.reg", "policy.xml"})
    EXPECT_TRUE(QFile::exists(folder + "/" + name)) << name;
  for (const QString &name : QDir(folder).entryList(QDir::Files))
    EXPECT_FALSE(name.endsWith("_tests") || name.startsWith("test_") || name.startsWith("bench_"))
        << "test program installed: " << name.toStdString();

  const QString copy = folder + "/test_folders_probe";
  ASSERT_TRUE(QFile::copy(FOLDERS_PROBE, copy));
  const auto lines = probe(copy, dir.path(), {"qt"});
  EXPECT_EQ(lines.count("install") ? lines.at("install") : "", folder.toStdString());
}
