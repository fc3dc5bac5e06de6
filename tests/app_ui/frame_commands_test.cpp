// The commands of the main window on the real frame: every key, every popup item, the page menu's operations and
// the two dialogs of the Options menu, with the hive, the files and the clipboard they change.
#include "diag/emergency_report.h"
#include "frame_fixture.h"
#include "output/messages.h"
#include "render/hatch_dialog.h"
#include "render/rasteriser.h"
#include "render/resolution.h"
#include "render/resolution_dialog.h"
#include "view/page_operations.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QTextBrowser>
#include <QToolButton>

namespace {

class FrameCommands : public FrameFixture {};

} // namespace

TEST_F(FrameCommands, EveryKeyReachesItsCommand) {
  using namespace frame;
  const std::vector<std::pair<QKeyCombination, int>> keys = {
      {Qt::Key_Escape, ID_ABORT},           {Qt::CTRL | Qt::Key_0, ID_AA_10},
      {Qt::CTRL | Qt::Key_Z, ID_AA_15},     {Qt::CTRL | Qt::Key_X, ID_AA_20},
      {Qt::CTRL | Qt::Key_2, ID_AA_2},      {Qt::CTRL | Qt::Key_3, ID_AA_3},
      {Qt::CTRL | Qt::Key_5, ID_AA_5},      {Qt::CTRL | Qt::Key_7, ID_AA_7},
      {Qt::CTRL | Qt::Key_N, ID_AA_NONE},   {Qt::Key_F1, ID_HELP},
      {Qt::CTRL | Qt::Key_C, ID_FORMAT},    {Qt::CTRL | Qt::Key_D, ID_RESOLUTION},
      {Qt::CTRL | Qt::Key_S, ID_SAVE_DISK}, {Qt::CTRL | Qt::Key_W, ID_SAVE_HTML},
      {Qt::CTRL | Qt::Key_P, ID_SAVE_PDF},  {Qt::CTRL | Qt::Key_M, ID_MAIL},
      {Qt::CTRL | Qt::Key_H, ID_HATCH},
  };
  std::vector<int> reached;
  for (const auto &[key, id] : keys)
    w->commands().set(id, [&reached, id = id] { reached.push_back(id); });
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  std::vector<int> expected;
  for (const auto &[key, id] : keys) {
    QTest::keyClick(w.get(), key.key(), key.keyboardModifiers());
    if (id != ID_MAIL) // mail needs a current page: without one the key does nothing
      expected.push_back(id);
  }
  EXPECT_EQ(reached, expected);
  AddPages({{10500, 14850}});
  QTest::keyClick(w.get(), Qt::Key_M, Qt::ControlModifier);
  EXPECT_EQ(reached.back(), ID_MAIL);
}

