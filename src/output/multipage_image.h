// One multipage TIFF or one animated GIF from the page images of an export, for mailing all pages as one file.
#pragma once

#include <string>
#include <vector>

namespace output {

enum class MultipageFormat { Tiff, Gif };

// Reads the page images in order and writes them as the frames of one file at path: a TIFF with one directory per
// page, or a GIF with one frame per page shown for gifDelay hundredths of a second each, looping. Each TIFF page
// keeps its own size and compression; GIF frames share a canvas as large as the largest page. The file appears
// under its name only when complete. False, with a message for the user in *error naming the page or the file,
// when a page cannot be read or the file cannot be written.
bool WriteMultipageImage(const std::vector<std::string> &pageFiles, const std::string &path, MultipageFormat format,
                         int gifDelay, std::string *error);

} // namespace output
