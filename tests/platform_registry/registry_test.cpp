// The registry stand-in through its public calls: hive files on disk, locking, damaged files, access rights.
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "test_env.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>
#include <set>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char *kKey = "Software\\Tarvik\\Folvex2";

std::vector<uint8_t> bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::set<std::string> filesIn(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &e : fs::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}

} // namespace

class Registry : public PrivateFolders {};

TEST_F(Registry, EveryValueTypeRoundTripsThroughTheHiveFile) {
  const std::vector<RegValue> values = {
      {"sz", REG_SZ, bytes(std::string_view("text \"q\" \\ end\0", 15))},
      {"sz without zero", REG_SZ, bytes("C:\\Folvex")},
      {"expand", REG_EXPAND_SZ, bytes(std::string_view("%X%\0", 4))},
      {"dword", REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
      {"binary", REG_BINARY, {0, 1, 0xfe, 0xff}},
      {"multi", REG_MULTI_SZ, bytes(std::string_view("a\0b\0\0", 5))},
      {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"other", 42, {7}},
  };
  {
    auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
    ASSERT_TRUE(key);
    for (const auto &v : values)
      ASSERT_TRUE(key->set(v.name, v.type, v.data)) << v.name;
  }
  // A fresh handle reads the file again: nothing is kept in memory between calls.
  const auto key = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read);
  ASSERT_TRUE(key);
  for (const auto &v : values) {
    const auto got = key->query(v.name);
    ASSERT_TRUE(got) << v.name;
    EXPECT_EQ(got->type, v.type) << v.name;
    EXPECT_EQ(got->data, v.data) << v.name;
  }
  // The file itself is the readable form.
  const std::string text = readFile(userHive());
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n"), std::string::npos);
  EXPECT_NE(text.find("\"dword\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("\"sz\"=\"text \\\"q\\\" \\\\ end\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"sz without zero\"=hex(1):"), std::string::npos);
  EXPECT_NE(text.find("\"binary\"=hex:00,01,fe,ff\n"), std::string::npos);
}

TEST_F(Registry, HandEditedHiveFileIsRead) {
  writeFile(userHive(), "Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n"
                        "\"KodAntialias\"=dword:00000005\n"
                        "\"SavePath\"=\"/srv/pictures\"\n");
  const auto key = RegKey::open(Hive::CurrentUser, "software\\TARVIK\\folvex2", RegAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->path(), kKey);
  EXPECT_EQ(key->query("kodantialias")->data, (std::vector<uint8_t>{5, 0, 0, 0}));
  EXPECT_EQ(readStringValue(Hive::CurrentUser, kKey, "SavePath"), "/srv/pictures");
  // A hand-made hive has only what the person wrote: nothing is added to it on reading.
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Control Panel\\Desktop", RegAccess::Read));
}

TEST_F(Registry, ValueNamesIgnoreCaseAndKeepTheirPlace) {
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setDword("First", 1));
  ASSERT_TRUE(key->setDword("Second", 2));
  ASSERT_TRUE(key->setDword("Third", 3));
  ASSERT_TRUE(key->setString("SECOND", "now text"));
  std::vector<std::string> names;
  for (size_t i = 0; auto v = key->enumerate(i); ++i)
    names.push_back(v->name);
  EXPECT_EQ(names, (std::vector<std::string>{"First", "Second", "Third"}));
  EXPECT_EQ(key->query("second")->type, static_cast<uint32_t>(REG_SZ));

  EXPECT_TRUE(key->remove("FIRST"));
  EXPECT_FALSE(key->remove("First")) << "removing a missing value fails";
  EXPECT_EQ(key->enumerate(0)->name, "Second");
  EXPECT_EQ(key->enumerate(1)->name, "Third");
  EXPECT_FALSE(key->enumerate(2));
  EXPECT_FALSE(key->enumerate(SIZE_MAX));
}

