// The multipage export's use of the PDF writer: one page per page image, each page as large as its image.
#pragma once

#include "pdf/writer.h"

#include <string>

namespace output {

class PdfPages {
public:
  PdfPages() = default;
  // A document that was not finished is abandoned: nothing stays under its name, an earlier file is kept.
  ~PdfPages() = default;
  PdfPages(const PdfPages &) = delete;
  PdfPages &operator=(const PdfPages &) = delete;

  // Begins the document; image names that are not found as given are looked for in searchFolder. False when the
  // writer cannot be made ("Error 000078") or the file cannot be begun (the writer's reason, then "Error 000079");
  // the text is in error() (caption "Tarvik Folvex Message"), and the run must end.
  bool begin(const std::string &pdfPath, const std::string &searchFolder);
  // Adds the image as a page of the image's own size. False when it cannot be loaded: error() holds the writer's
  // reason naming the file, then "ERROR 05000157" (caption "Folvex Message"); the document goes on without it.
  bool addPage(const std::string &imagePath);
  // Completes the document under its name. False with the writer's reason in error() when that fails (nothing is
  // left under the name then).
  bool finish();
  // Drops an unfinished document (an abort).
  void abandon() { writer_.reset(); }

  // Whether a document is open for pages (false before begin and after a failure or the end).
  bool isOpen() const { return writer_ != nullptr; }
  int pageCount() const { return pages_; }
  const std::string &error() const { return error_; }

private:
  bool fail(const std::string &text);

  pdf::WriterPtr writer_;
  int pages_ = 0;
  std::string error_;
};

} // namespace output
