// The page menu of the strip: copy a page's metafile to the clipboard, save it as a file, delete a page, rotate one
// page or all of them, undo every rotation. Single-page commands act on the page under the last right click.
#include "app/frame_win.h"

#include "app/prompts.h"
#include "capture/page_store.h"
#include "view/page_operations.h"
#include "view/page_strip.h"
#include "view/preview_window.h"

#include <QApplication>
#include <QFileInfo>

void lvFrameWin::registerPageCommands() {
  using namespace frame;
  commands_.set(ID_COPY_EMF, [this] { copyPageToClipboard(); });
  commands_.set(ID_SAVE_EMF, [this] { savePageAsEmf(); });
  commands_.set(ID_DELETE_IMAGE, [this] { deletePageUnderClick(); });
  commands_.set(ID_ROTATE_LEFT, [this] { rotatePageUnderClick(false); });
  commands_.set(ID_ROTATE_RIGHT, [this] { rotatePageUnderClick(true); });
  commands_.set(ID_ROTATE_ALL_LEFT, [this] { rotateAllPages(view::RotatedLeft); });
  commands_.set(ID_ROTATE_ALL_RIGHT, [this] { rotateAllPages(view::RotatedRight); });
  commands_.set(ID_RESTORE_ALL, [this] { rotateAllPages([](double) { return 0.0; }); });
}

int lvFrameWin::pageUnderRightClick() const {
  if (capture::pageStore().pageCount() == 0)
    return -1;
  return strip_->pageAt(strip_->lastRightClickPoint());
}

void lvFrameWin::imageNotSelected() {
  frame::ShowMessage({strip_, QMessageBox::Warning, QString::fromLatin1(kMessageCaption),
                      QStringLiteral("Image not selected!"), QMessageBox::Ok});
}

void lvFrameWin::pageMessage(const QString &text) {
  frame::ShowMessage({this, QMessageBox::Warning, QString::fromLatin1(kFrameTitle), text, QMessageBox::Ok});
}

void lvFrameWin::copyPageToClipboard() {
  const int i = pageUnderRightClick();
  if (i < 0)
    return imageNotSelected();
  auto &store = capture::pageStore();
  const std::optional<QByteArray> emf = view::PageEmfBytes(store.pages[size_t(i)]);
  if (!emf)
    return pageMessage(QStringLiteral("EMF not found..."));
  // Beside the metafile, the page as the current settings render it: the preview's picture for the current page,
  // otherwise a render of its own (no image file is written and the current image stays).
  QImage picture;
  if (i == store.currentPage && store.viewState.load() == capture::kViewImageReady)
    picture = store.currentImageDisplay;
  else
    picture = renderWithProgress(i, 2).display;
  if (!view::PutPageOnClipboard(*emf, picture))
    pageMessage(QStringLiteral("Cannot open Clipboard... Error 010006"));
}

void lvFrameWin::savePageAsEmf() {
  const int i = pageUnderRightClick();
  if (i < 0)
    return imageNotSelected();
  const auto &page = capture::pageStore().pages[size_t(i)];
  const std::optional<QByteArray> emf = view::PageEmfBytes(page);
  if (!emf)
    return pageMessage(QStringLiteral("EMF not found..."));
  const QString name = QFileInfo(QString::fromStdString(page.name)).completeBaseName() + QStringLiteral(".emf");
  const QString path =
      frame::AskSaveFileName(this, QStringLiteral("Save as EMF"), view::SaveStartFolder() + QLatin1Char('/') + name,
                             QStringLiteral("Enhanced metafiles (*.emf);;All files (*)"));
  if (path.isEmpty())
    return;
  if (!view::WriteWholeFile(path, *emf))
    pageMessage(QStringLiteral("EMF-file not saved..."));
}

void lvFrameWin::deletePageUnderClick() {
  const int i = pageUnderRightClick();
  if (i < 0)
    return imageNotSelected();
  view::DeletePage(capture::pageStore(), i, [this](int next) { renderPage(next); });
  strip_->update();
  preview_->refreshBars();
  preview_->update();
  update(); // the page information follows the list
}

void lvFrameWin::rotatePage(int index, double angle) {
  view::SetPageRotation(capture::pageStore(), index, angle, strip_->clientRect());
  strip_->update();
  if (index == capture::pageStore().currentPage)
    renderPage(index); // the new angle applies to the current image
}

void lvFrameWin::rotatePageUnderClick(bool right) {
  const int i = pageUnderRightClick();
  if (i < 0)
    return imageNotSelected();
  const double angle = capture::pageStore().pages[size_t(i)].rotation;
  rotatePage(i, right ? view::RotatedRight(angle) : view::RotatedLeft(angle));
}

void lvFrameWin::rotateAllPages(const std::function<double(double)> &newAngle) {
  auto &store = capture::pageStore();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (int i = 0; i < store.pageCount(); ++i)
    rotatePage(i, newAngle(store.pages[size_t(i)].rotation));
  QApplication::restoreOverrideCursor();
  strip_->update();
  preview_->update();
}