TEST_F(FrameCommands, OptionsPopupItemsStoreAndRenderAgain) {
  AddPages({{10500, 14850}});
  // The popup opens where the button was pressed.
  QPoint popupAt;
  QTimer::singleShot(0, [&] {
    if (auto *m = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
      popupAt = m->pos();
      m->close();
    }
  });
  QTest::mousePress(w->button(2), Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(popupAt, w->button(2)->mapToGlobal(QPoint(10, 10)));

  const std::pair<QString, int> factors[] = {
      {QStringLiteral("20&x   (Ctrl+X)"), 20}, {QStringLiteral("15x   (Ctrl+Z)"), 15},
      {QStringLiteral("1&0x   (Ctrl+0)"), 10}, {QStringLiteral("&7x     (Ctrl+7)"), 7},
      {QStringLiteral("&5x     (Ctrl+5)"), 5}, {QStringLiteral("&3x     (Ctrl+3)"), 3},
      {QStringLiteral("&2x     (Ctrl+2)"), 2}, {QStringLiteral("&None (Ctrl+N)"), 0}};
  for (const auto &[text, factor] : factors) {
    const qint64 key = ImageKey();
    ASSERT_TRUE(ButtonCommand(2, {QStringLiteral("Antialiasing"), text})) << text.toStdString();
    EXPECT_EQ(RegGetInt("KodAntialias"), factor);
    EXPECT_NE(ImageKey(), key) << text.toStdString();
  }
  for (const char *toggle : {"lvSharpen", "lvIncludeDateTime"}) {
    const QString text = QString::fromLatin1(toggle) == QLatin1String("lvSharpen")
                             ? QStringLiteral("Sharpen")
                             : QStringLiteral("Date and Time stamp");
    const qint64 key = ImageKey();
    ASSERT_TRUE(ButtonCommand(2, {text}));
    EXPECT_EQ(RegGetInt(toggle), 1);
    EXPECT_NE(ImageKey(), key);
    ASSERT_TRUE(ButtonCommand(2, {text}));
    EXPECT_EQ(RegGetInt(toggle), 0);
  }
  ASSERT_TRUE(ButtonCommand(2, {QStringLiteral("Image Resolution and &Dimension...  (Ctrl+D)")}));
  ASSERT_TRUE(ButtonCommand(2, {QStringLiteral("Background and Hatch settings       (Ctrl+H)")}));
  EXPECT_EQ(dialogs, (QStringList{QStringLiteral("resolutionDialog"), QStringLiteral("hatchDialog")}));
  // The format options sheet of the output commands opens (cancelled here).
  QStringList sheets;
  output::setDialogHook([&sheets](QDialog &d) {
    sheets << d.objectName();
    return int(QDialog::Rejected);
  });
  ASSERT_TRUE(ButtonCommand(2, {QStringLiteral("Image Format and Quality...           (Ctrl+C)")}));
  output::setDialogHook(nullptr);
  EXPECT_EQ(sheets, QStringList{QStringLiteral("lvImgOptionsFull")});
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FrameCommands, HelpPopupItems) {
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("Tarvik Online")}));
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("Tarvik Support")}));
  EXPECT_EQ(opened, (QStringList{QStringLiteral("https://www.tarvik.example/"),
                                 QStringLiteral("mailto:support@tarvik.example")}));
  // Without an installation folder the about module is not found: nothing happens.
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("About")}));
  // From the programs' folder the module shows its box.
  SetInstallPath(QStringLiteral(FOLVEX_BIN_DIR));
  QString aboutText;
  QTimer closer; // closes the about box once it shows
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget *box = QApplication::activeModalWidget(); box && box->objectName() == "aboutBox") {
      if (auto *label = box->findChild<QLabel *>(QStringLiteral("aboutText")))
        aboutText = label->text();
      static_cast<QDialog *>(box)->accept();
    }
  });
  closer.start(20);
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("About")}));
  closer.stop();
  SetInstallPath(QString());
  EXPECT_TRUE(aboutText.contains(QStringLiteral("Tarvik Folvex! v.2.1"))) << aboutText.toStdString();
  EXPECT_TRUE(aboutText.contains(QStringLiteral("Tarvik Quenby v.1.0")));
  EXPECT_TRUE(aboutText.contains(QStringLiteral("Apache License 2.0")));
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("Help             (F1)")}));
  bool helpShown = false;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *b = top->findChild<QTextBrowser *>(); b && top->isVisible()) {
      helpShown = b->source().fileName() == QStringLiteral("index.htm");
      top->close();
    }
  EXPECT_TRUE(helpShown);
  // The emergency report is written and offered; No sends nothing.
  QString offered;
  diag::setReportHooks({[&offered](const QString &text, const QString &) {
                          offered = text;
                          return false;
                        },
                        {}});
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("Emergency report")}));
  diag::setReportHooks({});
  EXPECT_TRUE(offered.startsWith(QStringLiteral("File 'Report.log' was saved to '"))) << offered.toStdString();
  int reports = 0;
  w->commands().set(frame::ID_EMERGENCY, [&] { ++reports; });
  ASSERT_TRUE(ButtonCommand(4, {QStringLiteral("Emergency report")}));
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FrameCommands, PrinterPopupStartsTheMonitorAndClearsTheJobs) {
  const FakeMonitor monitor;
  const auto callsAre = [&](const QByteArray &expected) { return monitor.callsAre(expected); };

  ASSERT_TRUE(ButtonCommand(3, {QStringLiteral("Diagnostic printers for Folvex!")}));
  EXPECT_TRUE(callsAre("work\n")) << monitor.calls().toStdString();
  AddPages({{10500, 14850}, {10500, 14850}});
  answer = QMessageBox::No;
  ASSERT_TRUE(ButtonCommand(3, {QStringLiteral("Clear all printer jobs")}));
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0], "Tarvik Folvex! message|Are you sure you want to cancel all documents for all printers?");
  EXPECT_EQ(capture::pageStore().pageCount(), 2);
  answer = QMessageBox::Yes;
  ASSERT_TRUE(ButtonCommand(3, {QStringLiteral("Clear all printer jobs")}));
  EXPECT_TRUE(callsAre("work\ndelete_all\n")) << monitor.calls().toStdString();
  EXPECT_EQ(capture::pageStore().pageCount(), 0);
  EXPECT_EQ(capture::pageStore().currentPage, -1);
  EXPECT_FALSE(w->pageInfoText());
  // "Delete All" of the page menu asks the same and does the same.
  AddPages({{10500, 14850}});
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Delete All")));
  EXPECT_TRUE(callsAre("work\ndelete_all\ndelete_all\n")) << monitor.calls().toStdString();
  EXPECT_EQ(capture::pageStore().pageCount(), 0);
  EXPECT_EQ(messages.size(), 3);
}