TEST_F(Registry, OpenCreateAndAccessRights) {
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read)) << "settings key does not exist yet";
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "", RegAccess::Read));
  EXPECT_FALSE(RegKey::create(Hive::CurrentUser, "A\\\\B", RegAccess::All));

  auto created = RegKey::create(Hive::CurrentUser, kKey, RegAccess::Read);
  ASSERT_TRUE(created);
  EXPECT_TRUE(RegKey::open(Hive::CurrentUser, "Software\\Tarvik", RegAccess::Read)) << "parents are created";
  EXPECT_FALSE(created->setDword("x", 1)) << "a read handle cannot write";

  auto writer = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Write);
  ASSERT_TRUE(writer);
  EXPECT_TRUE(writer->setDword("x", 1));
  EXPECT_FALSE(writer->query("x")) << "a write handle cannot read";
  EXPECT_FALSE(writer->enumerate(0));

  auto query = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Query);
  ASSERT_TRUE(query);
  EXPECT_TRUE(query->query("x"));
  EXPECT_EQ(query->enumerate(0)->name, "x");
  EXPECT_FALSE(query->remove("x"));

  // Creating an existing key opens it and leaves its values alone.
  auto again = RegKey::create(Hive::CurrentUser, "SOFTWARE\\TARVIK\\FOLVEX2", RegAccess::All);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->path(), kKey);
  EXPECT_TRUE(again->query("x"));
  // Invalid value names are refused rather than written into a broken file.
  EXPECT_FALSE(again->setDword("two\nlines", 1));
}

TEST_F(Registry, NewUserHiveHoldsTheValuesTheSystemAlwaysHas) {
  const std::string shell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  EXPECT_EQ(readStringValue(Hive::CurrentUser, shell, "Local AppData"), root_ + "/data");
  EXPECT_TRUE(RegKey::open(Hive::CurrentUser, "Control Panel\\Desktop", RegAccess::Write));
  EXPECT_FALSE(fs::exists(userHive())) << "reading does not write";
  ASSERT_TRUE(RegKey::create(Hive::CurrentUser, kKey, RegAccess::Write));
  const std::string text = readFile(userHive());
  EXPECT_NE(text.find("\"Local AppData\"=\"" + root_ + "/data\""), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Control Panel\\Desktop]"), std::string::npos) << text;

  // Without FOLVEX_REGISTRY_DIR the user hive lives under XDG_CONFIG_HOME.
  ::unsetenv("FOLVEX_REGISTRY_DIR");
  EXPECT_EQ(hiveFilePath(Hive::CurrentUser), root_ + "/config/Folvex2/user.reg");
  ASSERT_TRUE(RegKey::create(Hive::CurrentUser, kKey, RegAccess::Write));
  EXPECT_TRUE(fs::exists(root_ + "/config/Folvex2/user.reg"));
}

TEST_F(Registry, WritesLeaveNoTemporaryFilesBehind) {
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
  ASSERT_TRUE(key);
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(key->setDword("v" + std::to_string(i), static_cast<uint32_t>(i)));
  EXPECT_EQ(filesIn(registryDir()), (std::set<std::string>{"user.reg", "user.reg.lock"}));
}

