#include "monitor/monitor_core.h"

#include "monitor/printer_text.h"
#include "platform/captured_jobs.h"
#include "platform/ipc.h"
#include "platform/paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>

namespace monitor {
namespace {

const QString kDefaultCaption = QStringLiteral("Error");
const QString kAppCaption = QStringLiteral("qvt");
// Folvex's main window title: while it exists, Folvex runs and its queues are meant to be prepared.
const QString kFolvexWindowTitle = QStringLiteral("Tarvik Folvex! v.2.1");

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

QString serverDownText() {
  return QStringLiteral("The print server is not running! Printers are not prepared. Read Help for details.");
}

QString rightsMissingText() {
  return QStringLiteral("You may not pause printers: join the group lpadmin or run as an administrator. Printers "
                        "are not prepared. Read Help for details.");
}

void recordPreparedSettings(Mode mode, const std::optional<PreparedRecord> &record) {
  if (!record)
    return;
  const std::string path = settingsFilePath(kPreparedSettingsFile);
  if (mode == Mode::Work || (mode == Mode::Set && !settingsFileReadable(path)))
    writeSettingsFile(path, entriesFrom(record->local, record->connections, WriteMode::Current));
}

MonitorCore::MonitorCore(platform::Spooler &spooler, Mode mode, Hooks hooks)
    : spooler_(spooler), mode_(mode), hooks_(std::move(hooks)),
      legacy_(platform::platformId() == platform::VER_PLATFORM_WIN32_WINDOWS) {
  if (!hooks_.folvexRunning)
    hooks_.folvexRunning = [] { return platform::findWindow(kFolvexWindowTitle); };
}

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

namespace {

const platform::PrinterInfo2 *findInSnapshot(const platform::SpoolerSnapshot &snap, const std::string &name,
                                             bool *local = nullptr) {
  for (const auto *table : {&snap.local, &snap.connections})
    for (const platform::PrinterInfo2 &p : *table)
      if (p.name == name) {
        if (local)
          *local = table == &snap.local;
        return &p;
      }
  return nullptr;
}

void takeInfo(PrinterRecord &rec, const platform::PrinterInfo2 &info) {
  rec.paused = (info.status & platform::PRINTER_STATUS_PAUSED) ? 1 : 0;
  rec.statusText = printerStatusText(info.status);
  rec.port = info.port;
  rec.datatype = info.datatype;
  rec.attributes = info.attributes;
  rec.reach = info.reach;
}

} // namespace

// ---- listing -------------------------------------------------------------------------------------------------

bool MonitorCore::enumeratePrinters() {
  snap_ = spooler_.snapshot();
  if (!snap_.reachable)
    return false;
  local_.clear();
  connections_.clear();
  for (const auto &[from, to] : {std::pair{&snap_.local, &local_}, std::pair{&snap_.connections, &connections_}})
    for (const platform::PrinterInfo2 &p : *from) {
      if (to->size() >= kMaxPrinters)
        break;
      PrinterRecord &rec = to->emplace_back();
      rec.name = clip(p.name, kMaxPrinterName);
      takeInfo(rec, p);
    }
  haveTables_ = true;
  return true;
}

void MonitorCore::takeRecords(const platform::SpoolerSnapshot &snap) {
  for (auto *table : {&local_, &connections_}) {
    const bool connection = table == &connections_;
    for (PrinterRecord &rec : *table) {
      if (const platform::PrinterInfo2 *info = findInSnapshot(snap, rec.name)) {
        reported_.erase(rec.name); // it reads again: a later failure is reported anew
        takeInfo(rec, *info);
      } else {
        // A printer that is gone keeps the values it had.
        report(rec.name, connection ? "!bFlag || !hPrinter. Error 020013" : "!bFlag || !hPrinter. Error 020010");
      }
    }
  }
}

std::string MonitorCore::statusCell(const std::string &name) {
  const platform::PrinterRead r = spooler_.getPrinter(name);
  if (r.error == platform::SpoolError::Open)
    return "Unable to connect";
  if (r.error != platform::SpoolError::None)
    return "Error Connect";
  if (PrinterRecord *rec = findRecord(name))
    takeInfo(*rec, r.info);
  return printerStatusText(r.info.status);
}

int32_t MonitorCore::responseProbe(const std::string &name) {
  // The printer must have been listed: only the message of that check matters.
  if (!findInSnapshot(snap_, name))
    report(name, "!bFlag || !hPrinter. Error 020016");
  QElapsedTimer clock; // monotonic: the elapsed time is never negative
  clock.start();
  if (!spooler_.openPrinterAdminister(name)) {
    if (spooler_.lastStatus() == platform::SpoolStatus::Denied)
      rightsMissing_ = true;
    return -1;
  }
  return static_cast<int32_t>(std::min<qint64>(clock.elapsed(), INT32_MAX));
}

bool MonitorCore::datatypeCheck(const std::string &name) const {
  if (!legacy_)
    return true;
  const PrinterRecord *rec = findRecord(name);
  return rec && rec->datatype == "EMF";
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
  if (PrinterRecord *rec = findRecord(name))
    takeInfo(*rec, r.info);
  return (r.info.status & platform::PRINTER_STATUS_PAUSED) != 0;
}

void MonitorCore::fillPrintersList() {
  rows_.clear();
  bool anyAcceptable = false;
  rightsMissing_ = false;
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
      const bool rights = rightsMissing_;
      rec.response = responseProbe(rec.name);
      rightsMissing_ = rights; // connections do not count for the code
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
  // Any acceptable local printer is enough for capture: the user prints to that one. When none is, because the
  // user may not administer the queues, nothing can be prepared: the code says so, and the Info row says why.
  rightsMissing_ = rightsMissing_ && !anyAcceptable;
  code_ = local_.empty() || rightsMissing_ ? 0 : (anyAcceptable ? 1 : 2);
  infoText_ = rightsMissing_ ? rightsMissingText() : infoTextFor(code_);
  infoImage_ = code_ == 0 ? InfoError : (code_ == 1 ? InfoInformation : InfoWarning);
  infoShown_ = true;
  storeKodEstPrinters(code_);
  currentPrinter_.clear();
}

void MonitorCore::showServerDown() {
  serverDown_ = true;
  code_ = 0;
  infoText_ = serverDownText();
  infoImage_ = InfoError;
  infoShown_ = true;
  for (PrinterRow &row : rows_) {
    row.documents = "Unable to connect";
    row.status = "Unable to connect";
    row.response.clear();
  }
  storeKodEstPrinters(0);
}

void MonitorCore::startFromServer() {
  // A fresh start from the server's present state: after the first look, or after an outage.
  serverDown_ = false;
  reported_.clear();
  const bool abnormalEnd =
      preparedMarkExists() &&
      (mode_ == Mode::Set ||
       ((mode_ == Mode::Work || mode_ == Mode::None || mode_ == Mode::DeleteAll) && !hooks_.folvexRunning()));
  startupSynchronisation();
  if (abnormalEnd && restoreAfterAbnormalEnd() && mode_ != Mode::Set)
    removePreparedMark();
  fillPrintersList();
}

bool MonitorCore::refreshTick() {
  if (ticking_) // a message box of this tick is open and the loop delivered the next tick
    return false;
  ticking_ = true;
  bool closeNow = false;
  const bool wasDown = serverDown_ || !haveTables_;
  if (wasDown) {
    if (enumeratePrinters()) {
      startFromServer();
      if (!modeDone_)
        closeNow = runModeWork();
    } else {
      showServerDown();
    }
    ticking_ = false;
    return closeNow;
  }
  snap_ = spooler_.snapshot();
  if (!snap_.reachable) {
    showServerDown();
    ticking_ = false;
    return false;
  }
  takeRecords(snap_);
  if (selectedRow_ >= 0 && !selectedName_.empty()) {
    selectedPrinterBox_ = {selectedName_};
    fillJobList(selectedRow_);
  }
  const std::string response = std::to_string(snap_.elapsedMs);
  for (PrinterRow &row : rows_) {
    bool local = false;
    const platform::PrinterInfo2 *info = findInSnapshot(snap_, row.name, &local);
    const auto jobs = snap_.jobs.find(row.name);
    const size_t count = jobs == snap_.jobs.end() ? 0 : std::min(jobs->second.size(), kMaxJobs);
    row.documents = info ? std::to_string(count) : "Unable to connect";
    row.response = response;
    row.status = info ? printerStatusText(info->status) : "Unable to connect";
    const bool marked = changedMark(row.name);
    if (info && local && datatypeCheck(row.name))
      row.image = marked ? ImgPlusMarked : ImgPlus;
    else
      row.image = marked ? ImgMinusMarked : ImgMinus;
    row.itemData = row.image;
  }
  ticking_ = false;
  return false;
}

void MonitorCore::fillJobList(int row, bool fresh) {
  jobs_.clear();
  if (row < 0 || row >= static_cast<int>(rows_.size()))
    return;
  selectedName_ = rows_[row].name;
  buttons_.cancelAll = false;
  std::optional<std::vector<platform::JobInfo1>> jobs;
  if (fresh) {
    jobs = spooler_.enumJobs(selectedName_);
  } else if (findInSnapshot(snap_, selectedName_)) {
    const auto it = snap_.jobs.find(selectedName_);
    jobs = it == snap_.jobs.end() ? std::vector<platform::JobInfo1>{} : it->second;
  }
  if (!jobs)
    return;
  const PrinterRecord *rec = findRecord(selectedName_);
  for (const platform::JobInfo1 &j : *jobs) {
    if (jobs_.size() >= kMaxJobs)
      break;
    JobRecord r;
    r.document = j.document;
    r.status = jobStatusCell(j.statusText, j.status);
    r.owner = j.userName;
    r.user = j.userName;
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
    const bool paused = pausedQuery(selectedName_);
    buttons_.saveSetting = changedMark(selectedName_);
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
  return spooler_.openPrinterAdminister(name) && spooler_.pausePrinter(name);
}

bool MonitorCore::resumePrinter(const std::string &name) {
  return spooler_.openPrinterAdminister(name) && spooler_.resumePrinter(name);
}

bool MonitorCore::setPaused(const std::string &name, bool paused) {
  const bool ok = paused ? pausePrinter(name) : resumePrinter(name);
  if (ok) {
    if (PrinterRecord *rec = findRecord(name)) { // the files written later record the queue as it now is
      rec->paused = paused ? 1 : 0;
      if (paused)
        rec->statusText = printerStatusText(platform::PRINTER_STATUS_PAUSED);
    }
  }
  return ok;
}

void MonitorCore::setToPause() {
  if (selectedRow_ < 0 || selectedRow_ >= static_cast<int>(rows_.size()))
    return;
  if (!setPaused(selectedName_, true)) {
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
  if (!setPaused(selectedName_, false)) {
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
  // The state saved is the queue's state now, read afresh: not what the last refresh saw.
  PrinterRecord *rec = findRecord(selectedName_);
  const platform::PrinterRead now = rec ? spooler_.getPrinter(selectedName_) : platform::PrinterRead{};
  if (rec && now.error == platform::SpoolError::None) {
    takeInfo(*rec, now.info);
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
    if (rec.paused != 0 || rec.reach != platform::QueueReach::Local)
      continue; // a network queue is never paused: it would stay paused for good
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
  // A printer installed later gets its entry from its present state. The other entries stay as they are: the
  // queues may be paused for capture now, and that is not how they are normally set.
  auto known = [&](const std::string &name) {
    return std::any_of(defaultTable_.begin(), defaultTable_.end(),
                       [&](const SavedPrinterEntry &e) { return e.name == name; });
  };
  bool added = false;
  for (auto *table : {&local_, &connections_})
    for (const PrinterRecord &rec : *table)
      if (!known(rec.name) && defaultTable_.size() < kMaxSavedEntries) {
        defaultTable_.push_back({rec.name, rec.paused != 0, rec.port, rec.datatype});
        added = true;
      }
  if (added)
    writeSettingsFile(defaultPath, defaultTable_);
}

bool MonitorCore::touchable(const SavedPrinterEntry &entry) const {
  // Network connections ("\\server\printer") and printers on a TCP/IP port are left as the user set them.
  if (startsWith(entry.name, "\\\\") || startsWith(entry.port, "IP"))
    return false;
  const PrinterRecord *rec = findRecord(entry.name);
  return !rec || rec->reach == platform::QueueReach::Local;
}

void MonitorCore::applyPreparedSettings() {
  if (!readSettingsFile(settingsFilePath(kPreparedSettingsFile), preparedTable_))
    return;
  for (const SavedPrinterEntry &p : preparedTable_)
    for (const SavedPrinterEntry &d : defaultTable_)
      if (d.name == p.name && touchable(d) && d.paused != p.paused)
        setPaused(d.name, p.paused);
  // Every printer missing from the prepared settings is paused and recorded as prepared "paused", so that the
  // restore resumes it; the entries already there stay as they are.
  bool added = false;
  for (const SavedPrinterEntry &d : std::vector<SavedPrinterEntry>(defaultTable_)) {
    const bool prepared = std::any_of(preparedTable_.begin(), preparedTable_.end(),
                                      [&](const SavedPrinterEntry &p) { return p.name == d.name; });
    if (prepared || preparedTable_.size() >= kMaxSavedEntries)
      continue;
    SavedPrinterEntry entry = d;
    if (const PrinterRecord *rec = findRecord(d.name)) {
      entry.port = rec->port;
      entry.datatype = rec->datatype;
      entry.paused = rec->paused != 0;
    }
    if (touchable(d)) {
      setPaused(d.name, true);
      entry.paused = true;
    }
    preparedTable_.push_back(entry);
    added = true;
  }
  if (added)
    writeSettingsFile(settingsFilePath(kPreparedSettingsFile), preparedTable_);
}

bool MonitorCore::restoreDefaultSettings() {
  if (!readSettingsFile(settingsFilePath(kPreparedSettingsFile), preparedTable_))
    return true;
  bool complete = true;
  for (const SavedPrinterEntry &d : defaultTable_)
    for (const SavedPrinterEntry &p : preparedTable_)
      if (p.name == d.name && touchable(d) && d.paused != p.paused && !setPaused(d.name, d.paused) &&
          spooler_.lastStatus() == platform::SpoolStatus::NoServer)
        complete = false;
  return complete;
}

bool MonitorCore::restoreAfterAbnormalEnd() {
  bool complete = true;
  for (const SavedPrinterEntry &d : defaultTable_) {
    const PrinterRecord *rec = findRecord(d.name);
    if (!rec || !touchable(d) || (rec->paused != 0) == d.paused)
      continue;
    if (!setPaused(d.name, d.paused) && spooler_.lastStatus() == platform::SpoolStatus::NoServer)
      complete = false;
  }
  return complete;
}

std::optional<PreparedRecord> MonitorCore::preparedRecord() const {
  if (!haveTables_ || serverDown_)
    return std::nullopt;
  return PreparedRecord{states(local_), states(connections_)};
}

void MonitorCore::recordPreparedSettings() const { monitor::recordPreparedSettings(mode_, preparedRecord()); }

// ---- cancelling ----------------------------------------------------------------------------------------------

void MonitorCore::cancelAllDocumentsOf(const std::string &name) {
  // The user's own jobs: those of other users are theirs to cancel.
  const auto jobs = spooler_.enumJobs(name);
  if (!jobs)
    return;
  const std::string user = spooler_.userName();
  std::vector<uint32_t> ids;
  for (const platform::JobInfo1 &j : *jobs) {
    if (ids.size() >= kMaxJobs)
      break;
    if (j.userName == user)
      ids.push_back(j.jobId);
  }
  for (const uint32_t id : ids)
    spooler_.setJob(name, id, jobCommand());
}

void MonitorCore::cancelCurrentDocument() {
  const auto job =
      std::find_if(jobs_.begin(), jobs_.end(), [&](const JobRecord &j) { return j.jobId == selectedJob_; });
  if (!selectedName_.empty() && selectedJob_ != 0 && job != jobs_.end() && job->user == spooler_.userName())
    spooler_.setJob(selectedName_, selectedJob_, jobCommand());
  buttons_.cancelCurrent = false;
  selectedJobBox_.reset();
}

void MonitorCore::cancelAllDocuments(int focusRow) {
  if (!selectedName_.empty())
    cancelAllDocumentsOf(selectedName_);
  fillJobList(focusRow, true);
  buttons_.cancelCurrent = false;
  selectedJobBox_.reset();
}

namespace {

// Removes a spool-folder job as the spooler does when it is cancelled: its shadow file and the data file of the
// same base name beside it. Only files that lie in the spool folder are touched.
void removeSpoolJob(const std::string &shadow) {
  const QFileInfo shd(QString::fromStdString(shadow));
  const QString folder = QFileInfo(QString::fromStdString(platform::spoolFolder())).canonicalFilePath();
  if (folder.isEmpty() || shd.suffix().compare(QLatin1String("shd"), Qt::CaseInsensitive) != 0 ||
      QFileInfo(shd.absolutePath()).canonicalFilePath() != folder || shd.isSymLink())
    return;
  const QDir dir(folder);
  QFile::remove(dir.filePath(shd.fileName()));
  for (const QString &name : dir.entryList({shd.completeBaseName() + QStringLiteral(".*")}, QDir::Files))
    if (QFileInfo(name).completeBaseName() == shd.completeBaseName() &&
        QFileInfo(name).suffix().compare(QLatin1String("spl"), Qt::CaseInsensitive) == 0)
      QFile::remove(dir.filePath(name));
}

} // namespace

void MonitorCore::cancelCapturedJobs() {
  const std::string user = spooler_.userName();
  std::vector<platform::CapturedJob> done;
  for (const platform::CapturedJob &j : platform::capturedJobs()) {
    if (j.kind == platform::CapturedJob::Kind::Spool) {
      removeSpoolJob(j.shadow);
      done.push_back(j);
      continue;
    }
    if (!touchable({j.printer, false, {}, {}}))
      continue; // a queue of another computer or on the network: left alone
    const std::optional<platform::JobInfo1> job = spooler_.getJob(j.printer, j.jobId);
    if (!job) {
      if (spooler_.lastStatus() != platform::SpoolStatus::NoServer)
        done.push_back(j); // the job is gone
      continue;
    }
    if (job->userName != user)
      continue; // not this user's job, whoever runs the monitor
    if (job->status & (platform::JOB_STATUS_COMPLETE | platform::JOB_STATUS_DELETED | platform::JOB_STATUS_PRINTED) ||
        spooler_.setJob(j.printer, j.jobId, jobCommand()) || spooler_.lastStatus() == platform::SpoolStatus::Failed)
      done.push_back(j);
  }
  if (!done.empty())
    platform::forgetCapturedJobs(done);
}

// ---- the whole initialisation --------------------------------------------------------------------------------

bool MonitorCore::runModeWork() {
  switch (mode_) {
  case Mode::Set:
    if (code_ == 0)
      return false; // stays open with the Info row's message
    applyPreparedSettings();
    writePreparedMark();
    break;
  case Mode::Refresh:
    if (restoreDefaultSettings())
      removePreparedMark();
    break;
  case Mode::DeleteAll:
    cancelCapturedJobs();
    break;
  case Mode::RefreshAndDeleteAll:
    if (!cancelAnswer_)
      cancelAnswer_ = hooks_.confirmCancelAll && hooks_.confirmCancelAll();
    if (*cancelAnswer_)
      cancelCapturedJobs();
    if (restoreDefaultSettings())
      removePreparedMark();
    break;
  case Mode::Work:
  case Mode::None:
    return false;
  }
  modeDone_ = true;
  return true;
}

MonitorCore::InitResult MonitorCore::initialise() {
  buttons_.cancelAll = false;
  buttons_.cancelCurrent = false;
  InitResult result;
  if (!enumeratePrinters()) {
    // No print server: nothing is read or written. The command modes that end Folvex's run wait for the server
    // until their close timer ends them; "set" waits until it can prepare the printers.
    showServerDown();
    if (mode_ == Mode::RefreshAndDeleteAll)
      cancelAnswer_ = hooks_.confirmCancelAll && hooks_.confirmCancelAll();
    if (mode_ == Mode::Refresh || mode_ == Mode::DeleteAll)
      result.closeTimerMs = kCloseMs;
    else if (mode_ == Mode::RefreshAndDeleteAll)
      result.closeTimerMs = kCloseLongMs;
    return result;
  }
  startFromServer();
  switch (mode_) {
  case Mode::Set:
    if (code_ != 0)
      result.closeTimerMs = kCloseMs;
    break;
  case Mode::Refresh:
  case Mode::DeleteAll:
    result.closeTimerMs = kCloseMs;
    break;
  case Mode::RefreshAndDeleteAll:
    result.closeTimerMs = kCloseLongMs;
    break;
  default:
    break;
  }
  result.closeNow = runModeWork();
  return result;
}

MonitorView MonitorCore::view() const {
  MonitorView v;
  v.code = code_;
  v.infoText = infoText_;
  v.infoImage = infoImage_;
  v.infoShown = infoShown_;
  v.rows = rows_;
  v.jobs = jobs_;
  v.selectedRow = selectedRow_;
  v.selectedPrinter = selectedName_;
  v.selectedJob = selectedJob_;
  v.selectedPrinterBox = selectedPrinterBox_;
  v.selectedJobBox = selectedJobBox_;
  v.buttons = buttons_;
  v.prepared = preparedRecord();
  v.serverDown = serverDown_;
  return v;
}

} // namespace monitor
