#include "monitor/monitor_core.h"

#include "monitor/printer_text.h"
#include "platform/paths.h"

#include <QElapsedTimer>

#include <algorithm>

namespace monitor {
namespace {

const QString kDefaultCaption = QStringLiteral("Error");
const QString kAppCaption = QStringLiteral("qvt");

std::string clip(const std::string &s, size_t max) { return s.size() > max ? s.substr(0, max) : s; }
bool startsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

} // namespace

Mode parseMode(const QString &tail) {
  if (tail == QLatin1String("work"))
    return Mode::Work;
  if (tail == QLatin1String("set"))
    return Mode::Set;
  if (tail == QLatin1String("refresh"))
    return Mode::Refresh;
  if (tail == QLatin1String("delete_all"))
    return Mode::DeleteAll;
  if (tail == QLatin1String("refresh_and_delete_all"))
    return Mode::RefreshAndDeleteAll;
  return Mode::None;
}

int toggledImage(int image) {
  switch (image) {
  case ImgPlus:
    return ImgPlusMarked;
  case ImgPlusMarked:
    return ImgPlus;
  case ImgMinus:
    return ImgMinusMarked;
  case ImgMinusMarked:
    return ImgMinus;
  case ImgQuestion:
    return ImgQuestionMarked;
  case ImgQuestionMarked:
    return ImgQuestion;
  default:
    return image;
  }
}

QString infoTextFor(int code) {
  switch (code) {
  case 0:
    return QStringLiteral("Acceptable printers not found! Please install new printer. Read Help for details.");
  case 1:
    return QStringLiteral("Acceptable printers exist. Read Help to learn more how to control printers.");
  default:
    return QStringLiteral("The system printers are conditionally acceptable. Read Help for details.");
  }
}

MonitorCore::MonitorCore(platform::Spooler &spooler, Mode mode, Hooks hooks)
    : spooler_(spooler), mode_(mode), hooks_(std::move(hooks)),
      legacy_(platform::platformId() == platform::VER_PLATFORM_WIN32_WINDOWS) {}

void MonitorCore::report(const std::string &name, const char *text, bool) {
  if (!reported_[name].insert(text).second)
    return;
  if (hooks_.notify)
    hooks_.notify({QString::fromLatin1(text), kDefaultCaption, false});
}

void MonitorCore::ownedMessage(const char *text) {
  if (hooks_.notify)
    hooks_.notify({QString::fromLatin1(text), kAppCaption, true});
}

platform::JobControl MonitorCore::jobCommand() const {
  return legacy_ ? platform::JobControl::Cancel : platform::JobControl::Delete;
}

PrinterRecord *MonitorCore::findRecord(const std::string &name) {
  for (auto *table : {&local_, &connections_})
    for (PrinterRecord &r : *table)
      if (r.name == name)
        return &r;
  return nullptr;
}

const PrinterRecord *MonitorCore::findRecord(const std::string &name) const {
  return const_cast<MonitorCore *>(this)->findRecord(name);
}

// ---- listing -------------------------------------------------------------------------------------------------

void MonitorCore::enumeratePrinters() {
  local_.clear();
  connections_.clear();
  for (const std::string &n : spooler_.enumPrinters(platform::PrinterEnum::Local)) {
    if (local_.size() >= kMaxPrinters)
      break;
    local_.emplace_back().name = clip(n, kMaxPrinterName);
  }
  for (const std::string &n : spooler_.enumPrinters(platform::PrinterEnum::Connections)) {
    if (connections_.size() >= kMaxPrinters)
      break;
    connections_.emplace_back().name = clip(n, kMaxPrinterName);
  }
  rereadAllPrinters();
}

bool MonitorCore::readRecord(PrinterRecord &rec, bool connection) {
  const platform::PrinterRead r = spooler_.getPrinter(rec.name);
  switch (r.error) {
  case platform::SpoolError::Open:
    report(rec.name, connection ? "!bFlag || !hPrinter. Error 020013" : "!bFlag || !hPrinter. Error 020010");
    return false;
  case platform::SpoolError::Size:
    report(rec.name, connection ? "dwNeeded == 0. Error 020014" : "dwNeeded == 0. Error 020011");
    return false;
  case platform::SpoolError::Alloc:
    report(rec.name, connection ? "!ppi2. Error 020015" : "!ppi2.  Error 020012");
    return false;
  case platform::SpoolError::Read:
    return false;
  case platform::SpoolError::None:
    break;
  }
  // The printer reads again: its failures may be reported anew later.
  reported_.erase(rec.name);
  rec.paused = (r.info.status & platform::PRINTER_STATUS_PAUSED) ? 1 : 0;
  rec.statusText = printerStatusText(r.info.status);
  rec.port = r.info.port;
  rec.datatype = r.info.datatype;
  rec.attributes = r.info.attributes;
  return true;
}

void MonitorCore::rereadAllPrinters() {
  for (PrinterRecord &r : local_)
    readRecord(r, false);
  for (PrinterRecord &r : connections_)
    readRecord(r, true);
}

std::string MonitorCore::statusCell(const std::string &name) {
  if (!spooler_.openPrinter(name) || !spooler_.enumJobs(name))
    return "Unable to connect";
  const platform::PrinterRead r = spooler_.getPrinter(name);
  if (r.error != platform::SpoolError::None)
    return "Error Connect";
  if (PrinterRecord *rec = findRecord(name))
    rec->paused = (r.info.status & platform::PRINTER_STATUS_PAUSED) ? 1 : 0;
  return printerStatusText(r.info.status);
}

long MonitorCore::jobCount(const std::string &name) {
  if (!spooler_.openPrinter(name))
    return -1;
  const auto jobs = spooler_.enumJobs(name);
  if (!jobs)
    return -1;
  return static_cast<long>(std::min(jobs->size(), kMaxJobs));
}

int32_t MonitorCore::responseProbe(const std::string &name) {
  // The plain read first: only its messages matter.
  switch (spooler_.getPrinter(name).error) {
  case platform::SpoolError::Open:
    report(name, "!bFlag || !hPrinter. Error 020016");
    break;
  case platform::SpoolError::Size:
    report(name, "dwNeeded == 0. Error 020017");
    break;
  case platform::SpoolError::Alloc:
    report(name, "!ppi2. Error 020018");
    break;
  default:
    break;
  }
  QElapsedTimer clock; // monotonic: the elapsed time is never negative
  clock.start();
  if (!spooler_.openPrinterAdminister(name))
    return -1;
  return static_cast<int32_t>(std::min<qint64>(clock.elapsed(), INT32_MAX));
}

bool MonitorCore::datatypeCheck(const std::string &name) {
  if (!legacy_)
    return true;
  const platform::PrinterRead r = spooler_.getPrinter(name);
  switch (r.error) {
  case platform::SpoolError::Open:
    report(name, "!bFlag || !hPrinter. Error 020033");
    return false;
  case platform::SpoolError::Size:
    report(name, "dwNeeded == 0. Error 020034");
    return false;
  case platform::SpoolError::Alloc:
    report(name, "!ppi2. Error 020035");
    return false;
  case platform::SpoolError::Read:
    return false;
  case platform::SpoolError::None:
    break;
  }
  return r.info.datatype == "EMF";
}

bool MonitorCore::isLocalPrinter(const std::string &name) {
  const auto names = spooler_.enumPrinters(platform::PrinterEnum::Local);
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool MonitorCore::changedMark(const std::string &name) const {
  const PrinterRecord *rec = findRecord(name);
  if (!rec)
    return false;
  for (const SavedPrinterEntry &e : defaultTable_) {
    if (e.name != name)
      continue;
    if (e.paused != (rec->paused != 0) || e.port != rec->port || e.datatype != rec->datatype)
      return true;
  }
  return false;
}

bool MonitorCore::pausedQuery(const std::string &name) {
  const platform::PrinterRead r = spooler_.getPrinter(name);
  switch (r.error) {
  case platform::SpoolError::Open:
    report(name, "!bFlag || !hPrinter. Error 020030");
    return false;
  case platform::SpoolError::Size:
    report(name, "dwNeeded == 0. Error 020031");
    return false;
  case platform::SpoolError::Alloc:
    report(name, "!ppi2. Error 020032");
    return false;
  case platform::SpoolError::Read:
    return false;
  case platform::SpoolError::None:
    break;
  }
  return (r.info.status & platform::PRINTER_STATUS_PAUSED) != 0;
}

void MonitorCore::fillPrintersList() {
  rows_.clear();
  bool anyAcceptable = false;
  for (PrinterRecord &rec : local_) {
    currentPrinter_ = rec.name;
    rec.response = responseProbe(rec.name);
    const bool acceptable = rec.response >= 0 && datatypeCheck(rec.name);
    rec.acceptability = acceptable ? 1 : 2;
    anyAcceptable = anyAcceptable || acceptable;
    const bool marked = changedMark(rec.name);
    PrinterRow row;
    row.name = rec.name;
    row.image = acceptable ? (marked ? ImgPlusMarked : ImgPlus) : (marked ? ImgQuestionMarked : ImgQuestion);
    row.itemData = row.image;
    row.status = acceptable ? rec.statusText : "Unable to connect";
    row.port = rec.port;
    row.datatype = rec.datatype;
    if (rec.response >= 0)
      row.response = std::to_string(rec.response);
    rows_.push_back(std::move(row));
  }
  if (mode_ == Mode::Work) {
    for (PrinterRecord &rec : connections_) {
      currentPrinter_ = rec.name;
      rec.response = responseProbe(rec.name);
      const bool marked = changedMark(rec.name);
      PrinterRow row;
      row.name = rec.name;
      if (rec.response >= 0) {
        row.image = marked ? ImgQuestionMarked : ImgQuestion;
        row.status = rec.statusText;
        row.response = std::to_string(rec.response);
      } else {
        row.image = marked ? ImgMinusMarked : ImgMinus;
        row.status = "Unable to connect";
      }
      row.itemData = row.image;
      row.port = rec.port;
      row.datatype = rec.datatype;
      rows_.push_back(std::move(row));
    }
  }
  // Any acceptable local printer is enough for capture: the user prints to that one.
  code_ = local_.empty() ? 0 : (anyAcceptable ? 1 : 2);
  infoText_ = infoTextFor(code_);
  infoImage_ = code_ == 0 ? InfoError : (code_ == 1 ? InfoInformation : InfoWarning);
  infoShown_ = true;
  storeKodEstPrinters(code_);
  currentPrinter_.clear();
}

void MonitorCore::refreshTick() {
  if (ticking_) // a message box of this tick is open and the loop delivered the next tick
    return;
  ticking_ = true;
  if (selectedRow_ >= 0 && !selectedName_.empty()) {
    selectedPrinterBox_ = {selectedName_};
    fillJobList(selectedRow_);
  }
  if (!rows_.empty()) {
    // The records are read again once per tick (not once per row: the rows would read the same state).
    rereadAllPrinters();
    const auto localNames = spooler_.enumPrinters(platform::PrinterEnum::Local);
    for (PrinterRow &row : rows_) {
      const std::string name = row.name;
      QElapsedTimer clock;
      clock.start();
      const long count = jobCount(name);
      const qint64 elapsed = clock.elapsed();
      row.documents = count == -1 ? "Unable to connect" : std::to_string(count);
      row.response = std::to_string(elapsed);
      row.status = statusCell(name);
      const bool local = std::find(localNames.begin(), localNames.end(), name) != localNames.end();
      const bool marked = changedMark(name);
      if (local && datatypeCheck(name))
        row.image = marked ? ImgPlusMarked : ImgPlus;
      else
        row.image = marked ? ImgMinusMarked : ImgMinus;
      row.itemData = row.image;
    }
  }
  ticking_ = false;
}

void MonitorCore::fillJobList(int row) {
  jobs_.clear();
  if (row < 0 || row >= static_cast<int>(rows_.size()))
    return;
  selectedName_ = rows_[row].name;
  buttons_.cancelAll = false;
  const auto jobs = spooler_.enumJobs(selectedName_);
  if (!jobs)
    return;
  const PrinterRecord *rec = findRecord(selectedName_);
  for (const platform::JobInfo1 &j : *jobs) {
    if (jobs_.size() >= kMaxJobs)
      break;
    JobRecord r;
    r.document = j.document;
    r.status = jobStatusCell(j.statusText, j.status);
    r.owner = j.machineName;
    r.pages = std::to_string(j.totalPages);
    r.submitted = submittedText(j.submittedUtc, zone_, locale_);
    r.port = rec ? rec->port : std::string();
    r.datatype = j.datatype;
    r.jobId = j.jobId;
    r.statusBits = j.statusText ? 0 : j.status;
    jobs_.push_back(std::move(r));
  }
  if (!jobs_.empty())
    buttons_.cancelAll = true;
}

// ---- clicks --------------------------------------------------------------------------------------------------

void MonitorCore::clickPrinterRows(const std::vector<int> &selectedRows) {
  for (const int row : selectedRows) {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
      continue;
    selectedRow_ = row;
    buttons_.cancelCurrent = false;
    selectedName_ = rows_[row].name;
    selectedPrinterBox_ = {selectedName_};
    buttons_.cancelAll = true;
    buttons_.saveSetting = changedMark(selectedName_);
    const bool paused = pausedQuery(selectedName_);
    buttons_.setToPause = !paused;
    buttons_.resume = paused;
    fillJobList(row);
  }
}

void MonitorCore::clickJobRows(const std::vector<int> &selectedRows) {
  buttons_.cancelCurrent = false;
  for (const int row : selectedRows) {
    if (row < 0 || row >= static_cast<int>(jobs_.size()))
      continue;
    selectedJob_ = jobs_[row].jobId;
    selectedPrinterBox_ = {selectedName_};
    selectedJobBox_ = std::make_pair(jobs_[row].document, jobs_[row].submitted);
    buttons_.cancelCurrent = true;
  }
}

// ---- preparation ---------------------------------------------------------------------------------------------

bool MonitorCore::pausePrinter(const std::string &name) {
  if (!spooler_.openPrinterAdminister(name) || !spooler_.pausePrinter(name))
    return false;
  return true;
}

bool MonitorCore::resumePrinter(const std::string &name) {
  if (!spooler_.openPrinterAdminister(name) || !spooler_.resumePrinter(name))
    return false;
  return true;
}

void MonitorCore::setToPause() {
  if (selectedRow_ < 0 || selectedRow_ >= static_cast<int>(rows_.size()))
    return;
  if (!pausePrinter(selectedName_)) {
    ownedMessage("Cannot set this printer to pause! Error 020005");
    return;
  }
  buttons_.setToPause = false;
  buttons_.resume = true;
  buttons_.saveSetting = true;
  PrinterRow &row = rows_[selectedRow_];
  row.image = toggledImage(row.itemData);
  row.itemData = row.image;
}

void MonitorCore::resume() {
  if (selectedRow_ < 0 || selectedRow_ >= static_cast<int>(rows_.size()))
    return;
  if (!resumePrinter(selectedName_)) {
    ownedMessage("Cannot resume this printer! Error 020004");
    return;
  }
  buttons_.setToPause = true;
  buttons_.resume = false;
  buttons_.saveSetting = true;
  PrinterRow &row = rows_[selectedRow_];
  row.status = statusCell(selectedName_);
  row.image = toggledImage(row.itemData);
  row.itemData = row.image;
}

void MonitorCore::saveSetting() {
  if (selectedName_.size() <= 2)
    return;
  bool ok = false;
  if (const PrinterRecord *rec = findRecord(selectedName_)) {
    for (SavedPrinterEntry &e : defaultTable_) {
      if (e.name == selectedName_) {
        e.paused = rec->paused != 0;
        e.port = rec->port;
        e.datatype = rec->datatype;
        break;
      }
    }
    ok = writeSettingsFile(settingsFilePath(kDefaultSettingsFile), defaultTable_);
    if (!ok && hooks_.notify)
      hooks_.notify(
          {QStringLiteral("Create lvFXPrn.ini Error! 020009"), QStringLiteral("QRPrnSupport Message"), false});
  }
  if (ok)
    buttons_.saveSetting = false;
  else
    ownedMessage("Cannot update Ini-file! Error 020003");
}

void MonitorCore::setAllToDefault() {
  for (PrinterRecord &rec : local_) {
    if (rec.paused != 0)
      continue;
    if (pausePrinter(rec.name)) {
      buttons_.setToPause = false;
      buttons_.resume = true;
      buttons_.saveSetting = true;
      const std::string cell = statusCell(rec.name);
      for (PrinterRow &row : rows_)
        if (row.name == rec.name)
          row.status = cell;
    } else {
      ownedMessage("Cannot set this printer to pause! Error 020006");
    }
  }
  if (!local_.empty())
    writeFromTables(kDefaultSettingsFile, WriteMode::AllNotPaused);
}

std::vector<PrinterState> MonitorCore::states(const std::vector<PrinterRecord> &table) const {
  std::vector<PrinterState> out;
  out.reserve(table.size());
  for (const PrinterRecord &r : table)
    out.push_back({r.name, r.paused != 0, r.port, r.datatype});
  return out;
}

void MonitorCore::writeFromTables(const char *fileName, WriteMode mode) {
  const std::string path = settingsFilePath(fileName);
  auto &table = std::string_view(fileName) == kDefaultSettingsFile ? defaultTable_ : preparedTable_;
  if (writeSettingsFile(path, entriesFrom(states(local_), states(connections_), mode)))
    readSettingsFile(path, table);
}

void MonitorCore::startupSynchronisation() {
  const std::string defaultPath = settingsFilePath(kDefaultSettingsFile);
  if (!settingsFileReadable(defaultPath)) {
    writeFromTables(kDefaultSettingsFile, WriteMode::Current);
    writeFromTables(kPreparedSettingsFile, WriteMode::AllPaused);
    return;
  }
  readSettingsFile(defaultPath, defaultTable_);
  auto known = [&](const std::string &name) {
    return std::any_of(defaultTable_.begin(), defaultTable_.end(),
                       [&](const SavedPrinterEntry &e) { return e.name == name; });
  };
  for (auto *table : {&local_, &connections_})
    for (const PrinterRecord &rec : *table)
      if (!known(rec.name))
        writeFromTables(kDefaultSettingsFile, WriteMode::Current);
}

bool MonitorCore::touchable(const SavedPrinterEntry &entry) const {
  // Network connections ("\\server\printer") and printers on a TCP/IP port are left as the user set them.
  return !startsWith(entry.name, "\\\\") && !startsWith(entry.port, "IP");
}

void MonitorCore::applyPreparedSettings() {
  if (!readSettingsFile(settingsFilePath(kPreparedSettingsFile), preparedTable_))
    return;
  auto setPaused = [&](const std::string &name, bool paused) {
    if (paused ? pausePrinter(name) : resumePrinter(name))
      if (PrinterRecord *rec = findRecord(name)) // the files written later record the queue as it now is
        rec->paused = paused ? 1 : 0;
  };
  for (const SavedPrinterEntry &p : preparedTable_)
    for (const SavedPrinterEntry &d : defaultTable_)
      if (d.name == p.name && touchable(d) && d.paused != p.paused)
        setPaused(d.name, p.paused);
  const std::vector<SavedPrinterEntry> defaults = defaultTable_;
  for (const SavedPrinterEntry &d : defaults) {
    const bool prepared = std::any_of(preparedTable_.begin(), preparedTable_.end(),
                                      [&](const SavedPrinterEntry &p) { return p.name == d.name; });
    if (prepared || !touchable(d))
      continue;
    setPaused(d.name, true);
    writeFromTables(kPreparedSettingsFile, WriteMode::Current);
  }
}

void MonitorCore::restoreDefaultSettings() {
  if (!readSettingsFile(settingsFilePath(kPreparedSettingsFile), preparedTable_))
    return;
  for (const SavedPrinterEntry &d : defaultTable_)
    for (const SavedPrinterEntry &p : preparedTable_)
      if (p.name == d.name && touchable(d) && d.paused != p.paused) {
        if (d.paused)
          pausePrinter(d.name);
        else
          resumePrinter(d.name);
      }
}

void MonitorCore::recordPreparedSettings() {
  const bool write =
      mode_ == Mode::Work || (mode_ == Mode::Set && !settingsFileReadable(settingsFilePath(kPreparedSettingsFile)));
  if (write) {
    const std::string path = settingsFilePath(kPreparedSettingsFile);
    writeSettingsFile(path, entriesFrom(states(local_), states(connections_), WriteMode::Current));
  }
}

// ---- cancelling ----------------------------------------------------------------------------------------------

void MonitorCore::cancelAllDocumentsOf(const std::string &name) {
  const auto jobs = spooler_.enumJobs(name);
  if (!jobs)
    return;
  std::vector<uint32_t> ids;
  for (const platform::JobInfo1 &j : *jobs) {
    if (ids.size() >= kMaxJobs)
      break;
    ids.push_back(j.jobId);
  }
  if (!spooler_.openPrinter(name))
    return;
  for (const uint32_t id : ids)
    spooler_.setJob(name, id, jobCommand());
}

void MonitorCore::cancelCurrentDocument() {
  if (!selectedName_.empty() && selectedJob_ != 0 && spooler_.openPrinter(selectedName_))
    spooler_.setJob(selectedName_, selectedJob_, jobCommand());
  buttons_.cancelCurrent = false;
  selectedJobBox_.reset();
}

void MonitorCore::cancelAllDocuments(int focusRow) {
  if (!selectedName_.empty())
    cancelAllDocumentsOf(selectedName_);
  fillJobList(focusRow);
  buttons_.cancelCurrent = false;
  selectedJobBox_.reset();
}

void MonitorCore::cancelAllSavedPrinters() {
  const std::vector<SavedPrinterEntry> defaults = defaultTable_;
  for (const SavedPrinterEntry &d : defaults)
    if (touchable(d))
      cancelAllDocumentsOf(d.name);
}

// ---- the whole initialisation --------------------------------------------------------------------------------

MonitorCore::InitResult MonitorCore::initialise() {
  enumeratePrinters();
  startupSynchronisation();
  fillPrintersList();
  buttons_.cancelAll = false;
  buttons_.cancelCurrent = false;
  InitResult result;
  switch (mode_) {
  case Mode::Set:
    if (code_ != 0) {
      result.closeTimerMs = kCloseMs;
      applyPreparedSettings();
      result.closeNow = true;
    }
    break;
  case Mode::Refresh:
    result.closeTimerMs = kCloseMs;
    restoreDefaultSettings();
    result.closeNow = true;
    break;
  case Mode::DeleteAll:
    result.closeTimerMs = kCloseMs;
    cancelAllSavedPrinters();
    result.closeNow = true;
    break;
  case Mode::RefreshAndDeleteAll:
    result.closeTimerMs = kCloseLongMs;
    if (hooks_.confirmCancelAll && hooks_.confirmCancelAll())
      cancelAllSavedPrinters();
    restoreDefaultSettings();
    result.closeNow = true;
    break;
  case Mode::Work:
  case Mode::None:
    break;
  }
  return result;
}

} // namespace monitor
