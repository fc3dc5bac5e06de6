#include "output/set_wallpaper.h"

#include "platform/paths.h"
#include "platform/wallpaper.h"
#include "settings/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace output {

namespace {

std::atomic<bool> noActiveDesktop{false};

// Writes the bytes under a new name in the file's folder and renames it over the file, so a link or a file of
// someone else's in a shared folder is replaced (or refused), never written through. Empty on success, else
// the reason.
std::string replaceFile(const std::string &file, const void *data, std::size_t size) {
  const std::size_t slash = file.rfind('/');
  std::string part = file.substr(0, slash + 1) + "." + file.substr(slash + 1) + ".XXXXXX";
  const int fd = ::mkostemp(part.data(), O_CLOEXEC);
  if (fd < 0)
    return std::strerror(errno);
  const char *p = static_cast<const char *>(data);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      const std::string why = std::strerror(n < 0 ? errno : ENOSPC);
      ::close(fd);
      ::unlink(part.c_str());
      return why;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(part.c_str(), file.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(part.c_str());
    return why;
  }
  return {};
}

} // namespace

std::string WallpaperFilePath() { return platform::appDataFolder() + "/TarvikWallpaper.bmp"; }

bool NoActiveDesktopMark() { return noActiveDesktop; }

WallpaperOutcome SetAsWallpaper(const Magick::Image &image) {
  WallpaperOutcome out;
  out.file = WallpaperFilePath();
  std::string why;
  const std::string folder = out.file.substr(0, out.file.rfind('/'));
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    why = std::strerror(errno);
  else
    try {
      Magick::Image bmp = image;
      bmp.magick("BMP");
      Magick::Blob blob;
      bmp.write(&blob);
      why = replaceFile(out.file, blob.data(), blob.length());
    } catch (const std::exception &e) {
      why = e.what();
    }
  if (!why.empty()) {
    out.message = "The wallpaper file '" + out.file + "' cannot be written:\n" + why;
    return out;
  }
  out.written = true;

  if (RegSetStringAt("Control Panel\\Desktop", "Wallpaper", out.file) &&
      !RegSetStringAt("SOFTWARE\\Microsoft\\Internet Explorer\\Desktop\\General", "BackupWallpaper", out.file))
    noActiveDesktop = true;

  out.applied = platform::setDesktopWallpaper(out.file).applied;
  if (!out.applied)
    out.message = "The desktop's wallpaper cannot be set automatically here.\nThe picture is saved as '" + out.file +
                  "':\nchoose it as the wallpaper in the desktop's settings.";
  return out;
}

} // namespace output
