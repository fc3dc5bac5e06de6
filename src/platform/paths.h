// Folders the programs work in, as the Windows calls would give them, mapped to Linux.
#pragma once

#include <string>

namespace platform {

// The user's temporary folder, always ending in '/': a folder only this user can enter, checked on every call.
//  - $XDG_RUNTIME_DIR when it is set and is the user's own private folder;
//  - else $TMPDIR (or /tmp) + "/Folvex2-<uid>", made with mode 0700;
//  - else (that one is refused: another user's, a link, open to others) the cache folder
//    $XDG_CACHE_HOME (default ~/.cache) + "/Folvex2".
// A refused folder is never used; the reason is told once on the standard error.
std::string tempFolder();
// tempFolder() + "/Folvex2/" (the doubled separator is harmless), made with mode 0700 when missing and checked to be
// a private folder of this user on every call (refused with the reason told once, and by workFolderProblem()).
std::string workFolder();
// Why the work folder cannot be used now; empty when it can. Makes and checks it as workFolder() does.
std::string workFolderProblem();
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
