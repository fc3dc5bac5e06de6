// The spooler on the CUPS server, through IPP requests.
//
// How the spooler's notions map onto CUPS:
// - local printers: the queues of this CUPS server (printer-type without CUPS_PRINTER_REMOTE), classes included;
//   connections: the remote queues it knows (printer-type with CUPS_PRINTER_REMOTE); both in the server's order.
// - one look at the whole server (snapshot): one CUPS-Get-Printers with every attribute the monitor shows, and,
//   when any queue holds jobs, one Get-Jobs over the whole server for the not yet completed jobs.
// - level-2 record: port = device-uri; datatype = document-format-default; attributes = printer-type bits as
//   PRINTER_ATTRIBUTE_* (cupsPrinterAttributes); status = printer-state, printer-state-reasons and
//   printer-is-accepting-jobs as PRINTER_STATUS_* (cupsPrinterStatus): stopped or "paused" -> PAUSED,
//   processing -> PRINTING, media-empty/media-needed -> PAPER_OUT, media-jam -> PAPER_JAM, door-open/cover-open ->
//   DOOR_OPEN, toner-low/marker-supply-low -> TONER_LOW, toner-empty/marker-supply-empty -> NO_TONER,
//   offline-report/connecting-to-device -> OFFLINE, output-area-full -> OUTPUT_BIN_FULL, hold-new-jobs ->
//   HOLDING_NEW_JOBS, not accepting jobs -> REJECTING_JOBS, and the few more of the table in cupsPrinterStatus;
//   any other reason reported with the "-error" suffix -> ERROR. A server that answers the request without the
//   printer's attributes is the "no record size" failure.
// - the queue's reach (cupsQueueReach, the one place that decides it): a queue another server shares (remote, or
//   a class made of remote queues) is a connection to another computer's printer; a queue whose device URI has a
//   network scheme (ipp, ipps, http, https, socket, lpd, dnssd) prints to a TCP/IP port.
// - opening with administer access: the server accepts an administrative request from this user
//   (a Release-Held-New-Jobs request, which the server's policy groups with Pause-Printer and which changes
//   nothing on a queue that holds no new jobs); the monitor times the round trip as the printer's response.
// - jobs at level 1 (Get-Jobs of the not yet completed jobs): job-id, job-name, job-originating-host-name,
//   job-originating-user-name, the pages where the server knows them (job-impressions, else the sheets or
//   impressions completed so far), time-at-creation (submitted), document-format (datatype); job-state and
//   job-state-reasons -> JOB_STATUS_* (cupsJobStatus); job-printer-state-message, when set, is the spooler's own
//   status text.
// - pause = Pause-Printer, resume = Resume-Printer; JOB_CONTROL_CANCEL = Cancel-Job, JOB_CONTROL_DELETE =
//   Cancel-Job with purge-job (the job's files are removed as well).
// - no reachable server: the snapshot says so, every request fails with SpoolStatus::NoServer. Every request has
//   a short timeout, and after a failed connection the server is not asked again for a moment, so a listing never
//   hangs for long; a refused authentication or a forbidden request is SpoolStatus::Denied.
#include "platform/spooler_cups.h"
#include "platform/ipp_util.h"
#include "platform/spooler.h"

#include <cups/cups.h>

#include <QElapsedTimer>

#include <cctype>
#include <cstring>
#include <map>
#include <string_view>

