// The end of the user's session for our programs: SIGTERM and SIGHUP (logout, shutdown, a closed terminal) become
// a Qt signal on the window thread, so that a program runs its normal end instead of dying in the middle of it;
// and the "unattended" state, in which nothing may wait for a person (a question takes its default answer).
// A program started by one that ends unattended inherits the state through its environment.
#pragma once

#include <QObject>

namespace platform {

class SessionEnd : public QObject {
  Q_OBJECT
public:
  // Installs the handlers for SIGTERM and SIGHUP (once per process) and returns the object that reports them.
  static SessionEnd *install();

signals:
  // A termination signal arrived; emitted on the thread of the object (the window thread). The program is now
  // unattended.
  void endRequested(int signalNumber);

private:
  explicit SessionEnd(int readFd);
};

// Nothing may wait for a person any more: a signal ended the session, or the program was started unattended.
bool unattended();
// Marks the program (and every program it starts from now on) unattended.
void setUnattended();

} // namespace platform
