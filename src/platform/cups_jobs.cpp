#include "platform/cups_jobs.h"
#include "platform/ipp_util.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {
using namespace ipp;

constexpr int kConnectMs = 1000;
constexpr double kRequestTimeoutS = 5.0; // longest wait for the server's answer
constexpr double kWaitSliceS = 0.25;     // how often a waiting request looks at its cancel flag
constexpr size_t kMaxJobs = 10000;
constexpr size_t kMaxQueues = 1000;

// The queue name at the end of a printer or class URI ("ipp://localhost/printers/Folvex").
std::string queueOf(const std::string &uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return {};
  const char *slash = std::strrchr(resource, '/');
  return slash ? std::string(slash + 1) : std::string();
}

bool failedForGood(ipp_status_t s) {
  // Errors of the request itself (forbidden, not found, not possible, ...) are answers; a server error or no
  // answer at all is the server being away.
  return s >= IPP_STATUS_ERROR_BAD_REQUEST && s < IPP_STATUS_ERROR_INTERNAL;
}

} // namespace

std::string loginName() {
  if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_name)
    return pw->pw_name;
  return std::to_string(getuid());
}

struct CupsJobs::Connection {
  HttpPtr http;
  std::string user = loginName();
  const std::atomic<bool> *cancel = nullptr;
  std::chrono::steady_clock::time_point requestStart;

  // Called by libcups every short while a request waits: go on waiting until the request's time is up or it is
  // cancelled.
  static int keepWaiting(http_t *, void *data) {
    const auto *c = static_cast<const Connection *>(data);
    if (c->cancel && c->cancel->load())
      return 0;
    return std::chrono::steady_clock::now() - c->requestStart < std::chrono::duration<double>(kRequestTimeoutS);
  }

  http_t *get() {
    requestStart = std::chrono::steady_clock::now();
    if (http)
      return http.get();
    int cancelConnect = 0;
    http.reset(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, &cancelConnect));
    if (http)
      httpSetTimeout(http.get(), kWaitSliceS, keepWaiting, this);
    return http.get();
  }

  // Sends the request (taking it over); on no answer drops the connection so the next call starts afresh.
  IppPtr send(ipp_t *req, CupsStatus &status, int outFd = -1) {
    http_t *h = get();
    if (!h) {
      ippDelete(req);
      status = CupsStatus::Unreachable;
      return nullptr;
    }
    IppPtr response(outFd >= 0 ? cupsDoIORequest(h, req, "/", -1, outFd) : cupsDoRequest(h, req, "/"));
    const ipp_status_t s = response ? ippGetStatusCode(response.get()) : cupsLastError();
    if (response && s <= IPP_STATUS_OK_EVENTS_COMPLETE) {
      status = CupsStatus::Ok;
    } else if (failedForGood(s)) {
      status = CupsStatus::Refused;
    } else {
      status = CupsStatus::Unreachable;
      http.reset();
    }
    return response;
  }
};

CupsJobs::CupsJobs() : c_(std::make_unique<Connection>()) {
  // libcups keeps these per thread: this thread asks the server the environment names, as this user, and is never
  // prompted for a password (a request that needs one fails instead).
  cupsSetServer(nullptr);
  cupsSetUser(c_->user.c_str());
  cupsSetPasswordCB2(noPassword, nullptr);
}

CupsJobs::~CupsJobs() = default;

