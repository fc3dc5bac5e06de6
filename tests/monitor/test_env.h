// A private environment for each monitor test: registry, temporary folder, application data and runtime folder
// all in one temporary folder, so no test touches the real user's files.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

class MonitorEnv : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (const char *sub : {"reg", "tmp", "data", "config", "run"})
      ASSERT_TRUE(QDir(dir_.path()).mkpath(QString::fromLatin1(sub)));
    QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    set("FOLVEX_REGISTRY_DIR", "reg");
    set("TMPDIR", "tmp");
    set("XDG_DATA_HOME", "data");
    set("XDG_CONFIG_HOME", "config");
    set("XDG_RUNTIME_DIR", "run");
  }
  void TearDown() override {
    for (const char *name : {"FOLVEX_REGISTRY_DIR", "TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
      qunsetenv(name);
  }
  QString path(const char *sub) const { return dir_.path() + QLatin1Char('/') + QString::fromLatin1(sub); }
  // The folder of the two printer settings files.
  std::string settingsDir() const { return (path("data") + QStringLiteral("/Folvex2")).toStdString(); }
  std::string defaultFile() const { return settingsDir() + "/lvFXPrn.ini"; }
  std::string preparedFile() const { return settingsDir() + "/lvFXPrnNew.ini"; }
  static std::string readAll(const std::string &file) {
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly))
      return "<missing>";
    return f.readAll().toStdString();
  }
  static void writeAll(const std::string &file, const std::string &bytes) {
    QDir().mkpath(QFileInfo(QString::fromStdString(file)).absolutePath());
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }

private:
  void set(const char *name, const char *sub) { qputenv(name, path(sub).toLocal8Bit()); }
  QTemporaryDir dir_;
};
