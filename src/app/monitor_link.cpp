#include "app/monitor_link.h"

#include "app/prompts.h"

#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <QElapsedTimer>
#include <QThread>

namespace app {
namespace {

MonitorLinkHooks g_hooks;

constexpr int kPollMs = 100;
constexpr int kCloseWaitMs = 1000;

void message(const QString &text, const QString &caption) {
  if (g_hooks.message) {
    g_hooks.message(text, caption);
    return;
  }
  frame::ShowMessage({nullptr, QMessageBox::NoIcon, caption, text, QMessageBox::Ok, true});
}

bool question(const QString &text, const QString &caption) {
  if (g_hooks.question)
    return g_hooks.question(text, caption);
  return frame::ShowMessage({nullptr, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                             true}) == QMessageBox::Yes;
}

} // namespace

void setMonitorLinkHooks(MonitorLinkHooks hooks) { g_hooks = std::move(hooks); }

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

bool startMonitorAtStartup() {
  if (startMonitor(QStringLiteral("set")))
    return true;
  message(QStringLiteral("Tarvik Folvex! is damaged.\nPlease re-install.\nError 010003"), QStringLiteral("Error"));
  return false;
}

bool waitForMonitorAndRaise(int waitMs, int raiseMs) {
  QElapsedTimer clock;
  clock.start();
  bool found = false;
  while (!(found = platform::findWindow(kMonitorWindowTitle)) && clock.elapsed() < waitMs)
    QThread::msleep(kPollMs);
  if (!found)
    return false;
  clock.restart();
  do {
    if (!platform::bringToFront(kMonitorWindowTitle))
      break;
    QThread::msleep(kPollMs);
  } while (clock.elapsed() < raiseMs);
  return true;
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

void closeMonitorAtExit(bool pagesCaptured, int maxRounds) {
  // A monitor that does not close (its question is open, it hangs) must not keep Folvex from ending.
  for (int round = 0; round < maxRounds && platform::findWindow(kMonitorWindowTitle); ++round) {
    platform::postClose(kMonitorWindowTitle);
    QThread::msleep(kCloseWaitMs);
  }
  startMonitor(pagesCaptured ? QStringLiteral("refresh_and_delete_all") : QStringLiteral("refresh"));
}

} // namespace app
