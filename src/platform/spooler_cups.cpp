// The spooler on the CUPS server, through IPP requests.
//
// How the spooler's notions map onto CUPS:
// - local printers: the queues of this CUPS server (printer-type without CUPS_PRINTER_REMOTE), classes included;
//   connections: the remote queues it knows (printer-type with CUPS_PRINTER_REMOTE); both in the server's order
//   (CUPS-Get-Printers).
// - opening a printer without defaults: a Get-Printer-Attributes request for the queue succeeds.
// - level-2 record (Get-Printer-Attributes): port = device-uri; datatype = document-format-default;
//   attributes = printer-type bits as PRINTER_ATTRIBUTE_* (cupsPrinterAttributes); status = printer-state and
//   printer-state-reasons as PRINTER_STATUS_* (cupsPrinterStatus): stopped or "paused" -> PAUSED,
//   processing -> PRINTING, media-empty/media-needed -> PAPER_OUT, media-jam -> PAPER_JAM, door-open/cover-open ->
//   DOOR_OPEN, toner-low/marker-supply-low -> TONER_LOW, toner-empty/marker-supply-empty -> NO_TONER,
//   offline-report/connecting-to-device -> OFFLINE, output-area-full -> OUTPUT_BIN_FULL, and the few more of the
//   table in cupsPrinterStatus; any other reason reported with the "-error" suffix -> ERROR.
//   A server that answers the request without the printer's attributes is the "no record size" failure.
// - opening with administer access: the server accepts an administrative request from this user
//   (a Release-Held-New-Jobs request, which the server's policy groups with Pause-Printer and which changes
//   nothing on a queue that holds no new jobs); the monitor times the round trip as the printer's response.
// - jobs at level 1 (Get-Jobs of the not yet completed jobs): job-id, job-name, job-originating-host-name,
//   job-originating-user-name, job-impressions (pages), time-at-creation (submitted), document-format (datatype);
//   job-state and job-state-reasons -> JOB_STATUS_* (cupsJobStatus); job-printer-state-message, when set, is the
//   spooler's own status text.
// - pause = Pause-Printer, resume = Resume-Printer; JOB_CONTROL_CANCEL = Cancel-Job, JOB_CONTROL_DELETE =
//   Cancel-Job with purge-job (the job's files are removed as well).
// - no reachable server: no printers, every open fails. Every request has a short timeout, and after a failed
//   connection the server is not asked again for a moment, so a listing never hangs.
#include "platform/spooler_cups.h"
#include "platform/spooler.h"

#include <cups/cups.h>

#include <QElapsedTimer>

#include <cstring>
#include <map>
#include <string_view>