namespace platform {
namespace {
using namespace ipp;

constexpr int kConnectMs = 1000;
constexpr double kRequestTimeoutS = 3.0;
constexpr qint64 kRetryAfterFailureMs = 1500; // below the monitor's refresh period
constexpr size_t kMaxJobs = 10000;
constexpr size_t kMaxPrinters = 1000;

int abortOnTimeout(http_t *, void *) { return 0; } // give up instead of waiting again

std::vector<std::string> keywords(ipp_attribute_t *attr) {
  std::vector<std::string> out;
  if (!attr)
    return out;
  const int n = std::min(ippGetCount(attr), 64);
  for (int i = 0; i < n; ++i)
    out.push_back(text(attr, i));
  return out;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// A reason keyword without its -report/-warning/-error severity suffix.
std::string_view reasonBase(std::string_view r) {
  for (std::string_view suffix : {"-report", "-warning", "-error"})
    if (endsWith(r, suffix))
      return r.substr(0, r.size() - suffix.size());
  return r;
}

bool succeeded(ipp_t *response) { return response && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE; }

bool deniedStatus(ipp_status_t s) {
  return s == IPP_STATUS_ERROR_FORBIDDEN || s == IPP_STATUS_ERROR_NOT_AUTHENTICATED ||
         s == IPP_STATUS_ERROR_NOT_AUTHORIZED || s == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED ||
         s == IPP_STATUS_ERROR_CUPS_PKI;
}

// The printer name of a job-printer-uri ("ipp://host/printers/NAME" or ".../classes/NAME").
std::string printerOfUri(const std::string &uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return {};
  const std::string_view r = resource;
  const size_t slash = r.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(r.substr(slash + 1));
}

// The attributes of one job group, read into a level-1 record.
struct JobReader {
  JobInfo1 job;
  int state = 0;
  std::vector<std::string> reasons;
  std::string printerUri;
  uint32_t impressions = 0, impressionsDone = 0, sheetsDone = 0;
  bool any = false;

  void read(ipp_attribute_t *a, const char *an) {
    any = true;
    const ipp_tag_t tag = ippGetValueTag(a);
    const bool integer = tag == IPP_TAG_INTEGER;
    auto count = [&] { return static_cast<uint32_t>(std::max(0, ippGetInteger(a, 0))); };
    if (!strcmp(an, "job-id") && integer)
      job.jobId = count();
    else if (!strcmp(an, "job-name"))
      job.document = text(a);
    else if (!strcmp(an, "job-state") && tag == IPP_TAG_ENUM)
      state = ippGetInteger(a, 0);
    else if (!strcmp(an, "job-state-reasons"))
      reasons = keywords(a);
    else if (!strcmp(an, "job-printer-state-message")) {
      if (std::string m = text(a); !m.empty())
        job.statusText = m;
    } else if (!strcmp(an, "job-originating-host-name"))
      job.machineName = text(a);
    else if (!strcmp(an, "job-originating-user-name"))
      job.userName = text(a);
    else if (!strcmp(an, "job-impressions") && integer)
      impressions = count();
    else if (!strcmp(an, "job-impressions-completed") && integer)
      impressionsDone = count();
    else if (!strcmp(an, "job-media-sheets-completed") && integer)
      sheetsDone = count();
    else if (!strcmp(an, "time-at-creation") && integer)
      job.submittedUtc = ippGetInteger(a, 0);
    else if (!strcmp(an, "document-format") || (!strcmp(an, "document-format-supplied") && job.datatype.empty()))
      job.datatype = text(a);
    else if (!strcmp(an, "job-printer-uri"))
      printerUri = text(a);
  }
  bool valid() const { return any && job.jobId != 0; }
  JobInfo1 take(const std::string &printer) {
    job.printerName = printer;
    job.status = cupsJobStatus(state, reasons);
    job.totalPages = impressions ? impressions : std::max(sheetsDone, impressionsDone);
    JobInfo1 out = std::move(job);
    *this = JobReader{};
    return out;
  }
};

const char *const kJobAttributes[] = {"job-id",
                                      "job-name",
                                      "job-state",
                                      "job-state-reasons",
                                      "job-printer-state-message",
                                      "job-originating-host-name",
                                      "job-originating-user-name",
                                      "job-impressions",
                                      "job-impressions-completed",
                                      "job-media-sheets-completed",
                                      "time-at-creation",
                                      "document-format",
                                      "document-format-supplied",
                                      "job-printer-uri"};
constexpr int kJobAttributeCount = sizeof kJobAttributes / sizeof kJobAttributes[0];

const char *const kPrinterAttributes[] = {"printer-name",
                                          "printer-type",
                                          "printer-state",
                                          "printer-state-reasons",
                                          "printer-is-accepting-jobs",
                                          "device-uri",
                                          "document-format-default",
                                          "queued-job-count"};
constexpr int kPrinterAttributeCount = sizeof kPrinterAttributes / sizeof kPrinterAttributes[0];

// The attributes of one printer group, read into a level-2 record.
struct PrinterReader {
  PrinterInfo2 info;
  int type = -1;
  int state = -1;
  bool accepting = true;
  int queued = 0;
  std::vector<std::string> reasons;

  void read(ipp_attribute_t *a, const char *an) {
    const ipp_tag_t tag = ippGetValueTag(a);
    if (!strcmp(an, "printer-name") && tag == IPP_TAG_NAME)
      info.name = text(a);
    else if (!strcmp(an, "printer-type") && tag == IPP_TAG_ENUM)
      type = ippGetInteger(a, 0);
    else if (!strcmp(an, "printer-state") && tag == IPP_TAG_ENUM)
      state = ippGetInteger(a, 0);
    else if (!strcmp(an, "printer-state-reasons"))
      reasons = keywords(a);
    else if (!strcmp(an, "printer-is-accepting-jobs") && tag == IPP_TAG_BOOLEAN)
      accepting = ippGetBoolean(a, 0) != 0;
    else if (!strcmp(an, "device-uri"))
      info.port = text(a);
    else if (!strcmp(an, "document-format-default"))
      info.datatype = text(a);
    else if (!strcmp(an, "queued-job-count") && tag == IPP_TAG_INTEGER)
      queued = ippGetInteger(a, 0);
  }
  PrinterInfo2 take() {
    const uint32_t t = type >= 0 ? static_cast<uint32_t>(type) : 0u;
    info.status = cupsPrinterStatus(state, reasons, accepting);
    info.attributes = cupsPrinterAttributes(t);
    info.reach = cupsQueueReach(t, info.port);
    PrinterInfo2 out = std::move(info);
    *this = PrinterReader{};
    return out;
  }
};

class CupsSpooler : public Spooler {
public:
  // The server is looked up anew for each spooler (CUPS_SERVER, client.conf, the default socket).
  // When the server asks for a password, none is given: the request fails as "no administer access" instead
  // of libcups asking for a password on the terminal.
  CupsSpooler() {
    cupsSetServer(nullptr);
    cupsSetPasswordCB2(noPassword, nullptr);
    user_ = cupsUser();
  }
  SpoolerSnapshot snapshot() override;
  PrinterRead getPrinter(const std::string &name) override;
  bool openPrinterAdminister(const std::string &name) override;
  std::optional<std::vector<JobInfo1>> enumJobs(const std::string &name) override;
  std::optional<JobInfo1> getJob(const std::string &printer, uint32_t jobId) override;
  bool pausePrinter(const std::string &name) override { return control(name, IPP_OP_PAUSE_PRINTER); }
  bool resumePrinter(const std::string &name) override { return control(name, IPP_OP_RESUME_PRINTER); }
  bool setJob(const std::string &name, uint32_t jobId, JobControl command) override;
  SpoolStatus lastStatus() const override { return last_; }
  std::string userName() const override { return user_; }

private:
  http_t *connection();
  IppPtr request(ipp_t *req, const char *resource = "/");
  ipp_t *newPrinterRequest(ipp_op_t op, const std::string &name);
  std::string printerUri(const std::string &name) const;
  bool control(const std::string &name, ipp_op_t op);
  std::optional<std::vector<JobInfo1>> jobsOf(const std::string &uri, const std::string *onlyPrinter);

  HttpPtr http_;
  QElapsedTimer sinceFailure_;
  std::map<std::string, bool> isClass_; // from the last look at the server
  SpoolStatus last_ = SpoolStatus::Ok;
  std::string user_;
};

http_t *CupsSpooler::connection() {
  if (http_)
    return http_.get();
  if (sinceFailure_.isValid() && sinceFailure_.elapsed() < kRetryAfterFailureMs)
    return nullptr;
  int cancel = 0;
  http_.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, &cancel));
  if (!http_) {
    sinceFailure_.start();
    return nullptr;
  }
  httpSetTimeout(http_.get(), kRequestTimeoutS, abortOnTimeout, nullptr);
  sinceFailure_.invalidate();
  return http_.get();
}

IppPtr CupsSpooler::request(ipp_t *req, const char *resource) {
  http_t *http = connection();
  if (!http) {
    ippDelete(req);
    last_ = SpoolStatus::NoServer;
    return nullptr;
  }
  IppPtr response(cupsDoRequest(http, req, resource));
  const ipp_status_t error = response ? ippGetStatusCode(response.get()) : cupsLastError();
  if (response && error <= IPP_STATUS_OK_EVENTS_COMPLETE)
    last_ = SpoolStatus::Ok;
  else if (deniedStatus(error))
    last_ = SpoolStatus::Denied;
  else if (response)
    last_ = SpoolStatus::Failed;
  else
    last_ = SpoolStatus::NoServer;
  if (!response) {
    // No answer: drop the connection so that the next call starts afresh. Only when the server itself failed
    // (unreachable, timed out) is it left alone for a moment; a refused authentication is an answer too.
    http_.reset();
    if (last_ == SpoolStatus::NoServer)
      sinceFailure_.start();
  }
  return response;
}

std::string CupsSpooler::printerUri(const std::string &name) const {
  const auto it = isClass_.find(name);
  const bool cls = it != isClass_.end() && it->second;
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                   cls ? "/classes/%s" : "/printers/%s", name.c_str());
  return uri;
}

