// The .reg text form: what a person writes is read, and what we write reads back to the same bytes.
#include "platform/registry_file.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::regfile;

namespace {

std::vector<uint8_t> bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

const RegValue *valueOf(const HiveData &h, std::string_view key, std::string_view name) {
  const Key *k = h.find(key);
  if (!k)
    return nullptr;
  for (const auto &v : k->values)
    if (sameName(v.name, name))
      return &v;
  return nullptr;
}

HiveData parsed(std::string_view text, Hive hive = Hive::CurrentUser) {
  HiveData h;
  std::string error;
  EXPECT_TRUE(parse(text, hive, h, &error)) << error << "\n" << text;
  return h;
}

} // namespace

TEST(RegistryFile, EveryKindOfValueSurvivesFormatAndParseByteForByte) {
  std::vector<uint8_t> longBinary(300);
  for (size_t i = 0; i < longBinary.size(); ++i)
    longBinary[i] = static_cast<uint8_t>(i * 7);
  const std::vector<RegValue> values = {
      {"plain", REG_SZ, bytes(std::string_view("C:\\Tarvik \"Folvex\"\0", 19))},
      {"no zero", REG_SZ, bytes("InstallPath")},
      {"empty data", REG_SZ, {}},
      {"only zero", REG_SZ, {0}},
      {"inner zero", REG_SZ, bytes(std::string_view("ab\0cd\0", 6))},
      {"line break", REG_SZ, bytes(std::string_view("one\ntwo\0", 8))},
      {"not utf8", REG_SZ, bytes(std::string_view("\xff\xfe\0", 3))},
      {"utf8", REG_SZ, bytes(std::string_view("gr\xc3\xbc\xc3\x9f\0", 7))},
      {"expand", REG_EXPAND_SZ, bytes(std::string_view("%TEMP%\\x\0", 9))},
      {"dword", REG_DWORD, {0x0a, 0, 0, 0}},
      {"minus one", REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
      {"short dword", REG_DWORD, {1, 2, 3}},
      {"long dword", REG_DWORD, {1, 2, 3, 4, 5}},
      {"binary", REG_BINARY, longBinary},
      {"empty binary", REG_BINARY, {}},
      {"multi", REG_MULTI_SZ, bytes(std::string_view("a\0b\0\0", 5))},
      {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"none", REG_NONE, {9}},
      {"odd type", 0x12345678u, {1}},
      {"", REG_SZ, bytes(std::string_view("default\0", 8))},
      {"quote\" and \\ in name", REG_DWORD, {1, 0, 0, 0}},
  };
  HiveData h;
  h.create("Software\\Tarvik\\Folvex2")->values = values;
  const std::string text = format(h, Hive::CurrentUser);
  const HiveData back = parsed(text);
  const Key *k = back.find("Software\\Tarvik\\Folvex2");
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->values.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i].name);
    EXPECT_EQ(k->values[i].name, values[i].name);
    EXPECT_EQ(k->values[i].type, values[i].type);
    EXPECT_EQ(k->values[i].data, values[i].data);
  }
  // Formatting what was parsed gives the same text again.
  EXPECT_EQ(format(back, Hive::CurrentUser), text);
}

TEST(RegistryFile, WrittenTextIsTheReadableForm) {
  HiveData h;
  Key *k = h.create("Software\\Tarvik\\Folvex2");
  k->values.push_back({"KodAntialias", REG_DWORD, {0x0a, 0, 0, 0}});
  k->values.push_back({"SavePath", REG_SZ, bytes(std::string_view("a\\b \"c\"\0", 8))});
  k->values.push_back({"InstallPath", REG_SZ, bytes("xy")});
  k->values.push_back({"Raw", REG_BINARY, {0x00, 0xab}});
  const std::string text = format(h, Hive::CurrentUser);
  EXPECT_EQ(text, "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\Software]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Tarvik]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\n"
                  "\"KodAntialias\"=dword:0000000a\n"
                  "\"SavePath\"=\"a\\\\b \\\"c\\\"\"\n"
                  "\"InstallPath\"=hex(1):78,79\n"
                  "\"Raw\"=hex:00,ab\n\n");
}

