// qvt: the printer monitor.
#include <QApplication>
#include <QDialog>
#include <QTimer>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Tarvik Quenby v.1.0"));
  dialog.show();
  if (const int ms = qEnvironmentVariableIntValue("FOLVEX_QUIT_AFTER_MS"); ms > 0)
    QTimer::singleShot(ms, &dialog, &QDialog::accept);
  QObject::connect(&dialog, &QDialog::finished, &app, &QApplication::quit);
  return app.exec();
}
