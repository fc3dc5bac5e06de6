// Feeds arbitrary bytes to load_image as an in-memory file and, when it loads, places it on a page and ends the
// document, so every loader and the XObject writer see hostile input.
#include "pdf/writer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  pdf::WriterPtr w = pdf::new_writer();
  if (!w)
    return 0;
  pdf::set_decode_memory_limit(w.get(), 4u << 20);
  pdf::add_memory_file(w.get(), "input", std::vector<std::uint8_t>(data, data + size));
  if (pdf::begin_document(w.get(), "/dev/null", 0, "") != 1)
    return 0;
  int image = pdf::load_image(w.get(), "auto", "input", 0, "");
  if (image >= 0) {
    pdf::begin_page_ext(w.get(), 10, 10, "");
    pdf::fit_image(w.get(), image, 0, 0, "adjustpage");
    pdf::close_image(w.get(), image);
    pdf::end_page_ext(w.get(), "");
  }
  pdf::end_document(w.get(), "");
  return 0;
}