ipp_t *CupsSpooler::newPrinterRequest(ipp_op_t op, const std::string &name) {
  ipp_t *req = ippNewRequest(op);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user_.c_str());
  return req;
}

bool validName(const std::string &name) { return !name.empty() && name.size() <= 127; }

SpoolerSnapshot CupsSpooler::snapshot() {
  SpoolerSnapshot snap;
  QElapsedTimer clock;
  clock.start();
  ipp_t *req = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", kPrinterAttributeCount, nullptr,
                kPrinterAttributes);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user_.c_str());
  IppPtr response = request(req);
  if (!response) {
    snap.reachable = last_ != SpoolStatus::NoServer;
    return snap;
  }
  snap.reachable = true;
  if (!succeeded(response.get())) // a server without printers answers "not found"
    return snap;
  PrinterReader reader;
  bool anyJobs = false;
  auto flush = [&] {
    if (reader.info.name.empty() || reader.type < 0 || reader.state < 0) {
      reader = PrinterReader{};
      return;
    }
    const bool remote = (reader.type & CUPS_PRINTER_REMOTE) != 0;
    isClass_[reader.info.name] = (reader.type & CUPS_PRINTER_CLASS) != 0;
    anyJobs = anyJobs || reader.queued > 0;
    auto &table = remote ? snap.connections : snap.local;
    if (table.size() < kMaxPrinters)
      table.push_back(reader.take());
    else
      reader = PrinterReader{};
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *an = ippGetName(a);
    if (!an) { // a group separator ends one printer's attributes
      flush();
      continue;
    }
    if (ippGetGroupTag(a) == IPP_TAG_PRINTER)
      reader.read(a, an);
  }
  flush();
  if (anyJobs) {
    auto jobs = jobsOf("ipp://localhost/", nullptr);
    if (!jobs) {
      snap.reachable = last_ != SpoolStatus::NoServer;
      if (!snap.reachable)
        return snap;
    } else {
      for (JobInfo1 &j : *jobs)
        snap.jobs[j.printerName].push_back(std::move(j));
    }
  }
  snap.elapsedMs = clock.elapsed();
  return snap;
}

