// The monitor's logic on an in-memory spooler.
#include "monitor/monitor_core.h"
#include "platform/captured_jobs.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/spooler_memory.h"

#include "test_env.h"

#include <algorithm>

namespace {

using namespace monitor;
using platform::MemorySpooler;

class Monitor : public MonitorEnv {
protected:
  std::unique_ptr<MonitorCore> make(Mode mode, bool answerYes = false) {
    auto core = std::make_unique<MonitorCore>(spooler, mode,
                                              MonitorCore::Hooks{[this](const Notice &n) { notices.push_back(n); },
                                                                 [this, answerYes] {
                                                                   ++questions;
                                                                   return answerYes;
                                                                 },
                                                                 [this] { return folvexRunning; }});
    core->setTimeZone(QTimeZone::utc());
    core->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    return core;
  }
  MemorySpooler::Printer &printer(const std::string &name, bool paused = false,
                                  const std::string &port = "LPT1:", bool connection = false) {
    auto &p = spooler.add(name, connection);
    p.info.status = paused ? uint32_t(platform::PRINTER_STATUS_PAUSED) : 0u;
    p.info.port = port;
    p.info.datatype = "RAW";
    return p;
  }
  bool paused(const std::string &name) { return spooler.find(name)->info.status & platform::PRINTER_STATUS_PAUSED; }
  static int rowOf(const MonitorCore &core, const std::string &name) {
    const auto &rows = core.printerRows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const PrinterRow &r) { return r.name == name; });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const Notice &n : notices)
      out.push_back(n.text.toStdString());
    return out;
  }

  // A job Folvex captured from a CUPS queue.
  static void captured(const std::string &printer, uint32_t id) {
    ASSERT_TRUE(platform::recordCapturedJob({platform::CapturedJob::Kind::Cups, printer, id, {}}));
  }

  MemorySpooler spooler;
  std::vector<Notice> notices;
  int questions = 0;
  bool folvexRunning = false;
};

TEST(MonitorMode, OnlyTheExactWordsSelectAMode) {
  EXPECT_EQ(parseMode(QStringLiteral("work")), Mode::Work);
  EXPECT_EQ(parseMode(QStringLiteral("set")), Mode::Set);
  EXPECT_EQ(parseMode(QStringLiteral("refresh")), Mode::Refresh);
  EXPECT_EQ(parseMode(QStringLiteral("delete_all")), Mode::DeleteAll);
  EXPECT_EQ(parseMode(QStringLiteral("refresh_and_delete_all")), Mode::RefreshAndDeleteAll);
  for (const char *other : {"", "Refresh", "SET", "set ", " work", "work now", "delete-all"})
    EXPECT_EQ(parseMode(QString::fromLatin1(other)), Mode::None) << other;
}

TEST(MonitorImages, ToggleSwapsPlainAndMarkedForms) {
  EXPECT_EQ(toggledImage(ImgPlus), ImgPlusMarked);
  EXPECT_EQ(toggledImage(ImgMinus), ImgMinusMarked);
  EXPECT_EQ(toggledImage(ImgQuestion), ImgQuestionMarked);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(toggledImage(toggledImage(i)), i);
}

TEST_F(Monitor, NoLocalPrinterGivesCodeZeroAndTheErrorSign) {
  printer("\\\\server\\remote", false, "", true);
  auto core = make(Mode::Set);
  const auto r = core->initialise();
  EXPECT_TRUE(core->printerRows().empty());
  EXPECT_EQ(core->code(), 0);
  EXPECT_EQ(core->infoText().toStdString(),
            "Acceptable printers not found! Please install new printer. Read Help for details.");
  EXPECT_EQ(core->infoImage(), InfoError);
  EXPECT_EQ(readKodEstPrinters(), 0);
  // "set" with nothing acceptable does no work and stays open.
  EXPECT_FALSE(r.closeNow);
  EXPECT_EQ(r.closeTimerMs, 0);
  EXPECT_TRUE(spooler.log.empty());
}

TEST_F(Monitor, AnyAcceptableLocalPrinterGivesCodeOneWhateverItsPlace) {
  printer("Good");
  printer("NoAdmin").canAdminister = false;
  auto core = make(Mode::Work);
  core->initialise();
  EXPECT_EQ(core->code(), 1);
  EXPECT_EQ(core->infoImage(), InfoInformation);
  EXPECT_EQ(core->infoText().toStdString(),
            "Acceptable printers exist. Read Help to learn more how to control printers.");
  EXPECT_EQ(readKodEstPrinters(), 1);
  EXPECT_EQ(core->localPrinters()[0].acceptability, 1);
  EXPECT_EQ(core->localPrinters()[1].acceptability, 2);

  const PrinterRow &good = core->printerRows()[0];
  EXPECT_EQ(good.image, ImgPlus);
  EXPECT_EQ(good.status, "Ready");
  EXPECT_EQ(good.port, "LPT1:");
  EXPECT_EQ(good.datatype, "RAW");
  EXPECT_EQ(good.documents, "") << "filled at the first refresh tick";
  ASSERT_FALSE(good.response.empty());
  EXPECT_GE(std::stol(good.response), 0);
  const PrinterRow &noAdmin = core->printerRows()[1];
  EXPECT_EQ(noAdmin.image, ImgQuestion);
  EXPECT_EQ(noAdmin.status, "Unable to connect");
  EXPECT_EQ(noAdmin.response, "");

  // The refresh tick shows the status words and the plus image for a printer that opens without administering.
  core->refreshTick();
  EXPECT_EQ(core->printerRows()[1].status, "Ready");
  EXPECT_EQ(core->printerRows()[1].image, ImgPlus);
  EXPECT_EQ(core->printerRows()[1].itemData, ImgPlus);
  EXPECT_EQ(core->printerRows()[1].documents, "0");
}

