#include "pdf/image_document.h"

#include "pdf/writer.h"

namespace pdf {

bool WriteImageFilesToPdf(const std::vector<std::string> &imageFiles, const std::string &pdfPath, std::string *error,
                          std::vector<SkippedImage> *skipped) {
  // Nothing to clean up on failure: the writer removes an unfinished document itself.
  auto fail = [&](const std::string &message) {
    if (error)
      *error = message;
    return false;
  };
  WriterPtr writer = new_writer();
  if (!writer)
    return fail("Not enough memory for the PDF writer");
  Writer *w = writer.get();
  auto describe = [&]() { return get_errmsg(w) + " (error " + std::to_string(get_errnum(w)) + ")"; };
  if (begin_document(w, pdfPath.c_str(), 0, "") == -1)
    return fail(describe());
  std::size_t pages = 0;
  for (std::size_t i = 0; i < imageFiles.size(); ++i) {
    int image = load_image(w, "auto", imageFiles[i].c_str(), 0, "");
    if (image == -1) {
      if (!skipped)
        return fail(describe());
      skipped->push_back({i, describe()}); // a failed load leaves the document as it was
      continue;
    }
    if (begin_page_ext(w, 10, 10, "") == -1 || fit_image(w, image, 0, 0, "adjustpage") == -1 ||
        close_image(w, image) == -1 || end_page_ext(w, "") == -1)
      return fail(describe());
    ++pages;
  }
  if (pages == 0)
    return fail(imageFiles.empty() ? "No image to write" : "No image could be placed in the document");
  if (end_document(w, "") == -1)
    return fail(describe());
  return true;
}

} // namespace pdf
