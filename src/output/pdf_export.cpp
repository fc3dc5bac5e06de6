#include "output/pdf_export.h"

#include "output/file_dialog.h"
#include "output/format_options.h"
#include "output/format_sheet.h"
#include "output/messages.h"
#include "output/multipage_image.h"
#include "output/output_names.h"
#include "platform/paths.h"
#include "render/resolution.h"
#include "settings/settings.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <optional>

namespace output {

namespace {

constexpr const char *kPdfFilter = "PDF (Portable Document Format) (*.pdf)";
constexpr const char *kPageLeftOutCaption = "Folvex Message";

// The format a stored inside format names exactly, if any.
std::optional<render::FormatCode> NamedFormat(const std::string &text) {
  static const std::pair<const char *, render::FormatCode> names[] = {{"JPG", render::FormatJPG},
                                                                      {"GIF", render::FormatGIF},
                                                                      {"PNG", render::FormatPNG},
                                                                      {"BMP", render::FormatBMP},
                                                                      {"TIF", render::FormatTIF}};
  for (const auto &[name, code] : names)
    if (text == name)
      return code;
  return std::nullopt;
}

std::optional<render::FormatCode> NamedFormatAnyCase(const std::string &text) {
  return NamedFormat(QString::fromStdString(text).toUpper().toStdString());
}

MessageRequest Message(const QString &text, const char *caption, QMessageBox::Icon icon) {
  MessageRequest m;
  m.text = text;
  m.caption = QString::fromLatin1(caption);
  m.icon = icon;
  m.ownerless = true;
  return m;
}

const char *ResultExtension(int mode) {
  switch (mode) {
  case ModePdf:
    return ".pdf";
  case ModeTiff:
    return ".tif";
  default:
    return ".gif";
  }
}

} // namespace

void SetOutputMode(int mode) {
  settings().KodMultipageFormat = mode;
  RegSetInt("KodMultipageFormat", mode);
}

render::FormatCode InsideFormatCode(const std::string &stored) {
  if (stored.size() < 2)
    return render::FormatBMP;
  return NamedFormatAnyCase(stored).value_or(render::FormatBMP);
}

QString InsideFormatExtension(const std::string &stored) {
  if (stored.size() < 2 || !NamedFormatAnyCase(stored))
    return QStringLiteral(".bmp");
  return QLatin1Char('.') + QString::fromStdString(stored);
}

void SyncInsideFormat() {
  const auto code = NamedFormat(RegGetUserString("PDF_Bitmp_Format").value_or(std::string()));
  if (code)
    SetDefaultFormat(*code, host().rerender); // nothing happens when it already is the default
}

// ---- the worker's writer ----

MultipageJob::MultipageJob(int mode, const QString &folder, const QString &name)
    : mode_(mode), result_(folder + name + QLatin1String(ResultExtension(mode))),
      workFolder_(QString::fromStdString(platform::workFolder())),
      insideFormat_(RegGetUserString("PDF_Bitmp_Format").value_or(std::string())) {}

render::RenderOptions MultipageJob::renderOptions() const {
  render::RenderOptions o;
  o.outputMode = mode_;
  if (mode_ == ModePdf)
    o.pdfInsideFormat = insideFormat_;
  return o;
}

bool MultipageJob::begin(ExportRun &run) {
  QDir().mkpath(workFolder_);
  if (mode_ != ModePdf)
    return true;
  if (pdf_.begin(result_.toStdString(), workFolder_.toStdString()))
    return true;
  // The writer cannot be used: the run ends here, nothing is written.
  run.ask(Message(QString::fromStdString(pdf_.error()), kExportCaption, QMessageBox::Critical));
  return false;
}

void MultipageJob::pageLeftOut(const ExportPage &page) {
  leftOut_ << QString::fromStdString(capture::PageSuffix(page.record.name));
}

bool MultipageJob::writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) {
  const std::string suffix = capture::PageSuffix(page.record.name);
  render::FormatCode code = render::FormatBMP;
  QString extension;
  // A PDF's page images are written as they were drawn (an 8-bit page as it is); frames of a multipage file carry
  // the options of its format.
  render::RenderedPage written = image;
  switch (mode_) {
  case ModePdf:
    code = InsideFormatCode(insideFormat_);
    extension = InsideFormatExtension(insideFormat_);
    break;
  case ModeTiff:
  case ModeGif:
    // The options of the format the user was shown apply to every frame.
    code = mode_ == ModeTiff ? render::FormatTIF : render::FormatGIF;
    extension = QLatin1String(render::FormatExtension(code));
    try {
      Magick::Image frame = image.magick();
      render::ApplyFormatOptionSet(frame, code, settings());
      written = render::RenderedPage(std::move(frame));
    } catch (const std::exception &e) {
      pageLeftOut(page);
      return run.reportFailure(QStringLiteral("page %1").arg(QString::fromStdString(suffix)),
                               QString::fromLocal8Bit(e.what()));
    }
    break;
  default:
    extension = QStringLiteral(".bmp");
    break;
  }
  const QString path = workFolder_ + QString::fromStdString(suffix) + extension;
  switch (run.writeImage(written, path, code)) {
  case ExportRun::WriteResult::Stop:
    return false;
  case ExportRun::WriteResult::Skipped:
    pageLeftOut(page);
    return true;
  case ExportRun::WriteResult::Written:
    break;
  }
  run.setOutputFile(page.index, path);
  if (mode_ != ModePdf) {
    pageImages_.push_back(path.toStdString());
    return true;
  }
  if (pdf_.addPage(path.toStdString()))
    return true;
  pageLeftOut(page);
  if (pdf_.isOpen()) {
    // This page is left out; the document goes on with the next one.
    run.ask(Message(QString::fromStdString(pdf_.error()), kPageLeftOutCaption, QMessageBox::Warning));
    return true;
  }
  // The writer gave up the document: nothing more can be added.
  run.ask(Message(QString::fromStdString(pdf_.error()) + QStringLiteral("\n\nThe PDF file is not written."),
                  kExportCaption, QMessageBox::Critical));
  return false;
}

