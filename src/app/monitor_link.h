// Folvex's side of the printer monitor qvt: starting it with its command words, finding, raising and closing it.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace app {

// The monitor's window title, by which Folvex finds it.
inline const QString kMonitorWindowTitle = QStringLiteral("Tarvik Quenby v.1.0");

// "qvt" in the installation folder ("InstallPath"); empty when that value is missing.
QString monitorProgram();
// Starts qvt with one command word, detached; false when "InstallPath" is missing or the start failed.
bool startMonitor(const QString &word);

// Start-up: starts qvt "set"; when that fails, tells the user the installation is damaged
// ("... Error 010003") and returns false. The program runs on without the monitor.
bool startMonitorAtStartup();
// Start-up: waits a bounded time for the monitor's window to appear, then brings it forward for a short while.
// Returns whether it appeared.
bool waitForMonitorAndRaise(int waitMs = 3000, int raiseMs = 1000);

// "Diagnostic printers for Folvex!": brings the open monitor forward, or starts qvt "work".
void showPrinterMonitor();

// "Clear all printer jobs" / "Delete All": asks "Are you sure you want to cancel all documents for all printers?";
// on Yes starts qvt "delete_all" and returns true (the caller then empties the page list). Anything else: false.
bool cancelAllDocuments();

// End of the program: closes a running monitor (a close message, then 1000 ms, as long as it is there, at most
// maxRounds times), then starts qvt "refresh_and_delete_all" when pages were captured, else "refresh".
void closeMonitorAtExit(bool pagesCaptured, int maxRounds = 10);

// Replaces the message box of a failed start and the cancel question (tests).
struct MonitorLinkHooks {
  std::function<void(const QString &text, const QString &caption)> message;
  std::function<bool(const QString &text, const QString &caption)> question;
};
void setMonitorLinkHooks(MonitorLinkHooks hooks);

} // namespace app
