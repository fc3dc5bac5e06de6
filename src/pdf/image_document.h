#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pdf {

// An image the document was written without, and why.
struct SkippedImage {
  std::size_t index = 0; // into the list of image files
  std::string message;   // the writer's message with its error number
};

// Writes one page per image file into a new PDF document at pdfPath: each file is loaded with the image type
// "auto" and placed at the origin with "adjustpage", so every page has the size its image records (pixels and
// resolution). Returns false and sets *error (when given) when the document cannot be written or an image
// cannot be loaded; the message names the file and the writer's error number.
// With `skipped`, an image that cannot be loaded is left out instead and listed there, and the document holds
// every other page; it fails only when no page at all can be placed. A document that is not written leaves no
// file behind, and a file of the same name from before stays as it was.
bool WriteImageFilesToPdf(const std::vector<std::string> &imageFiles, const std::string &pdfPath, std::string *error,
                          std::vector<SkippedImage> *skipped = nullptr);

} // namespace pdf
