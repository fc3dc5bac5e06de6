// The desktop background, set through the running desktop's own setting.
#pragma once

#include <string>

namespace platform {

struct WallpaperResult {
  bool applied = false;
  std::string how; // the setting or tool that took the picture, for messages and logs
};

// Makes the image file the desktop background. The desktop is told by XDG_CURRENT_DESKTOP (or DESKTOP_SESSION):
// GNOME, Unity, Budgie and Pantheon through gsettings org.gnome.desktop.background picture-uri and
// picture-uri-dark; Cinnamon through org.cinnamon.desktop.background (and the GNOME keys); KDE Plasma through
// plasma-apply-wallpaperimage; Xfce through xfconf-query on every monitor's last-image property; MATE through
// gsettings org.mate.background picture-filename. Any other desktop, or one whose tool failed, gets feh --bg-fill
// or xwallpaper --zoom when installed. Not applied when none of them took the picture.
WallpaperResult setDesktopWallpaper(const std::string &imagePath);

} // namespace platform
