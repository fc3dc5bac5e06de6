// The monitor dialog: its controls, the small window of the command modes, timers, help topics and links.
#include "monitor/monitor_dialog.h"
#include "monitor/monitor_icons.h"
#include "platform/captured_jobs.h"
#include "platform/registry.h"
#include "platform/spooler_memory.h"

#include "test_env.h"

#include <QEnterEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace {

using namespace monitor;

class Dialog : public MonitorEnv {
protected:
  void SetUp() override {
    MonitorEnv::SetUp();
    auto &a = spooler.add("Office");
    a.info.port = "USB001";
    a.info.datatype = "RAW";
    spooler.addJob("Office", "Minutes.odt").userName = "desk";
  }
  std::unique_ptr<MonitorDialog> make(Mode mode) {
    auto d = std::make_unique<MonitorDialog>(spooler, mode);
    d->setNotifier([this](const Notice &n) { notices.push_back(n); });
    d->setQuestion([] { return false; });
    return d;
  }
  static QStringList headers(QTreeWidget *list) {
    QStringList out;
    for (int i = 0; i < list->columnCount(); ++i)
      out << list->headerItem()->text(i);
    return out;
  }
  static QList<int> widths(QTreeWidget *list) {
    QList<int> out;
    for (int i = 0; i < list->columnCount(); ++i)
      out << list->columnWidth(i);
    return out;
  }
  platform::MemorySpooler spooler;
  std::vector<Notice> notices;
};

