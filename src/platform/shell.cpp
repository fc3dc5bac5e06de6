#include "platform/shell.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

bool startProgram(const QString &programPath, const QString &word) {
  const QFileInfo info(programPath);
  if (!info.exists() || !info.isFile() || !info.isExecutable())
    return false;
  QStringList args;
  if (!word.isEmpty())
    args << word;
  return QProcess::startDetached(info.absoluteFilePath(), args, info.absolutePath());
}

namespace {
std::function<bool(const QString &)> &openHook() {
  static std::function<bool(const QString &)> hook;
  return hook;
}
} // namespace

void setOpenDocumentHook(std::function<bool(const QString &)> hook) { openHook() = std::move(hook); }

bool openDocument(const QString &pathOrUrl) {
  if (pathOrUrl.isEmpty())
    return false;
  if (openHook())
    return openHook()(pathOrUrl);
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty())
    return false;
  // xdg-open may wait for the viewer to close: never wait for it.
  return QProcess::startDetached(opener, {pathOrUrl});
}

} // namespace platform