TEST(RegistryFile, LongHexListsWrapAndReadBack) {
  HiveData h;
  h.create("K")->values.push_back({"big", REG_BINARY, std::vector<uint8_t>(100, 0x5a)});
  const std::string text = format(h, Hive::LocalMachine);
  size_t longest = 0, lines = 0;
  for (size_t pos = 0, nl; (nl = text.find('\n', pos)) != text.npos; pos = nl + 1, ++lines)
    longest = std::max(longest, nl - pos);
  EXPECT_LE(longest, 80u);
  EXPECT_GT(lines, 6u);
  EXPECT_EQ(valueOf(parsed(text, Hive::LocalMachine), "K", "big")->data, std::vector<uint8_t>(100, 0x5a));
}

TEST(RegistryFile, HandEditedHiveIsRead) {
  const std::string text = "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n"
                           "\r\n"
                           "; settings written by hand\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Tarvik\\Folvex2]\r\n"
                           "  \"JPG_Quality\" = DWORD:5A  \r\n"
                           "\"SavePath\"=\"/home/me/My Pictures\"\r\n"
                           "\"Windows\"=\"C:\\Windows\"\r\n"
                           "\"Bytes\"=hex:01, 02,\\\r\n"
                           "    03,04\r\n"
                           "\"Gone\"=dword:1\r\n"
                           "\"Gone\"=-\r\n"
                           "@=\"default value\"\r\n"
                           "\r\n"
                           "[hkcu\\software\\tarvik\\folvex2]\r\n"
                           "\"jpg_quality\"=dword:00000050\r\n"
                           "[-HKEY_CURRENT_USER\\Old]\r\n"
                           "\"ignored\"=dword:1\r\n";
  const HiveData h = parsed(text);
  const std::string key = "Software\\Tarvik\\Folvex2";
  ASSERT_NE(h.find(key), nullptr);
  EXPECT_EQ(h.keys.size(), 1u) << "differently spelt sections of one key are merged";
  EXPECT_EQ(valueOf(h, key, "JPG_Quality")->data, (std::vector<uint8_t>{0x50, 0, 0, 0}));
  EXPECT_EQ(valueOf(h, key, "JPG_Quality")->name, "JPG_Quality") << "first spelling kept";
  EXPECT_EQ(valueOf(h, key, "SavePath")->data, bytes(std::string_view("/home/me/My Pictures\0", 21)));
  EXPECT_EQ(valueOf(h, key, "Windows")->data, bytes(std::string_view("C:\\Windows\0", 11)));
  EXPECT_EQ(valueOf(h, key, "Bytes")->data, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(valueOf(h, key, "Gone"), nullptr);
  EXPECT_EQ(valueOf(h, key, "")->type, static_cast<uint32_t>(REG_SZ));
}

TEST(RegistryFile, Utf16FileFromAnotherEditorIsRead) {
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"\r\n";
  std::string raw = "\xff\xfe";
  for (char16_t c : text) {
    raw += static_cast<char>(c & 0xff);
    raw += static_cast<char>(c >> 8);
  }
  EXPECT_EQ(valueOf(parsed(raw, Hive::LocalMachine), "A", "v")->data, bytes(std::string_view("x\0", 2)));
}

TEST(RegistryFile, DamagedTextIsRejected) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::vector<std::string> damaged = {
      "",
      "\n\n\n",
      "garbage\x01\x02\xff",
      "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:1\n", // no header
      header + "\"v\"=dword:1\n",                // value before any section
      header + "[HKEY_CURRENT_USER\\A\n",
      header + "[HKEY_CLASSES_ROOT\\A]\n",
      header + "[HKEY_LOCAL_MACHINE\\A]\n", // a section of the other hive
      header + "[HKEY_CURRENT_USER\\A\\\\B]\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=dwo",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"unterminated\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"text\" trailing\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:1,2,zz\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:100\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(7:00\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(123456789):00\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n", // ends inside a continued value
      header + "[HKEY_CURRENT_USER\\A]\n\"v\" dword:1\n",
      header + "[HKEY_CURRENT_USER\\A]\n\"v\"=float:1\n",
      header + "[HKEY_CURRENT_USER\\A]\nv=dword:1\n",
  };
  for (const auto &text : damaged) {
    HiveData h;
    EXPECT_FALSE(parse(text, Hive::CurrentUser, h)) << text;
  }
}

