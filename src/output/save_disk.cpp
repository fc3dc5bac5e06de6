#include "output/save_disk.h"

#include "output/file_dialog.h"
#include "output/format_options.h"
#include "output/format_sheet.h"
#include "output/messages.h"
#include "output/output_names.h"
#include "settings/settings.h"

namespace output {

namespace {

bool validCurrentPage() {
  const auto &store = capture::pageStore();
  return store.currentPage >= 0 && store.currentPage < store.pageCount();
}

} // namespace

bool ImageFilesJob::writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) {
  const QString path =
      PageFilePath(folder_, name_, capture::PageSuffix(page.record.name), render::FormatExtension(format_));
  switch (run.writeImage(image, path, format_)) {
  case ExportRun::WriteResult::Written:
    run.setOutputFile(page.index, path);
    return true;
  case ExportRun::WriteResult::Skipped:
    return true;
  case ExportRun::WriteResult::Stop:
    break;
  }
  return false;
}

bool GenerateImageFiles(const QString &folder, const QString &name) {
  if (!validCurrentPage() || ExportRunning())
    return false;
  if (host().abortRequest)
    *host().abortRequest = false;
  return StartExport(std::make_unique<ImageFilesJob>(folder, name, render::DefaultFormat(settings())));
}

int PreselectedFilter(const Settings &s, bool withTif) {
  if (s.JPG_Default)
    return 1;
  if (s.GIF_Default)
    return 2;
  if (s.PNG_Default)
    return 3;
  if (s.TIF_Default)
    return withTif ? 5 : 1;
  return 4;
}

std::optional<SaveChoice> RunImageSaveDialog(bool withTif,
                                             const std::function<QString(const SaveChoice &)> &existingTarget) {
  lvFileDlg dialog(host().window, ImageFilters(withTif), PreselectedFilter(settings(), withTif), OutputFolder(),
                   SaveFileOpt());
  const auto choice = RunSaveDialog(
      dialog,
      [](const SaveChoice &c) {
        SetDefaultFormat(c.filter, host().rerender);
        CommitSaveFileOpt(c.invokeOptions);
      },
      existingTarget);
  if (choice && SaveFileOpt())
    ShowDefaultFormatOptions(host().window, host().rerender);
  return choice;
}

void SaveAllPages() {
  if (RefuseWhileExporting())
    return;
  const auto choice = RunImageSaveDialog(true, [](const SaveChoice &c) {
    const auto &store = capture::pageStore();
    if (store.pageCount() == 0)
      return QString();
    return PageFilePath(c.folder, c.name, capture::PageSuffix(store.pages[0].name),
                        render::FormatExtension(render::DefaultFormat(settings())));
  });
  if (!choice)
    return;
  GenerateImageFiles(choice->folder, choice->name);
}

void SaveCurrentImageAs() {
  if (RefuseWhileExporting() || !validCurrentPage())
    return;
  const Settings &s = settings();
  int preselected = 1;
  if (s.BMP_Default)
    preselected = 4;
  if (s.PNG_Default)
    preselected = 3;
  if (s.GIF_Default)
    preselected = 2;
  QFileDialog dialog(host().window);
  dialog.setObjectName(QStringLiteral("saveCurrentImageAs"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // The file written carries the extension of the chosen type, so the replace question is asked about that file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = ImageFilters(false);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters[preselected - 1]);
  dialog.setDirectory(OutputFolder());
  dialog.selectFile(QStringLiteral("Document"));
  for (;;) {
    if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return;
    const QString chosen = dialog.selectedFiles().front();
    const QString folder = StoreOutputFolder(chosen);
    const int filter = std::clamp(ChosenFilter(dialog), 1, int(filters.size()));
    const auto code = render::FormatCode(filter);
    if (SetDefaultFormatInMemory(code) && host().rerender)
      host().rerender();
    const QString target = folder + FileTitle(chosen) + QLatin1String(render::FormatExtension(code));
    if (!ConfirmReplace(target))
      continue;
    const auto &store = capture::pageStore();
    if (!validCurrentPage() || !store.currentImage.isValid())
      return;
    const QString reason = WriteImageFile(store.currentImage, target, code);
    if (!reason.isEmpty()) {
      MessageRequest m;
      m.text = QStringLiteral("Cannot write\n%1\n%2").arg(target, reason);
      m.caption = QString::fromLatin1(kSaveAsCaption);
      m.icon = QMessageBox::Warning;
      m.owner = host().window;
      ShowMessage(m);
    }
    return;
  }
}

} // namespace output
