#include "app/monitor_link.h"

#include "app/prompts.h"

#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <QThread>

namespace app {
namespace {

constexpr int kCloseWaitMs = 1000;

bool question(const QString &text, const QString &caption) {
  return frame::ShowMessage({nullptr, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                             true}) == QMessageBox::Yes;
}

} // namespace

QString monitorProgram() {
  const std::string folder = platform::installFolder();
  if (folder.empty())
    return {};
  return QString::fromStdString(folder) + QStringLiteral("/qvt");
}

bool startMonitor(const QString &word) {
  const QString program = monitorProgram();
  return !program.isEmpty() && platform::startProgram(program, word);
}

void showPrinterMonitor() {
  if (platform::bringToFront(kMonitorWindowTitle))
    return;
  startMonitor(QStringLiteral("work"));
}

bool cancelAllDocuments() {
  if (!question(QStringLiteral("Are you sure you want to cancel all documents for all printers?"),
                QStringLiteral("Tarvik Folvex! message")))
    return false;
  startMonitor(QStringLiteral("delete_all"));
  return true;
}

QString restoreWord(bool pagesCaptured) {
  return pagesCaptured ? QStringLiteral("refresh_and_delete_all") : QStringLiteral("refresh");
}

void closeMonitorAtExit(bool pagesCaptured, int maxRounds) {
  // A monitor that does not close (its question is open, it hangs) must not keep Folvex from ending.
  for (int round = 0; round < maxRounds && platform::findWindow(kMonitorWindowTitle); ++round) {
    platform::postClose(kMonitorWindowTitle);
    QThread::msleep(kCloseWaitMs);
  }
  startMonitor(restoreWord(pagesCaptured));
}

} // namespace app