TEST_F(Dialog, WorkModeShowsTheFullDialogWithItsListsAndButtons) {
  auto d = make(Mode::Work);
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Tarvik Quenby v.1.0"));
  EXPECT_FALSE(d->isSmall());
  EXPECT_GT(d->height(), 300);
  EXPECT_FALSE(d->windowIcon().isNull());

  EXPECT_EQ(headers(d->printersList()),
            (QStringList{"Printer Name", "Documents", "Status", "Port", "Datatype", "Response"}));
  EXPECT_EQ(widths(d->printersList()), (QList<int>{240, 75, 75, 114, 65, 65}));
  EXPECT_EQ(headers(d->jobList()),
            (QStringList{"Document Name", "Status", "Owner", "Pages", "Submitted", "Port", "Datatype"}));
  EXPECT_EQ(widths(d->jobList()), (QList<int>{182, 65, 118, 42, 113, 52, 62}));
  EXPECT_TRUE(d->infoList()->isHeaderHidden());
  EXPECT_TRUE(d->selectedPrinterBox()->isHeaderHidden());
  EXPECT_FALSE(d->printersList()->isHeaderHidden());
  EXPECT_EQ(d->printersList()->palette().color(QPalette::Base), QColor(192, 255, 192));
  EXPECT_EQ(d->jobList()->palette().color(QPalette::Base), QColor(192, 192, 255));
  EXPECT_EQ(d->infoList()->palette().color(QPalette::Base), QColor(Qt::black));
  EXPECT_EQ(d->infoList()->palette().color(QPalette::Text), QColor(0, 255, 0));

  // The controls keep the order of the dialog template: lists above the buttons, links at the bottom right.
  EXPECT_LT(d->printersList()->geometry().bottom(), d->jobList()->geometry().top());
  EXPECT_LT(d->jobList()->geometry().bottom(), d->button(1024)->geometry().top());
  EXPECT_GT(d->mailLink()->geometry().left(), d->button(1)->geometry().right());

  for (int id : {1024, 1012, 1002, 1027, 1028})
    EXPECT_FALSE(d->button(id)->isEnabled()) << id;
  for (int id : {1005, 1, 1033})
    EXPECT_TRUE(d->button(id)->isEnabled()) << id;
  EXPECT_TRUE(d->button(2)->isHidden());

  QSignalSpy finished(d.get(), &QDialog::finished);
  d->initialise();
  ASSERT_TRUE(d->waitForWorker(5000));
  EXPECT_TRUE(finished.isEmpty());
  EXPECT_TRUE(d->refreshTimer().isActive());
  EXPECT_EQ(d->refreshTimer().interval(), 2000);
  EXPECT_FALSE(d->closeTimer().isActive());
  ASSERT_EQ(d->infoList()->topLevelItemCount(), 1);
  EXPECT_EQ(d->infoList()->topLevelItem(0)->text(0),
            QStringLiteral("Acceptable printers exist. Read Help to learn more how to control printers."));
  ASSERT_EQ(d->printersList()->topLevelItemCount(), 1);
  QTreeWidgetItem *row = d->printersList()->topLevelItem(0);
  EXPECT_EQ(row->text(0), QStringLiteral("Office"));
  EXPECT_EQ(row->text(3), QStringLiteral("USB001"));
  EXPECT_EQ(row->data(0, Qt::UserRole).toInt(), ImgPlus);
  EXPECT_FALSE(row->icon(0).isNull());

  // A click on the row selects the printer and lists its jobs.
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
  const QRect cell = d->printersList()->visualItemRect(row);
  QTest::mouseClick(d->printersList()->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_TRUE(d->waitForWorker(5000));
  ASSERT_EQ(d->selectedPrinterBox()->topLevelItemCount(), 1);
  EXPECT_EQ(d->selectedPrinterBox()->topLevelItem(0)->text(0), QStringLiteral("Office"));
  ASSERT_EQ(d->jobList()->topLevelItemCount(), 1);
  EXPECT_EQ(d->jobList()->topLevelItem(0)->text(0), QStringLiteral("Minutes.odt"));
  EXPECT_EQ(d->jobList()->topLevelItem(0)->text(2), QStringLiteral("desk"));
  EXPECT_TRUE(d->button(1024)->isEnabled());
  EXPECT_TRUE(d->button(1002)->isEnabled());

  // Clicking below the last row changes nothing.
  QTest::mouseClick(d->printersList()->viewport(), Qt::LeftButton, {},
                    QPoint(5, d->printersList()->viewport()->height() - 3));
  ASSERT_TRUE(d->waitForWorker(5000));
  EXPECT_EQ(d->view().selectedPrinter, "Office");

  QTest::mouseClick(d->button(1024), Qt::LeftButton);
  ASSERT_TRUE(d->waitForWorker(5000));
  EXPECT_TRUE(spooler.find("Office")->info.status & platform::PRINTER_STATUS_PAUSED);
  EXPECT_TRUE(d->button(1027)->isEnabled());
  EXPECT_FALSE(d->button(1024)->isEnabled());
  EXPECT_EQ(row->data(0, Qt::UserRole).toInt(), ImgPlusMarked);
  EXPECT_TRUE(notices.empty());
}

TEST_F(Dialog, CommandModesUseTheSmallWindowAndTheirCloseTimers) {
  auto none = make(Mode::None);
  EXPECT_TRUE(none->isSmall());
  EXPECT_LT(none->height(), 70);
  EXPECT_TRUE(none->helpTopic().endsWith(QStringLiteral("/Lumdoc/createimage.htm#noprint")));
  none->initialise();
  ASSERT_TRUE(none->waitForWorker(5000));
  EXPECT_TRUE(none->isVisible()) << "stays open in its small window";
  EXPECT_TRUE(none->refreshTimer().isActive());
  EXPECT_FALSE(none->closeTimer().isActive());

  // A command mode does its work and ends without showing its window.
  auto refresh = make(Mode::Refresh);
  QSignalSpy ended(refresh.get(), &QDialog::finished);
  refresh->initialise();
  ASSERT_TRUE(refresh->waitForWorker(5000));
  EXPECT_EQ(ended.size(), 1);
  EXPECT_FALSE(refresh->isVisible());
  // Without a server it waits for one until its close timer ends it.
  spooler.serverDown = true;
  auto both = make(Mode::RefreshAndDeleteAll);
  both->initialise();
  ASSERT_TRUE(both->waitForWorker(5000));
  EXPECT_TRUE(both->closeTimer().isActive());
  EXPECT_EQ(both->closeTimer().interval(), 10000);
  EXPECT_EQ(both->infoList()->topLevelItem(0)->text(0), serverDownText());

  auto work = make(Mode::Work);
  EXPECT_TRUE(work->helpTopic().endsWith(QStringLiteral("/Lumdoc/quenby.htm")));
}

TEST_F(Dialog, UnattendedTheQuestionTakesItsDefaultYes) {
  // Started by a Folvex whose session ends: nobody answers, the captured jobs are cancelled and the printers restored.
  const uint32_t id = spooler.addJob("Office", "captured page").jobId;
  ASSERT_TRUE(platform::recordCapturedJob({platform::CapturedJob::Kind::Cups, "Office", id, {}}));
  qputenv("FOLVEX_UNATTENDED", "1");
  auto d = std::make_unique<MonitorDialog>(spooler, Mode::RefreshAndDeleteAll);
  QSignalSpy ended(d.get(), &QDialog::finished);
  d->initialise();
  const bool done = d->waitForWorker(5000);
  qunsetenv("FOLVEX_UNATTENDED");
  ASSERT_TRUE(done);
  EXPECT_EQ(ended.size(), 1);
  ASSERT_EQ(spooler.find("Office")->jobs.size(), 1u) << "another user's job stays";
  EXPECT_EQ(spooler.find("Office")->jobs[0].document, "Minutes.odt");
  EXPECT_TRUE(platform::capturedJobs().empty());
}

TEST_F(Dialog, CloseTimerClosesTheDialogAndStopsTheTimers) {
  spooler.serverDown = true;
  auto d = make(Mode::Refresh);
  d->initialise();
  ASSERT_TRUE(d->waitForWorker(5000));
  ASSERT_TRUE(d->isVisible()) << "waits for the server";
  d->closeTimer().setInterval(10);
  d->closeTimer().start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !d->isVisible(); }, 2000));
  EXPECT_FALSE(d->refreshTimer().isActive());
  EXPECT_FALSE(d->closeTimer().isActive());
}

