// The emergency report: "Report.log", a plain text file describing the machine and the program's set-up as far as
// capture problems depend on them, offered for mailing to support.
#pragma once

#include <QString>

#include <ctime>
#include <functional>
#include <string>

class QWidget;

namespace diag {

// Where support mail goes.
inline constexpr const char *kSupportMailAddress = "support@tarvik.example";
inline constexpr const char *kReportFileName = "Report.log";

// The report's text for the local time given: the heading, the time, the folders, the system version, the spool
// folder's attributes and readability, the access to the settings key of both hives, the default mail program,
// every value of both settings keys, and the two printer settings files. Lines end with "\n".
std::string EmergencyReportText(const std::tm &localTime);

// Where the report went: the folder and the file, or the reason it could not be written anywhere.
struct ReportFile {
  bool written = false;
  std::string folder;
  std::string path;
  std::string error;
};
// Writes the report into the installation folder, or into the application-data folder when the installation
// folder cannot be written (as in every installed copy).
ReportFile WriteReportFile(const std::tm &localTime);

// Mails the report file to support (subject "Tarvik Folvex! Emergency Report"). Empty when the message reached the
// mail program, else the text to show (caption "Tarvik Folvex! Mailer Message").
std::string SendReport(const std::string &reportPath);

// The Help menu's "Emergency report": writes the report, asks whether to send it to support (a question owned by
// the main window) and, on Yes, mails it; failures are shown in message boxes.
void WriteEmergencyReport(QWidget *owner);

// Replace the message boxes of WriteEmergencyReport (tests).
struct ReportHooks {
  std::function<bool(const QString &text, const QString &caption)> question; // true for Yes
  std::function<void(const QString &text, const QString &caption)> message;
};
void setReportHooks(ReportHooks hooks);

} // namespace diag
