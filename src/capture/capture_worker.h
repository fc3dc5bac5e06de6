// The capture worker: capture passes and thumbnails off the GUI thread, so the window never waits for a job.
//
// A pass (the initial one, then one per CaptureTick) scans the spool folder, extracts the new jobs and loads their
// page files on the pass thread; the GUI thread then tells the window of a capture problem, appends the pages (each
// with a placeholder until its thumbnail arrives) and the jobs the CUPS source has finished, scrolls the strip to its
// end (not on the first run), arms the scan timer (first run only) and ends the pass. Thumbnails are made one after
// another on the thumbnail thread, in the order asked for, and each is handed to the GUI thread as soon as it is ready.
// Results reach the GUI thread through queued calls to a receiver living there; destroying the worker stops both
// threads and drops the results not yet applied.
#pragma once

#include "capture/capture_window.h"
#include "capture/cups_capture.h"
#include "capture/page_store.h"

#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QObject;

namespace capture {

class CaptureWorker {
public:
  // window must outlive the worker; context is an object of the GUI thread (nullptr: the calling thread).
  CaptureWorker(CaptureWindow &window, QObject *context);
  // Stops the pass between two page files (the rest stay in the work folder for the next run) and the thumbnails,
  // and waits for both a bounded time (kEndWaitMs): a thread that does not end by then (a spool folder on a
  // hanging network share) is left to the end of the process, and nothing it finds reaches the window.
  ~CaptureWorker();
  CaptureWorker(const CaptureWorker &) = delete;
  CaptureWorker &operator=(const CaptureWorker &) = delete;
  static constexpr int kEndWaitMs = 3000;

  // The worker of the program (the last one made and not yet destroyed); nullptr when there is none.
  static CaptureWorker *active();

  // The initial pass starts the run's capture: the list of captured jobs is emptied (none is captured yet), the CUPS
  // source starts (it lives as long as this worker) with a first look at the server, the first-run flag is set and
  // a pass starts, which arms the scan timer at its end.
  void startInitialPass();
  // Starts a pass when none runs (false otherwise). The display metrics are read here, on the GUI thread.
  bool startPass();
  // Makes these thumbnails on the thumbnail thread and hands each to PageStore::SetThumbnail.
  void makeThumbnails(std::vector<ThumbnailRequest> requests);
  // Forgets the thumbnails not yet made (the pages are gone).
  void dropThumbnails();
  // While held (a page of the window renders), no thumbnail is started, so the render the user waits for goes first.
  void holdThumbnails(bool hold);
  // Waits until the pass thread has done its part (its GUI part is still to run).
  void waitForPass();
  // No pass runs and every thumbnail asked for has been handed over.
  bool idle() const;

private:
  struct Shared; // what the threads use: they never touch this object, which may be gone before they end
  void finishPass(bool captured, PreparedPages batch);

  CaptureWindow &window_;
  std::unique_ptr<CupsCapture> cups_;
  std::unique_ptr<QObject> receiver_;
  std::shared_ptr<Shared> shared_;
  std::thread pass_;
  std::thread thumbnails_;
  bool passInFlight_ = false; // a pass has started and its GUI part has not run
  int thumbnailsOwed_ = 0;    // asked for and not yet handed over
};

} // namespace capture
