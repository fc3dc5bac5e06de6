#include "platform/paths.h"

#include "platform/private_files.h"
#include "platform/registry.h"

#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
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

std::string envOr(const char *name, const std::string &fallback) {
  const char *v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string withoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/')
    s.pop_back();
  return s;
}

// The temporary folder chosen for the environment it was chosen in; checked again before every use.
std::mutex g_folderMutex;
std::string g_chosenFor;
std::string g_chosen;
std::set<std::string> g_told;

// Tells a refusal on the standard error, once per text. Call with g_folderMutex held.
void tellOnce(const std::string &text) {
  if (g_told.insert(text).second)
    qWarning("Folvex: %s", text.c_str());
}

std::string chooseTempFolder() {
  const std::string uid = std::to_string(::geteuid());
  std::string why;
  const std::string runtime = withoutTrailingSlash(envOr("XDG_RUNTIME_DIR", ""));
  if (!runtime.empty() && runtime.front() == '/') {
    if (isPrivateFolder(runtime, &why))
      return runtime + "/";
    tellOnce("the runtime folder " + runtime + " is not used for temporary files: " + why);
  }
  const std::string shared = withoutTrailingSlash(envOr("TMPDIR", "/tmp")) + "/Folvex2-" + uid;
  if (makePrivateFolder(shared, &why))
    return shared + "/";
  tellOnce("the temporary folder " + shared + " is refused: " + why);
  const char *cacheHome = std::getenv("XDG_CACHE_HOME");
  const std::string cache =
      withoutTrailingSlash(cacheHome && cacheHome[0] == '/' ? cacheHome : QDir::homePath().toStdString() + "/.cache") +
      "/Folvex2";
  if (!makePrivateFolder(cache, &why))
    tellOnce("the temporary folder " + cache + " is refused: " + why);
  return cache + "/";
}

std::string workFolderPath() { return tempFolder() + "/Folvex2/"; }

} // namespace

std::string tempFolder() {
  const std::string environment = envOr("XDG_RUNTIME_DIR", "") + '\n' + envOr("TMPDIR", "") + '\n' +
                                  envOr("XDG_CACHE_HOME", "") + '\n' + envOr("HOME", "");
  std::lock_guard lock(g_folderMutex);
  if (environment != g_chosenFor || !isPrivateFolder(g_chosen)) {
    g_chosen = chooseTempFolder();
    g_chosenFor = environment;
  }
  return g_chosen;
}

std::string workFolderProblem() {
  const std::string folder = workFolderPath();
  std::string why;
  if (makePrivateFolder(withoutTrailingSlash(folder), &why))
    return {};
  std::string text = "the work folder " + withoutTrailingSlash(folder) + " is refused: " + why;
  std::lock_guard lock(g_folderMutex);
  tellOnce(text);
  return text;
}

std::string workFolder() {
  workFolderProblem();
  return workFolderPath();
}

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