TEST_F(Monitor, AUserWhoMayAdministerNoQueueIsToldWhatIsMissingAndNothingIsPrepared) {
  printer("A").canAdminister = false;
  printer("B").canAdminister = false;
  auto core = make(Mode::Set);
  const auto r = core->initialise();
  EXPECT_TRUE(core->rightsMissing());
  EXPECT_EQ(core->code(), 0) << "the printers are not prepared";
  EXPECT_EQ(readKodEstPrinters(), 0);
  EXPECT_EQ(core->infoImage(), InfoError);
  EXPECT_NE(core->infoText().toStdString().find("lpadmin"), std::string::npos);
  // "set" does not claim success: it stays open with the message, and it has paused nothing.
  EXPECT_FALSE(r.closeNow);
  EXPECT_TRUE(spooler.log.empty());
  EXPECT_TRUE(notices.empty()) << "the Info row says it, once";
  core->refreshTick();
  EXPECT_EQ(core->infoText(), rightsMissingText());
}

TEST_F(Monitor, OnTheLegacyPlatformOnlyEmfQueuesAreAcceptable) {
  printer("Raw");
  printer("Emf").info.datatype = "EMF";
  printer("Lower").info.datatype = "emf";
  auto core = make(Mode::Work);
  core->setLegacyPlatform(true);
  core->initialise();
  EXPECT_EQ(core->printerRows()[0].image, ImgQuestion);
  EXPECT_EQ(core->printerRows()[1].image, ImgPlus);
  EXPECT_EQ(core->printerRows()[2].image, ImgQuestion);
  EXPECT_EQ(core->code(), 1);
  // On the NT family the datatype does not matter.
  auto nt = make(Mode::Work);
  nt->initialise();
  EXPECT_EQ(nt->printerRows()[0].image, ImgPlus);
}

TEST_F(Monitor, ConnectionsAreListedOnlyInTheWorkMode) {
  printer("Local");
  printer("\\\\srv\\Up", false, "", true);
  printer("\\\\srv\\Down", false, "", true).canAdminister = false;
  auto set = make(Mode::None);
  set->initialise();
  EXPECT_EQ(set->printerRows().size(), 1u);

  auto work = make(Mode::Work);
  work->initialise();
  ASSERT_EQ(work->printerRows().size(), 3u);
  EXPECT_EQ(work->printerRows()[1].image, ImgQuestion);
  EXPECT_EQ(work->printerRows()[1].status, "Ready");
  EXPECT_EQ(work->printerRows()[2].image, ImgMinus);
  EXPECT_EQ(work->printerRows()[2].status, "Unable to connect");
  // Connections never count for the code.
  EXPECT_EQ(work->code(), 1);
  // After a tick a connection is not a local printer: minus image.
  work->refreshTick();
  EXPECT_EQ(work->printerRows()[1].image, ImgMinus);
}

TEST_F(Monitor, RefreshTickShowsCountsAndConnectionFailures) {
  printer("Busy");
  spooler.addJob("Busy", "one");
  spooler.addJob("Busy", "two");
  printer("Gone");
  auto core = make(Mode::Work);
  core->initialise();
  spooler.find("Gone")->canOpen = false;
  const int before = spooler.snapshots;
  core->refreshTick();
  EXPECT_EQ(spooler.snapshots, before + 1) << "one look at the server per tick";
  const auto &rows = core->printerRows();
  EXPECT_EQ(rows[0].documents, "2");
  EXPECT_EQ(rows[0].status, "Ready");
  EXPECT_EQ(rows[1].documents, "Unable to connect");
  EXPECT_EQ(rows[1].status, "Unable to connect");
  for (const PrinterRow &r : rows)
    EXPECT_GE(std::stol(r.response), 0);
  // A printer that stays unreadable is reported once, not at every tick.
  core->refreshTick();
  core->refreshTick();
  const auto t = texts();
  EXPECT_EQ(std::count(t.begin(), t.end(), "!bFlag || !hPrinter. Error 020010"), 1);
  for (const Notice &n : notices) {
    EXPECT_EQ(n.caption.toStdString(), "Error");
    EXPECT_FALSE(n.ownedByDialog);
  }
  // Once it reads again, a later failure is reported again.
  spooler.find("Gone")->canOpen = true;
  core->refreshTick();
  spooler.find("Gone")->canOpen = false;
  core->refreshTick();
  const auto t2 = texts();
  EXPECT_EQ(std::count(t2.begin(), t2.end(), "!bFlag || !hPrinter. Error 020010"), 2);
}

