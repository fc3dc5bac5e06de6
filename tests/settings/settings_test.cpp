// The settings store: accessors, the LoadSettings table and its reading rules.
#include "platform/registry.h"
#include "settings/settings.h"

#include "../platform_registry/test_env.h"

#include <filesystem>
#include <variant>

using namespace platform;
namespace fs = std::filesystem;

class SettingsStore : public PrivateFolders {
protected:
  void SetUp() override {
    PrivateFolders::SetUp();
    settings() = Settings{};
  }
  static void store(const std::string &name, uint32_t type, std::vector<uint8_t> data) {
    auto key = RegKey::create(Hive::CurrentUser, kSettingsKey, RegAccess::All);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->set(name, type, data));
  }
  static void storeDword(const std::string &name, uint32_t v) {
    store(name, REG_DWORD,
          {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
           static_cast<uint8_t>(v >> 24)});
  }
  static std::vector<uint8_t> sz(std::string_view s) {
    std::vector<uint8_t> b(s.begin(), s.end());
    b.push_back(0);
    return b;
  }
};

TEST_F(SettingsStore, WithoutASettingsKeyLoadSettingsCreatesItAndKeepsTheDefaults) {
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read));
  EXPECT_TRUE(LoadSettings());
  const auto key = RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->enumerate(0)) << "defaults are never written by themselves";
  const Settings &s = settings();
  EXPECT_TRUE(s.JPG_Default);
  EXPECT_FALSE(s.TIF_Default || s.BMP_Default || s.PNG_Default || s.GIF_Default);
  EXPECT_EQ(s.JPG_Quality, 90);
  EXPECT_DOUBLE_EQ(s.ResCur, 100.0);
  EXPECT_EQ(s.CheckN, 2);
  EXPECT_EQ(s.ScaleCur, 100);
  EXPECT_EQ(s.KodAntialias, 3);
  EXPECT_EQ(s.lvBkGrHathStyle, 100);
  EXPECT_EQ(s.lvCurBkGrColor, 0x80FF80u);
  EXPECT_EQ(s.lvHatchColor, 0xA83E3Eu);
  // A second start finds the (empty) key and still runs on the defaults.
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(settings().KodAntialias, 3);
}

TEST_F(SettingsStore, EveryTableValueLandsInItsOwnSetting) {
  // Each value gets a number of its own, so a value read into the wrong setting shows.
  using Field = std::variant<bool Settings::*, int32_t Settings::*, uint32_t Settings::*>;
  const std::vector<std::pair<const char *, Field>> table = {
      {"lvKodMainWinMax", &Settings::lvKodMainWinMax},
      {"lvCurBkGrColor", &Settings::lvCurBkGrColor},
      {"lvHatchColor", &Settings::lvHatchColor},
      {"lvHatchWidth", &Settings::lvHatchWidth},
      {"lvHatchDepress", &Settings::lvHatchDepress},
      {"lvHatchAngle", &Settings::lvHatchAngle},
      {"lvBkGrHathStyle", &Settings::lvBkGrHathStyle},
      {"KodAntialias", &Settings::KodAntialias},
      {"JPG_Quality", &Settings::JPG_Quality},
      {"GIF_Colors", &Settings::GIF_Colors},
      {"GIF_IndexGray", &Settings::GIF_IndexGray},
      {"GIF_Delay", &Settings::GIF_Delay},
      {"PNG_TrueIndexGray", &Settings::PNG_TrueIndexGray},
      {"PNG_Colors", &Settings::PNG_Colors},
      {"TIF_TrueIndexGray", &Settings::TIF_TrueIndexGray},
      {"TIF_Colors", &Settings::TIF_Colors},
  };
  // Distinct values, each inside the range its dialog allows.
  for (size_t i = 0; i < table.size(); ++i)
    storeDword(table[i].first, static_cast<uint32_t>(4 + i));
  // Flags are flipped from their defaults.
  const std::vector<std::pair<const char *, bool Settings::*>> flags = {
      {"lvIncludeDateTime", &Settings::lvIncludeDateTime},
      {"lvSharpen", &Settings::lvSharpen},
      {"lvHatchLnHor", &Settings::lvHatchLnHor},
      {"lvHatchLnVert", &Settings::lvHatchLnVert},
      {"JPG_Gray", &Settings::JPG_Gray},
      {"JPG_Progress", &Settings::JPG_Progress},
      {"GIF_Dither", &Settings::GIF_Dither},
      {"GIF_Interlace", &Settings::GIF_Interlace},
      {"PNG_Interlace", &Settings::PNG_Interlace},
      {"PNG_Dither", &Settings::PNG_Dither},
      {"TIF_Lzw", &Settings::TIF_Lzw},
      {"TIF_Default", &Settings::TIF_Default},
      {"BMP_Default", &Settings::BMP_Default},
      {"PNG_Default", &Settings::PNG_Default},
      {"GIF_Default", &Settings::GIF_Default},
      {"JPG_Default", &Settings::JPG_Default},
  };
  const Settings defaults;
  for (const auto &[name, member] : flags)
    storeDword(name, defaults.*member ? 0 : 1);
  storeDword("ResCur", 3000);
  storeDword("CheckN", 1);
  storeDword("ScaleCur", 250);

  ASSERT_TRUE(LoadSettings());
  const Settings &s = settings();
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].first);
    std::visit([&](auto member) { EXPECT_EQ(static_cast<int64_t>(s.*member), static_cast<int64_t>(4 + i)); },
               table[i].second);
  }
  for (const auto &[name, member] : flags)
    EXPECT_NE(s.*member, defaults.*member) << name;
  EXPECT_DOUBLE_EQ(s.ResCur, 300.0);
  EXPECT_DOUBLE_EQ(s.ResCurWork, 300.0);
  EXPECT_EQ(s.CheckN, 1);
  EXPECT_EQ(s.CheckNWork, 1);
  EXPECT_EQ(s.ScaleCur, 250);
  EXPECT_EQ(s.ScaleCurWork, 250);
  EXPECT_EQ(s.KodMultipageFormat, 0) << "recorded by the exports, never read back";
}

