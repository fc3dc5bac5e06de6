// Folders the programs work in and the platform they believe they run on.
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "test_env.h"

#include <QDir>

#include <filesystem>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {
constexpr const char *kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
}

class Paths : public PrivateFolders {
protected:
  void setLocalAppData(uint32_t type, std::vector<uint8_t> data) {
    auto key = RegKey::create(Hive::CurrentUser, kShellFolders, RegAccess::All);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->set("Local AppData", type, data));
  }
  void TearDown() override {
    forcePlatformId(0);
    PrivateFolders::TearDown();
  }
};

TEST_F(Paths, TemporaryAndWorkFoldersAreTheUsersAlone) {
  const auto mode = [](const std::string &p) { return fs::symlink_status(p).permissions() & fs::perms::all; };
  const std::string uid = std::to_string(::geteuid());
  const std::string run = root_ + "/run", shared = root_ + "/tmp/Folvex2-" + uid;
  fs::create_directories(run);
  fs::permissions(run, fs::perms::owner_all);
  set("XDG_RUNTIME_DIR", run);
  EXPECT_EQ(tempFolder(), run + "/");
  EXPECT_EQ(workFolder(), run + "//Folvex2/") << "the doubled separator is kept, as the file names rely on it";
  EXPECT_EQ(mode(run + "/Folvex2"), fs::perms::owner_all);

  // A runtime folder others may enter is not used; nor is a missing one. The shared temporary folder then gets a
  // folder of this user's own.
  fs::permissions(run, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  EXPECT_EQ(tempFolder(), shared + "/");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(tempFolder(), shared + "/");
  EXPECT_EQ(mode(shared), fs::perms::owner_all);
  EXPECT_EQ(workFolder(), shared + "//Folvex2/");
  EXPECT_EQ(mode(shared + "/Folvex2"), fs::perms::owner_all);

  // Planted by someone else before us: a link, a folder open to others, another user's folder. Each is refused
  // (the cache folder stands in) and nothing is made inside it. A folder once chosen is kept while it stays
  // private, so each case starts from another cache folder.
  int round = 0;
  const auto cacheOfNewRound = [&] {
    const std::string cache = root_ + "/cache" + std::to_string(++round);
    set("XDG_CACHE_HOME", cache);
    return cache + "/Folvex2/";
  };
  const std::string elsewhere = root_ + "/elsewhere";
  fs::create_directories(elsewhere);
  fs::remove_all(shared);
  fs::create_directory_symlink(elsewhere, shared);
  std::string cache = cacheOfNewRound();
  EXPECT_EQ(tempFolder(), cache);
  EXPECT_EQ(workFolder(), cache + "/Folvex2/");
  EXPECT_EQ(mode(cache), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(shared);
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all);
  cache = cacheOfNewRound();
  EXPECT_EQ(workFolder(), cache + "/Folvex2/");
  EXPECT_TRUE(fs::is_empty(shared));
  if (::geteuid() == 0) {
    fs::permissions(shared, fs::perms::owner_all);
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    cache = cacheOfNewRound();
    EXPECT_EQ(workFolder(), cache + "/Folvex2/");
    EXPECT_TRUE(fs::is_empty(shared));
  }
  fs::remove_all(shared);
  cacheOfNewRound();
  EXPECT_EQ(tempFolder(), shared + "/");
}

TEST_F(Paths, ApplicationDataFolderFollowsTheShellFolderValue) {
  EXPECT_EQ(appDataFolder(), root_ + "/data/Folvex2") << "a new user hive names XDG_DATA_HOME";
  setLocalAppData(REG_SZ, {'/', 's', 'r', 'v', 0});
  EXPECT_EQ(appDataFolder(), "/srv/Folvex2");

  // Missing, shorter than four characters, or unreadable as a string: the home folder stands in for "c:".
  const std::string home = QDir::homePath().toStdString();
  setLocalAppData(REG_SZ, {'/', 'a', 'b', 0});
  EXPECT_EQ(appDataFolder(), home);
  setLocalAppData(REG_SZ, {'/', 's', 'r', 'v'});
  EXPECT_EQ(appDataFolder(), home);
  setLocalAppData(REG_BINARY, {'/', 's', 'r', 'v', 0});
  EXPECT_EQ(appDataFolder(), home);
  ASSERT_TRUE(RegKey::open(Hive::CurrentUser, kShellFolders, RegAccess::All)->remove("Local AppData"));
  EXPECT_EQ(appDataFolder(), home);
}

TEST_F(Paths, WindowsAndSpoolFolders) {
  // No "SystemRoot": a folder of the user's own, whose spool folders appear when first asked for.
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n");
  const std::string windows = root_ + "/data/Folvex2/Windows";
  EXPECT_EQ(windowsFolder(), windows);
  EXPECT_FALSE(fs::exists(windows));
  EXPECT_EQ(ntSpoolFolder(), windows + "/SYSTEM32/spool/PRINTERS/");
  EXPECT_TRUE(fs::is_directory(windows + "/SYSTEM32/spool/PRINTERS"));
  EXPECT_EQ(spoolFolder(), ntSpoolFolder());
  EXPECT_FALSE(fs::exists(windows + "/spool"));

  forcePlatformId(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(platformId(), VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(spoolFolder(), windows + "/spool/PRINTERS/");
  EXPECT_TRUE(fs::is_directory(windows + "/spool/PRINTERS"));
  forcePlatformId(0);
  EXPECT_EQ(platformId(), VER_PLATFORM_WIN32_NT);

  // "SystemRoot" given by the machine hive, with a trailing separator.
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n"
                           "\"SystemRoot\"=\"" +
                               root_ + "/winroot/\"\n");
  EXPECT_EQ(windowsFolder(), root_ + "/winroot");
  EXPECT_EQ(ntSpoolFolder(), root_ + "/winroot/SYSTEM32/spool/PRINTERS/");
}

TEST_F(Paths, InstallationFolderNeedsAStringWithItsZero) {
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Folvex2]\n"
                           "\"InstallPath\"=\"/opt/folvex\"\n");
  EXPECT_EQ(installFolder(), "/opt/folvex");
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Folvex2]\n"
                           "\"InstallPath\"=hex(1):2f,6f,70,74\n");
  EXPECT_EQ(installFolder(), "");
}

TEST(Version, KernelReleaseIsSplitIntoVersionFields) {
  auto v = parseKernelRelease("6.1.0-18-amd64");
  EXPECT_EQ(std::tie(v.major, v.minor, v.build, v.servicePack), std::make_tuple(6, 1, 0, std::string("18-amd64")));
  v = parseKernelRelease("5.10");
  EXPECT_EQ(std::tie(v.major, v.minor, v.build, v.servicePack), std::make_tuple(5, 10, 0, std::string()));
  v = parseKernelRelease("4.19.260+rt");
  EXPECT_EQ(std::tie(v.major, v.minor, v.build, v.servicePack), std::make_tuple(4, 19, 260, std::string("rt")));
  v = parseKernelRelease("custom");
  EXPECT_EQ(std::tie(v.major, v.minor, v.build, v.servicePack), std::make_tuple(0, 0, 0, std::string("custom")));
  v = parseKernelRelease("99999999999999999999.1");
  EXPECT_GE(v.major, 0) << "an absurd number does not overflow";
  EXPECT_EQ(osVersion().platformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GT(osVersion().major, 0);
}