TEST_F(Monitor, APrinterReadingWellDoesNotRenewAnotherPrintersReport) {
  printer("Gone");
  printer("Not Gone");
  auto core = make(Mode::Work);
  core->initialise();
  spooler.find("Not Gone")->canOpen = false; // its name ends like the other one
  for (int i = 0; i < 3; ++i)
    core->refreshTick();
  const auto t = texts();
  EXPECT_EQ(std::count(t.begin(), t.end(), "!bFlag || !hPrinter. Error 020010"), 1);
}

TEST_F(Monitor, AVanishedPrinterIsReportedByItsTableAndKeepsItsValues) {
  printer("L");
  printer("\\\\s\\C", false, "", true);
  auto core = make(Mode::Work);
  core->initialise();
  spooler.find("L")->canOpen = false;
  spooler.find("L")->info.port = "changed";
  spooler.find("\\\\s\\C")->canOpen = false;
  core->refreshTick();
  EXPECT_EQ(core->localPrinters()[0].port, "LPT1:") << "a printer that fails keeps its values";
  const auto t = texts();
  EXPECT_NE(std::find(t.begin(), t.end(), "!bFlag || !hPrinter. Error 020010"), t.end());
  EXPECT_NE(std::find(t.begin(), t.end(), "!bFlag || !hPrinter. Error 020013"), t.end());
}

TEST_F(Monitor, WithoutAServerNothingIsWrittenAndTheNextTickRecovers) {
  writeAll(defaultFile(), "2\nA\nFALSE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\n");
  writeAll(preparedFile(), "2\nA\nTRUE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\n");
  const std::string defaults = readAll(defaultFile()), prepared = readAll(preparedFile());
  printer("A");
  printer("B", true, "LPT2:");
  spooler.serverDown = true;
  {
    // "work" started while the server is down, and closed before it comes back.
    auto work = make(Mode::Work);
    EXPECT_FALSE(work->initialise().closeNow);
    EXPECT_TRUE(work->serverDown());
    EXPECT_EQ(work->infoText(), serverDownText());
    EXPECT_EQ(work->infoImage(), InfoError);
    EXPECT_EQ(readKodEstPrinters(), 0) << "not ready while the printers cannot be prepared";
    work->refreshTick();
    work->recordPreparedSettings();
    recordPreparedSettings(Mode::Work, work->view().prepared);
  }
  // "set" waits for the server instead of recording "no printers".
  auto set = make(Mode::Set);
  const auto r = set->initialise();
  EXPECT_FALSE(r.closeNow);
  EXPECT_EQ(r.closeTimerMs, 0);
  EXPECT_FALSE(set->refreshTick());
  EXPECT_EQ(readAll(defaultFile()), defaults);
  EXPECT_EQ(readAll(preparedFile()), prepared);
  EXPECT_TRUE(spooler.log.empty());
  EXPECT_TRUE(notices.empty()) << "the outage is told in the Info row, not by a box per printer";
  // The server comes back: the next tick prepares the printers and ends "set".
  spooler.serverDown = false;
  EXPECT_TRUE(set->refreshTick());
  EXPECT_EQ(spooler.log, std::vector<std::string>{"pause A"});
  EXPECT_EQ(set->code(), 1);
  EXPECT_EQ(readKodEstPrinters(), 1);
  EXPECT_EQ(readAll(defaultFile()), defaults);
}

TEST_F(Monitor, AnOutageDuringWorkShowsTheServerStateAndRecovers) {
  printer("A");
  spooler.addJob("A", "doc");
  auto core = make(Mode::Work);
  core->initialise();
  const std::string defaults = readAll(defaultFile());
  spooler.serverDown = true;
  for (int i = 0; i < 3; ++i)
    core->refreshTick();
  EXPECT_TRUE(core->serverDown());
  EXPECT_EQ(core->printerRows()[0].status, "Unable to connect");
  EXPECT_EQ(core->printerRows()[0].documents, "Unable to connect");
  EXPECT_TRUE(notices.empty());
  EXPECT_FALSE(core->preparedRecord()) << "nothing to record while the server is away";
  spooler.serverDown = false;
  core->refreshTick();
  EXPECT_FALSE(core->serverDown());
  EXPECT_EQ(core->infoText(), infoTextFor(1));
  core->refreshTick();
  EXPECT_EQ(core->printerRows()[0].documents, "1");
  EXPECT_EQ(readAll(defaultFile()), defaults);
  EXPECT_TRUE(core->preparedRecord());
}

