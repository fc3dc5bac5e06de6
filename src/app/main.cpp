// Folvex: captures printed pages and turns them into pictures.
#include "app/frame_win.h"
#include "app/monitor_link.h"
#include "app/startup.h"
#include "capture/page_store.h"
#include "platform/session_end.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<bool> g_running{false};

// The window system can end the program from inside its event loop (the display went away at logout) before the
// frame's end has run. The printers must still get their normal settings back: the restoring monitor is started
// here, unattended, and the program ends at once.
void restorePrintersAtAbnormalExit() {
  if (!g_running.exchange(false))
    return;
  platform::setUnattended();
  app::startMonitor(app::restoreWord(capture::pageStore().pageCount() > 0));
  ::_exit(1);
}

} // namespace

int main(int argc, char *argv[]) {
  // The only options; they need no display. Any other argument is ignored.
  if (argc == 2 && (!std::strcmp(argv[1], "--version") || !std::strcmp(argv[1], "--help"))) {
    std::printf(argv[1][2] == 'v' ? "Folvex " FOLVEX_VERSION "\n" : "Usage: folvex [--version | --help]\n");
    return 0;
  }
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
  QObject::connect(running->frame.get(), &lvFrameWin::ended, &app, [] { g_running = false; });
  g_running = true;
  std::atexit(restorePrintersAtAbnormalExit);
  // The end of the session (SIGTERM, SIGHUP): the normal end, as the close box would start it, without waiting for
  // a person (the monitor started at the end inherits that).
  QObject::connect(platform::SessionEnd::install(), &platform::SessionEnd::endRequested, running->frame.get(),
                   &QWidget::close);
  if (quitAfter > 0)
    QTimer::singleShot(quitAfter, running->frame.get(), &QWidget::close);
  const int rc = app.exec();
  g_running = false;
  running->frame.reset();
  return rc;
}