TEST_F(FrameCommands, PreviewMenuRoutesToTheOutputCommands) {
  AddPages({{10500, 14850}});
  std::vector<int> chosen;
  for (int id : {frame::ID_SEND_TO, frame::ID_SAVE_AS, frame::ID_WALLPAPER})
    w->commands().set(id, [&chosen, id] { chosen.push_back(id); });
  for (const char *item : {"Send to...", "Save as...", "Set to Wallpaper"})
    ASSERT_TRUE(ChooseFromPopup([&] { QTest::mousePress(w->preview(), Qt::RightButton, {}, QPoint(300, 300)); },
                                {QString::fromLatin1(item)}));
  EXPECT_EQ(chosen, (std::vector<int>{frame::ID_SEND_TO, frame::ID_SAVE_AS, frame::ID_WALLPAPER}));
}

// ---- the page menu ----

TEST_F(FrameCommands, ClickBesideThePagesSelectsNoImage) {
  AddPages({{10500, 14850}, {10500, 14850}});
  const QPoint gap(OnPage(1).x(), Page(1).thumbY - 12);
  // Save as EMF stays enabled off a page and tells that no image is selected; the single-page items are greyed.
  ASSERT_TRUE(StripCommand(gap, QStringLiteral("Save as EMF")));
  EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvik Folvex! Message|Image not selected!")});
  EXPECT_FALSE(StripCommand(gap, QStringLiteral("Delete Image")));
  EXPECT_FALSE(StripCommand(gap, QStringLiteral("Rotate Left")));
  EXPECT_FALSE(StripCommand(gap, QStringLiteral("Copy to Clipboard (EMF)")));
  for (int id : {frame::ID_COPY_EMF, frame::ID_DELETE_IMAGE, frame::ID_ROTATE_LEFT, frame::ID_ROTATE_RIGHT})
    w->runCommand(id); // the last click was beside the pages
  EXPECT_EQ(messages.size(), 5);
  EXPECT_EQ(capture::pageStore().pageCount(), 2);
  EXPECT_EQ(Page(0).rotation, 0.0);
}