std::optional<std::vector<JobInfo1>> CupsSpooler::jobsOf(const std::string &uri, const std::string *onlyPrinter) {
  ipp_t *req = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user_.c_str());
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", kJobAttributeCount, nullptr,
                kJobAttributes);
  IppPtr response = request(req);
  if (!succeeded(response.get()))
    return std::nullopt;
  std::vector<JobInfo1> jobs;
  JobReader reader;
  auto flush = [&] {
    if (reader.valid() && jobs.size() < kMaxJobs) {
      const std::string printer = onlyPrinter ? *onlyPrinter : printerOfUri(reader.printerUri);
      jobs.push_back(reader.take(printer));
    } else {
      reader = JobReader{};
    }
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *an = ippGetName(a);
    if (!an) {
      flush();
      continue;
    }
    if (ippGetGroupTag(a) == IPP_TAG_JOB)
      reader.read(a, an);
  }
  flush();
  return jobs;
}

PrinterRead CupsSpooler::getPrinter(const std::string &name) {
  PrinterRead out;
  if (!validName(name))
    return out;
  ipp_t *req = newPrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", kPrinterAttributeCount, nullptr,
                kPrinterAttributes);
  IppPtr response = request(req);
  if (!succeeded(response.get())) {
    out.error = SpoolError::Open;
    return out;
  }
  PrinterReader reader;
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get()))
    if (const char *an = ippGetName(a); an && ippGetGroupTag(a) == IPP_TAG_PRINTER)
      reader.read(a, an);
  if (reader.state < 0) {
    out.error = SpoolError::Size;
    return out;
  }
  reader.info.name = name;
  out.info = reader.take();
  out.error = SpoolError::None;
  return out;
}

