#include "monitor/printer_text.h"

#include "platform/spooler.h"

#include <QDateTime>

#include <iterator>

namespace monitor {
namespace {

struct Word {
  uint32_t bit;
  const char *word;
};

constexpr Word kPrinterWords[] = {
    {platform::PRINTER_STATUS_ERROR, "Error"},
    {platform::PRINTER_STATUS_BUSY, "Busy"},
    {platform::PRINTER_STATUS_DOOR_OPEN, "DoorOpen"},
    {platform::PRINTER_STATUS_INITIALIZING, "Initializing"},
    {platform::PRINTER_STATUS_IO_ACTIVE, "Active"},
    {platform::PRINTER_STATUS_MANUAL_FEED, "ManualFeed"},
    {platform::PRINTER_STATUS_NO_TONER, "NoToner"},
    {platform::PRINTER_STATUS_NOT_AVAILABLE, "NotAvailable"},
    {platform::PRINTER_STATUS_OFFLINE, "Offline"},
    {platform::PRINTER_STATUS_OUT_OF_MEMORY, "OutOfMemory"},
    {platform::PRINTER_STATUS_OUTPUT_BIN_FULL, "BinFull"},
    {platform::PRINTER_STATUS_PAGE_PUNT, "PagePunt"},
    {platform::PRINTER_STATUS_PAPER_JAM, "PaperJam"},
    {platform::PRINTER_STATUS_PAPER_OUT, "PaperOut"},
    {platform::PRINTER_STATUS_PAPER_PROBLEM, "PaperProblem"},
    {platform::PRINTER_STATUS_PAUSED, "Paused"},
    {platform::PRINTER_STATUS_PENDING_DELETION, "PendingDeletion"},
    {platform::PRINTER_STATUS_POWER_SAVE, "PowerSave"},
    {platform::PRINTER_STATUS_PRINTING, "Printing"},
    {platform::PRINTER_STATUS_PROCESSING, "Processing"},
    {platform::PRINTER_STATUS_SERVER_UNKNOWN, "ServerUnknown"},
    {platform::PRINTER_STATUS_TONER_LOW, "TonerLow"},
    {platform::PRINTER_STATUS_USER_INTERVENTION, "RequiresTheUser"},
    {platform::PRINTER_STATUS_WAITING, "Waiting"},
    {platform::PRINTER_STATUS_WARMING_UP, "WarmingUp"},
    // States of a queue the spooler has no bit for.
    {platform::PRINTER_STATUS_REJECTING_JOBS, "RejectingJobs"},
    {platform::PRINTER_STATUS_HOLDING_NEW_JOBS, "HoldingNewJobs"},
};

constexpr Word kJobWords[] = {
    {platform::JOB_STATUS_DELETING, "Deleting"}, {platform::JOB_STATUS_BLOCKED_DEVQ, "Blocked"},
    {platform::JOB_STATUS_ERROR, "Error"},       {platform::JOB_STATUS_OFFLINE, "Offline"},
    {platform::JOB_STATUS_PAPEROUT, "PaperOut"}, {platform::JOB_STATUS_PAUSED, "Paused"},
    {platform::JOB_STATUS_PRINTED, "Printed"},   {platform::JOB_STATUS_PRINTING, "Printing"},
    {platform::JOB_STATUS_RESTART, "Restart"},   {platform::JOB_STATUS_SPOOLING, "Spooling"},
    {platform::JOB_STATUS_DELETED, "Deleted"},   {platform::JOB_STATUS_USER_INTERVENTION, "RequiresTheUser"},
};

template <size_t N> std::string joinWords(const Word (&table)[N], uint32_t status) {
  std::string text;
  for (const Word &w : table) {
    if (!(status & w.bit))
      continue;
    // A text of one character or less is replaced; a longer one gets "-" and the word.
    if (text.size() > 1)
      text += '-';
    else
      text.clear();
    text += w.word;
  }
  return text;
}

} // namespace

std::string printerStatusText(uint32_t status) {
  std::string text = joinWords(kPrinterWords, status);
  if (text.size() < 2)
    text = "Ready";
  return text;
}

std::string jobStatusText(uint32_t status) { return joinWords(kJobWords, status); }

std::string jobStatusCell(const std::optional<std::string> &spoolerText, uint32_t status) {
  return spoolerText ? *spoolerText : jobStatusText(status);
}

std::string submittedText(int64_t utcSeconds, const QTimeZone &zone, const QLocale &locale) {
  const QDateTime local = QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC).toTimeZone(zone);
  // The long time format with seconds, without a time zone name.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QLatin1Char('t'));
  timeFormat = timeFormat.trimmed();
  QString time = locale.toString(local.time(), timeFormat);
  if (time.size() > 80)
    time.truncate(80);
  const QString date = locale.toString(local.date(), QLocale::ShortFormat);
  return (time + QLatin1Char(' ') + date).toStdString();
}

} // namespace monitor
