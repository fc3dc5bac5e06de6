// The settings store: one value per setting in the user's settings key, read at start-up, written the moment
// a setting changes. The in-memory copy below is what the rest of the program reads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Accessors: each opens the key, does one thing and closes it again.
int32_t RegGetInt(const std::string &name);                           // -1 when missing or not a DWORD
bool RegSetInt(const std::string &name, int32_t value);               // creates the key when needed
std::optional<std::string> RegGetUserString(const std::string &name); // REG_SZ/REG_EXPAND_SZ ending in 0, <= 260 bytes
std::optional<std::string> RegGetMachineString(const std::string &name);
bool RegSetUserString(const std::string &name, const std::string &text); // REG_SZ with its terminating zero
bool RegSetStringAt(const std::string &keyPath, const std::string &name, const std::string &text); // existing key only
std::optional<std::string> GetLocalAppDataFolder();
bool LoadSettings();

// Tells of failed settings writes (RegSetInt, RegSetUserString, RegSetStringAt), for the status line: the hook gets
// a message for the user ("Settings not saved: the disk is full (ENOSPC).") at the first failure, nothing more
// while writes go on failing, and an empty text once a write succeeds again. Called on the thread that wrote.
void setSettingsWriteHook(std::function<void(const std::string &message)> hook);

inline constexpr const char *kSettingsKey = "Software\\Tarvik\\Folvex2";
inline constexpr const char *kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Colour values are 0x00BBGGRR.
struct Settings {
  bool lvIncludeDateTime = false;
  int32_t lvKodMainWinMax = 0;
  bool lvSharpen = false;
  uint32_t lvCurBkGrColor = 0x80FF80;
  uint32_t lvHatchColor = 0xA83E3E;
  int32_t lvHatchWidth = 0;
  int32_t lvHatchDepress = 8;
  int32_t lvHatchAngle = 0;
  bool lvHatchLnHor = true;
  bool lvHatchLnVert = true;
  int32_t lvBkGrHathStyle = 100;
  double ResCur = 100.0;     // user-defined resolution, dots per inch
  double ResCurWork = 100.0; // the resolution dialog's working copy
  int32_t CheckN = 2;        // 0 display, 1 printer, 2 user-defined
  int32_t CheckNWork = 2;
  int32_t ScaleCur = 100; // percent
  int32_t ScaleCurWork = 100;
  int32_t KodAntialias = 3;
  bool JPG_Gray = false;
  bool JPG_Progress = true;
  int32_t JPG_Quality = 90;
  int32_t GIF_Colors = 64;
  int32_t GIF_IndexGray = 0;
  bool GIF_Dither = false;
  bool GIF_Interlace = true;
  int32_t GIF_Delay = 100;
  int32_t PNG_TrueIndexGray = 0;
  int32_t PNG_Colors = 64;
  bool PNG_Interlace = true;
  bool PNG_Dither = false;
  int32_t TIF_TrueIndexGray = 0;
  int32_t TIF_Colors = 64;
  bool TIF_Lzw = true;
  bool TIF_Default = false;
  bool BMP_Default = false;
  bool PNG_Default = false;
  bool GIF_Default = false;
  bool JPG_Default = true;
  // Output mode: 0 single image files, 1 PDF, 2 multipage TIFF, 3 multipage GIF (mirrors "KodMultipageFormat").
  int32_t KodMultipageFormat = 0;
};

// The process-wide settings in memory.
Settings &settings();