TEST_F(Monitor, FirstRunWritesBothSettingsFiles) {
  printer("Paused", true, "LPT1:");
  printer("Running", false, "USB001");
  printer("\\\\srv\\Net", false, "IP_1.2.3.4", true);
  auto core = make(Mode::None);
  core->initialise();
  EXPECT_EQ(readAll(defaultFile()), "3\nPaused\nTRUE\nLPT1:\nRAW\nRunning\nFALSE\nUSB001\nRAW\n"
                                    "\\\\srv\\Net\nFALSE\nIP_1.2.3.4\nRAW\n");
  EXPECT_EQ(readAll(preparedFile()), "3\nPaused\nTRUE\nLPT1:\nRAW\nRunning\nTRUE\nUSB001\nRAW\n"
                                     "\\\\srv\\Net\nFALSE\nIP_1.2.3.4\nRAW\n");
  EXPECT_EQ(core->defaultTable().size(), 3u);
  EXPECT_EQ(core->preparedTable().size(), 3u);
}

TEST_F(Monitor, StartUpAddsANewPrinterWithoutRewritingTheOthers) {
  // Folvex runs: the old queue is paused for capture, its normal setting is "not paused".
  writeAll(defaultFile(), "1\nOld\nFALSE\nLPT1:\nRAW\n");
  writeAll(preparedFile(), "1\nOld\nTRUE\nLPT1:\nRAW\n");
  printer("Old", true);
  printer("New", false, "USB001");
  auto core = make(Mode::Work);
  core->initialise();
  // The new printer gets its entry from its present state; the old entry keeps its normal setting.
  EXPECT_EQ(readAll(defaultFile()), "2\nOld\nFALSE\nLPT1:\nRAW\nNew\nFALSE\nUSB001\nRAW\n");
  EXPECT_EQ(readAll(preparedFile()), "1\nOld\nTRUE\nLPT1:\nRAW\n");
  EXPECT_EQ(core->printerRows()[0].image, ImgPlusMarked) << "paused, normally not";
  EXPECT_EQ(core->printerRows()[1].image, ImgPlus);

  // Restoring at the end resumes the old queue.
  auto refresh = make(Mode::Refresh);
  refresh->initialise();
  EXPECT_FALSE(paused("Old"));
  EXPECT_FALSE(paused("New"));
}

TEST_F(Monitor, SetModeAppliesPreparedSettingsButNeverTouchesNetworkOrIpEntries) {
  writeAll(defaultFile(), "4\nA\nFALSE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\n"
                          "\\\\srv\\N\nFALSE\nLPT3:\nRAW\nIpPrinter\nFALSE\nIP_10.1.1.1\nRAW\n");
  writeAll(preparedFile(), "4\nA\nTRUE\nLPT1:\nRAW\nB\nFALSE\nLPT2:\nRAW\n"
                           "\\\\srv\\N\nTRUE\nLPT3:\nRAW\nIpPrinter\nTRUE\nIP_10.1.1.1\nRAW\n");
  printer("A", false);
  printer("B", true, "LPT2:");
  printer("\\\\srv\\N", false, "LPT3:");
  printer("IpPrinter", false, "IP_10.1.1.1");
  auto core = make(Mode::Set);
  const auto r = core->initialise();
  EXPECT_TRUE(r.closeNow);
  EXPECT_EQ(r.closeTimerMs, 5000);
  EXPECT_EQ(spooler.log, (std::vector<std::string>{"pause A", "resume B"}));
  EXPECT_FALSE(paused("\\\\srv\\N"));
  EXPECT_FALSE(paused("IpPrinter"));
}

TEST_F(Monitor, SetModePausesEveryPrinterMissingFromThePreparedFileAndRecordsThem) {
  writeAll(defaultFile(), "3\nA\nFALSE\nLPT1:\nRAW\nLate\nFALSE\nUSB001\nRAW\nLater\nFALSE\nUSB002\nRAW\n");
  writeAll(preparedFile(), "1\nA\nTRUE\nLPT1:\nRAW\n");
  printer("A", false);
  printer("Late", false, "USB001");
  printer("Later", false, "USB002");
  auto core = make(Mode::Set);
  core->initialise();
  EXPECT_TRUE(paused("A"));
  EXPECT_TRUE(paused("Late"));
  EXPECT_TRUE(paused("Later"));
  // The printers just paused are recorded as prepared "paused", so that restoring resumes them.
  EXPECT_EQ(readAll(preparedFile()), "3\nA\nTRUE\nLPT1:\nRAW\nLate\nTRUE\nUSB001\nRAW\nLater\nTRUE\nUSB002\nRAW\n");
  auto restore = make(Mode::Refresh);
  restore->initialise();
  EXPECT_FALSE(paused("A"));
  EXPECT_FALSE(paused("Late"));
  EXPECT_FALSE(paused("Later"));
}

TEST_F(Monitor, SetModeLeavesANewNetworkOrIpPrinterAlone) {
  writeAll(defaultFile(), "2\nA\nFALSE\nLPT1:\nRAW\nIpNew\nFALSE\nIP_10.0.0.2\nRAW\n");
  writeAll(preparedFile(), "1\nA\nTRUE\nLPT1:\nRAW\n");
  printer("A", false);
  printer("IpNew", false, "IP_10.0.0.2");
  auto core = make(Mode::Set);
  core->initialise();
  EXPECT_TRUE(paused("A"));
  EXPECT_FALSE(paused("IpNew")) << "restoring would skip it and leave it paused for good";
}

