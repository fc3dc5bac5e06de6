// Finding, raising and closing the window of another running program of ours.
// Each program listens on a local socket named from its window title in the user's private temporary folder
// (tempFolder(): $XDG_RUNTIME_DIR, or a folder only this user can enter when that is unset). Finding the window =
// connecting to the socket; close and raise are one-line messages sent on it. A socket left behind by a program
// that crashed answers no connection and is removed by the next listen(), so it never blocks a new start; neither
// does anything else of that name (it is told on the standard error and removed when it can be).
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace platform {

class WindowChannel : public QObject {
  Q_OBJECT
public:
  explicit WindowChannel(const QString &title, QObject *parent = nullptr);
  ~WindowChannel() override;

  // Starts listening; false only when another instance already listens under this title (single instance). When
  // the socket cannot be made, the reason is told on the standard error and the result is true: this program runs,
  // only other programs cannot find it (isListening() is false).
  bool listen();
  bool isListening() const;
  const QString &title() const { return title_; }

signals:
  void closeRequested(); // WM_CLOSE: behave as the close box
  void raiseRequested(); // bring the window forward

private:
  void readClient();
  QString title_;
  QLocalServer *server_ = nullptr;
};

// The socket file name used for a window title (the title made safe for a file name).
QString windowSocketName(const QString &title);
// FindWindow: a program with this title is running (its channel accepts a connection).
bool findWindow(const QString &title);
// WM_CLOSE: asks the program to close as its close box would; false when no such program answers.
bool postClose(const QString &title);
// Asks the program to bring its window to the front; false when no such program answers.
bool bringToFront(const QString &title);

} // namespace platform
