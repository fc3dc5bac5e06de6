// Folvex: captures printed pages and turns them into pictures.
#include "app/frame_win.h"
#include "app/startup.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Folvex"));
  // Smoke tests ask the program to end by itself after a while; nothing may then wait for a user.
  const int quitAfter = qEnvironmentVariableIntValue("FOLVEX_QUIT_AFTER_MS");
  auto running = frame::StartFolvex(quitAfter > 0);
  if (!running)
    return 0; // another copy runs and was brought forward
  // The program ends with its frame, even while a message box or the welcome screen is still open.
  app.setQuitOnLastWindowClosed(false);
  QObject::connect(running->frame.get(), &lvFrameWin::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  if (quitAfter > 0)
    QTimer::singleShot(quitAfter, running->frame.get(), &QWidget::close);
  const int rc = app.exec();
  running->frame.reset();
  return rc;
}