TEST_F(Monitor, RefreshModeRestoresTheDefaultSettings) {
  writeAll(defaultFile(), "3\nA\nFALSE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\nIpP\nFALSE\nIP_x\nRAW\n");
  writeAll(preparedFile(), "3\nA\nTRUE\nLPT1:\nRAW\nB\nFALSE\nLPT2:\nRAW\nIpP\nTRUE\nIP_x\nRAW\n");
  printer("A", true);
  printer("B", false, "LPT2:");
  printer("IpP", true, "IP_x");
  auto core = make(Mode::Refresh);
  const auto r = core->initialise();
  EXPECT_TRUE(r.closeNow);
  EXPECT_EQ(r.closeTimerMs, 5000);
  EXPECT_EQ(spooler.log, (std::vector<std::string>{"resume A", "pause B"}));
  EXPECT_TRUE(paused("IpP"));
  // Without a prepared file nothing is restored.
  QFile::remove(QString::fromStdString(preparedFile()));
  spooler.log.clear();
  auto none = make(Mode::Refresh);
  none->initialise();
  EXPECT_TRUE(spooler.log.empty());
}

TEST_F(Monitor, RefreshAndDeleteAllAsksAndRestoresEitherWay) {
  writeAll(defaultFile(), "2\nA\nFALSE\nLPT1:\nRAW\nIpP\nFALSE\nIP_x\nRAW\n");
  writeAll(preparedFile(), "2\nA\nTRUE\nLPT1:\nRAW\nIpP\nTRUE\nIP_x\nRAW\n");
  printer("A", true);
  printer("IpP", false, "IP_x");
  captured("A", spooler.addJob("A", "held").jobId);
  captured("IpP", spooler.addJob("IpP", "on the network printer").jobId);
  {
    auto no = make(Mode::RefreshAndDeleteAll, false);
    const auto r = no->initialise();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(r.closeTimerMs, 10000);
    EXPECT_TRUE(r.closeNow);
    EXPECT_EQ(spooler.find("A")->jobs.size(), 1u);
    EXPECT_FALSE(paused("A"));
  }
  spooler.find("A")->info.status = platform::PRINTER_STATUS_PAUSED;
  spooler.log.clear();
  auto yes = make(Mode::RefreshAndDeleteAll, true);
  yes->initialise();
  EXPECT_TRUE(spooler.find("A")->jobs.empty());
  EXPECT_EQ(spooler.find("IpP")->jobs.size(), 1u) << "a network queue is left alone";
  EXPECT_EQ(spooler.log.front(), "delete A 1") << "jobs are deleted on the NT family";
  EXPECT_FALSE(paused("A"));
  EXPECT_EQ(platform::capturedJobs().size(), 1u) << "the cancelled job is forgotten";
}

TEST_F(Monitor, DeleteAllCancelsExactlyTheCapturedJobsOfThisUser) {
  printer("A");
  printer("B");
  const uint32_t mine = spooler.addJob("A", "captured").jobId;
  spooler.addJob("A", "never shown");
  auto &other = spooler.addJob("B", "another user's");
  other.userName = "ann";
  captured("A", mine);
  captured("B", other.jobId);
  captured("A", 999); // gone meanwhile
  auto core = make(Mode::DeleteAll);
  core->setLegacyPlatform(true);
  const auto r = core->initialise();
  EXPECT_TRUE(r.closeNow);
  EXPECT_EQ(r.closeTimerMs, 5000);
  EXPECT_EQ(questions, 0);
  EXPECT_EQ(spooler.log, std::vector<std::string>{"cancel A 1"});
  EXPECT_EQ(spooler.find("A")->jobs.size(), 1u);
  EXPECT_EQ(spooler.find("B")->jobs.size(), 1u);
  const auto left = platform::capturedJobs();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].jobId, other.jobId);
}

TEST_F(Monitor, DeleteAllRemovesACapturedSpoolJobsShadowAndDataFiles) {
  printer("A");
  const QDir spool(QString::fromStdString(platform::spoolFolder()));
  for (const char *name : {"00012.SHD", "00012.spl", "00013.SHD", "00013.SPL"})
    writeAll(spool.filePath(QString::fromLatin1(name)).toStdString(), "x");
  writeAll(path("tmp").toStdString() + "/elsewhere.SHD", "x");
  ASSERT_TRUE(platform::recordCapturedJob(
      {platform::CapturedJob::Kind::Spool, {}, 0, spool.filePath(QStringLiteral("00012.SHD")).toStdString()}));
  ASSERT_TRUE(platform::recordCapturedJob(
      {platform::CapturedJob::Kind::Spool, {}, 0, path("tmp").toStdString() + "/elsewhere.SHD"}));
  make(Mode::DeleteAll)->initialise();
  EXPECT_EQ(spool.entryList(QDir::Files), (QStringList{"00013.SHD", "00013.SPL"}));
  EXPECT_TRUE(QFile::exists(path("tmp") + QStringLiteral("/elsewhere.SHD"))) << "only the spool folder's files";
  EXPECT_TRUE(platform::capturedJobs().empty());
}

