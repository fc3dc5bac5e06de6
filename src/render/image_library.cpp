#include "render/image_library.h"

#include <Magick++.h>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace render {

void InitializeImageLibrary(const std::string &programPath) {
  static std::once_flag once;
  std::call_once(once, [&] {
    // The distribution's policy caps images at 16000 pixels a side; ours, beside the program, lifts that.
    // The policy files are searched along MAGICK_CONFIGURE_PATH first, and the first one found wins.
    // Our folder goes in front of any folders the environment already names.
    std::error_code ec;
    const std::string folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
    if (!folder.empty()) {
      const char *given = std::getenv("MAGICK_CONFIGURE_PATH");
      std::string path = folder;
      if (given && *given && std::string(given).rfind(folder + ":", 0) != 0 && folder != given)
        path += std::string(":") + given;
      else if (given && *given)
        path = given;
      setenv("MAGICK_CONFIGURE_PATH", path.c_str(), 1);
    }
    Magick::InitializeMagick(programPath.empty() ? nullptr : programPath.c_str());
  });
}

} // namespace render
