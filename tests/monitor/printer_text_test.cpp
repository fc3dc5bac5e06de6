#include "monitor/printer_text.h"
#include "platform/spooler.h"
#include "platform/spooler_cups.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace {

using namespace monitor;
using namespace platform;

TEST(PrinterStatusText, JoinsWordsInTableOrderAndFallsBackToReady) {
  EXPECT_EQ(printerStatusText(0), "Ready");
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_PAUSED), "Paused");
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_PAUSED | PRINTER_STATUS_PRINTING), "Paused-Printing");
  // Table order, not bit order: Error (0x2) before Busy (0x200) before Paused (0x1).
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_PAUSED | PRINTER_STATUS_BUSY | PRINTER_STATUS_ERROR), "Error-Busy-Paused");
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_USER_INTERVENTION), "RequiresTheUser");
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_OUTPUT_BIN_FULL | PRINTER_STATUS_IO_ACTIVE), "Active-BinFull");
  // Bits outside the table add nothing.
  EXPECT_EQ(printerStatusText(0x80000000u), "Ready");
  EXPECT_EQ(printerStatusText(0xFFFFFFFFu),
            "Error-Busy-DoorOpen-Initializing-Active-ManualFeed-NoToner-NotAvailable-Offline-OutOfMemory-BinFull-"
            "PagePunt-PaperJam-PaperOut-PaperProblem-Paused-PendingDeletion-PowerSave-Printing-Processing-"
            "ServerUnknown-TonerLow-RequiresTheUser-Waiting-WarmingUp-RejectingJobs-HoldingNewJobs");
  // A queue that refuses or holds new jobs is not "Ready".
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_REJECTING_JOBS), "RejectingJobs");
  EXPECT_EQ(printerStatusText(PRINTER_STATUS_HOLDING_NEW_JOBS), "HoldingNewJobs");
}

TEST(JobStatusText, JoinsWordsWithoutReadyAndPrefersTheSpoolersText) {
  EXPECT_EQ(jobStatusText(JOB_STATUS_BLOCKED_DEVQ | JOB_STATUS_PAPEROUT), "Blocked-PaperOut");
  EXPECT_EQ(jobStatusText(0), "");
  EXPECT_EQ(jobStatusText(JOB_STATUS_COMPLETE | JOB_STATUS_RETAINED), "");
  EXPECT_EQ(jobStatusText(JOB_STATUS_PRINTING | JOB_STATUS_DELETING), "Deleting-Printing");
  EXPECT_EQ(jobStatusText(JOB_STATUS_USER_INTERVENTION | JOB_STATUS_DELETED | JOB_STATUS_SPOOLING),
            "Spooling-Deleted-RequiresTheUser");
  // The spooler's own text is shown unchanged whatever the bits say, an empty one included.
  EXPECT_EQ(jobStatusCell(std::string("Waiting for toner"), JOB_STATUS_ERROR | JOB_STATUS_PAUSED), "Waiting for toner");
  EXPECT_EQ(jobStatusCell(std::string(), JOB_STATUS_ERROR), "");
  EXPECT_EQ(jobStatusCell(std::nullopt, JOB_STATUS_ERROR), "Error");
}

TEST(SubmittedText, UsesTheJobsOwnLocalDateAcrossMidnight) {
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const QTimeZone berlin("Europe/Berlin");
  ASSERT_TRUE(berlin.isValid());
  // 22:59:30 UTC is 23:59:30 in Berlin on 9 March; the job keeps that date when listed after midnight.
  const int64_t beforeMidnight = QDateTime(QDate(2024, 3, 9), QTime(22, 59, 30), Qt::UTC).toSecsSinceEpoch();
  EXPECT_EQ(submittedText(beforeMidnight, berlin, us), "11:59:30 PM 3/9/24");
  // Half an hour later in UTC it is already the next day in Berlin.
  EXPECT_EQ(submittedText(beforeMidnight + 1830, berlin, us), "12:30:00 AM 3/10/24");
  // The same instant in another zone reads as that zone's time and date.
  EXPECT_EQ(submittedText(beforeMidnight, QTimeZone("America/New_York"), us), "5:59:30 PM 3/9/24");
  // Extreme values give some text rather than a crash.
  EXPECT_FALSE(submittedText(0, berlin, us).empty());
}