TEST_F(Dialog, LinksUnderlineOnHoverAndOpenTheirTargets) {
  auto d = make(Mode::Work);
  QStringList opened;
  d->setLinkOpener([&](const QString &t) { opened << t; });
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
  LinkLabel *mail = d->mailLink();
  LinkLabel *web = d->webLink();
  EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(20, 0, 255));
  EXPECT_FALSE(mail->hovered());

  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QApplication::sendEvent(mail, &enter);
  EXPECT_TRUE(mail->hovered());
  EXPECT_FALSE(web->hovered());
  EXPECT_EQ(mail->cursor().shape(), Qt::PointingHandCursor);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(mail, &leave);
  EXPECT_FALSE(mail->hovered());
  EXPECT_EQ(mail->cursor().shape(), Qt::ArrowCursor);

  QTest::mouseClick(mail, Qt::LeftButton);
  QTest::mouseClick(web, Qt::LeftButton);
  QTest::mouseClick(web, Qt::RightButton);
  ASSERT_EQ(opened.size(), 2);
  EXPECT_TRUE(opened[0].startsWith(QStringLiteral("mailto:")));
  EXPECT_TRUE(opened[1].startsWith(QStringLiteral("https://")));
}

TEST_F(Dialog, DestroyingTheWorkDialogRecordsThePreparedSettings) {
  {
    auto d = make(Mode::Work);
    d->initialise();
    QFile::remove(QString::fromStdString(preparedFile()));
    spooler.find("Office")->info.status = platform::PRINTER_STATUS_PAUSED;
    d->refreshTick();
    ASSERT_TRUE(d->waitForWorker(5000));
  }
  EXPECT_EQ(readAll(preparedFile()), "1\nOffice\nTRUE\nUSB001\nRAW\n");
}

TEST_F(Dialog, HelpShowsTheTopicFromTheInstallationFolder) {
  const QString install = path("tmp") + QStringLiteral("/install");
  ASSERT_TRUE(QDir().mkpath(install + QStringLiteral("/Lumdoc")));
  auto key =
      platform::RegKey::create(platform::Hive::LocalMachine, "Software\\Tarvik\\Folvex2", platform::RegAccess::All);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setString("InstallPath", install.toStdString()));
  auto d = make(Mode::Work);
  EXPECT_EQ(d->helpTopic(), install + QStringLiteral("/Lumdoc/quenby.htm"));
  const int before = static_cast<int>(QApplication::topLevelWidgets().size());
  d->showHelpTopic(); // the page is missing: nothing opens, nothing breaks
  EXPECT_EQ(static_cast<int>(QApplication::topLevelWidgets().size()), before);
  writeAll((install + QStringLiteral("/Lumdoc/quenby.htm")).toStdString(),
           "<html><body><h1>Monitor</h1></body></html>");
  d->showHelpTopic();
  bool shown = false;
  for (QWidget *w : QApplication::topLevelWidgets())
    shown = shown || (w->isVisible() && w->windowTitle() == QStringLiteral("Help"));
  EXPECT_TRUE(shown);
}

} // namespace

namespace {

TEST(MonitorIcons, ListAndInfoImagesHaveTheirSizesAndDiffer) {
  const auto list = monitor::printerListImages();
  ASSERT_EQ(list.size(), 6u);
  const auto info = monitor::infoImages();
  ASSERT_EQ(info.size(), 3u);
  std::vector<QImage> all;
  for (const QPixmap &p : list) {
    EXPECT_EQ(p.size(), QSize(12, 12));
    all.push_back(p.toImage());
  }
  for (const QPixmap &p : info) {
    EXPECT_EQ(p.size(), QSize(16, 16));
    all.push_back(p.toImage());
  }
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j)
      EXPECT_NE(all[i], all[j]) << i << " and " << j << " look the same";
  // The marked forms carry red that the plain forms do not.
  auto reds = [](const QImage &img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor c = img.pixelColor(x, y);
        n += c.alpha() > 128 && c.red() > 180 && c.green() < 80 && c.blue() < 80;
      }
    return n;
  };
  for (int plain = 0; plain < 3; ++plain)
    EXPECT_EQ(reds(all[plain]), 0) << plain;
  for (int marked = 3; marked < 6; ++marked)
    EXPECT_GT(reds(all[marked]), 0) << marked;
  EXPECT_FALSE(monitor::appIcon().pixmap(32, 32).isNull());
}

} // namespace