TEST_F(Monitor, TheLegacyPlatformIsTakenFromTheSystem) {
  printer("Raw");
  captured("Raw", spooler.addJob("Raw", "doc").jobId);
  platform::forcePlatformId(platform::VER_PLATFORM_WIN32_WINDOWS);
  auto legacy = make(Mode::DeleteAll);
  platform::forcePlatformId(0);
  legacy->initialise();
  EXPECT_EQ(legacy->printerRows()[0].image, ImgQuestion) << "a RAW queue is not acceptable there";
  EXPECT_EQ(spooler.log, std::vector<std::string>{"cancel Raw 1"});
}

TEST_F(Monitor, AFolvexThatDidNotEndLeavesItsQueuesToBeRestoredAtTheNextStart) {
  writeAll(defaultFile(), "2\nA\nFALSE\nLPT1:\nRAW\nB\nFALSE\nLPT2:\nRAW\n");
  writeAll(preparedFile(), "2\nA\nTRUE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\n");
  printer("A");
  printer("B", false, "LPT2:");
  make(Mode::Set)->initialise();
  EXPECT_TRUE(paused("A") && paused("B"));
  EXPECT_TRUE(preparedMarkExists());
  // Folvex is killed: no restore runs. Meanwhile the user's prepared setting of B became "not paused".
  writeAll(preparedFile(), "2\nA\nTRUE\nLPT1:\nRAW\nB\nFALSE\nLPT2:\nRAW\n");
  // The monitor opened by hand while a Folvex runs leaves the queues alone.
  folvexRunning = true;
  make(Mode::Work)->initialise();
  EXPECT_TRUE(paused("A") && paused("B"));
  // The next Folvex start: restored from the default settings, then prepared again.
  spooler.log.clear();
  make(Mode::Set)->initialise();
  EXPECT_EQ(spooler.log, (std::vector<std::string>{"resume A", "resume B", "pause A"}));
  EXPECT_FALSE(paused("B"));
  // Its normal end removes the mark.
  make(Mode::Refresh)->initialise();
  EXPECT_FALSE(preparedMarkExists());
  EXPECT_FALSE(paused("A"));

  // Killed again; this time the monitor is started by hand while no Folvex runs: it restores at once.
  make(Mode::Set)->initialise();
  folvexRunning = false;
  EXPECT_TRUE(paused("A"));
  make(Mode::Work)->initialise();
  EXPECT_FALSE(paused("A"));
  EXPECT_FALSE(preparedMarkExists());
}

TEST_F(Monitor, OtherModesStayOpen) {
  printer("A");
  for (Mode m : {Mode::Work, Mode::None}) {
    auto core = make(m);
    const auto r = core->initialise();
    EXPECT_FALSE(r.closeNow);
    EXPECT_EQ(r.closeTimerMs, 0);
  }
  EXPECT_TRUE(spooler.log.empty());
}