TEST_F(SettingsStore, ReadingRulesOfTheTable) {
  storeDword("lvIncludeDateTime", 2); // on only when exactly 1
  storeDword("lvSharpen", 1);
  storeDword("GIF_Interlace", 2); // on whenever not 0
  storeDword("PNG_Interlace", 0);
  storeDword("ResCur", 755);
  storeDword("lvCurBkGrColor", 0x00123456);
  storeDword("lvHatchAngle", 45);
  ASSERT_TRUE(LoadSettings());
  const Settings &s = settings();
  EXPECT_FALSE(s.lvIncludeDateTime);
  EXPECT_TRUE(s.lvSharpen);
  EXPECT_TRUE(s.GIF_Interlace);
  EXPECT_FALSE(s.PNG_Interlace);
  EXPECT_DOUBLE_EQ(s.ResCur, 75.5);
  EXPECT_DOUBLE_EQ(s.ResCurWork, 75.5);
  EXPECT_EQ(s.lvCurBkGrColor, 0x00123456u);
  EXPECT_EQ(s.lvHatchAngle, 45);
}

TEST_F(SettingsStore, ValuesOutsideTheDialogsRangesAreBroughtIntoThem) {
  // The resolution reads as an unsigned number: 0xFFFFFFFF is far above the top, not below the bottom.
  storeDword("ResCur", 0xFFFFFFFFu);
  storeDword("ScaleCur", 100000);
  storeDword("KodAntialias", 500);
  storeDword("CheckN", 7);
  storeDword("lvHatchAngle", static_cast<uint32_t>(-45));
  storeDword("GIF_Colors", 1);
  ASSERT_TRUE(LoadSettings());
  Settings s = settings();
  EXPECT_DOUBLE_EQ(s.ResCur, 300.0);
  EXPECT_DOUBLE_EQ(s.ResCurWork, 300.0);
  EXPECT_EQ(s.ScaleCur, 300);
  EXPECT_EQ(s.ScaleCurWork, 300);
  EXPECT_EQ(s.KodAntialias, 20);
  EXPECT_EQ(s.CheckN, 2);
  EXPECT_EQ(s.lvHatchAngle, 0);
  EXPECT_EQ(s.GIF_Colors, 2);
  storeDword("ResCur", 0);
  storeDword("ScaleCur", static_cast<uint32_t>(-50));
  ASSERT_TRUE(LoadSettings());
  s = settings();
  EXPECT_DOUBLE_EQ(s.ResCur, 1.0);
  EXPECT_EQ(s.ScaleCur, 1);
  // Nothing is written back: the hive keeps what it holds.
  EXPECT_EQ(RegGetInt("ScaleCur"), -50);
}

