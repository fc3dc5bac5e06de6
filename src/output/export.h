// The export worker: one thread that takes every captured page in turn, renders it (or takes the current image as
// it is), hands it to the export's writer and records the file written in the output file list. Between pages it
// tests the abort request and asks the user on the GUI thread; the worker itself never touches a widget.
//
// An export is an ExportJob: the image files, the HTML gallery and the PDF each supply one. Only one export runs at
// a time.
#pragma once

#include "capture/page_store.h"
#include "render/encoding.h"
#include "render/rasteriser.h"

#include <Magick++.h>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

namespace output {

struct MessageRequest;

// What the export commands need from the window that holds them. Set once by the application; every member is
// used on the GUI thread only.
struct OutputHost {
  QPointer<QWidget> window;  // owner of the dialogs and sheets
  QPointer<QWidget> preview; // owner of the abort question; wears the wait cursor during an export
  // Re-renders the current page into the current image (wait cursor, view state 1 then 2, repaint); sets the
  // current page to -1 when it is not a valid index.
  std::function<void()> rerender;
  // The preview shows the page being written (an empty image returns it to the current image).
  std::function<void(const QImage &)> showPage;
  // Progress of a running export: page (1-based) is being written, of pages; (0, pages) at the start and (-1, -1)
  // when the export ends.
  std::function<void(int page, int pages)> progress;
  // The abort request (Esc sets it).
  std::atomic<bool> *abortRequest = nullptr;
  // Opens a finished document (gallery, PDF) with the desktop's program; platform::openDocument when empty.
  std::function<bool(const QString &)> openDocument;
  // Shows the "Image Resolution and Dimension" dialog (committing and re-rendering on OK).
  std::function<void()> showResolutionDialog;
};
OutputHost &host();

// The mail flag: when set, the worker mails its files when it ends without an abort; every worker clears it.
std::atomic<bool> &MailFlag();
// What mails the files of an export (installed by the mail command); runs on the worker thread.
void setMailAllFiles(std::function<void(const std::vector<std::string> &files)> sender);

// The output file list of the last export: slot i holds the file written for page i (empty when it was not).
std::vector<std::string> OutputFiles();

// One page as the export sees it: a copy of its record taken when the export starts, so pages removed meanwhile
// cannot pull the page from under the worker.
struct ExportPage {
  capture::PageRecord record;
  int index = 0;
};

class ExportRun;

class ExportJob {
public:
  virtual ~ExportJob() = default;
  // Before the first page, on the worker thread; false ends the run at once.
  virtual bool begin(ExportRun &) { return true; }
  // true: the current page is written from the current image as it is; false: every page is rendered.
  virtual bool reusesCurrentImage() const { return false; }
  // The options of each page's render.
  virtual render::RenderOptions renderOptions() const { return {}; }
  // Writes one page; false stops the run (the user chose to stop after a failure).
  virtual bool writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) = 0;
  // After the last page (completed) or after an abort or a stop (not completed).
  virtual void end(ExportRun &, bool /*completed*/) {}
  // What the mail flag mails after a completed run: the output file list by default.
  virtual std::vector<std::string> filesToMail(const ExportRun &run) const;
};

// The worker's side of one run; the job calls these from the worker thread.
class ExportRun {
public:
  enum class WriteResult { Written, Skipped, Stop };

  int pageCount() const { return int(pages_.size()); }
  const ExportPage &page(int i) const { return pages_[size_t(i)]; }
  // Renders one page from its page source (metafile or PDF page) at the given resolution (0: the current
  // resolution), turned by its rotation unless in thumbnail mode. Every render of an export comes here. May throw the
  // image library's exceptions.
  // A page written to an image file in a true colour format comes as an 8-bit page (see RenderPageForWriting).
  render::RenderedPage renderPage(const ExportPage &page, const render::RenderOptions &options,
                                  double resolution = 0) const;
  // WriteImageFile; a failure is reported once, with the path and the reason, and the user chooses to go on
  // (Skipped) or stop (Stop).
  WriteResult writeImage(const render::RenderedPage &image, const QString &path, render::FormatCode format);
  // The file of page i in the output file list.
  void setOutputFile(int index, const QString &path);
  // Asks the user on the GUI thread and waits for the answer.
  int ask(const MessageRequest &request);
  // Reports a failure that happened outside writeImage (same choice: true = go on).
  bool reportFailure(const QString &what, const QString &reason);
  // Opens a finished document on the GUI thread.
  void openDocument(const QString &path);
  const std::vector<std::string> &outputFiles() const { return files_; }

private:
  friend class ExportController;
  ExportRun(std::vector<ExportPage> pages, QObject *gui) : pages_(std::move(pages)), gui_(gui) {}
  void run(ExportJob &job, int currentPage, const Magick::Image &currentImage, std::atomic<bool> &abort,
           std::atomic<bool> &stop);

  std::vector<ExportPage> pages_;
  QObject *gui_;
  std::vector<std::string> files_;
  std::vector<QString> unreported_; // failures met after the user chose not to be asked again
  bool askOnFailure_ = true;
  mutable std::mutex drawingMutex_;
  mutable int drawing_ = 0; // renders of this run drawing now
};

// Encodes image in the format and writes it to path through a temporary file in the same folder, so the file
// appears whole or not at all. Returns the reason of a failure, empty on success. Any thread.
QString WriteImageFile(const render::RenderedPage &image, const QString &path, render::FormatCode format);

// Where the last export spent its time, in milliseconds of wall time on the worker: rendering the pages (of which
// the rasteriser's finishing steps, processor time: format options, rotation, its temporary image file), and
// encoding and writing them (the job's writePage).
struct ExportStats {
  int pages = 0;
  double renderMs = 0;
  double renderFinishMs = 0;
  double writeMs = 0;
  double totalMs = 0;
};
ExportStats LastExportStats();

// Whether an export runs now.
bool ExportRunning();
// Refuses an export command while another one runs: shows why and returns true.
bool RefuseWhileExporting();
// Starts job on the worker thread over the pages of the page store (current page and current image taken as they
// are now). Returns false, and starts nothing, when another export runs or there is no valid current page.
bool StartExport(std::unique_ptr<ExportJob> job);
// Asks a running export to stop after its current page without asking anything (the program is closing).
void StopExportForExit();
// Runs once when the running export has ended (GUI thread); immediately when none runs.
void WhenExportEnds(std::function<void()> callback);

} // namespace output
