// The spool watcher: finds print jobs newly arrived in the spool folder, copies each into the work folder, has the
// page extractor cut it into page files and the page store load them; keeps the readiness state and the lamp's
// blink flag current on every scan timer tick.
//
// Threads: every pass scans, extracts and loads on the capture worker (capture_worker.h); the GUI thread appends the
// pages it found, and the initial pass arms the scan timer at its end. One pass runs at a time: a timer tick that
// comes while a pass runs starts none.
#pragma once

#include "capture/capture_window.h"
#include "capture/cups_capture.h"
#include "capture/page_store.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class QDateTime;

namespace capture {

inline constexpr int kScanTimerId = 111;
inline constexpr int kScanTimerInterval = 500; // ms

// Readiness state values (mirroring the printer acceptability code).
enum Readiness { kNotReady = 0, kReady = 1, kPartlyReady = 2 };

// The job time stamp: the UTC calendar fields folded with 30-day months and 360-day years, in 32-bit wrap-around:
// ((((year*12 + month)*30 + day)*24 + hour)*60 + minute)*60 + second. Milliseconds are not used.
uint32_t JobTimeStamp(int year, int month, int day, int hour, int minute, int second);
uint32_t JobTimeStamp(const QDateTime &lastWrite);

struct KnownJob {
  std::string name; // shadow file name (NT family) or spool file name (Windows 9x), exact case
  uint32_t stamp = 0;
  std::string document; // the document name the job recorded; empty when none was found
};

// The spool files captured since start, in capture order; entry i was captured as job number i + 1.
// Grows without limit (never shortened); lookups are hashed, so a pass over many known jobs stays cheap.
class KnownJobList {
public:
  bool contains(const std::string &name, uint32_t stamp) const;
  void append(std::string name, uint32_t stamp, std::string document = {});
  // The document name of job number `job` (1-based); empty when there is no such job.
  std::string documentOf(int job) const;
  int count() const { return static_cast<int>(jobs_.size()); }
  const std::vector<KnownJob> &jobs() const { return jobs_; }

private:
  struct KeyHash {
    size_t operator()(const KnownJob &j) const;
  };
  struct KeyEq {
    bool operator()(const KnownJob &a, const KnownJob &b) const { return a.stamp == b.stamp && a.name == b.name; }
  };
  std::vector<KnownJob> jobs_;
  std::unordered_set<KnownJob, KeyHash, KeyEq> index_;
};

// Process-wide watcher state.
KnownJobList &knownJobs();
// Display resolution in pixels per inch, initially 96, refreshed at the start of every capture pass.
int displayResolution();
// ceil(pixels / (millimetres x 0.03937007874015748)); 96 when the metrics are not usable.
int ResolutionFromMetrics(int pixelsWide, double millimetresWide);
// Readiness state (0, 1, 2), initially 1. Start-up may set it from lvKodEstPrinters.
int readinessState();
void setReadinessState(int state);
// Readiness state for a printer acceptability code: below 1 gives 0, 1 gives 1, above 1 gives 2.
int ReadinessFromCode(int32_t lvKodEstPrinters);
// The lamp's blink flag, toggled on every scan timer tick; initially clear.
bool blinkFlag();
// Set by start-up before the initial pass; cleared at the end of every pass.
bool firstRunFlag();
void setFirstRunFlag(bool on);
// A pass holds the pass flag from its start to its end: TryBeginPass is false while another pass runs.
bool TryBeginPass();
void EndPass();
// The display resolution from the screen's metrics (ResolutionFromMetrics).
void RefreshDisplayResolution(int pixelsWide, double millimetresWide);

// One look at the spool folder: captures every new job (copy into the work folder, extract its pages). Returns 1
// when at least one new job was captured, else 0. Does not load the pages. Any thread, one pass at a time.
// Only regular files are taken (a FIFO, socket or device of a job's name is passed over, never opened). A job that
// does not fit on a full disk, or finds the work folder refused, is not recorded: it and the jobs after it are taken
// by a later pass, and captureProblem() says why meanwhile. A shadow file's spool data file is found whatever the
// case of its name ("Mix.Shd" with "Mix.Spl").
int ScanSpoolFolder();
// Why the last pass left jobs for a later one ("Print job 00009 waits: the disk is full (ENOSPC).");
// empty when it did not. The capture passes show it once on the window (CaptureWindow::showStatusNotice) and clear
// it there once a pass goes through again.
std::string captureProblem();
// Shows the window a new problem of the last pass, or that the last one is over; each only once. GUI thread.
void TellCaptureProblem(CaptureWindow &window);

// The document name a job recorded: the "document=" line of its shadow file, else the document name in the header
// of its spool data file; empty when neither names one. Reads at most a few kilobytes of each.
std::string JobDocumentName(const std::string &shadowPath, const std::string &spoolPath);

// One capture pass: starts it on the capture worker of the program (see CaptureWorker) when no pass runs, and asks
// the CUPS source (when there is one) for a look at the server; the worker refreshes the display resolution, scans
// and loads the new pages, and the GUI thread appends them and the jobs the CUPS source has finished, scrolls the
// strip to its end (not on the first run), arms the scan timer (first run only) and clears the first-run flag.
// Without a capture worker nothing happens. Returns 0.
int CaptureTick(CaptureWindow &window);

// The scan timer's handler (any timeout of the strip's timer): toggles the blink flag and repaints the printer
// button, runs CaptureTick on every second tick (on the other ticks it only appends the jobs the CUPS source has
// finished, so they show without waiting for the next pass), and updates the readiness state from
// lvKodEstPrinters (repainting the readiness area every tick at 0, on change at 1 and 2).
void ScanTimerTick(CaptureWindow &window);

} // namespace capture
