#include "output/pdf_pages.h"

namespace output {

bool PdfPages::fail(const std::string &text) {
  error_ = text;
  return false;
}

bool PdfPages::begin(const std::string &pdfPath, const std::string &searchFolder) {
  pages_ = 0;
  error_.clear();
  writer_ = pdf::new_writer();
  if (!writer_)
    return fail("Error 000078");
  if (pdf::begin_document(writer_.get(), pdfPath.c_str(), 0, "") == -1) {
    const std::string reason = pdf::get_errmsg(writer_.get());
    writer_.reset();
    return fail(reason + "\nError 000079");
  }
  pdf::set_parameter(writer_.get(), "SearchPath", searchFolder);
  return true;
}

bool PdfPages::addPage(const std::string &imagePath) {
  pdf::Writer *w = writer_.get();
  if (!w)
    return fail("The PDF document is not open");
  const int image = pdf::load_image(w, "auto", imagePath.c_str(), 0, "");
  if (image == -1)
    return fail(pdf::get_errmsg(w) + "\nERROR 05000157");
  if (pdf::begin_page_ext(w, 10, 10, "") == -1 || pdf::fit_image(w, image, 0, 0, "adjustpage") == -1 ||
      pdf::close_image(w, image) == -1 || pdf::end_page_ext(w, "") == -1) {
    // An error abandons the document: nothing more can be added.
    const std::string reason = pdf::get_errmsg(w);
    writer_.reset();
    return fail(reason);
  }
  ++pages_;
  return true;
}

bool PdfPages::finish() {
  pdf::Writer *w = writer_.get();
  if (!w)
    return fail("The PDF document is not open");
  const bool ok = pdf::end_document(w, "") == 1;
  const std::string reason = ok ? std::string() : pdf::get_errmsg(w);
  writer_.reset();
  return ok || fail(reason);
}

} // namespace output