TEST_F(Monitor, ClickingAPrinterShowsItsJobsAndButtons) {
  printer("Idle");
  auto &p = printer("Held", true, "USB001");
  auto &j1 = spooler.addJob("Held", "Report.pdf");
  j1.machineName = "desk-7";
  j1.userName = "ann";
  j1.totalPages = 12;
  j1.status = platform::JOB_STATUS_BLOCKED_DEVQ | platform::JOB_STATUS_PAPEROUT;
  j1.datatype = "application/pdf";
  j1.submittedUtc = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC).toSecsSinceEpoch();
  auto &j2 = spooler.addJob("Held", "Letter");
  j2.statusText = "waiting for the paper";
  j2.status = platform::JOB_STATUS_ERROR;
  (void)p;
  auto core = make(Mode::Work);
  core->initialise();
  EXPECT_FALSE(core->buttons().cancelAll);

  core->clickPrinterRows({});
  EXPECT_EQ(core->selectedRow(), -1) << "a click outside any row changes nothing";
  EXPECT_TRUE(core->selectedPrinterBox().empty());

  core->clickPrinterRows({1});
  EXPECT_EQ(core->selectedPrinter(), "Held");
  EXPECT_EQ(core->selectedPrinterBox(), std::vector<std::string>{"Held"});
  EXPECT_TRUE(core->buttons().resume);
  EXPECT_FALSE(core->buttons().setToPause);
  EXPECT_FALSE(core->buttons().saveSetting);
  EXPECT_TRUE(core->buttons().cancelAll);
  ASSERT_EQ(core->jobs().size(), 2u);
  const JobRecord &a = core->jobs()[0];
  EXPECT_EQ(a.document, "Report.pdf");
  EXPECT_EQ(a.status, "Blocked-PaperOut");
  EXPECT_EQ(a.owner, "ann") << "the user who submitted it";
  EXPECT_EQ(a.pages, "12");
  EXPECT_EQ(a.submitted, "3:04:05 AM 1/2/24");
  EXPECT_EQ(a.port, "USB001") << "the printer's port";
  EXPECT_EQ(a.datatype, "application/pdf");
  EXPECT_EQ(core->jobs()[1].status, "waiting for the paper");

  core->clickJobRows({1});
  EXPECT_EQ(core->selectedJob(), core->jobs()[1].jobId);
  ASSERT_TRUE(core->selectedJobBox());
  EXPECT_EQ(core->selectedJobBox()->first, "Letter");
  EXPECT_TRUE(core->buttons().cancelCurrent);
  core->cancelCurrentDocument();
  EXPECT_FALSE(core->buttons().cancelCurrent);
  EXPECT_FALSE(core->selectedJobBox());
  EXPECT_EQ(spooler.find("Held")->jobs.size(), 1u);
  EXPECT_EQ(core->jobs().size(), 2u) << "the job list shows the change at the next tick";
  core->refreshTick();
  EXPECT_EQ(core->jobs().size(), 1u);

  // Another user's job is left alone, by either button.
  core->clickJobRows({0});
  core->cancelCurrentDocument();
  EXPECT_EQ(spooler.find("Held")->jobs.size(), 1u);
  spooler.addJob("Held", "mine");
  core->cancelAllDocuments(1);
  ASSERT_EQ(spooler.find("Held")->jobs.size(), 1u);
  EXPECT_EQ(spooler.find("Held")->jobs[0].userName, "ann");
  ASSERT_EQ(core->jobs().size(), 1u) << "the list is filled again at once";

  // The other printer: no jobs, cancelling all changes nothing.
  core->clickPrinterRows({0});
  EXPECT_TRUE(core->buttons().setToPause);
  EXPECT_FALSE(core->buttons().resume);
  spooler.log.clear();
  core->cancelAllDocuments(0);
  EXPECT_TRUE(spooler.log.empty());
  EXPECT_TRUE(core->jobs().empty());
}

TEST_F(Monitor, RefreshWithNothingSelectedLeavesTheJobListAlone) {
  printer("A");
  spooler.addJob("A", "doc");
  auto core = make(Mode::Work);
  core->initialise();
  core->refreshTick();
  EXPECT_TRUE(core->jobs().empty());
  EXPECT_TRUE(core->selectedPrinterBox().empty());
  core->clickPrinterRows({0});
  spooler.addJob("A", "second");
  core->refreshTick();
  EXPECT_EQ(core->jobs().size(), 2u);
}

TEST_F(Monitor, PauseAndResumeToggleTheImageAndReportFailures) {
  printer("A");
  auto core = make(Mode::Work);
  core->initialise();
  core->setToPause();
  EXPECT_TRUE(spooler.log.empty()) << "nothing happens without a selected row";
  core->clickPrinterRows({0});
  const int before = core->printerRows()[0].image;
  core->setToPause();
  EXPECT_TRUE(paused("A"));
  EXPECT_EQ(core->printerRows()[0].image, toggledImage(before));
  EXPECT_FALSE(core->buttons().setToPause);
  EXPECT_TRUE(core->buttons().resume);
  EXPECT_TRUE(core->buttons().saveSetting);
  core->resume();
  EXPECT_FALSE(paused("A"));
  EXPECT_EQ(core->printerRows()[0].image, before);
  EXPECT_EQ(core->printerRows()[0].status, "Ready");

  spooler.find("A")->controlFails = true;
  core->setToPause();
  core->resume();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text.toStdString(), "Cannot set this printer to pause! Error 020005");
  EXPECT_EQ(notices[1].text.toStdString(), "Cannot resume this printer! Error 020004");
  for (const Notice &n : notices) {
    EXPECT_TRUE(n.ownedByDialog);
    EXPECT_EQ(n.caption.toStdString(), "qvt");
  }
}

TEST_F(Monitor, SaveSettingRecordsThePrinterAndClearsItsMark) {
  printer("Alpha", false);
  printer("Bravo", false, "LPT2:");
  auto core = make(Mode::Work);
  core->initialise();
  const std::string first = readAll(defaultFile());
  // Saving an entry that already equals the state rewrites the same bytes and disables the button.
  core->clickPrinterRows({1});
  core->setToPause();
  core->resume();
  ASSERT_TRUE(core->buttons().saveSetting);
  core->saveSetting();
  EXPECT_FALSE(core->buttons().saveSetting);
  EXPECT_EQ(readAll(defaultFile()), first);

  // Saved right after the pause, before any refresh: the queue's real state is saved.
  core->setToPause();
  EXPECT_TRUE(core->changedMark("Bravo"));
  EXPECT_EQ(core->printerRows()[1].image, ImgPlusMarked);
  core->saveSetting();
  EXPECT_FALSE(core->changedMark("Bravo"));
  EXPECT_EQ(readAll(defaultFile()), "2\nAlpha\nFALSE\nLPT1:\nRAW\nBravo\nTRUE\nLPT2:\nRAW\n");
  EXPECT_TRUE(notices.empty());
}