bool CupsSpooler::openPrinterAdminister(const std::string &name) {
  // The server's policy puts Release-Held-New-Jobs in the same group as Pause-Printer and Resume-Printer.
  // On a queue that holds no new jobs the server answers "not possible" once the user has passed the policy,
  // and changes nothing; a queue that does hold new jobs is asked to hold them, which changes nothing either.
  const PrinterRead state = getPrinter(name);
  if (state.error != SpoolError::None)
    return false;
  const bool holding = (state.info.status & PRINTER_STATUS_HOLDING_NEW_JOBS) != 0;
  IppPtr response =
      request(newPrinterRequest(holding ? IPP_OP_HOLD_NEW_JOBS : IPP_OP_RELEASE_HELD_NEW_JOBS, name), "/admin/");
  if (response && ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_POSSIBLE)
    last_ = SpoolStatus::Ok;
  return last_ == SpoolStatus::Ok;
}

std::optional<std::vector<JobInfo1>> CupsSpooler::enumJobs(const std::string &name) {
  if (!validName(name))
    return std::nullopt;
  return jobsOf(printerUri(name), &name);
}

std::optional<JobInfo1> CupsSpooler::getJob(const std::string &printer, uint32_t jobId) {
  if (!validName(printer) || jobId == 0 || jobId > 0x7fffffff)
    return std::nullopt;
  ipp_t *req = newPrinterRequest(IPP_OP_GET_JOB_ATTRIBUTES, printer);
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", kJobAttributeCount, nullptr,
                kJobAttributes);
  IppPtr response = request(req);
  if (!succeeded(response.get()))
    return std::nullopt;
  JobReader reader;
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get()))
    if (const char *an = ippGetName(a); an && ippGetGroupTag(a) == IPP_TAG_JOB)
      reader.read(a, an);
  if (!reader.valid())
    return std::nullopt;
  return reader.take(printer);
}

bool CupsSpooler::control(const std::string &name, ipp_op_t op) {
  if (!validName(name)) {
    last_ = SpoolStatus::Failed;
    return false;
  }
  IppPtr response = request(newPrinterRequest(op, name), "/admin/");
  return succeeded(response.get());
}

bool CupsSpooler::setJob(const std::string &name, uint32_t jobId, JobControl command) {
  if (!validName(name) || jobId == 0 || jobId > 0x7fffffff) {
    last_ = SpoolStatus::Failed;
    return false;
  }
  ipp_t *req = newPrinterRequest(IPP_OP_CANCEL_JOB, name);
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  if (command == JobControl::Delete)
    ippAddBoolean(req, IPP_TAG_OPERATION, "purge-job", 1);
  IppPtr response = request(req, "/jobs/");
  return succeeded(response.get());
}

} // namespace

uint32_t cupsPrinterStatus(int printerState, const std::vector<std::string> &reasons, bool acceptingJobs) {
  uint32_t status = acceptingJobs ? 0u : uint32_t(PRINTER_STATUS_REJECTING_JOBS);
  if (printerState == IPP_PSTATE_STOPPED)
    status |= PRINTER_STATUS_PAUSED;
  else if (printerState == IPP_PSTATE_PROCESSING)
    status |= PRINTER_STATUS_PRINTING;
  static const std::pair<std::string_view, uint32_t> table[] = {
      {"paused", PRINTER_STATUS_PAUSED},
      {"media-empty", PRINTER_STATUS_PAPER_OUT},
      {"media-needed", PRINTER_STATUS_PAPER_OUT},
      {"media-jam", PRINTER_STATUS_PAPER_JAM},
      {"input-tray-missing", PRINTER_STATUS_PAPER_PROBLEM},
      {"door-open", PRINTER_STATUS_DOOR_OPEN},
      {"cover-open", PRINTER_STATUS_DOOR_OPEN},
      {"interlock-open", PRINTER_STATUS_DOOR_OPEN},
      {"toner-low", PRINTER_STATUS_TONER_LOW},
      {"marker-supply-low", PRINTER_STATUS_TONER_LOW},
      {"developer-low", PRINTER_STATUS_TONER_LOW},
      {"toner-empty", PRINTER_STATUS_NO_TONER},
      {"marker-supply-empty", PRINTER_STATUS_NO_TONER},
      {"developer-empty", PRINTER_STATUS_NO_TONER},
      {"offline", PRINTER_STATUS_OFFLINE},
      {"connecting-to-device", PRINTER_STATUS_OFFLINE},
      {"timed-out", PRINTER_STATUS_OFFLINE},
      {"output-area-full", PRINTER_STATUS_OUTPUT_BIN_FULL},
      {"output-tray-missing", PRINTER_STATUS_OUTPUT_BIN_FULL},
      {"spool-area-full", PRINTER_STATUS_OUT_OF_MEMORY},
      {"shutdown", PRINTER_STATUS_NOT_AVAILABLE},
      {"deactivated", PRINTER_STATUS_NOT_AVAILABLE},
      {"stopping", PRINTER_STATUS_PAUSED},
      {"power-saver", PRINTER_STATUS_POWER_SAVE},
      {"sleep", PRINTER_STATUS_POWER_SAVE},
      {"warming-up", PRINTER_STATUS_WARMING_UP},
      {"initializing", PRINTER_STATUS_INITIALIZING},
      {"manual-feed", PRINTER_STATUS_MANUAL_FEED},
      {"opc-near-eol", PRINTER_STATUS_USER_INTERVENTION},
      {"fuser-over-temp", PRINTER_STATUS_ERROR},
      {"hold-new-jobs", PRINTER_STATUS_HOLDING_NEW_JOBS},
  };
  for (const std::string &reason : reasons) {
    if (reason == "none")
      continue;
    const std::string_view base = reasonBase(reason);
    bool known = false;
    for (const auto &[word, bit] : table) {
      if (base == word) {
        status |= bit;
        known = true;
        break;
      }
    }
    if (!known && endsWith(reason, "-error"))
      status |= PRINTER_STATUS_ERROR;
  }
  return status;
}

