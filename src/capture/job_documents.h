// The documents of a print job as PDF pages: a PDF as it is; PostScript through Ghostscript's PDF writer (in safe
// mode, with bounded time, memory and output); PNG, JPEG, TIFF and GIF images one page each at their own
// resolution; text and every other format CUPS can filter to PDF through cupsfilter.
#pragma once

#include "render/pdf_page.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace capture {

enum class DocumentKind { Pdf, PostScript, Png, Jpeg, Tiff, Gif, Other };

// What a document is: its first bytes decide where they are telling (PDF, PostScript, the four image formats),
// else the MIME type the job states.
DocumentKind KindOfDocument(const QByteArray &head, const std::string &mimeType);

struct ConvertOptions {
  QString workFolder;             // for the converters' files; each is removed when the conversion ends
  QString ppd;                    // the queue's PPD file, when it has one: text is laid out for its page sizes
  std::string media;              // media keyword for pages whose size the document leaves open ("iso_a4_210x297mm")
  int timeoutMs = 60000;          // longest a converter may run
  qint64 memoryLimit = 2LL << 30; // address space a converter may take
  const std::atomic<bool> *cancel = nullptr; // when it becomes true a running converter is stopped
};

// The page size in points a media keyword names by its own size ("iso_a4_210x297mm", "na_letter_8.5x11in"):
// nothing for a name without one.
std::optional<QSizeF> MediaSizePoints(const std::string &media);

struct ConvertedDocument {
  std::vector<render::HPDFPAGE> pages; // empty when the document cannot be converted
  std::string error;                   // why, for the user
};

// The pages of the document file at path, whose stated MIME type is mimeType.
ConvertedDocument DocumentPages(const QString &path, const std::string &mimeType, const ConvertOptions &options);

// Ghostscript's PDF writer on a PostScript file: false with *error when it fails, runs too long or is not
// installed. The page size of pages that do not set one follows options.media.
bool PostScriptToPdf(const QString &in, const QString &outPdf, const ConvertOptions &options, std::string *error);

} // namespace capture