CupsStatus CupsJobs::myJobs(std::vector<CupsJob> &jobs) {
  jobs.clear();
  ipp_t *req = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, c_->user.c_str());
  ippAddBoolean(req, IPP_TAG_OPERATION, "my-jobs", 1);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  static const char *const attrs[] = {"job-id",           "job-printer-uri",     "job-originating-user-name",
                                      "job-name",         "job-state",           "job-state-reasons",
                                      "time-at-creation", "number-of-documents", "media"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(attrs)), nullptr, attrs);
  CupsStatus status = CupsStatus::Ok;
  IppPtr response = c_->send(req, status);
  if (status != CupsStatus::Ok)
    return status;
  CupsJob job;
  auto flush = [&] {
    if (job.id != 0 && !job.printer.empty() && job.owner == c_->user && jobs.size() < kMaxJobs)
      jobs.push_back(job);
    job = CupsJob();
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *name = ippGetName(a);
    if (!name) { // a separator ends one job's attributes
      flush();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB)
      continue;
    const ipp_tag_t tag = ippGetValueTag(a);
    if (!std::strcmp(name, "job-id") && tag == IPP_TAG_INTEGER)
      job.id = uint32_t(std::max(ippGetInteger(a, 0), 0));
    else if (!std::strcmp(name, "job-printer-uri") && tag == IPP_TAG_URI)
      job.printer = queueOf(text(a));
    else if (!std::strcmp(name, "job-originating-user-name"))
      job.owner = text(a);
    else if (!std::strcmp(name, "job-name"))
      job.title = text(a);
    else if (!std::strcmp(name, "job-state") && tag == IPP_TAG_ENUM)
      job.state = ippGetInteger(a, 0);
    else if (!std::strcmp(name, "job-state-reasons"))
      for (int i = 0; i < std::min(ippGetCount(a), 64); ++i)
        job.reasons.push_back(text(a, i));
    else if (!std::strcmp(name, "time-at-creation") && tag == IPP_TAG_INTEGER)
      job.created = ippGetInteger(a, 0);
    else if (!std::strcmp(name, "number-of-documents") && tag == IPP_TAG_INTEGER)
      job.documents = std::max(ippGetInteger(a, 0), 0);
    else if (!std::strcmp(name, "media") && (tag == IPP_TAG_KEYWORD || tag == IPP_TAG_NAME))
      job.media = text(a);
  }
  flush();
  std::sort(jobs.begin(), jobs.end(), [](const CupsJob &a, const CupsJob &b) { return a.id < b.id; });
  return CupsStatus::Ok;
}

CupsStatus CupsJobs::queues(std::vector<CupsQueue> &out) {
  out.clear();
  ipp_t *req = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, c_->user.c_str());
  static const char *const attrs[] = {"printer-name", "printer-state", "media-default"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(attrs)), nullptr, attrs);
  CupsStatus status = CupsStatus::Ok;
  IppPtr response = c_->send(req, status);
  if (status != CupsStatus::Ok)
    return status;
  CupsQueue q;
  auto flush = [&] {
    if (!q.name.empty() && out.size() < kMaxQueues)
      out.push_back(q);
    q = CupsQueue();
  };
  for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
    const char *name = ippGetName(a);
    if (!name) {
      flush();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_PRINTER)
      continue;
    if (!std::strcmp(name, "printer-name"))
      q.name = text(a);
    else if (!std::strcmp(name, "printer-state") && ippGetValueTag(a) == IPP_TAG_ENUM)
      q.paused = ippGetInteger(a, 0) == IPP_PSTATE_STOPPED;
    else if (!std::strcmp(name, "media-default"))
      q.mediaDefault = text(a);
  }
  flush();
  return CupsStatus::Ok;
}

CupsStatus CupsJobs::getDocument(uint32_t id, int number, const std::string &path, std::string *format,
                                 std::string *error) {
  auto fail = [&](CupsStatus s, const std::string &why) {
    if (error)
      *error = why;
    return s;
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return fail(CupsStatus::Refused, "cannot create " + path + ": " + std::strerror(errno));
  ipp_t *req = ippNewRequest(IPP_OP_CUPS_GET_DOCUMENT);
  char uri[256];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%u", id);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, c_->user.c_str());
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "document-number", number);
  CupsStatus status = CupsStatus::Ok;
  IppPtr response = c_->send(req, status, fd);
  const bool written = ::close(fd) == 0;
  if (status == CupsStatus::Ok && !written)
    status = CupsStatus::Refused;
  if (status != CupsStatus::Ok) {
    ::unlink(path.c_str());
    return fail(status, cupsLastErrorString() ? cupsLastErrorString() : "no answer");
  }
  if (format)
    *format = text(ippFindAttribute(response.get(), "document-format", IPP_TAG_MIMETYPE));
  return CupsStatus::Ok;
}

void CupsJobs::setCancelFlag(const std::atomic<bool> *cancel) { c_->cancel = cancel; }

bool CupsJobs::getPpd(const std::string &queue, const std::string &path) {
  http_t *h = c_->get();
  if (!h || queue.empty() || queue.find_first_of("/?#%") != std::string::npos)
    return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  const http_status_t s = cupsGetFd(h, ("/printers/" + queue + ".ppd").c_str(), fd);
  const bool written = ::close(fd) == 0;
  if (s == HTTP_STATUS_OK && written)
    return true;
  if (s == HTTP_STATUS_ERROR)
    c_->http.reset();
  ::unlink(path.c_str());
  return false;
}

} // namespace platform
