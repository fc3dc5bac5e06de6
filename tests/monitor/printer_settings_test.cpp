#include "monitor/printer_settings.h"
#include "platform/registry.h"

#include "test_env.h"

#include <QDateTime>

namespace {

using namespace monitor;

TEST(SettingsFormat, WritesTheExactBytes) {
  const std::vector<SavedPrinterEntry> entries = {{"Office Laser", true, "LPT1:", "RAW"},
                                                  {"\\\\server\\shared", false, "IP_10.0.0.7", "NT EMF 1.008"}};
  EXPECT_EQ(formatSettings(entries),
            "2\nOffice Laser\nTRUE\nLPT1:\nRAW\n\\\\server\\shared\nFALSE\nIP_10.0.0.7\nNT EMF 1.008\n");
  EXPECT_EQ(formatSettings({}), "0\n");
  // A line feed inside a value would shift every later entry: it is written as a blank.
  EXPECT_EQ(formatSettings({{"two\nlines", false, "", ""}}), "1\ntwo lines\nFALSE\n\n\n");
}

TEST(SettingsFormat, WriteModesChangeOnlyTheLocalPrintersPausedLines) {
  const std::vector<PrinterState> local = {{"A", true, "pa", "da"}, {"B", false, "pb", "db"}};
  const std::vector<PrinterState> connections = {{"\\\\s\\C", false, "pc", "dc"}, {"\\\\s\\D", true, "pd", "dd"}};
  auto paused = [](const std::vector<SavedPrinterEntry> &e) {
    std::string s;
    for (const auto &x : e)
      s += x.paused ? 'T' : 'F';
    return s;
  };
  EXPECT_EQ(paused(entriesFrom(local, connections, WriteMode::Current)), "TFFT");
  EXPECT_EQ(paused(entriesFrom(local, connections, WriteMode::AllNotPaused)), "FFFT");
  EXPECT_EQ(paused(entriesFrom(local, connections, WriteMode::AllPaused)), "TTFT");
  const auto all = entriesFrom(local, connections, WriteMode::Current);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[2].name, "\\\\s\\C");
  EXPECT_EQ(all[3].port, "pd");
}

TEST(SettingsFormat, ReadsWhatItWritesAndToleratesDamage) {
  std::vector<SavedPrinterEntry> table;
  const std::vector<SavedPrinterEntry> entries = {{"A", true, "p", "d"}, {"B", false, "", "EMF"}};
  ASSERT_TRUE(parseSettings(formatSettings(entries), table));
  EXPECT_EQ(table, entries);

  // The white space after the count is skipped, as a "%ld\n" read does; the flag is TRUE only when exact.
  ASSERT_TRUE(parseSettings("  2 \n\nA\nTRUE \np\nd\nB\ntrue\np\nd\n", table));
  ASSERT_EQ(table.size(), 2u);
  EXPECT_FALSE(table[0].paused);
  EXPECT_FALSE(table[1].paused);

  // A count larger than the entries that follow: the complete entries are kept, the torn one is not.
  ASSERT_TRUE(parseSettings("5\nA\nTRUE\np\nd\nB\nFALSE\n", table));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_TRUE(table[0].paused);
  // A last line without its line feed still counts whole.
  ASSERT_TRUE(parseSettings("1\nA\nTRUE\np\nd", table));
  EXPECT_EQ(table[0].datatype, "d");

  // A count the file cannot hold is bounded.
  std::string many = "4000000000\n";
  for (int i = 0; i < 1200; ++i)
    many += "P" + std::to_string(i) + "\nFALSE\nport\nRAW\n";
  ASSERT_TRUE(parseSettings(many, table));
  EXPECT_EQ(table.size(), kMaxSavedEntries);
  ASSERT_TRUE(parseSettings("-3\nA\nTRUE\np\nd\n", table));
  EXPECT_TRUE(table.empty());

  // Over-long lines are cut, not split into the next field.
  ASSERT_TRUE(parseSettings("1\n" + std::string(600, 'n') + "\nTRUE\n" + std::string(400, 'p') + "\nRAW\n", table));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].name.size(), kMaxSavedName);
  EXPECT_TRUE(table[0].paused);
  EXPECT_EQ(table[0].port.size(), kMaxSavedLine);
  EXPECT_EQ(table[0].datatype, "RAW");

  // No count at all: the table is left as it was.
  const auto before = table;
  EXPECT_FALSE(parseSettings("garbage\n", table));
  EXPECT_FALSE(parseSettings("", table));
  EXPECT_EQ(table, before);
}

