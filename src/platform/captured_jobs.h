// The print jobs whose pages Folvex has captured in this run. Folvex records each job when it captures it; the
// printer monitor's "cancel all documents" cancels exactly these jobs and leaves every other job alone.
// The list is one text file in the application-data folder, "lvFXCaptured.txt", one job per line:
//   cups<TAB><printer><TAB><job id>     a job held in a CUPS queue
//   spool<TAB><shadow file path>        a job of the spool folder (its ".SHD" file; the data file lies beside it)
// Every change rewrites the file atomically under a lock, so the two programs may use it at the same time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct CapturedJob {
  enum class Kind { Cups, Spool };
  Kind kind = Kind::Cups;
  std::string printer; // Cups: the queue
  uint32_t jobId = 0;  // Cups: the job id
  std::string shadow;  // Spool: path of the shadow file
  bool operator==(const CapturedJob &) const = default;
};

// Path of the list: appDataFolder() + "/lvFXCaptured.txt".
std::string capturedJobsPath();
// The recorded jobs in the order they were captured; empty when the file is missing or unreadable. Lines that do
// not parse are skipped.
std::vector<CapturedJob> capturedJobs();
// Adds a job (nothing when it is listed already). False when the file cannot be written.
bool recordCapturedJob(const CapturedJob &job);
// Removes the given jobs from the list (after they were cancelled). False when the file cannot be written.
bool forgetCapturedJobs(const std::vector<CapturedJob> &jobs);
// Empties the list (Folvex starts a run with none captured). False when the file cannot be written.
bool clearCapturedJobs();

} // namespace platform