TEST_F(Monitor, SaveSettingIgnoresNamesOfTwoCharactersOrLess) {
  printer("AB", false);
  auto core = make(Mode::Work);
  core->initialise();
  const std::string before = readAll(defaultFile());
  core->clickPrinterRows({0});
  core->setToPause();
  core->refreshTick();
  core->saveSetting();
  EXPECT_TRUE(core->buttons().saveSetting);
  EXPECT_EQ(readAll(defaultFile()), before);
  EXPECT_TRUE(notices.empty());
}

TEST_F(Monitor, SaveSettingReportsAFileThatCannotBeWritten) {
  printer("Printer");
  auto core = make(Mode::Work);
  core->initialise();
  core->clickPrinterRows({0});
  QFile::remove(QString::fromStdString(defaultFile()));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(defaultFile()))); // a folder where the file should be
  core->saveSetting();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text.toStdString(), "Create lvFXPrn.ini Error! 020009");
  EXPECT_EQ(notices[0].caption.toStdString(), "QRPrnSupport Message");
  EXPECT_FALSE(notices[0].ownedByDialog);
  EXPECT_EQ(notices[1].text.toStdString(), "Cannot update Ini-file! Error 020003");
  EXPECT_TRUE(notices[1].ownedByDialog);
}

TEST_F(Monitor, SetAllToDefaultPausesEveryLocalQueueWithDefaultsNotPaused) {
  printer("A", false);
  printer("B", true, "LPT2:");
  printer("C", false, "LPT3:").controlFails = true;
  printer("\\\\s\\Net", false, "", true);
  printer("IpQueue", false, "IP_10.0.0.9");
  auto core = make(Mode::Work);
  core->initialise();
  core->setAllToDefault();
  EXPECT_FALSE(paused("IpQueue")) << "a network queue is never paused";
  EXPECT_TRUE(paused("A"));
  EXPECT_FALSE(paused("\\\\s\\Net"));
  EXPECT_EQ(core->printerRows()[0].status, "Paused");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text.toStdString(), "Cannot set this printer to pause! Error 020006");
  EXPECT_EQ(readAll(defaultFile()), "5\nA\nFALSE\nLPT1:\nRAW\nB\nFALSE\nLPT2:\nRAW\nC\nFALSE\nLPT3:\nRAW\n"
                                    "IpQueue\nFALSE\nIP_10.0.0.9\nRAW\n\\\\s\\Net\nFALSE\n\nRAW\n");
  // Restoring resumes them all when Folvex ends.
  writeAll(preparedFile(), "3\nA\nTRUE\nLPT1:\nRAW\nB\nTRUE\nLPT2:\nRAW\nC\nTRUE\nLPT3:\nRAW\n");
  spooler.find("C")->controlFails = false;
  spooler.find("C")->info.status = platform::PRINTER_STATUS_PAUSED;
  auto refresh = make(Mode::Refresh);
  refresh->initialise();
  EXPECT_FALSE(paused("A"));
  EXPECT_FALSE(paused("B"));
  EXPECT_FALSE(paused("C"));
}

TEST_F(Monitor, PreparedSettingsAreRecordedAtTheEndOfWorkAndFirstSet) {
  printer("A", false);
  {
    auto work = make(Mode::Work);
    work->initialise();
    work->clickPrinterRows({0});
    work->setToPause();
    work->refreshTick();
    work->recordPreparedSettings();
  }
  EXPECT_EQ(readAll(preparedFile()), "1\nA\nTRUE\nLPT1:\nRAW\n");

  spooler.find("A")->info.status = 0;
  {
    auto refresh = make(Mode::Refresh);
    refresh->recordPreparedSettings();
    auto set = make(Mode::Set);
    set->initialise();
    set->recordPreparedSettings();
  }
  EXPECT_EQ(readAll(preparedFile()), "1\nA\nTRUE\nLPT1:\nRAW\n") << "left alone when it exists";
  QFile::remove(QString::fromStdString(preparedFile()));
  spooler.find("A")->info.status = 0;
  {
    auto set = make(Mode::Set);
    set->enumeratePrinters();
    set->recordPreparedSettings();
  }
  EXPECT_EQ(readAll(preparedFile()), "1\nA\nFALSE\nLPT1:\nRAW\n") << "a first set records the queues as they are";
}

TEST_F(Monitor, StoredCodeEqualToTheComputedOneIsNotRewritten) {
  printer("A");
  ASSERT_TRUE(writeKodEstPrinters(1));
  const QString hive = QString::fromStdString(platform::hiveFilePath(platform::Hive::CurrentUser));
  const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-1);
  {
    QFile f(hive);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  }
  auto core = make(Mode::None);
  core->enumeratePrinters();
  writeAll(defaultFile(), "1\nA\nFALSE\nLPT1:\nRAW\n");
  core->startupSynchronisation();
  core->fillPrintersList();
  EXPECT_EQ(core->code(), 1);
  EXPECT_EQ(QFileInfo(hive).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
}

} // namespace
