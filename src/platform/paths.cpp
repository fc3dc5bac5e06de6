#include "platform/paths.h"

#include "platform/registry.h"

#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<int> forcedPlatform{0};

constexpr const char *kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char *kWindowsNtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char *kMachineKey = "Software\\Tarvik\\Folvex2";

std::string dataHome() {
  const char *v = std::getenv("XDG_DATA_HOME");
  if (v && v[0] == '/')
    return v;
  return QDir::homePath().toStdString() + "/.local/share";
}

std::string made(const std::string &folder) {
  QDir().mkpath(QString::fromStdString(folder));
  return folder;
}

} // namespace

std::string tempFolder() {
  const char *v = std::getenv("TMPDIR");
  std::string folder = (v && *v) ? v : "/tmp";
  if (folder.back() != '/')
    folder += '/';
  return folder;
}

std::string workFolder() { return tempFolder() + "/Folvex2/"; }

std::string appDataFolder() {
  const auto local = readStringValue(Hive::CurrentUser, kShellFolders, "Local AppData");
  if (!local || local->size() < 4)
    return QDir::homePath().toStdString();
  return *local + "/Folvex2";
}

std::string installFolder() { return readStringValue(Hive::LocalMachine, kMachineKey, "InstallPath").value_or(""); }

std::string windowsFolder() {
  if (auto root = readStringValue(Hive::LocalMachine, kWindowsNtKey, "SystemRoot"); root && !root->empty()) {
    while (root->size() > 1 && root->back() == '/')
      root->pop_back();
    return *root;
  }
  return dataHome() + "/Folvex2/Windows";
}

std::string ntSpoolFolder() { return made(windowsFolder() + "/SYSTEM32/spool/PRINTERS/"); }

std::string legacySpoolFolder() { return made(windowsFolder() + "/spool/PRINTERS/"); }

std::string spoolFolder() { return platformId() == VER_PLATFORM_WIN32_WINDOWS ? legacySpoolFolder() : ntSpoolFolder(); }

std::string programFolder() {
  if (QCoreApplication::instance())
    return QCoreApplication::applicationDirPath().toStdString();
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return ".";
  std::string exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : exe.substr(0, slash));
}

int platformId() {
  const int forced = forcedPlatform.load();
  return forced ? forced : VER_PLATFORM_WIN32_NT;
}

void forcePlatformId(int id) { forcedPlatform.store(id); }

} // namespace platform
