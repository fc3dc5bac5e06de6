#include "output/multipage_image.h"

#include <Magick++.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>

namespace output {

bool WriteMultipageImage(const std::vector<std::string> &pageFiles, const std::string &path, MultipageFormat format,
                         int gifDelay, std::string *error) {
  auto fail = [&](const std::string &message) {
    if (error)
      *error = message;
    return false;
  };
  if (pageFiles.empty())
    return fail("There is no page to write into '" + path + "'");

  std::list<Magick::Image> frames;
  std::size_t width = 0, height = 0;
  for (const std::string &file : pageFiles) {
    try {
      Magick::Image page;
      page.quiet(true); // warnings about unknown tags and the like are no reason to lose a page
      page.read(file);
      width = std::max(width, page.columns());
      height = std::max(height, page.rows());
      frames.push_back(page);
    } catch (const std::exception &e) {
      return fail("The page image '" + file + "' cannot be read:\n" + e.what());
    }
  }
  const char *magick = format == MultipageFormat::Tiff ? "TIFF" : "GIF";
  for (Magick::Image &frame : frames) {
    frame.magick(magick);
    if (format == MultipageFormat::Gif) {
      frame.animationDelay(static_cast<std::size_t>(std::max(0, gifDelay)));
      frame.animationIterations(0);
      frame.gifDisposeMethod(MagickCore::BackgroundDispose);
      frame.page(Magick::Geometry(width, height, 0, 0));
    }
  }

  // Written beside its name and renamed when complete, so a failure leaves no half-written file.
  const std::size_t slash = path.rfind('/');
  std::string part = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
  const int fd = ::mkostemp(part.data(), O_CLOEXEC);
  if (fd < 0)
    return fail("The file '" + path + "' cannot be written:\n" + std::strerror(errno));
  ::close(fd);
  try {
    Magick::writeImages(frames.begin(), frames.end(), std::string(magick) + ":" + part, true);
  } catch (const std::exception &e) {
    ::unlink(part.c_str());
    return fail("The file '" + path + "' cannot be written:\n" + e.what());
  }
  if (::rename(part.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(part.c_str());
    return fail("The file '" + path + "' cannot be written:\n" + why);
  }
  return true;
}

} // namespace output