TEST_F(FrameCommands, DeletingPagesMovesTheCurrentPageAndTheThumbnails) {
  AddPages({{10500, 14850}, {14850, 10500}, {10500, 14850}, {10500, 14850}});
  auto &store = capture::pageStore();
  std::weak_ptr<const emf::EnhMetaFile> firstMetafile = Page(0).metafile;
  const int y1 = Page(1).thumbY, y2 = Page(2).thumbY, y3 = Page(3).thumbY;
  const int d = y1 - Page(0).thumbY;
  // The current first page: the second one becomes current, is rendered, and every later thumbnail moves up by d.
  const qint64 key = ImageKey();
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Delete Image")));
  ASSERT_EQ(store.pageCount(), 3);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(Page(0).name, "7-0002.emf");
  EXPECT_NE(ImageKey(), key);
  EXPECT_EQ(store.currentImageDisplay.width(), int(std::ceil(148.5 * 100 / 25.4))); // the landscape page
  EXPECT_EQ(Page(0).thumbY, y1 - d);
  EXPECT_EQ(Page(1).thumbY, y2 - d);
  EXPECT_EQ(Page(2).thumbY, y3 - d);
  EXPECT_TRUE(firstMetafile.expired()) << "a deleted page lets go of its metafile";
  // The current last page: the one before it becomes current.
  store.currentPage = 2;
  ASSERT_TRUE(StripCommand(OnPage(2), QStringLiteral("Delete Image")));
  EXPECT_EQ(store.currentPage, 1);
  // A page before the current one: the current page stays the same page.
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Delete Image")));
  ASSERT_EQ(store.pageCount(), 1);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(Page(0).name, "7-0003.emf");
  // The only page: no current page, an empty preview.
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Delete Image")));
  EXPECT_EQ(store.pageCount(), 0);
  EXPECT_EQ(store.currentPage, -1);
  Settle();
  EXPECT_EQ(w->preview()->grab().toImage().pixelColor(300, 300), QColor(224, 224, 248));
  EXPECT_FALSE(w->pageInfoText());
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FrameCommands, RotatingTurnsThumbnailsAndMovesTheLaterOnes) {
  AddPages({{14850, 10500}, {10500, 14850}, {10500, 14850}});
  auto &store = capture::pageStore();
  const int w0 = Page(0).thumbW, h0 = Page(0).thumbH;
  ASSERT_GT(w0, h0); // landscape
  const int y1 = Page(1).thumbY, y2 = Page(2).thumbY;
  const QSize image = store.currentImageDisplay.size();
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Rotate Right")));
  EXPECT_EQ(Page(0).rotation, 90.0);
  EXPECT_EQ(QSize(Page(0).thumbW, Page(0).thumbH), QSize(h0, w0));
  EXPECT_EQ(Page(0).thumbY, w->strip()->clientRect().top() + 10);
  EXPECT_EQ(Page(0).thumbX, (w->strip()->clientRect().width() - h0) / 2);
  EXPECT_EQ(Page(1).thumbY, y1 + (w0 - h0));
  EXPECT_EQ(Page(2).thumbY, y2 + (w0 - h0));
  EXPECT_EQ(store.currentImageDisplay.size(), image.transposed()) << "the current page is rendered turned";
  // Right from 90: 180, 270, 360, then 90 again; left from 0 gives 270.
  for (double expected : {180.0, 270.0, 360.0, 90.0}) {
    ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Rotate Right")));
    EXPECT_EQ(Page(0).rotation, expected);
  }
  // A later page is placed under the one before it; the pages after it move by its change of height.
  const int before2 = Page(2).thumbY, h1 = Page(1).thumbH;
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Rotate Left")));
  EXPECT_EQ(Page(1).rotation, 270.0);
  EXPECT_EQ(Page(1).thumbY, Page(0).thumbY + Page(0).thumbH + capture::kThumbnailGap);
  EXPECT_EQ(Page(2).thumbY, before2 + Page(1).thumbH - h1);
  // All pages: each turns once more; the current page is rendered with its new angle.
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Rotate All Left")));
  EXPECT_EQ(Page(0).rotation, 0.0);
  EXPECT_EQ(Page(1).rotation, 180.0);
  EXPECT_EQ(Page(2).rotation, 270.0);
  EXPECT_EQ(store.currentImageDisplay.size(), image);
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Rotate All Right")));
  EXPECT_EQ(Page(0).rotation, 90.0);
  EXPECT_EQ(Page(2).rotation, 360.0);
  EXPECT_EQ(store.currentImageDisplay.size(), image.transposed());
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Restore All")));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Page(i).rotation, 0.0) << i;
  EXPECT_EQ(store.currentImageDisplay.size(), image);
  EXPECT_EQ(QSize(Page(0).thumbW, Page(0).thumbH), QSize(w0, h0));
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FrameCommands, ClipboardHoldsCopiesOfThePage) {
  AddPages({{10500, 14850}, {14850, 10500}});
  const QByteArray page1(reinterpret_cast<const char *>(Page(1).metafile->bytes().data()),
                         qsizetype(Page(1).metafile->bytes().size()));
  const qint64 key = ImageKey();
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Copy to Clipboard (EMF)")));
  const QMimeData *data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data(QStringLiteral("image/emf")), page1);
  EXPECT_EQ(data->data(QStringLiteral("image/x-emf")), page1);
  // Beside it the page as rendered now: a landscape page that is not the current one; the current image stays.
  const QImage picture = qvariant_cast<QImage>(data->imageData());
  EXPECT_GT(picture.width(), picture.height());
  EXPECT_EQ(ImageKey(), key);
  // Another program empties the clipboard: the page is untouched and can be copied again.
  QGuiApplication::clipboard()->clear();
  ASSERT_TRUE(Page(1).metafile);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(Page(1).metafile->bytes().data()),
                       qsizetype(Page(1).metafile->bytes().size())),
            page1);
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Copy to Clipboard (EMF)")));
  EXPECT_EQ(qvariant_cast<QImage>(QGuiApplication::clipboard()->mimeData()->imageData()),
            capture::pageStore().currentImageDisplay.convertToFormat(QImage::Format_RGB32));
  // A page without a metafile.
  capture::pageStore().pages[0].metafile.reset();
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Copy to Clipboard (EMF)")));
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Save as EMF")));
  EXPECT_EQ(messages, (QStringList{QStringLiteral("Tarvik Folvex! v.2.1|EMF not found..."),
                                   QStringLiteral("Tarvik Folvex! v.2.1|EMF not found...")}));
}

