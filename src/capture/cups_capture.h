// Print jobs held in paused CUPS queues as a second page source beside the spool folder. A worker thread asks the
// server (at most once a second, when a capture pass asks it to) for the current user's jobs that are not
// completed, and takes each new one held in a paused queue: it fetches the job's documents into the work folder,
// turns them into PDF pages with thumbnails, and hands them to the GUI thread, which appends them to the page list
// with the next job number. The job itself stays in its queue, held, until the user cancels all documents.
//
// A job is taken once per run: once its pages were handed over it is never fetched again. A job whose documents
// cannot be fetched for good or cannot be converted is reported once and left in its queue, not taken. A job met
// while the server is away is looked at again later. Only the current user's jobs are ever taken.
#pragma once

#include "capture/capture_window.h"
#include "capture/page_store.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
struct CupsJob;
struct CupsQueue;
class CupsJobs;
} // namespace platform

namespace capture {

// A job taken from CUPS whose pages are ready for the page list (their names are given when they are appended).
struct CupsCapturedJob {
  uint32_t id = 0;
  std::string printer;
  std::string title;
  int64_t created = 0; // seconds since 1970
  std::vector<PreparedPage> pages;
};

class CupsCapture {
public:
  // Least time between two looks at the server.
  static constexpr int kPollIntervalMs = 1000;

  // Starts the worker; this object is the one capture passes use until it is destroyed.
  CupsCapture();
  // Stops the worker between two jobs (a job not handed over stays in its queue and is taken at the next start).
  ~CupsCapture();
  CupsCapture(const CupsCapture &) = delete;
  CupsCapture &operator=(const CupsCapture &) = delete;

  // The object in use, or nullptr. GUI thread.
  static CupsCapture *active();

  // Asks the worker for a look at the server, unless one is running or the last began less than a second ago.
  // Never waits.
  void poll();
  // Takes the jobs the worker finished and its notices (jobs that could not be taken), in order.
  void take(std::vector<CupsCapturedJob> &jobs, std::vector<QString> &notices);

private:
  void run();
  void look(platform::CupsJobs &cups);
  enum class Outcome { Taken, Away, Refused };
  Outcome takeJob(platform::CupsJobs &cups, const platform::CupsJob &job, const platform::CupsQueue &queue);

  mutable std::mutex m_;
  std::condition_variable wake_;
  bool asked_ = false;
  bool running_ = false;
  bool stop_ = false;
  std::chrono::steady_clock::time_point lastLook_{};
  std::vector<CupsCapturedJob> done_;
  std::vector<QString> notices_;
  // Jobs taken or refused in this run, by job id and creation time (a restarted server may reuse an id). Worker
  // only.
  std::set<std::pair<uint32_t, int64_t>> handled_;
  std::atomic<bool> stopFlag_{false};
  std::thread worker_;
};

// GUI thread: appends the jobs the CUPS worker finished to the page list, each with the next job number and page
// names "<job>-<page>.pdf"; enters them into the known job list and the captured-jobs list; shows the notices on
// the status line. True when pages were appended.
bool AppendCupsJobs(CupsCapture &cups, CaptureWindow &window);

} // namespace capture
