// The spool watcher: finds print jobs newly arrived in the spool folder, copies each into the work folder, has the
// page extractor cut it into page files and the page store load them; keeps the readiness state and the lamp's
// blink flag current on every scan timer tick.
//
// Threads: start-up calls StartInitialCapture on the GUI thread. The initial pass scans, extracts and prepares the
// pages on a worker thread; then the GUI thread (through a queued call) appends the pages and arms the scan timer.
// The timer is armed only after that, so no timer pass can overlap the initial one, and the worker never calls a
// window. Every later pass runs on the GUI thread inside ScanTimerTick.
#pragma once

#include "capture/capture_window.h"
#include "capture/cups_capture.h"
#include "capture/page_store.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

class QDateTime;
class QObject;

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
};

// The spool files captured since start, in capture order; entry i was captured as job number i + 1.
// Grows without limit (never shortened); lookups are hashed, so a pass over many known jobs stays cheap.
class KnownJobList {
public:
  bool contains(const std::string &name, uint32_t stamp) const;
  void append(std::string name, uint32_t stamp);
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

// One look at the spool folder: captures every new job (copy into the work folder, extract its pages). Returns 1
// when at least one new job was captured, else 0. Does not load the pages. Any thread, one pass at a time.
// Only regular files are taken (a FIFO, socket or device of a job's name is passed over, never opened). A job that
// does not fit on a full disk, or finds the work folder refused, is not recorded: it and the jobs after it are taken
// by a later pass, and captureProblem() says why meanwhile.
int ScanSpoolFolder();
// Why the last pass left jobs for a later one ("Print job 00009 waits: the disk is full (ENOSPC).");
// empty when it did not. The capture passes show it once on the window (CaptureWindow::showStatusNotice) and clear
// it there once a pass goes through again.
std::string captureProblem();

// One capture pass on the GUI thread: refresh the display resolution, scan, load new pages, ask the CUPS source
// (when there is one) for a look at the server and append the jobs it has finished, scroll the strip to its end
// (not on the first run), arm the scan timer (first run only), clear the first-run flag. Returns 0.
int CaptureTick(CaptureWindow &window);

// The scan timer's handler (any timeout of the strip's timer): toggles the blink flag and repaints the printer
// button, runs CaptureTick on every second tick (on the other ticks it only appends the jobs the CUPS source has
// finished, so they show without waiting for the next pass), and updates the readiness state from
// lvKodEstPrinters (repainting the readiness area every tick at 0, on change at 1 and 2).
void ScanTimerTick(CaptureWindow &window);

// The initial capture pass on a worker thread. Owned by the main frame; destroying it waits for the worker.
// It starts the run's capture: the list of captured jobs is emptied (none is captured yet), and the CUPS source
// starts its first look at the server; the source lives as long as this object.
// The GUI side of the pass (appending the pages, arming the timer, clearing the first-run flag) is queued to the
// thread of `context` (the GUI thread; nullptr = the calling thread) and is dropped when this object is destroyed
// first. `window` must outlive this object.
class InitialCapture {
public:
  // Sets the first-run flag, reads the display metrics (here, on the GUI thread) and starts the worker.
  InitialCapture(CaptureWindow &window, QObject *context);
  ~InitialCapture();
  InitialCapture(const InitialCapture &) = delete;
  InitialCapture &operator=(const InitialCapture &) = delete;
  // Waits for the worker part (not for the queued GUI part), at most `milliseconds` when that is not negative.
  // True when the worker part is done.
  bool wait(int milliseconds = -1);
  // Destruction (at the end of the program) stops the worker between two pages and waits for it a bounded time
  // (kEndWaitMs); a worker that does not end by then is left to the end of the process, its GUI part dropped. Page
  // files it has not loaded yet stay in the work folder and are loaded with the next captured job.
  static constexpr int kEndWaitMs = 3000;
  // True once the GUI part has run.
  bool finished() const { return finished_->load(); }

private:
  std::unique_ptr<CupsCapture> cups_;
  // What the worker and this object share: whether the worker is done, and whether it may still hand its GUI part
  // to the receiver (not once this object is gone).
  struct Shared {
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool workerDone = false;
    bool abandoned = false;
  };
  std::unique_ptr<QObject> receiver_; // lives on the GUI thread; the worker's queued call goes to it
  std::shared_ptr<std::atomic<bool>> finished_;
  std::shared_ptr<std::atomic<bool>> stop_; // set when destroyed: the worker leaves pages not yet loaded
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

} // namespace capture