TEST(RegistryFile, KeyNamesAreComparedWithoutCaseAndKeepTheirFirstSpelling) {
  HiveData h;
  ASSERT_NE(h.create("Software\\Tarvik\\Folvex2"), nullptr);
  Key *again = h.create("SOFTWARE\\tarvik\\FOLVEX2\\Sub");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->path, "Software\\Tarvik\\Folvex2\\Sub");
  EXPECT_EQ(h.keys.size(), 4u);
  EXPECT_TRUE(h.exists("software"));
  EXPECT_FALSE(h.exists("Soft"));
  EXPECT_FALSE(h.exists("Software\\Tarvik\\Folvex"));
  EXPECT_TRUE(sameName("\xc3\x84rger", "\xc3\xa4RGER")) << "case folding beyond ASCII";
  EXPECT_FALSE(sameName("abc", "abd"));
}

TEST(RegistryFile, DeletedKeysAndValuesLeaveTheRestInOrder) {
  const HiveData h = parsed("REGEDIT4\n\n"
                            "[HKEY_CURRENT_USER\\A]\n\"x\"=dword:1\n"
                            "[HKEY_CURRENT_USER\\A B]\n\"v\"=dword:1\n\"u\"=dword:1\n" // sorts between A and A\Sub
                            "[HKEY_CURRENT_USER\\A\\Sub]\n\"s\"=dword:1\n"
                            "[-HKEY_CURRENT_USER\\a]\n"
                            "[HKEY_CURRENT_USER\\a b]\n\"V\"=-\n\"w\"=dword:2\n\"v\"=dword:3\n"
                            "[HKEY_CURRENT_USER\\A\\Sub]\n\"t\"=dword:1\n");
  ASSERT_EQ(h.keys.size(), 2u);
  EXPECT_EQ(h.keys[0].path, "A B");
  EXPECT_EQ(h.keys[1].path, "A\\Sub");
  EXPECT_EQ(h.find("A"), nullptr) << "the deleted key has no section again, only its new subkey";
  std::vector<std::string> names;
  for (const auto &v : h.keys[0].values)
    names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"u", "w", "v"})) << "a value deleted and written again comes last";
  EXPECT_EQ(valueOf(h, "A B", "v")->data[0], 3);
  ASSERT_EQ(h.keys[1].values.size(), 1u);
  EXPECT_EQ(h.keys[1].values[0].name, "t");
}

TEST(RegistryFile, ParentsOfASectionExistWithoutSections) {
  const HiveData h = parsed("REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n");
  EXPECT_TRUE(h.exists("Control Panel"));
  EXPECT_EQ(h.find("Control Panel"), nullptr);
  EXPECT_EQ(h.storedPath("CONTROL PANEL\\desktop"), "Control Panel\\Desktop");
}

TEST(RegistryFile, InvalidKeyAndValueNames) {
  EXPECT_TRUE(splitPath("").empty());
  EXPECT_TRUE(splitPath("A\\\\B").empty());
  EXPECT_TRUE(splitPath("A\nB").empty());
  EXPECT_EQ(splitPath("\\A\\B\\"), (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(validValueName("a\nb"));
  EXPECT_FALSE(validValueName(std::string_view("a\0b", 3)));
  EXPECT_TRUE(validValueName("a \"quoted\" \\ name"));
  HiveData h;
  EXPECT_EQ(h.create("A\\\\B"), nullptr);
}
