// Folders the programs work in, as the Windows calls would give them, mapped to Linux.
#pragma once

#include <string>

namespace platform {

// $TMPDIR or /tmp, always ending in '/'.
std::string tempFolder();
// tempFolder() + "/Folvex2/" (the doubled separator is harmless).
std::string workFolder();
// "Local AppData" of the shell folders key + "/Folvex2". When the value is missing, unreadable or shorter than
// 4 characters, the user's home folder stands in (without "/Folvex2"), so the printer settings files then lie
// directly in the home folder.
std::string appDataFolder();
// "InstallPath" of the machine key; empty when missing.
std::string installFolder();
// "SystemRoot" of the machine key, or $XDG_DATA_HOME/Folvex2/Windows when absent.
std::string windowsFolder();
// windowsFolder() + "/SYSTEM32/spool/PRINTERS/", created on first use.
std::string ntSpoolFolder();
// The Windows 9x spool folder: windowsFolder() + "/spool/PRINTERS/", created on first use.
std::string legacySpoolFolder();
// The spool folder of the platform in force: legacySpoolFolder() for Windows 9x, else ntSpoolFolder().
std::string spoolFolder();
// The folder the running program lives in (ending without '/').
std::string programFolder();

// Platform id as GetVersionEx reports it: 2 for the NT family, 1 for Windows 9x.
enum { VER_PLATFORM_WIN32_WINDOWS = 1, VER_PLATFORM_WIN32_NT = 2 };
int platformId();
// Tests force the Windows 9x paths with VER_PLATFORM_WIN32_WINDOWS; 0 restores the real answer.
void forcePlatformId(int id);

} // namespace platform
