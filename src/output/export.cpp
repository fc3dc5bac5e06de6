#include "output/export.h"

#include "output/messages.h"
#include "output/output_names.h"
#include "platform/shell.h"
#include "render/image_writer.h"
#include "render/resolution.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMetaObject>
#include <QObject>
#include <QSaveFile>
#include <QWidget>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace output {

namespace {

std::mutex g_filesMutex;
std::vector<std::string> g_files;
std::mutex g_statsMutex;
ExportStats g_stats;
std::mutex g_mailMutex;
std::function<void(const std::vector<std::string> &)> g_mailAllFiles;

// Runs fn on the GUI thread (through context's thread) and waits for its result.
template <class Fn> auto OnGuiAndWait(QObject *context, Fn fn) -> decltype(fn()) {
  using R = decltype(fn());
  std::promise<R> done;
  std::future<R> result = done.get_future();
  QMetaObject::invokeMethod(
      context,
      [&done, &fn] {
        if constexpr (std::is_void_v<R>) {
          fn();
          done.set_value();
        } else {
          done.set_value(fn());
        }
      },
      Qt::QueuedConnection);
  return result.get();
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

template <class Fn> void OnGui(QObject *context, Fn fn) {
  QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

void showProgress(int page, int pages) {
  if (host().progress)
    host().progress(page, pages);
}

} // namespace

// The one export that may run; lives on the GUI thread.
class ExportController : public QObject {
public:
  static ExportController &instance() {
    // Never destroyed: a worker may outlive main()'s objects. Its queued calls run on the GUI thread.
    static ExportController *c = [] {
      auto *controller = new ExportController;
      if (QCoreApplication::instance())
        controller->moveToThread(QCoreApplication::instance()->thread());
      return controller;
    }();
    return *c;
  }

  bool running() const { return running_.load(); }

  bool start(std::unique_ptr<ExportJob> job) {
    if (running_.load())
      return false;
    auto &store = capture::pageStore();
    const int current = store.currentPage;
    const int count = store.pageCount();
    if (current < 0 || current >= count)
      return false;
    std::vector<ExportPage> pages;
    pages.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
      pages.push_back(ExportPage{store.pages[size_t(i)], i});
    const Magick::Image currentImage = store.currentImage;
    if (worker_.joinable())
      worker_.join();
    {
      std::lock_guard lock(g_filesMutex);
      g_files.assign(size_t(count), std::string());
    }
    stop_ = false;
    running_ = true;
    job_ = std::move(job);
    run_.reset(new ExportRun(std::move(pages), this));
    if (host().preview)
      host().preview->setCursor(Qt::WaitCursor);
    showProgress(0, count);
    static std::atomic<bool> noAbort{false};
    std::atomic<bool> &abort = host().abortRequest ? *host().abortRequest : noAbort;
    worker_ = std::thread([this, current, currentImage, &abort] {
      run_->run(*job_, current, currentImage, abort, stop_);
      OnGui(this, [this] { finished(); });
    });
    return true;
  }

  void stopForExit() { stop_ = true; }

  void whenEnded(std::function<void()> callback) {
    if (!running_.load()) {
      callback();
      return;
    }
    endCallbacks_.push_back(std::move(callback));
  }

private:
  void finished() {
    if (worker_.joinable())
      worker_.join();
    job_.reset();
    run_.reset();
    if (host().preview)
      host().preview->unsetCursor();
    showProgress(-1, -1);
    if (host().showPage)
      host().showPage(QImage());
    running_ = false;
    auto callbacks = std::move(endCallbacks_);
    endCallbacks_.clear();
    for (auto &cb : callbacks)
      cb();
  }

  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::unique_ptr<ExportJob> job_;
  std::unique_ptr<ExportRun> run_;
  std::vector<std::function<void()>> endCallbacks_;
};

OutputHost &host() {
  static OutputHost h;
  return h;
}

std::atomic<bool> &MailFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

void setMailAllFiles(std::function<void(const std::vector<std::string> &)> sender) {
  std::lock_guard lock(g_mailMutex);
  g_mailAllFiles = std::move(sender);
}

std::vector<std::string> OutputFiles() {
  std::lock_guard lock(g_filesMutex);
  return g_files;
}

std::vector<std::string> ExportJob::filesToMail(const ExportRun &run) const {
  std::vector<std::string> files;
  for (const std::string &f : run.outputFiles())
    if (!f.empty())
      files.push_back(f);
  return files;
}

// ---- ExportRun ----

render::RenderedPage ExportRun::renderPage(const ExportPage &page, const render::RenderOptions &options,
                                           double resolution) const {
  // The page is turned here, by the angle it had when the export started, rather than by the rasteriser looking
  // it up in the page list by index: pages deleted or turned meanwhile do not reach the worker.
  const double dpi = resolution > 0 ? resolution : render::CurrentResolution();
  // While any render of the run draws (the next page, a gallery thumbnail of the page being written), the preview
  // shows the page list rather than the image.
  struct Drawing {
    const ExportRun &run;
    explicit Drawing(const ExportRun &r) : run(r) {
      std::lock_guard lock(run.drawingMutex_);
      if (run.drawing_++ == 0)
        capture::pageStore().viewState = capture::kViewPages;
    }
    ~Drawing() {
      std::lock_guard lock(run.drawingMutex_);
      if (--run.drawing_ == 0)
        capture::pageStore().viewState = capture::kViewImageReady;
    }
  } drawing(*this);
  return render::RenderPageForWriting(dpi, page.record.source(), options.thumbnail ? 0.0 : page.record.rotation,
                                      options);
}

QString WriteImageFile(const render::RenderedPage &image, const QString &path, render::FormatCode format) {
  // The file appears under its name only once it is complete: a full disk or a refused write leaves nothing
  // half-written behind. The encoder hands its bytes on as it makes them, so the page is never held encoded too.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return file.errorString();
  const std::string reason = render::EncodePage(image, format, [&file](const void *data, size_t n) {
    return file.write(static_cast<const char *>(data), qint64(n)) == qint64(n);
  });
  if (!reason.empty()) {
    const QString written = file.error() != QFileDevice::NoError ? file.errorString() : QString();
    file.cancelWriting();
    return written.isEmpty() ? QString::fromLocal8Bit(reason.c_str()) : written;
  }
  if (!file.commit())
    return file.errorString();
  return QString();
}

ExportRun::WriteResult ExportRun::writeImage(const render::RenderedPage &image, const QString &path,
                                             render::FormatCode format) {
  const QString reason = WriteImageFile(image, path, format);
  if (reason.isEmpty())
    return WriteResult::Written;
  return reportFailure(path, reason) ? WriteResult::Skipped : WriteResult::Stop;
}

bool ExportRun::reportFailure(const QString &what, const QString &reason) {
  if (!askOnFailure_) {
    unreported_.push_back(what + QStringLiteral(": ") + reason);
    return true;
  }
  MessageRequest m;
  m.text = QStringLiteral("Cannot write\n%1\n%2\n\nGo on with the next pages?").arg(what, reason);
  m.caption = QString::fromLatin1(kExportCaption);
  m.icon = QMessageBox::Warning;
  m.buttons = QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No;
  m.buttonTexts = {{QMessageBox::Yes, QStringLiteral("Go On")},
                   {QMessageBox::YesToAll, QStringLiteral("Go On Without Asking")},
                   {QMessageBox::No, QStringLiteral("Stop")}};
  const int answer = ask(m);
  // Failures from here on are listed together when the run ends.
  if (answer == QMessageBox::YesToAll)
    askOnFailure_ = false;
  return answer == QMessageBox::Yes || answer == QMessageBox::YesToAll;
}

void ExportRun::setOutputFile(int index, const QString &path) {
  if (index < 0 || index >= pageCount())
    return;
  files_.resize(size_t(pageCount()));
  files_[size_t(index)] = path.toStdString();
  std::lock_guard lock(g_filesMutex);
  if (size_t(index) < g_files.size())
    g_files[size_t(index)] = files_[size_t(index)];
}

int ExportRun::ask(const MessageRequest &request) {
  return OnGuiAndWait(gui_, [&request] {
    MessageRequest r = request;
    if (!r.owner && !r.ownerless)
      r.owner = host().preview;
    return ShowMessage(r);
  });
}

void ExportRun::openDocument(const QString &path) {
  OnGui(gui_, [path] {
    if (host().openDocument)
      host().openDocument(path);
    else
      platform::openDocument(path);
  });
}

void ExportRun::run(ExportJob &job, int currentPage, const Magick::Image &currentImage, std::atomic<bool> &abort,
                    std::atomic<bool> &stop) {
  const int n = pageCount();
  files_.assign(size_t(n), std::string());
  const auto started = std::chrono::steady_clock::now();
  ExportStats stats;
  bool completed = job.begin(*this);
  // Page i is written on a thread of its own while page i + 1 is drawn; the writes keep their order, and a page's
  // failure is reported only once the write before it has ended, so questions come one at a time and in order.
  std::future<bool> writing;
  double writeMs = 0;
  auto written = [&] {
    if (writing.valid() && !writing.get())
      completed = false;
    return completed;
  };
  for (int i = 0; completed && i < n; ++i) {
    if (stop.load()) {
      completed = false;
      break;
    }
    if (abort.exchange(false)) {
      if (!written())
        break;
      MessageRequest q;
      q.text = QStringLiteral("Abort File Generation Process?");
      q.caption = QString::fromLatin1(kExportCaption);
      q.icon = QMessageBox::Question;
      q.buttons = QMessageBox::Ok | QMessageBox::Cancel;
      if (ask(q) == QMessageBox::Ok) {
        completed = false;
        break;
      }
    }
    OnGui(gui_, [i, n] { showProgress(i + 1, n); });
    const ExportPage &page = pages_[size_t(i)];
    render::RenderedPage image;
    QString reason;
    if (job.reusesCurrentImage() && i == currentPage && currentImage.isValid()) {
      image = currentImage;
    } else {
      const auto renderStart = std::chrono::steady_clock::now();
      try {
        // The job encodes the page once; the preview's current-image file keeps the page the preview shows.
        image = renderPage(page, job.renderOptions());
      } catch (const std::exception &e) {
        reason = QString::fromLocal8Bit(e.what());
      }
      stats.renderMs += MillisecondsSince(renderStart);
      stats.renderFinishMs += render::lastRenderRecord().finishMs;
      if (reason.isEmpty() && image.empty())
        reason = QStringLiteral("the page cannot be drawn at this size");
    }
    if (!written())
      break;
    if (!reason.isEmpty()) {
      if (!reportFailure(QStringLiteral("page %1").arg(QString::fromStdString(capture::PageSuffix(page.record.name))),
                         reason)) {
        completed = false;
        break;
      }
      continue;
    }
    const QImage shown = image.bitmap();
    OnGui(gui_, [shown] {
      if (host().showPage)
        host().showPage(shown);
    });
    ++stats.pages;
    writing = std::async(std::launch::async, [this, &job, &page, &writeMs, image = std::move(image)] {
      const auto writeStart = std::chrono::steady_clock::now();
      const bool goOn = job.writePage(*this, page, image);
      writeMs += MillisecondsSince(writeStart);
      return goOn;
    });
  }
  written();
  stats.writeMs = writeMs;
  stats.totalMs = MillisecondsSince(started);
  {
    std::lock_guard lock(g_statsMutex);
    g_stats = stats;
  }
  job.end(*this, completed);
  if (!unreported_.empty()) {
    MessageRequest m;
    m.text = QStringLiteral("%1 more file(s) could not be written:\n").arg(unreported_.size());
    const size_t shown = std::min<size_t>(unreported_.size(), 20);
    for (size_t k = 0; k < shown; ++k)
      m.text += QLatin1Char('\n') + unreported_[k];
    if (unreported_.size() > shown)
      m.text += QStringLiteral("\n...");
    m.caption = QString::fromLatin1(kExportCaption);
    m.icon = QMessageBox::Warning;
    ask(m);
  }
  if (completed && MailFlag().load()) {
    std::function<void(const std::vector<std::string> &)> sender;
    {
      std::lock_guard lock(g_mailMutex);
      sender = g_mailAllFiles;
    }
    if (sender)
      sender(job.filesToMail(*this));
  }
  MailFlag() = false;
}

// ---- starting and stopping ----

ExportStats LastExportStats() {
  std::lock_guard lock(g_statsMutex);
  return g_stats;
}

bool ExportRunning() { return ExportController::instance().running(); }

bool RefuseWhileExporting() {
  if (!ExportRunning())
    return false;
  MessageRequest m;
  m.text = QStringLiteral("Files are being generated now.\nWait until the process ends, or press Esc to abort it.");
  m.caption = QString::fromLatin1(kExportCaption);
  m.icon = QMessageBox::Information;
  m.owner = host().window;
  ShowMessage(m);
  return true;
}

bool StartExport(std::unique_ptr<ExportJob> job) { return ExportController::instance().start(std::move(job)); }

void StopExportForExit() { ExportController::instance().stopForExit(); }

void WhenExportEnds(std::function<void()> callback) { ExportController::instance().whenEnded(std::move(callback)); }

} // namespace output
