#include "app/output_commands.h"

#include "app/frame_commands.h"
#include "app/frame_paint.h"
#include "app/frame_win.h"
#include "capture/page_store.h"
#include "diag/emergency_report.h"
#include "output/export.h"
#include "output/format_sheet.h"
#include "output/gallery.h"
#include "output/mail_pages.h"
#include "output/messages.h"
#include "output/pdf_export.h"
#include "output/save_disk.h"
#include "output/set_wallpaper.h"
#include "view/preview_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QProgressBar>
#include <string_view>

namespace app {

namespace {

// The gallery pages name the maker's web site that "Tarvik Online" opens.
static_assert(std::string_view(frame::kWebSiteUrl) == std::string_view(output::kMakerWebAddress));

// The export's progress on the status line: after the page information, before the readiness text.
QRect ExportProgressRect(const lvFrameWin &frame) {
  const int cx = frame.width(), cy = frame.height();
  const QFontMetrics fm(frame::StatusFont());
  int left = 305;
  if (const auto info = frame.pageInfoText())
    left = std::max(left, info->at.x() + fm.horizontalAdvance(info->text) + 12);
  int right = cx - 200;
  if (const auto ready = frame.readinessText())
    right = std::min(right, ready->at.x() - 12);
  return QRect(left, cy - 22, std::clamp(right - left, 90, 240), 16);
}

// Keeps the progress bar in place, and holds the frame open while an export runs: a close asks the export to stop
// after its page and closes the frame once it has ended, so the pages are never released under the worker.
class ExportFrameWatcher : public QObject {
public:
  ExportFrameWatcher(lvFrameWin &frame, QProgressBar *bar) : QObject(&frame), frame_(&frame), bar_(bar) {
    frame.installEventFilter(this);
  }

protected:
  bool eventFilter(QObject *watched, QEvent *e) override {
    if (watched != frame_)
      return false;
    if (e->type() == QEvent::Resize && bar_) {
      bar_->setGeometry(ExportProgressRect(*frame_));
    } else if (e->type() == QEvent::Close && output::ExportRunning()) {
      e->ignore();
      output::StopExportForExit();
      QPointer<lvFrameWin> frame = frame_;
      output::WhenExportEnds([frame] {
        if (frame)
          frame->close();
      });
      return true;
    }
    return false;
  }

private:
  QPointer<lvFrameWin> frame_;
  QPointer<QProgressBar> bar_;
};

} // namespace

void RegisterOutputCommands(lvFrameWin &frame, frame::CommandTable &commands) {
  using namespace frame;
  auto *bar = new QProgressBar(&frame);
  bar->setObjectName(QStringLiteral("exportProgress"));
  bar->setFormat(QStringLiteral("Page %v of %m"));
  bar->setAlignment(Qt::AlignCenter);
  bar->setStyleSheet(QStringLiteral("QProgressBar{border:1px solid #716DB9;background:#F8E0E0;font-size:9px;}"
                                    "QProgressBar::chunk{background:#B7A9D8;}"));
  bar->hide();
  new ExportFrameWatcher(frame, bar);

  output::OutputHost &host = output::host();
  host.window = &frame;
  host.preview = frame.preview();
  host.abortRequest = &AbortRequest();
  QPointer<lvFrameWin> f = &frame;
  host.rerender = [f] {
    if (!f)
      return;
    auto &store = capture::pageStore();
    if (store.currentPage < 0 || store.currentPage >= store.pageCount()) {
      store.currentPage = -1;
      return;
    }
    f->renderPage(store.currentPage);
  };
  QPointer<view::PreviewWindow> preview = frame.preview();
  host.showPage = [preview](const QImage &image) {
    if (preview)
      preview->showTransientImage(image);
  };
  QPointer<QProgressBar> progress = bar;
  host.progress = [progress, f](int page, int pages) {
    if (!progress || !f)
      return;
    if (pages < 0) {
      progress->hide();
      return;
    }
    progress->setRange(0, std::max(pages, 1));
    progress->setValue(page);
    // Placed when the export starts: while a page renders the page information is not shown and has no width.
    if (page == 0)
      progress->setGeometry(ExportProgressRect(*f));
    progress->show();
    progress->raise();
  };
  host.showResolutionDialog = [f] {
    if (f)
      f->runCommand(ID_RESOLUTION);
  };
  output::setApplicationTitle(QString::fromLatin1(kFrameTitle));
  // What "Send to..." handed to the mail program last time has been read by now.
  output::DeleteSentFiles();

  commands.set(ID_SAVE_DISK, [] { output::SaveAllPages(); });
  commands.set(ID_SAVE_HTML, [] { output::SaveHtmlGallery(); });
  commands.set(ID_SAVE_AS, [] { output::SaveCurrentImageAs(); });
  commands.set(ID_SAVE_PDF, [] { output::SavePdf(); });
  commands.set(ID_MAIL, [] { output::MailPages(); });
  commands.set(ID_SEND_TO, [] { output::SendCurrentImage(); });
  commands.set(ID_WALLPAPER, [f] {
    const auto &store = capture::pageStore();
    if (!f || store.currentPage < 0 || store.currentPage >= store.pageCount() || !store.currentImage.isValid())
      return;
    const output::WallpaperOutcome outcome = output::SetAsWallpaper(store.currentImage);
    if (outcome.message.empty())
      return;
    output::MessageRequest m;
    m.text = QString::fromStdString(outcome.message);
    m.caption = QString::fromLatin1(kMessageCaption);
    m.icon = outcome.written ? QMessageBox::Information : QMessageBox::Warning;
    m.owner = f;
    output::ShowMessage(m);
  });
  commands.set(ID_EMERGENCY, [f] { diag::WriteEmergencyReport(f); });
  commands.set(ID_FORMAT, [f] {
    // Options changed under a running export would change its later pages.
    if (f && !output::RefuseWhileExporting())
      output::ShowImageOptions(f, output::host().rerender);
  });
}

} // namespace app
