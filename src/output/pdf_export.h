// The multipage export: every page in one PDF file, each page an image in the inside format on a page of the
// image's own size; for mailing also every page in one multipage TIFF or animated GIF.
#pragma once

#include "output/export.h"
#include "output/pdf_pages.h"

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace output {

// Output modes: which format options a render applies and what the multipage export makes.
enum OutputMode { ModeImageFiles = 0, ModePdf = 1, ModeTiff = 2, ModeGif = 3 };

// Sets the output mode in memory and writes it as "KodMultipageFormat".
void SetOutputMode(int mode);

// The inside format of the PDF's page images as stored ("PDF_Bitmp_Format"): a text shorter than 2 characters,
// or one that names none of BMP, GIF, JPG, TIF and PNG, stands for BMP.
render::FormatCode InsideFormatCode(const std::string &stored);
// The extension of the temporary page images: "." and the stored text (".BMP"), ".bmp" where BMP stands in.
QString InsideFormatExtension(const std::string &stored);
// When the stored inside format names a format ("JPG", "GIF", "PNG", "BMP", "TIF") that is not the default, it
// becomes the default (the current page is drawn again with its options).
void SyncInsideFormat();

// GenerateMultipage's writer. Every page is drawn (the current page too) and written as a temporary image into
// the work folder, named by its page suffix; then, in PDF mode, placed on a page of its own. The result is
// folder + name + ".pdf" (".tif", ".gif"). A page that cannot be drawn, written or embedded is named to the user
// and left out; when the run ends the user is told how many pages the file holds. An abort or a failure leaves no
// half-written file under the result's name.
class MultipageJob : public ExportJob {
public:
  MultipageJob(int mode, const QString &folder, const QString &name);
  bool begin(ExportRun &run) override;
  render::RenderOptions renderOptions() const override;
  bool writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) override;
  void end(ExportRun &run, bool completed) override;
  std::vector<std::string> filesToMail(const ExportRun &run) const override;

  const QString &resultPath() const { return result_; }

private:
  void pageLeftOut(const ExportPage &page);

  int mode_;
  QString result_;
  QString workFolder_;
  std::string insideFormat_;
  PdfPages pdf_;
  std::vector<std::string> pageImages_; // the page images written, in page order (TIFF and GIF)
  QStringList leftOut_;                 // page suffixes of the pages missing from the result
  bool resultWritten_ = false;
};

// Clears the abort request and starts GenerateMultipage in the mode. The output mode goes back to 0 when the run
// ends, or at once when nothing was started (no valid current page, or an export runs). false when nothing
// started.
bool GenerateMultipage(int mode, const QString &folder, const QString &name);

// The PDF command (Ctrl+P, the PDF button): the resolution question, the PDF save dialog, the replace question,
// the inside format and its options, the worker.
void SavePdf();

} // namespace output
