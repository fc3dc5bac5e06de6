// The current user's print jobs held by the CUPS server, and their documents: what Folvex needs to take a job
// printed to a paused queue as pages. Listing is IPP Get-Jobs (my-jobs, not-completed) with CUPS-Get-Printers for
// the queues' states; a document is fetched with CUPS-Get-Document, which the server allows the job's owner.
//
// One object keeps one connection and belongs to one thread (libcups keeps its server and user per thread). Every
// request has a short connect time and timeout, so a server that is down or hangs costs seconds, not a hang.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct CupsJob {
  uint32_t id = 0;
  std::string printer; // the queue's name
  std::string owner;   // job-originating-user-name
  std::string title;   // job-name
  int state = 0;       // job-state: 3 pending, 4 held, 5 processing, 6 stopped, 7 canceled, 8 aborted, 9 completed
  std::vector<std::string> reasons; // job-state-reasons
  int64_t created = 0;              // time-at-creation, seconds since 1970
  int documents = 0;                // number-of-documents
  std::string media;                // the job's media keyword ("iso_a4_210x297mm"), empty when not given
};

struct CupsQueue {
  std::string name;
  bool paused = false;      // printer-state is "stopped"
  std::string mediaDefault; // media-default, empty when not given
};

enum class CupsStatus {
  Ok,
  Unreachable, // no answer from the server (down, restarting, timed out): try again later
  Refused,     // the server answered with an error (for instance not allowed, no such job)
};

class CupsJobs {
public:
  // Uses the server libcups finds for this thread (CUPS_SERVER, client.conf, the default socket).
  CupsJobs();
  ~CupsJobs();
  CupsJobs(const CupsJobs &) = delete;
  CupsJobs &operator=(const CupsJobs &) = delete;

  // The current user's jobs that are not completed, on every queue, in job id order (at most 10000). Jobs of
  // other users are never listed, whatever the server sends.
  CupsStatus myJobs(std::vector<CupsJob> &jobs);
  // Every queue of the server with its state (at most 1000).
  CupsStatus queues(std::vector<CupsQueue> &queues);
  // Writes document `number` (from 1) of job `id` into a new file at path (created here, readable by the owner
  // only; an existing file is an error). *format receives the document's MIME type as the server states it.
  // On failure the file is removed and *error (when given) says why.
  CupsStatus getDocument(uint32_t id, int number, const std::string &path, std::string *format,
                         std::string *error = nullptr);
  // Writes the queue's PPD file to path; false when the queue has none or it cannot be fetched.
  bool getPpd(const std::string &queue, const std::string &path);
  // A flag another thread sets to end a request that is waiting for the server (it then fails as Unreachable).
  void setCancelFlag(const std::atomic<bool> *cancel);

private:
  struct Connection;
  std::unique_ptr<Connection> c_;
};

// The name of the user this process runs as (the owner CUPS records for the jobs it prints).
std::string loginName();

} // namespace platform
