#include "platform/wallpaper.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include <cstdlib>

namespace platform {

namespace {

constexpr int kToolTimeoutMs = 15000;

// Runs a tool found on the PATH; true when it ran and exited with status 0. Standard output goes to *out.
bool run(const QString &tool, const QStringList &args, QByteArray *out = nullptr) {
  const QString program = QStandardPaths::findExecutable(tool);
  if (program.isEmpty())
    return false;
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(program, args);
  if (!p.waitForStarted(kToolTimeoutMs))
    return false;
  p.closeWriteChannel();
  if (!p.waitForFinished(kToolTimeoutMs)) {
    p.kill();
    p.waitForFinished(1000);
    return false;
  }
  if (out)
    *out = p.readAllStandardOutput();
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A text as a GVariant string, so that gsettings never reads it as another type.
QString gvariantString(const QString &text) {
  QString s = text;
  s.replace('\\', "\\\\");
  s.replace('\'', "\\'");
  return "'" + s + "'";
}

bool gsettingsSet(const QString &schema, const QString &key, const QString &value) {
  return run("gsettings", {"set", schema, key, gvariantString(value)});
}

bool setGnome(const QString &uri) {
  if (!gsettingsSet("org.gnome.desktop.background", "picture-uri", uri))
    return false;
  // Only newer schemas have the dark-style key.
  gsettingsSet("org.gnome.desktop.background", "picture-uri-dark", uri);
  return true;
}

bool setXfce(const QString &path) {
  QByteArray list;
  if (!run("xfconf-query", {"-c", "xfce4-desktop", "-l"}, &list))
    return false;
  bool any = false, all = true;
  for (const QByteArray &line : list.split('\n')) {
    const QString property = QString::fromUtf8(line.trimmed());
    if (!property.endsWith("/last-image"))
      continue;
    any = true;
    all = run("xfconf-query", {"-c", "xfce4-desktop", "-p", property, "-s", path}) && all;
  }
  return any && all;
}

QStringList desktopNames() {
  QString names = QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP"));
  if (names.isEmpty())
    names = QString::fromLocal8Bit(qgetenv("DESKTOP_SESSION"));
  QStringList out;
  for (const QString &n : names.split(':', Qt::SkipEmptyParts))
    out << n.trimmed().toLower();
  return out;
}

} // namespace

WallpaperResult setDesktopWallpaper(const std::string &imagePath) {
  const QString path = QString::fromStdString(imagePath);
  const QString uri = QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
  WallpaperResult r;
  auto done = [&](const char *how) {
    r.applied = true;
    r.how = how;
    return r;
  };
  const QStringList names = desktopNames();
  auto is = [&](std::initializer_list<const char *> any) {
    for (const char *n : any)
      if (names.contains(n))
        return true;
    return false;
  };
  if (is({"kde", "plasma"}) && run("plasma-apply-wallpaperimage", {path}))
    return done("plasma-apply-wallpaperimage");
  if (is({"xfce", "xfce4"}) && setXfce(path))
    return done("xfconf-query xfce4-desktop last-image");
  if (is({"mate"}) && gsettingsSet("org.mate.background", "picture-filename", path))
    return done("gsettings org.mate.background");
  if (is({"x-cinnamon", "cinnamon"})) {
    // Cinnamon draws from its own schema; the GNOME keys serve programs that read those.
    const bool own = gsettingsSet("org.cinnamon.desktop.background", "picture-uri", uri);
    const bool gnome = setGnome(uri);
    if (own || gnome)
      return done(own ? "gsettings org.cinnamon.desktop.background" : "gsettings org.gnome.desktop.background");
  }
  if (is({"gnome", "unity", "budgie", "budgie-desktop", "pantheon", "ubuntu", "gnome-classic", "gnome-flashback"}) &&
      setGnome(uri))
    return done("gsettings org.gnome.desktop.background");
  if (run("feh", {"--bg-fill", path}))
    return done("feh --bg-fill");
  if (run("xwallpaper", {"--zoom", path}))
    return done("xwallpaper --zoom");
  return r;
}

} // namespace platform
