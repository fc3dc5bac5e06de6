#pragma once

#include <string>
#include <vector>

namespace pdf {

// Writes one page per image file into a new PDF document at pdfPath: each file is loaded with the image type
// "auto" and placed at the origin with "adjustpage", so every page has the size its image records (pixels and
// resolution). Returns false and sets *error (when given) when the document cannot be written or an image
// cannot be loaded; the message names the file and the writer's error number.
bool WriteImageFilesToPdf(const std::vector<std::string> &imageFiles, const std::string &pdfPath, std::string *error);

} // namespace pdf
