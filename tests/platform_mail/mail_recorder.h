// A recording mail program, registered for mailto links in private XDG folders: xdg-email really runs, finds it
// as the user's mail program, and every message it hands over lands in a log that the tests read back.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

class MailRecorder {
public:
  struct Message {
    QString to, subject, body;
    QStringList attachments;
    qsizetype addressLength = 0;
  };

  // Everything lives below root; the environment is restored when the recorder goes.
  explicit MailRecorder(const QString &root) : root_(root) {
    QDir().mkpath(root + "/config");
    QDir().mkpath(root + "/data/applications");
    QDir().mkpath(root + "/system-data");
    set("XDG_CONFIG_HOME", root + "/config");
    set("XDG_DATA_HOME", root + "/data");
    set("XDG_DATA_DIRS", root + "/system-data"); // no mail program of the machine is found
    set("FOLVEX_MAIL_LOG", log());
    set("DISPLAY", ":folvex-test"); // xdg-open asks the scheme handler only when there is a display
    set("BROWSER", "folvex-no-browser");
    set("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "MATE_DESKTOP_SESSION_ID", "MAILER", "WAYLAND_DISPLAY"})
      unset(name);
    writeText(root + "/data/applications/folvex-recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + root +
                  "/recorder %u\nMimeType=x-scheme-handler/mailto;\n");
    writeText(root + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=folvex-recorder.desktop\n");
    setBehaviour(0, 0);
  }
  ~MailRecorder() {
    for (const auto &[name, old] : saved_) {
      if (old)
        ::setenv(name.c_str(), old->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  MailRecorder(const MailRecorder &) = delete;
  MailRecorder &operator=(const MailRecorder &) = delete;

  // The mail program's exit status, and seconds it stays running after recording.
  void setBehaviour(int exitStatus, int seconds) {
    const QString script = root_ + "/recorder";
    writeText(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$FOLVEX_MAIL_LOG\"\nexec >/dev/null 2>&1\nsleep " +
                          QString::number(seconds) + "\nexit " + QString::number(exitStatus) + "\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  // No mail program registered at all.
  void unregister() {
    QFile::remove(root_ + "/config/mimeapps.list");
    QFile::remove(root_ + "/data/applications/folvex-recorder.desktop");
  }

  std::vector<Message> messages() const {
    std::vector<Message> out;
    QFile f(log());
    if (!f.open(QIODevice::ReadOnly))
      return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
      if (line.isEmpty())
        continue;
      QUrl url(QString::fromUtf8(line), QUrl::StrictMode);
      Message m;
      m.addressLength = line.size();
      m.to = url.path();
      QUrlQuery query(url);
      m.subject = query.queryItemValue("subject", QUrl::FullyDecoded);
      m.body = query.queryItemValue("body", QUrl::FullyDecoded);
      m.attachments = query.allQueryItemValues("attach", QUrl::FullyDecoded);
      out.push_back(m);
    }
    return out;
  }

private:
  QString log() const { return root_ + "/mail.log"; }
  static void writeText(const QString &path, const QString &text) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
      f.write(text.toUtf8());
  }
  void remember(const std::string &name) {
    if (!saved_.count(name)) {
      const char *old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
  }
  void set(const char *name, const QString &value) {
    remember(name);
    ::setenv(name, value.toLocal8Bit().constData(), 1);
  }
  void unset(const char *name) {
    remember(name);
    ::unsetenv(name);
  }

  QString root_;
  std::map<std::string, std::optional<std::string>> saved_;
};
