// The two dialogs of the Options menu: resolution and dimension, background and hatch.
#include "app/frame_win.h"

#include "app/prompts.h"
#include "capture/capture_worker.h"
#include "capture/page_store.h"
#include "render/hatch_dialog.h"
#include "render/resolution.h"
#include "render/resolution_dialog.h"
#include "settings/settings.h"
#include "view/page_operations.h"
#include "view/page_strip.h"

void lvFrameWin::showResolutionDialog() {
  // The size fields describe the current page; without one they stay disabled.
  const auto &store = capture::pageStore();
  int mmW = 0, mmH = 0;
  if (store.currentPage >= 0 && store.currentPage < store.pageCount())
    view::PageSizeMm(store.pages[size_t(store.currentPage)], mmW, mmH);
  const Settings &s = settings();
  render::ResolutionDialog dlg({s.CheckN, s.ResCur, s.ScaleCur}, render::DisplayResolution(), mmW, mmH, this);
  dlg.setWindowIcon(windowIcon());
  connect(&dlg, &render::ResolutionDialog::helpRequested, &dlg,
          [&dlg] { frame::OpenHelp(QStringLiteral("dimensopt.htm"), &dlg); });
  if (frame::RunDialog(dlg) != QDialog::Accepted)
    return;
  render::CommitResolution(dlg.working());
  rerenderCurrentPage();
}

void lvFrameWin::showHatchDialog() {
  render::lvSetHatchDlg dlg(this);
  connect(&dlg, &render::lvSetHatchDlg::helpRequested, &dlg,
          [&dlg] { frame::OpenHelp(QStringLiteral("background.htm"), &dlg); });
  if (frame::RunDialog(dlg) != QDialog::Accepted)
    return;
  // The dialog stored what changed; the current image and every thumbnail show the new background (the thumbnails
  // are made again off the window thread and replace the old ones as they come).
  rerenderCurrentPage();
  if (captureWorker_)
    captureWorker_->makeThumbnails(capture::pageStore().RebuildThumbnails());
}
