// qvt: the printer monitor. One word on the command line selects the mode ("work", "set", "refresh",
// "delete_all", "refresh_and_delete_all").
#include "monitor/monitor_dialog.h"
#include "platform/ipc.h"
#include "platform/session_end.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

monitor::MonitorDialog *g_dialog = nullptr;
bool g_ended = false;

// The window system can end the program from inside its event loop (the display went away at logout). The command
// modes' work must still be done and the prepared settings recorded: that end runs here, without any window.
void endWithoutWindowSystem() {
  if (g_ended || !g_dialog)
    return;
  g_ended = true;
  platform::setUnattended();
  g_dialog->endUnattended(15000);
  ::_exit(1);
}

// The command modes must run also when no display can be reached (at logout, or started from a session that
// ends): the offscreen platform stands in for a display that cannot be opened.
void allowRunningWithoutDisplay() {
  QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
  if (platforms.contains("offscreen") || platforms.contains("minimal"))
    return;
  if (platforms.isEmpty())
    platforms = qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "wayland;xcb" : "xcb";
  qputenv("QT_QPA_PLATFORM", platforms + ";offscreen");
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc == 2 && (!std::strcmp(argv[1], "--version") || !std::strcmp(argv[1], "--help"))) {
    std::printf(argv[1][2] == 'v' ? "qvt " FOLVEX_VERSION "\n"
                                  : "Usage: qvt [work | set | refresh | delete_all | refresh_and_delete_all]\n"
                                    "       qvt [--version | --help]\n");
    return 0;
  }
  allowRunningWithoutDisplay();
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("qvt"));
  app.setQuitOnLastWindowClosed(false);

  // The command-line tail: everything after the program name, as one string.
  const QStringList args = app.arguments().mid(1);
  const monitor::Mode mode = monitor::parseMode(args.join(QLatin1Char(' ')));

  auto spooler = platform::makeCupsSpooler();
  auto dialog = std::make_unique<monitor::MonitorDialog>(*spooler, mode);
  g_dialog = dialog.get();
  std::atexit(endWithoutWindowSystem);

  // Folvex finds this window by its title, brings it forward and closes it. The channel closes with the dialog, so
  // that Folvex sees the monitor gone at once, even while the program still finishes its last request.
  auto channel = std::make_unique<platform::WindowChannel>(monitor::kMonitorTitle);
  QObject::connect(channel.get(), &platform::WindowChannel::closeRequested, dialog.get(),
                   &monitor::MonitorDialog::requestClose);
  QObject::connect(channel.get(), &platform::WindowChannel::raiseRequested, dialog.get(),
                   &monitor::MonitorDialog::raiseWindow);
  channel->listen();
  // Queued: the close message that ends the dialog may come from the channel itself.
  QObject::connect(
      dialog.get(), &QDialog::finished, &app,
      [&] {
        channel.reset();
        app.quit();
      },
      Qt::QueuedConnection);

  // The end of the session (SIGTERM, SIGHUP): the normal end, without waiting for a person.
  QObject::connect(platform::SessionEnd::install(), &platform::SessionEnd::endRequested, dialog.get(),
                   &monitor::MonitorDialog::requestClose);

  QTimer quitTimer;
  if (const int ms = qEnvironmentVariableIntValue("FOLVEX_QUIT_AFTER_MS"); ms > 0) {
    // Smoke tests: close whatever is open (a message, the question, the dialog) after a while, and again at each
    // tick until the program ends, since a message may open while the dialog is not shown yet.
    quitTimer.setInterval(ms);
    QObject::connect(&quitTimer, &QTimer::timeout, &app, [&dialog] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
          box->reject();
      if (dialog->isVisible())
        dialog->reject();
    });
    quitTimer.start();
  }

  if (mode == monitor::Mode::Work || mode == monitor::Mode::None)
    dialog->show();
  dialog->initialise();
  const int rc = app.exec();
  g_ended = true;
  dialog.reset(); // waits for the request under way, records the prepared settings if not done yet
  return rc;
}