TEST_F(SettingsStore, ValuesOfAnotherTypeOrSizeLeaveTheDefault) {
  store("ResCur", REG_SZ, sz("755"));
  store("KodAntialias", REG_BINARY, {5, 0, 0, 0});
  store("JPG_Quality", REG_DWORD, {50, 0, 0}); // too short to be a DWORD
  store("GIF_Colors", REG_DWORD, {16, 0, 0, 0, 0});
  store("ScaleCur", REG_QWORD, {50, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(LoadSettings());
  const Settings &s = settings();
  EXPECT_DOUBLE_EQ(s.ResCur, 100.0);
  EXPECT_EQ(s.KodAntialias, 3);
  EXPECT_EQ(s.JPG_Quality, 90);
  EXPECT_EQ(s.GIF_Colors, 64);
  EXPECT_EQ(s.ScaleCur, 100);
}

TEST_F(SettingsStore, RegGetIntReadsOnlyDwords) {
  EXPECT_EQ(RegGetInt("lvKodEstPrinters"), -1) << "no settings key";
  EXPECT_FALSE(fs::exists(userHive())) << "reading creates nothing";
  ASSERT_TRUE(RegSetInt("lvKodEstPrinters", 1));
  EXPECT_EQ(RegGetInt("lvKodEstPrinters"), 1);
  EXPECT_EQ(RegGetInt("LVKODESTPRINTERS"), 1);
  EXPECT_EQ(RegGetInt("lvStartHelpCheck"), -1) << "missing value";
  ASSERT_TRUE(RegSetInt("lvKodEstPrinters", -1));
  EXPECT_EQ(RegGetInt("lvKodEstPrinters"), -1) << "a stored -1 reads like a missing value";
  ASSERT_TRUE(RegSetInt("lvWinLeft", INT32_MIN));
  EXPECT_EQ(RegGetInt("lvWinLeft"), INT32_MIN);
  store("SavePath", REG_SZ, sz("12"));
  EXPECT_EQ(RegGetInt("SavePath"), -1);
  store("Short", REG_DWORD, {7});
  EXPECT_EQ(RegGetInt("Short"), -1);
  const auto stored = RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read)->query("lvWinLeft");
  EXPECT_EQ(stored->type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(stored->data, (std::vector<uint8_t>{0, 0, 0, 0x80}));
}

TEST_F(SettingsStore, UserStrings) {
  EXPECT_FALSE(RegGetUserString("SavePath"));
  ASSERT_TRUE(RegSetUserString("SavePath", "/home/me/Pictures"));
  EXPECT_EQ(RegGetUserString("SavePath"), "/home/me/Pictures");
  const auto raw = RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read)->query("SavePath");
  EXPECT_EQ(raw->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(raw->data, sz("/home/me/Pictures")) << "stored with its terminating zero";

  ASSERT_TRUE(RegSetUserString("PDF_Bitmp_Format", ""));
  EXPECT_EQ(RegGetUserString("PDF_Bitmp_Format"), "");

  // 259 characters and the zero fit the 260-byte buffer; one more does not.
  const std::string longest(259, 'p');
  ASSERT_TRUE(RegSetUserString("SavePath", longest));
  EXPECT_EQ(RegGetUserString("SavePath"), longest);
  ASSERT_TRUE(RegSetUserString("SavePath", longest + "p"));
  EXPECT_FALSE(RegGetUserString("SavePath"));

  store("Expand", REG_EXPAND_SZ, sz("%HOME%/x"));
  EXPECT_EQ(RegGetUserString("Expand"), "%HOME%/x");
  store("NoZero", REG_SZ, {'a', 'b'});
  EXPECT_FALSE(RegGetUserString("NoZero"));
  store("Binary", REG_BINARY, sz("ab"));
  EXPECT_FALSE(RegGetUserString("Binary"));
  store("Multi", REG_MULTI_SZ, sz("ab"));
  EXPECT_FALSE(RegGetUserString("Multi"));
  store("Inner", REG_SZ, {'a', 'b', 0, 'c', 'd', 0});
  EXPECT_EQ(RegGetUserString("Inner"), "ab") << "the text ends at the first zero";
  storeDword("Number", 0x00636261);
  EXPECT_FALSE(RegGetUserString("Number"));
}

TEST_F(SettingsStore, MachineStrings) {
  writeFile(machineHive(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Folvex2]\n"
                           "\"InstallPath\"=\"/opt/folvex\"\n\"Broken\"=hex(1):2f,6f,70,74\n");
  EXPECT_EQ(RegGetMachineString("InstallPath"), "/opt/folvex");
  EXPECT_FALSE(RegGetMachineString("Broken")) << "a string without its terminating zero reads as nothing";
  EXPECT_FALSE(RegGetMachineString("Missing"));
  EXPECT_FALSE(RegGetUserString("InstallPath")) << "the user key is another key";
}

TEST_F(SettingsStore, SetStringAtWritesOnlyIntoAnExistingKey) {
  EXPECT_TRUE(RegSetStringAt("Control Panel\\Desktop", "Wallpaper", "/tmp/w.bmp"));
  const auto key = RegKey::open(Hive::CurrentUser, "Control Panel\\Desktop", RegAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->query("Wallpaper")->data, sz("/tmp/w.bmp"));

  EXPECT_FALSE(RegSetStringAt("SOFTWARE\\Microsoft\\Internet Explorer\\Desktop\\General", "BackupWallpaper", "x"));
  EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "SOFTWARE\\Microsoft\\Internet Explorer", RegAccess::Read))
      << "the key is not created";
}

TEST_F(SettingsStore, LocalAppDataFolder) {
  EXPECT_EQ(GetLocalAppDataFolder(), root_ + "/data");
  auto key = RegKey::open(Hive::CurrentUser, kShellFoldersKey, RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->remove("Local AppData"));
  EXPECT_FALSE(GetLocalAppDataFolder());
}

TEST_F(SettingsStore, AccessorsSurviveADamagedHive) {
  writeFile(userHive(), "\x01\x02 not a hive");
  EXPECT_EQ(RegGetInt("KodAntialias"), -1);
  EXPECT_TRUE(fs::exists(userHive() + ".bad"));
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(settings().KodAntialias, 3);
  EXPECT_TRUE(RegSetInt("KodAntialias", 5));
  EXPECT_EQ(RegGetInt("KodAntialias"), 5);
}
