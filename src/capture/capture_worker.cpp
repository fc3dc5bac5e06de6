#include "capture/capture_worker.h"

#include "capture/spool_watcher.h"
#include "platform/captured_jobs.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace capture {

namespace {

std::atomic<CaptureWorker *> g_active{nullptr};

} // namespace

struct CaptureWorker::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> stop{false}; // the pass leaves the page files not yet loaded; the thumbnails end
  bool abandoned = false;        // the owner is gone: nothing more is handed to the receiver
  QObject *receiver = nullptr;   // valid while not abandoned
  bool passDone = true;
  bool thumbnailsDone = false;
  std::deque<ThumbnailRequest> queue;
  int held = 0;

  // Hands a call to the GUI thread, unless the owner has given up on this worker.
  void post(std::function<void()> call) {
    std::lock_guard lock(mutex);
    if (!abandoned)
      QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
  }
};

CaptureWorker::CaptureWorker(CaptureWindow &window, QObject *context)
    : window_(window), receiver_(std::make_unique<QObject>()), shared_(std::make_shared<Shared>()) {
  if (context && context->thread() != receiver_->thread())
    receiver_->moveToThread(context->thread());
  shared_->receiver = receiver_.get();
  // The thread only carries self along for the calls it hands over: they run on the GUI thread, and only while the
  // worker lives (its receiver goes with it).
  thumbnails_ = std::thread([shared = shared_, self = this] {
    for (;;) {
      ThumbnailRequest request;
      {
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock,
                             [&] { return shared->stop.load() || (!shared->queue.empty() && shared->held == 0); });
        if (shared->stop.load())
          break;
        request = std::move(shared->queue.front());
        shared->queue.pop_front();
      }
      QImage thumbnail = MakeThumbnail(request.page, -1, request.rotation);
      shared->post([self, request, thumbnail] {
        --self->thumbnailsOwed_;
        pageStore().SetThumbnail(request.serial, request.ticket, thumbnail, self->window_);
      });
    }
    std::lock_guard lock(shared->mutex);
    shared->thumbnailsDone = true;
    shared->changed.notify_all();
  });
  g_active.store(this);
}

CaptureWorker::~CaptureWorker() {
  CaptureWorker *self = this;
  g_active.compare_exchange_strong(self, nullptr);
  cups_.reset(); // stops the CUPS source between two jobs
  Shared &s = *shared_;
  bool done;
  {
    std::unique_lock lock(s.mutex);
    s.stop.store(true);
    s.queue.clear();
    s.changed.notify_all();
    done =
        s.changed.wait_for(lock, std::chrono::milliseconds(kEndWaitMs), [&] { return s.passDone && s.thumbnailsDone; });
    s.abandoned = true; // from here on no thread hands anything over
  }
  for (std::thread *t : {&pass_, &thumbnails_}) {
    if (!t->joinable())
      continue;
    if (done)
      t->join();
    else
      t->detach(); // left to the end of the process; it only holds the shared state
  }
  if (!done)
    qWarning("Folvex: the capture did not stop in time; the program ends without it");
  receiver_.reset(); // drops the GUI parts that have not run
  if (passInFlight_) {
    setFirstRunFlag(false);
    EndPass();
  }
}

CaptureWorker *CaptureWorker::active() { return g_active.load(); }

void CaptureWorker::startInitialPass() {
  // A new run has captured nothing yet: what the list names from an earlier run is not this run's to cancel.
  if (!platform::clearCapturedJobs())
    qWarning("Folvex: the list of captured jobs %s cannot be emptied", platform::capturedJobsPath().c_str());
  if (!cups_)
    cups_ = std::make_unique<CupsCapture>();
  setFirstRunFlag(true);
  startPass(); // when a pass already runs, its end ends the first run
}

bool CaptureWorker::startPass() {
  if (shared_->stop.load() || !TryBeginPass())
    return false;
  passInFlight_ = true;
  if (CupsCapture *cups = CupsCapture::active())
    cups->poll(); // its jobs are appended at the end of this pass
  int pixels = 0;
  double mm = 0;
  const bool haveMetrics = window_.displayMetrics(pixels, mm);
  // The previous pass thread has posted its GUI part, which has run: it has ended or is about to.
  if (pass_.joinable())
    pass_.join();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->passDone = false;
  }
  pass_ = std::thread([shared = shared_, self = this, haveMetrics, pixels, mm] {
    if (haveMetrics)
      RefreshDisplayResolution(pixels, mm);
    const bool captured = ScanSpoolFolder() == 1;
    auto batch = std::make_shared<PreparedPages>();
    if (captured)
      *batch = PageStore::PrepareNewPages(&shared->stop, [](int job) { return knownJobs().documentOf(job); });
    // As with the thumbnails: self is used only by the call, on the GUI thread, while the worker lives.
    shared->post([self, captured, batch] { self->finishPass(captured, std::move(*batch)); });
    std::lock_guard lock(shared->mutex);
    shared->passDone = true;
    shared->changed.notify_all();
  });
  return true;
}

void CaptureWorker::finishPass(bool captured, PreparedPages batch) {
  TellCaptureProblem(window_);
  if (captured)
    makeThumbnails(pageStore().AppendPreparedPages(std::move(batch), window_));
  // The pass thread is done with the known job list: the CUPS jobs may enter it now.
  if (CupsCapture *cups = CupsCapture::active())
    captured = AppendCupsJobs(*cups, window_) || captured;
  if (captured && !firstRunFlag()) {
    window_.scrollStripToEnd();
    window_.repaintStrip(false);
  }
  // The first pass never scrolls the strip; it arms the scan timer whether or not a job was found.
  if (firstRunFlag())
    window_.armScanTimer(kScanTimerId, kScanTimerInterval);
  setFirstRunFlag(false);
  passInFlight_ = false;
  EndPass();
}

void CaptureWorker::makeThumbnails(std::vector<ThumbnailRequest> requests) {
  if (requests.empty())
    return;
  thumbnailsOwed_ += int(requests.size());
  std::lock_guard lock(shared_->mutex);
  for (ThumbnailRequest &r : requests)
    shared_->queue.push_back(std::move(r));
  shared_->changed.notify_all();
}

void CaptureWorker::dropThumbnails() {
  std::lock_guard lock(shared_->mutex);
  thumbnailsOwed_ -= int(shared_->queue.size());
  shared_->queue.clear();
}

void CaptureWorker::holdThumbnails(bool hold) {
  std::lock_guard lock(shared_->mutex);
  shared_->held += hold ? 1 : -1;
  shared_->changed.notify_all();
}

void CaptureWorker::waitForPass() {
  if (pass_.joinable())
    pass_.join();
}

bool CaptureWorker::idle() const { return !passInFlight_ && thumbnailsOwed_ == 0; }

} // namespace capture
