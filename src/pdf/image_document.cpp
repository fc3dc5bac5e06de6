#include "pdf/image_document.h"

#include "pdf/writer.h"

namespace pdf {

bool WriteImageFilesToPdf(const std::vector<std::string> &imageFiles, const std::string &pdfPath, std::string *error) {
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
  for (const std::string &file : imageFiles) {
    int image = load_image(w, "auto", file.c_str(), 0, "");
    if (image == -1)
      return fail(describe());
    if (begin_page_ext(w, 10, 10, "") == -1 || fit_image(w, image, 0, 0, "adjustpage") == -1 ||
        close_image(w, image) == -1 || end_page_ext(w, "") == -1)
      return fail(describe());
  }
  if (end_document(w, "") == -1)
    return fail(describe());
  return true;
}

} // namespace pdf
