// "Set to Wallpaper": the current image becomes the desktop background.
#pragma once

#include <Magick++.h>
#include <string>

namespace output {

// The wallpaper file: "TarvikWallpaper.bmp" (the same file every time) in the application-data folder. The
// desktop keeps only the file's name, so the file must outlast the session: the private temporary folder is
// emptied at logout and would take the wallpaper with it.
std::string WallpaperFilePath();

struct WallpaperOutcome {
  bool written = false; // the wallpaper file holds the image
  bool applied = false; // the desktop took it
  std::string file;
  std::string message; // for the user (caption "Tarvik Folvex! Message"); empty when all went well
};

// Writes the image as a bitmap to the wallpaper file (replacing the last one, never through a link planted in its
// place), records the file as "Wallpaper" under "Control Panel\Desktop" and, when that worked, as
// "BackupWallpaper" under "SOFTWARE\Microsoft\Internet Explorer\Desktop\General" (each only when its key
// exists), and sets it as the desktop background with the desktop's own setting. A file that cannot be written
// ends the command with a message; a desktop that cannot be told keeps the file and names it in the message.
WallpaperOutcome SetAsWallpaper(const Magick::Image &image);

// Set for the rest of the run once "Wallpaper" was recorded but "BackupWallpaper" could not be: there is no
// Active Desktop to refresh, and later commands do not try. (No desktop here has one: the mark only keeps the
// record of what the hive held.)
bool NoActiveDesktopMark();

} // namespace output