uint32_t cupsJobStatus(int jobState, const std::vector<std::string> &reasons) {
  uint32_t status = 0;
  switch (jobState) {
  case IPP_JSTATE_HELD:
    status |= JOB_STATUS_PAUSED;
    break;
  case IPP_JSTATE_PROCESSING:
    status |= JOB_STATUS_PRINTING;
    break;
  case IPP_JSTATE_STOPPED:
    status |= JOB_STATUS_BLOCKED_DEVQ;
    break;
  case IPP_JSTATE_CANCELED:
    status |= JOB_STATUS_DELETED;
    break;
  case IPP_JSTATE_ABORTED:
    status |= JOB_STATUS_ERROR;
    break;
  case IPP_JSTATE_COMPLETED:
    status |= JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE;
    break;
  default: // pending: waits in the queue, no bit
    break;
  }
  for (const std::string &reason : reasons) {
    const std::string_view r = reason;
    if (r == "job-incoming" || r == "job-data-insufficient")
      status |= JOB_STATUS_SPOOLING;
    else if (r == "processing-to-stop-point" || r == "job-canceled-by-user" || r == "job-canceled-by-operator")
      status |= jobState == IPP_JSTATE_PROCESSING ? JOB_STATUS_DELETING : 0u;
    else if (r == "job-hold-until-specified" || r == "job-suspended")
      status |= JOB_STATUS_PAUSED;
    else if (r == "aborted-by-system" || r == "document-format-error" || r == "job-transforming-error")
      status |= JOB_STATUS_ERROR;
    else if (r == "printer-stopped" && jobState == IPP_JSTATE_STOPPED)
      status |= JOB_STATUS_BLOCKED_DEVQ;
  }
  return status;
}

uint32_t cupsPrinterAttributes(uint32_t type) {
  uint32_t a = PRINTER_ATTRIBUTE_QUEUED;
  a |= (type & CUPS_PRINTER_REMOTE) ? PRINTER_ATTRIBUTE_NETWORK : PRINTER_ATTRIBUTE_LOCAL;
  if (!(type & CUPS_PRINTER_NOT_SHARED))
    a |= PRINTER_ATTRIBUTE_SHARED;
  return a;
}

QueueReach cupsQueueReach(uint32_t printerType, const std::string &deviceUri) {
  // Shared by another server: a remote queue, or a class gathering remote queues (an implicit class, or the
  // cluster queue that the browsing helper makes for a printer several servers share).
  if (printerType & (CUPS_PRINTER_REMOTE | CUPS_PRINTER_IMPLICIT))
    return QueueReach::Shared;
  const size_t colon = deviceUri.find(':');
  if (colon == std::string::npos || colon > 16)
    return QueueReach::Local;
  std::string scheme = deviceUri.substr(0, colon);
  for (char &c : scheme)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "implicitclass")
    return QueueReach::Shared;
  static const char *const network[] = {"ipp", "ipps", "http", "https", "socket", "lpd", "dnssd"};
  for (const char *n : network)
    if (scheme == n)
      return QueueReach::Network;
  return QueueReach::Local;
}

std::unique_ptr<Spooler> makeCupsSpooler() { return std::make_unique<CupsSpooler>(); }

} // namespace platform
