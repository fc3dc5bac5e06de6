// Folvex's side of the printer monitor qvt: starting it with its command words, finding, raising and closing it.
#pragma once

#include <QString>

namespace app {

// The monitor's window title, by which Folvex finds it.
inline const QString kMonitorWindowTitle = QStringLiteral("Tarvik Quenby v.1.0");

// "qvt" in the installation folder ("InstallPath"); empty when that value is missing.
QString monitorProgram();
// Starts qvt with one command word, detached; false when "InstallPath" is missing or the start failed.
bool startMonitor(const QString &word);

// "Diagnostic printers for Folvex!": brings the open monitor forward, or starts qvt "work".
void showPrinterMonitor();

// "Clear all printer jobs" / "Delete All": asks "Are you sure you want to cancel all documents for all printers?";
// on Yes starts qvt "delete_all" and returns true (the caller then empties the page list). Anything else: false.
bool cancelAllDocuments();

// The word that restores the printers at the end: "refresh_and_delete_all" when pages were captured (the held jobs
// may be cancelled too), else "refresh".
QString restoreWord(bool pagesCaptured);
// End of the program: closes a running monitor (a close message, then 1000 ms, as long as it is there, at most
// maxRounds times), then starts qvt with restoreWord(pagesCaptured).
void closeMonitorAtExit(bool pagesCaptured, int maxRounds = 10);

} // namespace app