void MultipageJob::end(ExportRun &run, bool completed) {
  if (!completed) {
    // An abort or a failure: nothing half-written stays under the result's name.
    pdf_.abandon();
    return;
  }
  const int total = run.pageCount();
  int holds = 0;
  if (mode_ == ModePdf) {
    holds = pdf_.pageCount();
    if (holds == 0) {
      pdf_.abandon();
      run.ask(Message(QStringLiteral("No page could be put into\n%1\nThe PDF file is not written.").arg(result_),
                      kExportCaption, QMessageBox::Critical));
      return;
    }
    if (!pdf_.finish()) {
      run.ask(Message(
          QStringLiteral("The PDF file\n%1\ncannot be written:\n%2").arg(result_, QString::fromStdString(pdf_.error())),
          kExportCaption, QMessageBox::Critical));
      return;
    }
  } else {
    std::string error;
    holds = int(pageImages_.size());
    if (!WriteMultipageImage(pageImages_, result_.toStdString(),
                             mode_ == ModeTiff ? MultipageFormat::Tiff : MultipageFormat::Gif,
                             std::clamp(settings().GIF_Delay, 0, 65535), &error)) {
      run.ask(Message(QString::fromStdString(error), kExportCaption, QMessageBox::Critical));
      return;
    }
  }
  resultWritten_ = true;
  if (!leftOut_.isEmpty())
    run.ask(Message(QStringLiteral("The file\n%1\nholds %2 of the %3 pages.\nLeft out: %4")
                        .arg(result_)
                        .arg(holds)
                        .arg(total)
                        .arg(leftOut_.join(QStringLiteral(", "))),
                    kExportCaption, QMessageBox::Warning));
  if (mode_ == ModePdf && !MailFlag().load())
    run.openDocument(result_);
}

std::vector<std::string> MultipageJob::filesToMail(const ExportRun &) const {
  if (!resultWritten_)
    return {};
  return {result_.toStdString()};
}

bool GenerateMultipage(int mode, const QString &folder, const QString &name) {
  const auto &store = capture::pageStore();
  bool started = false;
  if (store.currentPage >= 0 && store.currentPage < store.pageCount() && !ExportRunning()) {
    if (host().abortRequest)
      *host().abortRequest = false;
    started = StartExport(std::make_unique<MultipageJob>(mode, folder, name));
  }
  // The pages the user draws meanwhile are drawn as the export draws them; afterwards as single images again.
  WhenExportEnds([] { SetOutputMode(ModeImageFiles); });
  return started;
}

// ---- the command ----

void SavePdf() {
  if (RefuseWhileExporting())
    return;
  for (double r = render::CurrentResolution(); r < 100.0; r = render::CurrentResolution()) {
    MessageRequest q;
    q.text = QStringLiteral("Current resolution %1 dpi is too small for PDF.\nRecommended resolution is 100 to 300 "
                            "dpi.\nContinue with current resolution?")
                 .arg(int(std::trunc(std::max(r, -1e9))));
    q.caption = QString::fromLatin1(kExportCaption);
    q.icon = QMessageBox::Question;
    q.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    q.owner = host().window;
    q.systemModal = true;
    const int answer = ShowMessage(q);
    if (answer == QMessageBox::Yes)
      break;
    if (answer != QMessageBox::No)
      return;
    if (!host().showResolutionDialog)
      break;
    host().showResolutionDialog();
  }

  lvFileDlg dialog(host().window, QStringList{QString::fromLatin1(kPdfFilter)}, 1, OutputFolder(), SaveFileOpt());
  const auto choice =
      RunSaveDialog(dialog, nullptr, [](const SaveChoice &c) { return c.folder + c.name + QStringLiteral(".pdf"); });
  if (!choice)
    return;
  CommitSaveFileOpt(choice->invokeOptions);
  SetOutputMode(ModePdf);
  if (SaveFileOpt()) {
    ShowPdfInsideFormat(host().window, 2);
    SyncInsideFormat();
    ShowDefaultFormatOptions(host().window, host().rerender);
  }
  GenerateMultipage(ModePdf, choice->folder, choice->name);
}

} // namespace output