namespace platform {
namespace {

constexpr int kConnectMs = 1000;
constexpr double kRequestTimeoutS = 3.0;
constexpr qint64 kRetryAfterFailureMs = 2000;
constexpr size_t kMaxJobs = 10000;
constexpr size_t kMaxPrinters = 1000;
constexpr size_t kMaxText = 1024; // longest text we keep from a server attribute

struct IppDeleter {
  void operator()(ipp_t *p) const { ippDelete(p); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;
struct HttpDeleter {
  void operator()(http_t *p) const { httpClose(p); }
};
using HttpPtr = std::unique_ptr<http_t, HttpDeleter>;

int abortOnTimeout(http_t *, void *) { return 0; } // give up instead of waiting again
const char *noPassword(const char *, http_t *, const char *, const char *, void *) { return nullptr; }

std::string text(ipp_attribute_t *attr, int index = 0) {
  if (!attr)
    return {};
  const char *s = ippGetString(attr, index, nullptr);
  if (!s)
    return {};
  std::string out(s);
  if (out.size() > kMaxText)
    out.resize(kMaxText);
  return out;
}

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

class CupsSpooler : public Spooler {
public:
  // The server is looked up anew for each spooler (CUPS_SERVER, client.conf, the default socket).
  // When the server asks for a password, none is given: the request fails as "no administer access" instead
  // of libcups asking for a password on the terminal.
  CupsSpooler() {
    cupsSetServer(nullptr);
    cupsSetPasswordCB2(noPassword, nullptr);
  }
  std::vector<std::string> enumPrinters(PrinterEnum kind) override;
  bool openPrinter(const std::string &name) override;
  PrinterRead getPrinter(const std::string &name) override;
  bool openPrinterAdminister(const std::string &name) override;
  std::optional<std::vector<JobInfo1>> enumJobs(const std::string &name) override;
  bool pausePrinter(const std::string &name) override { return control(name, IPP_OP_PAUSE_PRINTER); }
  bool resumePrinter(const std::string &name) override { return control(name, IPP_OP_RESUME_PRINTER); }
  bool setJob(const std::string &name, uint32_t jobId, JobControl command) override;

private:
  http_t *connection();
  IppPtr request(ipp_t *req, const char *resource = "/");
  IppPtr printerRequest(ipp_op_t op, const std::string &name, const char *resource = "/");
  std::string printerUri(const std::string &name) const;
  bool control(const std::string &name, ipp_op_t op);

  HttpPtr http_;
  QElapsedTimer sinceFailure_;
  std::map<std::string, bool> isClass_; // from the last enumeration
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
    return nullptr;
  }
  IppPtr response(cupsDoRequest(http, req, resource));
  if (!response) {
    // No answer: drop the connection so that the next call starts afresh. Only when the server itself failed
    // (unreachable, timed out) is it left alone for a moment; a refused authentication is an answer too.
    http_.reset();
    const ipp_status_t error = cupsLastError();
    if (error >= IPP_STATUS_ERROR_INTERNAL && error < IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED)
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

IppPtr CupsSpooler::printerRequest(ipp_op_t op, const std::string &name, const char *resource) {
  if (name.empty() || name.size() > 127)
    return nullptr;
  ipp_t *req = ippNewRequest(op);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  if (op == IPP_OP_GET_PRINTER_ATTRIBUTES) {
    static const char *const attrs[] = {"printer-name", "printer-state",           "printer-state-reasons",
                                        "device-uri",   "document-format-default", "printer-type"};
    ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 6, nullptr, attrs);
  }
  return request(req, resource);
}

std::vector<std::string> CupsSpooler::enumPrinters(PrinterEnum kind) {
  std::vector<std::string> names;
  ipp_t *req = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char *const attrs[] = {"printer-name", "printer-type"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, attrs);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  IppPtr response = request(req);
  if (!succeeded(response.get()))
    return names;
  std::string name;
  int type = -1;
  auto flush = [&] {
    if (!name.empty() && type >= 0 && names.size() < kMaxPrinters) {
      const bool remote = (type & CUPS_PRINTER_REMOTE) != 0;
      isClass_[name] = (type & CUPS_PRINTER_CLASS) != 0;
      if (remote == (kind == PrinterEnum::Connections))
        names.push_back(name);
    }
    name.clear();
    type = -1;
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *an = ippGetName(a);
    if (!an) { // a group separator ends one printer's attributes
      flush();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_PRINTER)
      continue;
    if (!strcmp(an, "printer-name") && ippGetValueTag(a) == IPP_TAG_NAME)
      name = text(a);
    else if (!strcmp(an, "printer-type") && ippGetValueTag(a) == IPP_TAG_ENUM)
      type = ippGetInteger(a, 0);
  }
  flush();
  return names;
}

bool CupsSpooler::openPrinter(const std::string &name) {
  IppPtr response = printerRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  return succeeded(response.get());
}

PrinterRead CupsSpooler::getPrinter(const std::string &name) {
  PrinterRead out;
  IppPtr response = printerRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  if (!succeeded(response.get())) {
    out.error = SpoolError::Open;
    return out;
  }
  ipp_attribute_t *state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
  if (!state) {
    out.error = SpoolError::Size;
    return out;
  }
  out.info.name = name;
  out.info.status = cupsPrinterStatus(
      ippGetInteger(state, 0), keywords(ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD)));
  out.info.port = text(ippFindAttribute(response.get(), "device-uri", IPP_TAG_URI));
  out.info.datatype = text(ippFindAttribute(response.get(), "document-format-default", IPP_TAG_MIMETYPE));
  if (ipp_attribute_t *t = ippFindAttribute(response.get(), "printer-type", IPP_TAG_ENUM))
    out.info.attributes = cupsPrinterAttributes(static_cast<uint32_t>(ippGetInteger(t, 0)));
  out.error = SpoolError::None;
  return out;
}

bool CupsSpooler::openPrinterAdminister(const std::string &name) {
  // The server's policy puts Release-Held-New-Jobs in the same group as Pause-Printer and Resume-Printer.
  // On a queue that holds no new jobs the server answers "not possible" once the user has passed the policy,
  // and changes nothing; a queue that does hold new jobs is asked to hold them, which changes nothing either.
  IppPtr state = printerRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  if (!succeeded(state.get()))
    return false;
  bool holding = false;
  for (const std::string &r : keywords(ippFindAttribute(state.get(), "printer-state-reasons", IPP_TAG_KEYWORD)))
    holding = holding || r == "hold-new-jobs";
  IppPtr response = printerRequest(holding ? IPP_OP_HOLD_NEW_JOBS : IPP_OP_RELEASE_HELD_NEW_JOBS, name, "/admin/");
  return succeeded(response.get()) || (response && ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_POSSIBLE);
}

std::optional<std::vector<JobInfo1>> CupsSpooler::enumJobs(const std::string &name) {
  if (name.empty() || name.size() > 127)
    return std::nullopt;
  ipp_t *req = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  static const char *const attrs[] = {"job-id",
                                      "job-name",
                                      "job-state",
                                      "job-state-reasons",
                                      "job-printer-state-message",
                                      "job-originating-host-name",
                                      "job-originating-user-name",
                                      "job-impressions",
                                      "time-at-creation",
                                      "document-format"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 10, nullptr, attrs);
  IppPtr response = request(req);
  if (!succeeded(response.get()))
    return std::nullopt;

  std::vector<JobInfo1> jobs;
  JobInfo1 job;
  int state = 0;
  std::vector<std::string> reasons;
  bool any = false;
  auto flush = [&] {
    if (any && job.jobId != 0 && jobs.size() < kMaxJobs) {
      job.printerName = name;
      job.status = cupsJobStatus(state, reasons);
      jobs.push_back(std::move(job));
    }
    job = JobInfo1{};
    state = 0;
    reasons.clear();
    any = false;
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *an = ippGetName(a);
    if (!an) {
      flush();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB)
      continue;
    any = true;
    const ipp_tag_t tag = ippGetValueTag(a);
    if (!strcmp(an, "job-id") && tag == IPP_TAG_INTEGER)
      job.jobId = static_cast<uint32_t>(std::max(0, ippGetInteger(a, 0)));
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
    else if (!strcmp(an, "job-impressions") && tag == IPP_TAG_INTEGER)
      job.totalPages = static_cast<uint32_t>(std::max(0, ippGetInteger(a, 0)));
    else if (!strcmp(an, "time-at-creation") && tag == IPP_TAG_INTEGER)
      job.submittedUtc = ippGetInteger(a, 0);
    else if (!strcmp(an, "document-format"))
      job.datatype = text(a);
  }
  flush();
  return jobs;
}

bool CupsSpooler::control(const std::string &name, ipp_op_t op) {
  IppPtr response = printerRequest(op, name, "/admin/");
  return succeeded(response.get());
}

bool CupsSpooler::setJob(const std::string &name, uint32_t jobId, JobControl command) {
  if (jobId == 0 || jobId > 0x7fffffff)
    return false;
  ipp_t *req = ippNewRequest(IPP_OP_CANCEL_JOB);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  if (command == JobControl::Delete)
    ippAddBoolean(req, IPP_TAG_OPERATION, "purge-job", 1);
  IppPtr response = request(req, "/jobs/");
  return succeeded(response.get());
}

} // namespace

uint32_t cupsPrinterStatus(int printerState, const std::vector<std::string> &reasons) {
  uint32_t status = 0;
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

std::unique_ptr<Spooler> makeCupsSpooler() { return std::make_unique<CupsSpooler>(); }

} // namespace platform
