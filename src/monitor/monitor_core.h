// The printer monitor without its window: the printer and job tables, the lists as rows of text, the buttons'
// enabling, the settings files and the command modes. Every call may ask the spooler and so may wait for the print
// server: the dialog runs this on a worker thread, forwards the user's clicks to it and shows copies of what it
// holds (view()); tests drive it directly with an in-memory spooler.
#pragma once

#include "monitor/printer_settings.h"
#include "platform/spooler.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace monitor {

constexpr size_t kMaxPrinters = 1000;
constexpr size_t kMaxJobs = 10000;
constexpr size_t kMaxPrinterName = 259;
constexpr int kRefreshTimerId = 987789;
constexpr int kRefreshMs = 2000;
constexpr int kCloseTimerId = 987798;
constexpr int kCloseMs = 5000;
constexpr int kCloseLongMs = 10000;

enum class Mode { None, Work, Set, Refresh, DeleteAll, RefreshAndDeleteAll };
// The command-line tail compared exactly and case-sensitively; any other tail selects no mode.
Mode parseMode(const QString &tail);

// Printers-list images.
enum Image { ImgPlus = 0, ImgMinus = 1, ImgQuestion = 2, ImgPlusMarked = 3, ImgQuestionMarked = 4, ImgMinusMarked = 5 };
// Info images.
enum InfoImage { InfoInformation = 0, InfoError = 1, InfoWarning = 2 };
// The plain and marked forms of a printers-list image swapped (0-3, 1-5, 2-4).
int toggledImage(int image);

struct PrinterRecord {
  std::string name;
  platform::QueueReach reach = platform::QueueReach::Local;
  uint8_t paused = 0;
  std::string statusText;
  std::string port;
  std::string datatype;
  uint32_t attributes = 0;
  int32_t response = -1;
  int acceptability = 0; // local printers: 1 acceptable, 2 not
};

struct JobRecord {
  std::string document;
  std::string status;
  std::string owner;
  std::string pages;
  std::string submitted;
  std::string port;
  std::string datatype;
  std::string user; // who submitted the job
  uint32_t jobId = 0;
  uint32_t statusBits = 0;
};

struct PrinterRow {
  std::string name, documents, status, port, datatype, response;
  int image = ImgPlus;
  int itemData = ImgPlus;
};

struct Buttons {
  bool setToPause = false;
  bool resume = false;
  bool saveSetting = false;
  bool cancelCurrent = false;
  bool cancelAll = false;
};

// A message box: its text, its caption ("Error" is the system's default caption) and whether the dialog owns it.
struct Notice {
  QString text;
  QString caption;
  bool ownedByDialog = false;
};

// What the end of the dialog records as the prepared settings: the queues as the monitor last saw them.
struct PreparedRecord {
  std::vector<PrinterState> local;
  std::vector<PrinterState> connections;
};
// The end of the dialog: in the "work" mode the queues as the user left them become the prepared settings; a first
// "set" records them when the prepared settings file does not exist yet. Nothing is written without a record (the
// print server was never reached, or it is not running now).
void recordPreparedSettings(Mode mode, const std::optional<PreparedRecord> &record);

// A copy of everything the dialog shows, made on the worker thread and shown on the window thread.
struct MonitorView {
  int code = 0;
  QString infoText;
  int infoImage = 0;
  bool infoShown = false;
  std::vector<PrinterRow> rows;
  std::vector<JobRecord> jobs;
  int selectedRow = -1;
  std::string selectedPrinter;
  uint32_t selectedJob = 0;
  std::vector<std::string> selectedPrinterBox;
  std::optional<std::pair<std::string, std::string>> selectedJobBox;
  Buttons buttons;
  std::optional<PreparedRecord> prepared;
  bool serverDown = false;
};

// The Info texts of the states that have no acceptability code of their own.
QString serverDownText();
QString rightsMissingText();

class MonitorCore {
public:
  struct Hooks {
    std::function<void(const Notice &)> notify;
    // "Do you want to cancel all documents for all printers?": true for Yes.
    std::function<bool()> confirmCancelAll;
    // Folvex runs now (its window exists); by default its window channel is asked.
    std::function<bool()> folvexRunning;
  };
  struct InitResult {
    int closeTimerMs = 0;  // 0: no close timer
    bool closeNow = false; // the command mode has done its work: close the dialog
  };

  MonitorCore(platform::Spooler &spooler, Mode mode, Hooks hooks);

  // Runs on a Windows 9x system: jobs are cancelled rather than deleted and only "EMF" queues are acceptable.
  void setLegacyPlatform(bool legacy) { legacy_ = legacy; }
  void setTimeZone(const QTimeZone &zone) { zone_ = zone; }
  void setLocale(const QLocale &locale) { locale_ = locale; }

  // The dialog's initialisation: enumerate, synchronise the settings files, fill the printers list,
  // run the command mode's work.
  // When no print server answers, the Info row says so and the command mode waits: each refresh tick asks again,
  // and the first tick that reaches the server does the initialisation and the mode's work.
  InitResult initialise();
  // The refresh timer's work (also run after the close timer's tick). True when a command mode that waited for
  // the print server has now done its work: the dialog closes.
  bool refreshTick();

