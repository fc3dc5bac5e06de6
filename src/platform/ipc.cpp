#include "platform/ipc.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kConnectMs = 500;
constexpr int kWriteMs = 500;
constexpr qint64 kMaxLine = 64; // longest message we accept from a client

// The user's private folder: $XDG_RUNTIME_DIR, or a folder of the temporary folder only this user can enter.
QString runtimeFolder() { return QString::fromStdString(tempFolder()); }

// Something that is not a socket where ours belongs (left by hand, or by a program of another kind) would make the
// listen fail, and the program take itself for a second copy. It is told, and removed when it can be.
void clearNonSocket(const QString &name) {
  const QByteArray path = QFile::encodeName(name);
  struct stat st {};
  if (::lstat(path.constData(), &st) != 0 || S_ISSOCK(st.st_mode))
    return;
  const bool removed = (S_ISDIR(st.st_mode) ? ::rmdir(path.constData()) : ::unlink(path.constData())) == 0;
  if (removed)
    qWarning("Folvex: %s was not a socket; removed it", path.constData());
  else
    qWarning("Folvex: %s is not a socket and cannot be removed (%s)", path.constData(), std::strerror(errno));
}

bool sendMessage(const QString &title, const QByteArray &message) {
  QLocalSocket socket;
  socket.connectToServer(windowSocketName(title));
  if (!socket.waitForConnected(kConnectMs))
    return false;
  if (!message.isEmpty()) {
    socket.write(message + '\n');
    if (!socket.waitForBytesWritten(kWriteMs))
      return false;
  }
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState)
    socket.waitForDisconnected(kWriteMs);
  return true;
}

} // namespace

QString windowSocketName(const QString &title) {
  QString safe;
  safe.reserve(title.size());
  for (const QChar c : title) {
    if (c.isLetterOrNumber() || c == u'.' || c == u'-')
      safe += c;
    else
      safe += u'_';
  }
  // The user's id keeps the name apart from a socket of another user, should the folder ever be shared.
  const QString name = QStringLiteral("folvex-win-%1-%2.sock").arg(QString::number(getuid()), safe.left(100));
  return QDir(runtimeFolder()).filePath(name);
}

WindowChannel::WindowChannel(const QString &title, QObject *parent) : QObject(parent), title_(title) {}

WindowChannel::~WindowChannel() {
  if (server_)
    server_->close(); // removes the socket file
}

bool WindowChannel::isListening() const { return server_ && server_->isListening(); }

bool WindowChannel::listen() {
  if (isListening())
    return true;
  const QString name = windowSocketName(title_);
  // Someone answers: another instance is running. No answer: any file there is left from a crash.
  if (findWindow(title_))
    return false;
  clearNonSocket(name);
  QLocalServer::removeServer(name);
  if (!server_) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
      while (QLocalSocket *client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
          while (client->canReadLine()) {
            const QByteArray line = client->readLine(kMaxLine).trimmed();
            if (line == "close")
              emit closeRequested();
            else if (line == "raise")
              emit raiseRequested();
          }
          if (client->bytesAvailable() > kMaxLine) // garbage without a line end: drop the client
            client->abort();
        });
      }
    });
  }
  if (server_->listen(name))
    return true;
  // No other copy answered, so this one runs, only without its channel: other programs cannot find its window.
  qWarning("Folvex: cannot listen on %s (%s); other programs will not find this window", qPrintable(name),
           qPrintable(server_->errorString()));
  return true;
}

bool findWindow(const QString &title) { return sendMessage(title, {}); }
bool postClose(const QString &title) { return sendMessage(title, "close"); }
bool bringToFront(const QString &title) { return sendMessage(title, "raise"); }

} // namespace platform