TEST(CupsMapping, PrinterStatesAndReasonsBecomeStatusBits) {
  EXPECT_EQ(cupsPrinterStatus(3, {"none"}), 0u);
  EXPECT_EQ(cupsPrinterStatus(5, {"paused"}), uint32_t(PRINTER_STATUS_PAUSED));
  EXPECT_EQ(cupsPrinterStatus(4, {}), uint32_t(PRINTER_STATUS_PRINTING));
  EXPECT_EQ(cupsPrinterStatus(3, {"media-empty-error"}), uint32_t(PRINTER_STATUS_PAPER_OUT));
  EXPECT_EQ(cupsPrinterStatus(3, {"media-needed-warning", "door-open-report"}),
            uint32_t(PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_DOOR_OPEN));
  EXPECT_EQ(cupsPrinterStatus(3, {"toner-low-report"}), uint32_t(PRINTER_STATUS_TONER_LOW));
  EXPECT_EQ(cupsPrinterStatus(3, {"offline-report"}), uint32_t(PRINTER_STATUS_OFFLINE));
  // An unknown reason counts only when it is an error.
  EXPECT_EQ(cupsPrinterStatus(3, {"cups-missing-filter-error"}), uint32_t(PRINTER_STATUS_ERROR));
  EXPECT_EQ(cupsPrinterStatus(3, {"cups-insecure-filter-warning"}), 0u);
  EXPECT_EQ(printerStatusText(cupsPrinterStatus(5, {"paused", "media-empty-error"})), "PaperOut-Paused");
  EXPECT_EQ(printerStatusText(cupsPrinterStatus(3, {"hold-new-jobs"}, false)), "RejectingJobs-HoldingNewJobs");
}

TEST(CupsMapping, JobStatesBecomeStatusBits) {
  EXPECT_EQ(cupsJobStatus(3, {"none"}), 0u);
  EXPECT_EQ(cupsJobStatus(4, {"job-hold-until-specified"}), uint32_t(JOB_STATUS_PAUSED));
  EXPECT_EQ(cupsJobStatus(5, {"job-printing"}), uint32_t(JOB_STATUS_PRINTING));
  EXPECT_EQ(cupsJobStatus(3, {"job-incoming"}), uint32_t(JOB_STATUS_SPOOLING));
  EXPECT_EQ(cupsJobStatus(5, {"processing-to-stop-point"}), uint32_t(JOB_STATUS_PRINTING | JOB_STATUS_DELETING));
  EXPECT_EQ(cupsJobStatus(8, {"aborted-by-system"}), uint32_t(JOB_STATUS_ERROR));
  EXPECT_EQ(jobStatusText(cupsJobStatus(9, {"job-completed-successfully"})), "Printed");
  EXPECT_EQ(jobStatusText(cupsJobStatus(7, {"job-canceled-by-user"})), "Deleted");
}

TEST(CupsMapping, PrinterTypeBecomesAttributes) {
  EXPECT_TRUE(cupsPrinterAttributes(0) & PRINTER_ATTRIBUTE_LOCAL);
  EXPECT_FALSE(cupsPrinterAttributes(0) & PRINTER_ATTRIBUTE_NETWORK);
  EXPECT_TRUE(cupsPrinterAttributes(0x2 /* remote */) & PRINTER_ATTRIBUTE_NETWORK);
  EXPECT_FALSE(cupsPrinterAttributes(0x200000 /* not shared */) & PRINTER_ATTRIBUTE_SHARED);
}

TEST(CupsMapping, RemoteAndNetworkQueuesHaveTheirReach) {
  using platform::QueueReach;
  EXPECT_EQ(platform::cupsQueueReach(0x4 /* a class */, "file:///dev/null"), QueueReach::Local);
  EXPECT_EQ(platform::cupsQueueReach(0, "usb://Maker/Model"), QueueReach::Local);
  EXPECT_EQ(platform::cupsQueueReach(0x2 /* remote */, "ipp://host/printers/x"), QueueReach::Shared);
  EXPECT_EQ(platform::cupsQueueReach(0x10000 /* implicit class */, ""), QueueReach::Shared);
  EXPECT_EQ(platform::cupsQueueReach(0, "implicitclass://Cluster/"), QueueReach::Shared);
  for (const char *uri : {"ipp://10.0.0.5/ipp/print", "IPPS://printer.local:631/ipp/print", "http://h:631/x",
                          "https://h/x", "socket://10.0.0.7:9100", "lpd://host/queue", "dnssd://Name._ipp._tcp.local/"})
    EXPECT_EQ(platform::cupsQueueReach(0, uri), QueueReach::Network) << uri;
  EXPECT_EQ(platform::cupsQueueReach(0, "ippusbxd"), QueueReach::Local) << "no scheme";
}

} // namespace