TEST_F(FrameCommands, SaveAsEmfWritesThePageOrTellsTheFailure) {
  AddPages({{10500, 14850}, {14850, 10500}});
  const QString folder = testenv::folder(QStringLiteral("tmp")) + QStringLiteral("/saved");
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  savePath = folder + QStringLiteral("/page.emf");
  ASSERT_TRUE(StripCommand(OnPage(1), QStringLiteral("Save as EMF")));
  ASSERT_EQ(proposedPaths.size(), 1);
  EXPECT_TRUE(proposedPaths[0].endsWith(QStringLiteral("/7-0002.emf"))) << proposedPaths[0].toStdString();
  EXPECT_TRUE(proposedPaths[0].startsWith(view::SaveStartFolder()));
  const auto &bytes = Page(1).metafile->bytes();
  EXPECT_EQ(ReadFile(savePath), QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
  EXPECT_TRUE(messages.isEmpty());
  // Cancelled: nothing written, nothing said.
  savePath.clear();
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Save as EMF")));
  EXPECT_TRUE(messages.isEmpty());
  // A place that cannot take the file (a folder of that name is there): the message, nothing half-written, and
  // what was there is left as it was.
  const QString blocked = folder + QStringLiteral("/taken.emf");
  QDir().mkpath(blocked + QStringLiteral("/inside"));
  savePath = blocked;
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Save as EMF")));
  EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvik Folvex! v.2.1|EMF-file not saved...")});
  EXPECT_TRUE(QFileInfo(blocked).isDir());
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("page.emf")});
}

// ---- the dialogs of the Options menu ----