class SettingsFiles : public MonitorEnv {};

TEST_F(SettingsFiles, LiveInTheApplicationDataFolder) {
  EXPECT_EQ(settingsFolder(), settingsDir());
  const std::string path = settingsFilePath(kDefaultSettingsFile);
  EXPECT_EQ(path, defaultFile());
  EXPECT_TRUE(QFileInfo(QString::fromStdString(settingsDir())).isDir()) << "created for the first write";

  std::vector<SavedPrinterEntry> table = {{"kept", false, "", ""}};
  EXPECT_FALSE(readSettingsFile(path, table));
  EXPECT_EQ(table.size(), 1u) << "a missing file leaves the table as it was";
  ASSERT_TRUE(writeSettingsFile(path, {{"A", true, "LPT1:", "RAW"}}));
  EXPECT_EQ(readAll(path), "1\nA\nTRUE\nLPT1:\nRAW\n");
  ASSERT_TRUE(readSettingsFile(path, table));
  EXPECT_EQ(table, (std::vector<SavedPrinterEntry>{{"A", true, "LPT1:", "RAW"}}));
  // A path that cannot be written reports failure and leaves no file.
  EXPECT_FALSE(writeSettingsFile(settingsDir() + "/no/such/folder/x.ini", {}));
}

TEST_F(SettingsFiles, WithoutAUsableLocalAppDataTheHomeFolderStandsIn) {
  auto key = platform::RegKey::create(platform::Hive::CurrentUser,
                                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                      platform::RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setString("Local AppData", "c:"));
  EXPECT_EQ(settingsFolder(), QDir::homePath().toStdString());
  ASSERT_TRUE(key->remove("Local AppData"));
  EXPECT_EQ(settingsFolder(), QDir::homePath().toStdString());
  EXPECT_EQ(QString::fromStdString(settingsFilePath(kPreparedSettingsFile)),
            QDir::homePath() + QStringLiteral("/lvFXPrnNew.ini"));
}

TEST_F(SettingsFiles, AcceptabilityCodeIsWrittenOnlyWhenItChanges) {
  EXPECT_EQ(readKodEstPrinters(), -1);
  EXPECT_TRUE(storeKodEstPrinters(1)) << "an absent value is written";
  EXPECT_EQ(readKodEstPrinters(), 1);

  const QString hive = QString::fromStdString(platform::hiveFilePath(platform::Hive::CurrentUser));
  const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
  {
    QFile f(hive);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  }
  EXPECT_FALSE(storeKodEstPrinters(1));
  EXPECT_EQ(QFileInfo(hive).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch()) << "not rewritten";
  EXPECT_TRUE(storeKodEstPrinters(2));
  EXPECT_EQ(readKodEstPrinters(), 2);

  // A value of another type reads as missing and is replaced by a REG_DWORD.
  auto key = platform::RegKey::open(platform::Hive::CurrentUser, "Software\\Tarvik\\Folvex2", platform::RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setString("lvKodEstPrinters", "1"));
  EXPECT_EQ(readKodEstPrinters(), -1);
  EXPECT_TRUE(storeKodEstPrinters(1));
  EXPECT_EQ(key->query("lvKodEstPrinters")->type, platform::REG_DWORD);
}

} // namespace
