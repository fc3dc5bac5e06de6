// "Set to Wallpaper" against the real gsettings (keyfile back end in private folders), a private hive and a
// private temporary folder.
#include "output/set_wallpaper.h"
#include "platform/registry.h"
#include "settings/settings.h"

#include <Magick++.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

namespace {

using platform::Hive;

class Wallpaper : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    for (const char *sub : {"registry", "tmp", "run", "config", "data", "empty"})
      QDir().mkpath(root() + "/" + sub);
    QFile::setPermissions(root() + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    set("FOLVEX_REGISTRY_DIR", root() + "/registry");
    set("TMPDIR", root() + "/tmp");
    set("XDG_RUNTIME_DIR", root() + "/run"); // the user's private temporary folder
    set("XDG_CONFIG_HOME", root() + "/config");
    set("XDG_DATA_HOME", root() + "/data");
    ASSERT_TRUE(RegSetInt("SaveFile_Opt", 1)); // the hive exists once the program has started
    set("GSETTINGS_BACKEND", "keyfile");
    set("XDG_CURRENT_DESKTOP", "GNOME");
  }
  void TearDown() override {
    for (const auto &[name, old] : saved)
      old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
  }
  void set(const std::string &name, const QString &value) {
    if (!saved.count(name)) {
      const char *old = std::getenv(name.c_str());
      saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.toLocal8Bit().constData(), 1);
  }
  QString root() const { return dir.path(); }
  static QString gsettingsGet(const QString &key) {
    QProcess p;
    p.start("gsettings", {"get", "org.gnome.desktop.background", key});
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  }
  static Magick::Image picture(int w, int h, const char *colour) {
    return Magick::Image(Magick::Geometry(w, h), Magick::Color(colour));
  }

  QTemporaryDir dir;
  std::map<std::string, std::optional<std::string>> saved;
};

TEST_F(Wallpaper, TheDesktopKeyAndTheHiveNameTheFileThatEachCommandOverwrites) {
  output::WallpaperOutcome r = output::SetAsWallpaper(picture(40, 30, "red"));
  // The file outlasts the session: it lies in the application-data folder, not the temporary one.
  const std::string file = root().toStdString() + "/data/Folvex2/TarvikWallpaper.bmp";
  EXPECT_EQ(file, r.file);
  EXPECT_TRUE(r.written);
  EXPECT_TRUE(r.applied) << r.message;
  EXPECT_TRUE(r.message.empty());
  const QString uri = "'" + QUrl::fromLocalFile(QString::fromStdString(file)).toString() + "'";
  EXPECT_EQ(uri, gsettingsGet("picture-uri"));
  EXPECT_EQ(uri, gsettingsGet("picture-uri-dark"));
  EXPECT_EQ(file, platform::readStringValue(Hive::CurrentUser, "Control Panel\\Desktop", "Wallpaper"));
  // This hive has no Internet Explorer desktop key: it is not created, and the mark is set.
  const char *ieKey = "SOFTWARE\\Microsoft\\Internet Explorer\\Desktop\\General";
  EXPECT_FALSE(platform::RegKey::open(Hive::CurrentUser, ieKey, platform::RegAccess::Read));
  EXPECT_TRUE(output::NoActiveDesktopMark());
  Magick::Image written(file);
  EXPECT_EQ("BMP", written.magick());
  EXPECT_EQ(Magick::Color("red"), written.pixelColor(3, 3));

  // The next command overwrites the same file; with the key in place the backup value is recorded too, and the
  // mark stays set for the run.
  ASSERT_TRUE(platform::RegKey::create(Hive::CurrentUser, ieKey, platform::RegAccess::Write));
  r = output::SetAsWallpaper(picture(50, 20, "blue"));
  EXPECT_EQ(file, r.file);
  EXPECT_TRUE(r.applied);
  written.read(file);
  EXPECT_EQ(50u, written.columns());
  EXPECT_EQ(Magick::Color("blue"), written.pixelColor(3, 3));
  EXPECT_EQ(file, platform::readStringValue(Hive::CurrentUser, ieKey, "BackupWallpaper"));
  EXPECT_TRUE(output::NoActiveDesktopMark());
  EXPECT_EQ(QStringList{"TarvikWallpaper.bmp"},
            QDir(root() + "/data/Folvex2").entryList({"*Wallpaper*"}, QDir::Files | QDir::Hidden));
}

TEST_F(Wallpaper, WithoutADesktopToolTheFileStaysAndTheMessageNamesIt) {
  set("XDG_CURRENT_DESKTOP", "");
  set("PATH", root() + "/empty");
  output::WallpaperOutcome r = output::SetAsWallpaper(picture(8, 8, "red"));
  EXPECT_TRUE(r.written);
  EXPECT_FALSE(r.applied);
  EXPECT_NE(std::string::npos, r.message.find(r.file)) << r.message;
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(r.file)));
}

// A link under the file's name is replaced, its target untouched.
TEST_F(Wallpaper, APlantedLinkIsReplacedAndAnUnwritableFolderIsReported) {
  const QString victim = root() + "/victim.txt";
  QFile v(victim);
  ASSERT_TRUE(v.open(QIODevice::WriteOnly));
  v.write("keep");
  v.close();
  ASSERT_TRUE(QDir().mkpath(root() + "/data/Folvex2"));
  ASSERT_TRUE(QFile::link(victim, root() + "/data/Folvex2/TarvikWallpaper.bmp"));
  output::WallpaperOutcome r = output::SetAsWallpaper(picture(8, 8, "red"));
  EXPECT_TRUE(r.written);
  EXPECT_FALSE(QFileInfo(QString::fromStdString(r.file)).isSymLink());
  ASSERT_TRUE(v.open(QIODevice::ReadOnly));
  EXPECT_EQ("keep", v.readAll());

  // The folder cannot be made (it would lie below a file).
  ASSERT_TRUE(RegSetStringAt(kShellFoldersKey, "Local AppData", (victim + "/data").toStdString()));
  r = output::SetAsWallpaper(picture(8, 8, "red"));
  EXPECT_FALSE(r.written);
  EXPECT_FALSE(r.applied);
  EXPECT_NE(std::string::npos, r.message.find("cannot be written")) << r.message;
}

} // namespace
