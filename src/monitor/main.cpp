// qvt: the printer monitor. One word on the command line selects the mode ("work", "set", "refresh",
// "delete_all", "refresh_and_delete_all").
#include "monitor/monitor_dialog.h"
#include "platform/ipc.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("qvt"));
  app.setQuitOnLastWindowClosed(false);

  // The command-line tail: everything after the program name, as one string.
  const QStringList args = app.arguments().mid(1);
  const monitor::Mode mode = monitor::parseMode(args.join(QLatin1Char(' ')));

  auto spooler = platform::makeCupsSpooler();
  monitor::MonitorDialog dialog(*spooler, mode);

  // Folvex finds this window by its title, brings it forward and closes it.
  platform::WindowChannel channel(monitor::kMonitorTitle);
  QObject::connect(&channel, &platform::WindowChannel::closeRequested, &dialog, &QDialog::close);
  QObject::connect(&channel, &platform::WindowChannel::raiseRequested, &dialog, &monitor::MonitorDialog::raiseWindow);
  channel.listen();

  QTimer quitTimer;
  if (const int ms = qEnvironmentVariableIntValue("FOLVEX_QUIT_AFTER_MS"); ms > 0) {
    // Smoke tests: close whatever is open (a message, the question, the dialog) after a while, and again at each
    // tick until the program ends, since a message may open while the dialog is not shown yet.
    quitTimer.setInterval(ms);
    QObject::connect(&quitTimer, &QTimer::timeout, &app, [&dialog] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
          box->reject();
      if (dialog.isVisible())
        dialog.reject();
    });
    quitTimer.start();
  }

  const monitor::MonitorCore::InitResult r = dialog.initialise();
  if (r.closeNow)
    return 0; // the command mode has done its work: the dialog ends before it is shown
  return dialog.exec();
}