TEST_F(Registry, UserHiveIsPrivateAndInterruptedWritesAreCleanedUp) {
  // Temporary files of writes that never reached their rename, as a crash or a full disk leaves them.
  writeFile(userHive() + ".Ab3dEf", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=dw");
  writeFile(userHive() + ".xY12z9", "");
  writeFile(userHive() + ".backup.txt", "kept: not a name our writes use");
  ASSERT_TRUE(RegKey::create(Hive::CurrentUser, kKey, RegAccess::All)->setDword("v", 1));
  EXPECT_EQ(filesIn(registryDir()), (std::set<std::string>{"user.reg", "user.reg.lock", "user.reg.backup.txt"}));
  for (const char *name : {"/user.reg", "/user.reg.lock"})
    EXPECT_EQ(fs::status(registryDir() + name).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << name;
}

TEST_F(Registry, AFileChangedInPlaceIsReadAgain) {
  // Same size, same file, written within one tick of the file system's clock: still seen.
  const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n";
  for (const char *digit : {"1", "2", "3"}) {
    writeFile(userHive(), head + "\"v\"=dword:0000000" + digit + "\n"); // truncated and rewritten in place
    const auto key = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read);
    ASSERT_TRUE(key);
    EXPECT_EQ(dwordFromValue(*key->query("v")), std::atoi(digit));
  }
}

TEST_F(Registry, TheThousandAndFirstDamagedHiveKeepsTheNewestCopies) {
  writeFile(userHive() + ".bad", "damaged 1");
  for (int n = 2; n <= 1000; ++n)
    writeFile(userHive() + "." + std::to_string(n) + ".bad", "damaged " + std::to_string(n));
  writeFile(userHive(), "damaged 1001");
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read));
  EXPECT_EQ(readFile(userHive() + ".1000.bad"), "damaged 1000") << "an earlier copy is never overwritten";
  EXPECT_EQ(readFile(userHive() + ".1001.bad"), "damaged 1001");
  size_t kept = 0;
  for (const std::string &name : filesIn(registryDir()))
    kept += name.ends_with(".bad");
  EXPECT_EQ(kept, 5u) << "the newest few are kept, the oldest dropped";
  EXPECT_TRUE(fs::exists(userHive() + ".997.bad"));
  EXPECT_FALSE(fs::exists(userHive() + ".996.bad"));
}

TEST_F(Registry, DamagedHiveIsSetAsideAndTheProgramGoesOn) {
  // A valid hive cut short in the middle of a line, then plain garbage, then a folder in the file's place.
  const std::string valid = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n"
                            "\"KodAntialias\"=dword:00000005\n";
  const std::vector<std::string> contents = {valid.substr(0, valid.find("dword") + 3),
                                             std::string("\0\x13\xff garbage", 11), ""};
  for (size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(registryDir());
    writeFile(userHive(), contents[i]);
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read));
    ASSERT_TRUE(fs::exists(userHive() + ".bad"));
    EXPECT_EQ(readFile(userHive() + ".bad"), contents[i]) << "the damaged file is kept as it was";
    EXPECT_FALSE(fs::exists(userHive()));
    // The hive starts anew, with what a new user hive holds, and takes writes again.
    auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->setDword("KodAntialias", 7));
    EXPECT_EQ(key->query("KodAntialias")->data[0], 7);
    EXPECT_TRUE(readStringValue(
        Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Local AppData"));
  }

  // A second damaged file does not overwrite the first one set aside.
  writeFile(userHive(), "junk");
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Nothing", RegAccess::Read));
  EXPECT_EQ(readFile(userHive() + ".bad"), "");
  EXPECT_EQ(readFile(userHive() + ".2.bad"), "junk");

  // A folder where the hive file should be: set aside too, under the number after the newest copy.
  fs::remove(userHive());
  fs::create_directories(userHive());
  writeFile(userHive() + "/inside", "x");
  fs::remove_all(userHive() + ".bad");
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->setDword("a", 1));
  EXPECT_TRUE(fs::is_regular_file(userHive()));
  EXPECT_TRUE(fs::exists(userHive() + ".3.bad/inside"));
}

TEST_F(Registry, DamagedHiveFoundWhileWritingIsSetAsideBeforeTheWrite) {
  writeFile(userHive(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:zz\n");
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::Write);
  ASSERT_TRUE(key);
  EXPECT_TRUE(fs::exists(userHive() + ".bad"));
  EXPECT_TRUE(key->setDword("v", 1));
}

TEST_F(Registry, AValueTooLargeForAHiveIsRefusedAndTheHiveKept) {
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setDword("kept", 1));
  const std::vector<uint8_t> huge(kMaxHiveBytes / 2, 0xab); // three text characters per byte
  EXPECT_FALSE(key->set("huge", REG_BINARY, huge));
  EXPECT_FALSE(key->query("huge"));
  EXPECT_TRUE(key->query("kept"));
  EXPECT_FALSE(fs::exists(userHive() + ".bad"));
  // A file over the limit (written by something else) is set aside like any damaged one.
  writeFile(userHive(), "Windows Registry Editor Version 5.00\n\n" + std::string(kMaxHiveBytes, ';'));
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read));
  EXPECT_TRUE(fs::exists(userHive() + ".bad"));
}

