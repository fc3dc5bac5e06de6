// Folvex: captures printed pages and turns them into pictures.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QWidget frame;
  frame.setWindowTitle(QStringLiteral("Tarvik Folvex! v.2.1"));
  frame.resize(800, 600);
  frame.show();
  // Smoke tests ask the program to end by itself after a while.
  if (const int ms = qEnvironmentVariableIntValue("FOLVEX_QUIT_AFTER_MS"); ms > 0)
    QTimer::singleShot(ms, &frame, &QWidget::close);
  return app.exec();
}