TEST_F(FrameCommands, ResolutionDialogCommitsOnOkOnly) {
  AddPages({{21000, 29700}});
  ASSERT_EQ(capture::pageStore().currentImageDisplay.size(), QSize(827, 1170));
  const QString hive = testenv::folder(QStringLiteral("reg")) + QStringLiteral("/user.reg");
  RegSetInt("ResCur", 1000);
  const QByteArray before = ReadFile(hive);
  const qint64 key = ImageKey();
  // Cancel after changes: nothing stored, nothing rendered.
  driveDialog = [](QDialog &d) {
    auto &dlg = dynamic_cast<render::ResolutionDialog &>(d);
    dlg.arrows(render::ResolutionModel::WidthPx)->upButton()->click();
    dlg.radio(0)->click();
    return int(QDialog::Rejected);
  };
  w->runCommand(frame::ID_RESOLUTION);
  EXPECT_EQ(ReadFile(hive), before);
  EXPECT_EQ(settings().CheckN, 2);
  EXPECT_EQ(settings().ResCur, 100.0);
  EXPECT_EQ(ImageKey(), key);
  // OK: one pixel more in width asks for 100.15 dpi, which is stored and rendered.
  driveDialog = [](QDialog &d) {
    auto &dlg = dynamic_cast<render::ResolutionDialog &>(d);
    dlg.arrows(render::ResolutionModel::WidthPx)->upButton()->click();
    dlg.accept();
    return dlg.result();
  };
  w->runCommand(frame::ID_RESOLUTION);
  EXPECT_EQ(RegGetInt("ResCur"), 1001);
  EXPECT_EQ(RegGetInt("ScaleCur"), 100);
  EXPECT_EQ(RegGetInt("CheckN"), 2);
  EXPECT_NEAR(settings().ResCur, 100.1486, 1e-3);
  EXPECT_NE(ImageKey(), key);
  EXPECT_EQ(capture::pageStore().currentImageDisplay.width(),
            render::OutputSize(Page(0).metafile->header().rclFrame, settings().ResCur, 100).cols);
  // "Display" and OK: the display resolution becomes the user resolution too.
  render::setDisplayResolution(96);
  driveDialog = [](QDialog &d) {
    dynamic_cast<render::ResolutionDialog &>(d).radio(0)->click();
    d.accept();
    return d.result();
  };
  w->runCommand(frame::ID_RESOLUTION);
  EXPECT_EQ(RegGetInt("CheckN"), 0);
  EXPECT_EQ(RegGetInt("ResCur"), 960);
  EXPECT_EQ(capture::pageStore().currentImageDisplay.width(), 794);
}

TEST_F(FrameCommands, HatchDialogOkStoresTheStyleAndRenewsEveryPicture) {
  AddPages({{10500, 14850}, {10500, 14850}});
  const QPoint middle(Page(1).thumbW / 2, Page(1).thumbH / 2);
  ASSERT_EQ(Page(1).thumbnail.pixelColor(middle), QColor(Qt::white));
  driveDialog = [](QDialog &d) {
    auto &dlg = dynamic_cast<render::lvSetHatchDlg &>(d);
    dlg.showBackgroundBox()->click();
    dlg.accept();
    return dlg.result();
  };
  w->runCommand(frame::ID_HATCH);
  // The thumbnails are made again off the window thread.
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->captureWorker()->idle(); }, 30000));
  EXPECT_EQ(RegGetInt("lvBkGrHathStyle"), 4);
  EXPECT_EQ(RegGetInt("lvCurBkGrColor"), -1) << "unchanged values are not written";
  EXPECT_EQ(settings().lvBkGrHathStyle, 4);
  // The current image and the thumbnails show the green background now.
  const QColor green(128, 255, 128);
  const auto greenIn = [&green](const QImage &img, QPoint from) {
    int n = 0; // near the colour: the current image has been through its JPEG file
    for (int x = 0; x < 40; ++x) {
      const QColor c = img.pixelColor(from + QPoint(x, 0));
      n += std::abs(c.red() - green.red()) + std::abs(c.green() - green.green()) + std::abs(c.blue() - green.blue()) <
           24;
    }
    return n;
  };
  EXPECT_GT(greenIn(Page(1).thumbnail, middle), 20);
  EXPECT_GT(greenIn(capture::pageStore().currentImageDisplay, QPoint(100, 100)), 20);
  if (auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::All))
    key->remove("lvBkGrHathStyle");
}
