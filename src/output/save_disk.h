// Saving the captured pages as image files: all pages, one file each, or the current image alone.
#pragma once

#include "output/export.h"
#include "output/file_dialog.h"

#include <QString>

#include <functional>
#include <optional>

struct Settings;

namespace output {

// The writer of GenerateImageFiles: page i goes to folder + name + page suffix + extension, the current page from
// the current image as it is.
class ImageFilesJob : public ExportJob {
public:
  ImageFilesJob(const QString &folder, const QString &name, render::FormatCode format)
      : folder_(folder), name_(name), format_(format) {}
  bool reusesCurrentImage() const override { return true; }
  bool writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) override;

private:
  QString folder_;
  QString name_;
  render::FormatCode format_;
};

// Clears the abort request and starts GenerateImageFiles in the default format into folder (ending in "/") with
// the output name. false when nothing was started (no valid current page, or an export runs).
bool GenerateImageFiles(const QString &folder, const QString &name);

// The save command (Ctrl+S, the first button): file dialog, default format, replace question, options, worker.
void SaveAllPages();
// "Save as...": the current image into one file of the chosen format, on the GUI thread.
void SaveCurrentImageAs();

// The image save dialog of "Save all" and the gallery: the filters (with TIF or without), the default format's filter
// preselected; a confirmed choice makes its filter the default format and stores the check box as "SaveFile_Opt",
// and when that is set the format options are shown before the choice is returned. existingTarget as for
// RunSaveDialog. Nothing when the user cancels.
std::optional<SaveChoice> RunImageSaveDialog(bool withTif,
                                             const std::function<QString(const SaveChoice &)> &existingTarget);

// The filter a save dialog preselects for the default format: JPG 1, GIF 2, PNG 3, TIF 5 (1 without TIF), else 4.
int PreselectedFilter(const Settings &s, bool withTif);

} // namespace output