  // User commands.
  void clickPrinterRows(const std::vector<int> &selectedRows);
  void clickJobRows(const std::vector<int> &selectedRows);
  void setToPause();
  void resume();
  void saveSetting();
  void setAllToDefault();
  void cancelCurrentDocument();
  void cancelAllDocuments(int focusRow);
  // Called when the dialog is destroyed (the dialog itself records from its last view).
  void recordPreparedSettings() const;

  // Single steps, used by the above and by tests.
  // One look at the spooler; false when no print server answers (the monitor then shows that state).
  bool enumeratePrinters();
  void startupSynchronisation();
  void fillPrintersList();
  std::string statusCell(const std::string &name);
  int32_t responseProbe(const std::string &name);
  bool datatypeCheck(const std::string &name) const;
  bool changedMark(const std::string &name) const;
  bool pausedQuery(const std::string &name);
  void fillJobList(int row, bool fresh = false);
  void applyPreparedSettings();
  // Restores the pairs of default and prepared entries that differ; true when no pause or resume was left undone
  // because the print server did not answer.
  bool restoreDefaultSettings();
  // After a run of Folvex that did not end normally: every saved printer whose queue differs from its default
  // entry gets its default back.
  bool restoreAfterAbnormalEnd();
  // "Cancel all documents" started from Folvex: exactly the jobs Folvex captured, the current user's own, on the
  // queues of this computer; jobs of the spool folder by removing their shadow and data files.
  void cancelCapturedJobs();
  void cancelAllDocumentsOf(const std::string &name);
  // The queue is one the preparation and the cancel commands may touch: neither shared by another computer nor on
  // a network port (by the saved entry as well as by what the spooler says of the queue).
  bool touchable(const SavedPrinterEntry &entry) const;

  // What the dialog shows.
  Mode mode() const { return mode_; }
  int code() const { return code_; }
  const std::vector<PrinterRecord> &localPrinters() const { return local_; }
  const std::vector<PrinterRecord> &connections() const { return connections_; }
  const std::vector<PrinterRow> &printerRows() const { return rows_; }
  const std::vector<JobRecord> &jobs() const { return jobs_; }
  const std::vector<SavedPrinterEntry> &defaultTable() const { return defaultTable_; }
  const std::vector<SavedPrinterEntry> &preparedTable() const { return preparedTable_; }
  const QString &infoText() const { return infoText_; }
  int infoImage() const { return infoImage_; }
  bool infoShown() const { return infoShown_; }
  int selectedRow() const { return selectedRow_; }
  const std::string &selectedPrinter() const { return selectedName_; }
  uint32_t selectedJob() const { return selectedJob_; }
  // The "Selected Printer" box: empty or one name.
  const std::vector<std::string> &selectedPrinterBox() const { return selectedPrinterBox_; }
  // The "Selected Job" box: nothing, or the document name and the submitted text.
  const std::optional<std::pair<std::string, std::string>> &selectedJobBox() const { return selectedJobBox_; }
  const Buttons &buttons() const { return buttons_; }
  bool serverDown() const { return serverDown_; }
  bool rightsMissing() const { return rightsMissing_; }
  std::optional<PreparedRecord> preparedRecord() const;
  MonitorView view() const;

private:
  PrinterRecord *findRecord(const std::string &name);
  const PrinterRecord *findRecord(const std::string &name) const;
  void takeRecords(const platform::SpoolerSnapshot &snap);
  void showServerDown();
  void startFromServer();
  bool runModeWork();
  std::vector<PrinterState> states(const std::vector<PrinterRecord> &table) const;
  void writeFromTables(const char *fileName, WriteMode mode);
  bool pausePrinter(const std::string &name);
  bool resumePrinter(const std::string &name);
  bool setPaused(const std::string &name, bool paused);
  void report(const std::string &name, const char *text, bool connection = false);
  void ownedMessage(const char *text);
  platform::JobControl jobCommand() const;

  platform::Spooler &spooler_;
  Mode mode_;
  Hooks hooks_;
  bool legacy_;
  QTimeZone zone_ = QTimeZone::systemTimeZone();
  QLocale locale_ = QLocale::system();

  std::vector<PrinterRecord> local_;
  std::vector<PrinterRecord> connections_;
  std::vector<JobRecord> jobs_;
  std::vector<PrinterRow> rows_;
  std::vector<SavedPrinterEntry> defaultTable_;
  std::vector<SavedPrinterEntry> preparedTable_;
  std::string currentPrinter_;
  int selectedRow_ = -1;
  std::string selectedName_;
  uint32_t selectedJob_ = 0;
  std::vector<std::string> selectedPrinterBox_;
  std::optional<std::pair<std::string, std::string>> selectedJobBox_;
  Buttons buttons_;
  QString infoText_;
  int infoImage_ = InfoInformation;
  bool infoShown_ = false;
  int code_ = 0;
  bool ticking_ = false;
  platform::SpoolerSnapshot snap_;   // the last look at the spooler
  bool haveTables_ = false;          // the tables come from a print server that answered
  bool serverDown_ = false;          // the last look found no print server
  bool rightsMissing_ = false;       // the user may not administer the queues
  bool modeDone_ = false;            // the command mode's work is done
  std::optional<bool> cancelAnswer_; // the answer to the cancel question, once asked
  // Failures already reported, by printer: a printer that stays unreadable is reported once, not at every
  // refresh tick, until it reads again.
  std::map<std::string, std::set<std::string>> reported_;
};

// The texts of the Info row.
QString infoTextFor(int code);

} // namespace monitor
