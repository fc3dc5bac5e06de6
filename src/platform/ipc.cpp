#include "platform/ipc.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {
namespace {

constexpr int kConnectMs = 500;
constexpr int kWriteMs = 500;
constexpr qint64 kMaxLine = 64; // longest message we accept from a client

QString runtimeFolder() {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QDir(dir).exists()) {
    dir = qEnvironmentVariable("TMPDIR");
    if (dir.isEmpty())
      dir = QStringLiteral("/tmp");
  }
  return dir;
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
  // The user's id keeps two users on one machine apart when both fall back to the shared temporary folder.
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
  return server_->listen(name);
}

bool findWindow(const QString &title) { return sendMessage(title, {}); }
bool postClose(const QString &title) { return sendMessage(title, "close"); }
bool bringToFront(const QString &title) { return sendMessage(title, "raise"); }

} // namespace platform