TEST_F(Registry, HiveReachedThroughALinkIsWrittenWhereTheLinkPoints) {
  fs::create_directories(registryDir());
  const std::string target = root_ + "/elsewhere.reg";
  writeFile(target, "Windows Registry Editor Version 5.00\n\n");
  fs::create_symlink(target, userHive());
  auto key = RegKey::create(Hive::CurrentUser, kKey, RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setDword("linked", 1));
  EXPECT_TRUE(fs::is_symlink(userHive()));
  EXPECT_NE(readFile(target).find("\"linked\"=dword:00000001"), std::string::npos);
}

TEST_F(Registry, MachineHiveComesFromBesideTheProgramUntilAPrivateOneExists) {
  // The build writes machine.reg beside the programs with the program folder as installation folder.
  ASSERT_FALSE(fs::exists(machineHive()));
  EXPECT_EQ(hiveFilePath(Hive::LocalMachine), programFolder() + "/machine.reg");
  EXPECT_EQ(installFolder(), FOLVEX_BIN_DIR);
  const std::string besideText = readFile(programFolder() + "/machine.reg");

  // A write goes to the private folder, starting from what the hive beside the program holds.
  auto key = RegKey::create(Hive::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setString("SystemRoot", root_ + "/win"));
  EXPECT_EQ(hiveFilePath(Hive::LocalMachine), machineHive());
  EXPECT_EQ(installFolder(), FOLVEX_BIN_DIR);
  EXPECT_EQ(windowsFolder(), root_ + "/win");
  EXPECT_EQ(readFile(programFolder() + "/machine.reg"), besideText) << "the build's hive is never changed";

  // A private hive without the value: the installation folder is unknown.
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n");
  EXPECT_EQ(installFolder(), "");
}

TEST_F(Registry, WritesToAFolderWithoutWriteRightsFail) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "the superuser may write everywhere";
  ASSERT_TRUE(RegKey::create(Hive::CurrentUser, kKey, RegAccess::All)->setDword("kept", 1));
  fs::permissions(registryDir(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kKey, RegAccess::Write));
  auto reader = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(reader->query("kept"));
  fs::permissions(registryDir(), fs::perms::owner_all);
}

TEST_F(Registry, TwoProgramsWritingAtOnceLoseNothing) {
  constexpr int kEach = 500;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("FOLVEX_REGISTRY_DIR", QString::fromStdString(registryDir()));
  QProcess a, b;
  for (QProcess *p : {&a, &b}) {
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
  }
  a.start(REGISTRY_WRITER, {"a", QString::number(kEach)});
  b.start(REGISTRY_WRITER, {"b", QString::number(kEach)});
  ASSERT_TRUE(a.waitForFinished(300000));
  ASSERT_TRUE(b.waitForFinished(300000));
  EXPECT_EQ(a.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(a.exitCode(), 0);
  EXPECT_EQ(b.exitCode(), 0);

  const auto key = RegKey::open(Hive::CurrentUser, kKey, RegAccess::Read);
  ASSERT_TRUE(key);
  std::set<std::string> seen;
  for (size_t i = 0; auto v = key->enumerate(i); ++i) {
    const auto n = dwordFromValue(*v);
    ASSERT_TRUE(n) << v->name;
    EXPECT_EQ(v->name.substr(1), std::to_string(*n)) << "value and name belong together";
    seen.insert(v->name);
  }
  EXPECT_EQ(seen.size(), 2u * kEach);
  for (int i = 0; i < kEach; ++i) {
    EXPECT_TRUE(seen.count("a" + std::to_string(i))) << i;
    EXPECT_TRUE(seen.count("b" + std::to_string(i))) << i;
  }
}
