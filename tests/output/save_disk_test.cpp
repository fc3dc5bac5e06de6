// Saving to disk through the frame's commands: the save dialog, the names of the files, the replace question, the
// export worker with its abort question and progress, write failures, and "Save as...".
#include "output_support.h"

#include "output/file_dialog.h"
#include "output/format_options.h"
#include "output/save_disk.h"
#include "view/preview_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QProgressBar>
#include <unistd.h>

using namespace otest;

namespace {

class SaveDisk : public OutputTest {
protected:
  // The rasteriser asks for the rotation of every page it renders: Esc is pressed then, during the first render.
  void EscDuringTheFirstRender() {
    auto calls = std::make_shared<std::atomic<int>>(0); // the rasteriser calls a copy of the function
    render::setPageRotationSource([calls](int) {
      if (++*calls == 1)
        frame::AbortRequest() = true;
      return 0.0;
    });
  }
  void TearDown() override {
    OutputTest::TearDown();
    render::setPageRotationSource([](int page) { return capture::pageStore().rotationOf(page); });
  }
};

// The format the image library finds in a file ("JPEG", "TIFF", ...).
QString Format(const QString &path) {
  Magick::Image image;
  try {
    image.ping(path.toStdString());
  } catch (const std::exception &) {
    return QString();
  }
  return QString::fromStdString(image.magick());
}

} // namespace

TEST_F(SaveDisk, DialogHasTheFiltersInOrderAndTheBoxUnderTheTypeBox) {
  settings().JPG_Default = false;
  settings().TIF_Default = true;
  RegSetUserString("SavePath", (dir.path() + QStringLiteral("\\")).toStdString()); // an older run's separator
  AddPages({"3-0001.emf"});
  dialogActions.push_back([this](QDialog &d) {
    auto &dlg = dynamic_cast<output::lvFileDlg &>(d);
    EXPECT_EQ(dlg.nameFilters().size(), 5);
    EXPECT_TRUE(dlg.nameFilters().at(4).startsWith(QStringLiteral("TIF (TIFF Tagged Image File Format)")));
    EXPECT_EQ(dlg.chosenFilter(), 5) << "the filter of the default format";
    EXPECT_TRUE(dlg.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(QDir(dlg.directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    EXPECT_EQ(dlg.chosenPath(), QDir(dir.path()).filePath(QStringLiteral("Document")));
    dlg.show();
    QCoreApplication::processEvents();
    auto *type = dlg.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QCheckBox *box = dlg.invokeOptionsBox();
    EXPECT_EQ(box->text(), QStringLiteral("Invoke Image Options"));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(box->isVisible());
    const QRect t(type->mapTo(&dlg, QPoint(0, 0)), type->size());
    const QRect b(box->mapTo(&dlg, QPoint(0, 0)), box->size());
    EXPECT_EQ(b.left(), t.left());
    EXPECT_GE(b.top(), t.bottom());
    EXPECT_LE(b.top(), t.bottom() + 12) << "directly below the type box";
    dlg.hide();
    return int(QDialog::Rejected);
  });
  QTest::keyClick(frame_.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(dialogs, std::vector<QString>{QStringLiteral("lvFileDlg")});
  EXPECT_FALSE(RegGetUserString("SavePath")->ends_with("/")) << "Cancel stores nothing";

  // Without a stored folder the dialog opens in the user's pictures folder.
  const QString pictures = dir.filePath(QStringLiteral("My Pictures"));
  QDir().mkpath(pictures);
  QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write(("XDG_PICTURES_DIR=\"" + pictures + "\"\n").toUtf8());
  dirs.close();
  RegSetUserString("SavePath", "");
  QString opened;
  dialogActions.push_back([&opened](QDialog &d) {
    opened = dynamic_cast<QFileDialog &>(d).directory().absolutePath();
    return int(QDialog::Rejected);
  });
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  dirs.remove();
  EXPECT_EQ(opened, pictures);
}

TEST_F(SaveDisk, SavesEveryPageUnderItsSuffixAndShowsProgress) {
  AddPages({"3-0001.emf", "3-0002.emf", "12-0001.emf"});
  capture::pageStore().pages[2].rotation = 90;
  std::vector<std::pair<int, int>> progress;
  const auto shown = output::host().progress;
  output::host().progress = [&](int page, int pages) {
    progress.emplace_back(page, pages);
    shown(page, pages);
    if (pages > 0) {
      auto *bar = frame_->findChild<QProgressBar *>(QStringLiteral("exportProgress"));
      EXPECT_TRUE(bar->isVisible());
      EXPECT_EQ(bar->text(), QStringLiteral("Page %1 of %2").arg(page).arg(pages));
      EXPECT_EQ(frame_->preview()->cursor().shape(), Qt::WaitCursor);
    }
  };
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Doc"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_EQ(Files(dir.path()), (QStringList{"Doc0003-0001.jpg", "Doc0003-0002.jpg", "Doc0012-0001.jpg"}));
  for (const QString &f : Files(dir.path()))
    EXPECT_EQ(Format(dir.filePath(f)), QStringLiteral("JPEG")) << f.toStdString();
  EXPECT_EQ(QImage(dir.filePath("Doc0003-0002.jpg")).size(), QSize(79, 40));
  EXPECT_EQ(QImage(dir.filePath("Doc0012-0001.jpg")).size(), QSize(40, 79)) << "the page turned by 90 degrees";
  EXPECT_EQ(QString::fromStdString(RegGetUserString("SavePath").value_or("")), dir.path() + QStringLiteral("/"));
  EXPECT_EQ(output::OutputFiles(), (std::vector<std::string>{dir.filePath("Doc0003-0001.jpg").toStdString(),
                                                             dir.filePath("Doc0003-0002.jpg").toStdString(),
                                                             dir.filePath("Doc0012-0001.jpg").toStdString()}));
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}, {-1, -1}}));
  EXPECT_FALSE(frame_->findChild<QProgressBar *>(QStringLiteral("exportProgress"))->isVisible());
  EXPECT_NE(frame_->preview()->cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(frame_->preview()->transientImage().isNull()) << "the preview shows the current image again";
  EXPECT_TRUE(messages.empty());
}

TEST_F(SaveDisk, TifFilterMakesTifTheStoredDefault) {
  AddPages({"5-0001.emf", "5-0002.emf"});
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Scan.jpg"), 5, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_EQ(RegGetInt("TIF_Default"), 1);
  EXPECT_EQ(RegGetInt("JPG_Default"), 0);
  EXPECT_TRUE(settings().TIF_Default);
  EXPECT_EQ(Files(dir.path()), (QStringList{"Scan0005-0001.tif", "Scan0005-0002.tif"}));
  EXPECT_EQ(Format(dir.filePath("Scan0005-0002.tif")), QStringLiteral("TIFF"));
  EXPECT_EQ(RegGetInt("SaveFile_Opt"), 0);
}

TEST_F(SaveDisk, NoToReplaceShowsTheDialogAgainAndWritesNothing) {
  AddPages({"3-0001.emf"});
  QFile old(dir.filePath("Doc0003-0001.jpg"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old");
  old.close();
  answers = {QMessageBox::No};
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Doc"), 1, false));
  dialogActions.push_back(Cancel());
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  EXPECT_FALSE(output::ExportRunning());
  EXPECT_EQ(dialogs.size(), 2u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, dir.filePath("Doc0003-0001.jpg") + QStringLiteral(" already exists. Replace?"));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Save As"));
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(messages[0].owned);
  EXPECT_EQ(Files(dir.path()), QStringList{"Doc0003-0001.jpg"});
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), QByteArray("old"));
}

TEST_F(SaveDisk, AnUntickedBoxShowsNoOptionsAndStaysUnticked) {
  AddPages({"3-0001.emf"});
  dialogActions.push_back(Save(dir.path(), QStringLiteral("A"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_EQ(dialogs, std::vector<QString>{QStringLiteral("lvFileDlg")}) << "no options sheet";
  bool ticked = true;
  dialogActions.push_back([&ticked](QDialog &d) {
    ticked = dynamic_cast<output::lvFileDlg &>(d).invokeImageOptions();
    return int(QDialog::Rejected);
  });
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  EXPECT_FALSE(ticked);
  // Ticked again, the options of the default format come before the export.
  dialogActions.push_back(Save(dir.path(), QStringLiteral("B"), 1, true));
  dialogActions.push_back(Cancel());
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_EQ(dialogs.back(), QStringLiteral("lvImgOptionsFull"));
  EXPECT_TRUE(QFile::exists(dir.filePath("B0003-0001.jpg")));
}

TEST_F(SaveDisk, EscAsksBeforeTheNextPageAndOkKeepsTheFilesWritten) {
  for (const int answer : {int(QMessageBox::Cancel), int(QMessageBox::Ok)}) {
    QTemporaryDir out;
    AddPages({"7-0001.emf", "7-0002.emf", "7-0003.emf"});
    // Esc comes while the second page renders (the first one the worker renders: the current page is written as it
    // is).
    EscDuringTheFirstRender();
    QStringList atQuestion;
    onMessage = [&](const output::MessageRequest &r) {
      atQuestion = Files(out.path());
      return r.text == QStringLiteral("Abort File Generation Process?") ? answer : 0;
    };
    dialogActions.push_back(Save(out.path(), QStringLiteral("P"), 1, false));
    ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
    WaitForExport();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex Message"));
    EXPECT_EQ(messages[0].icon, QMessageBox::Question);
    EXPECT_EQ(messages[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_TRUE(messages[0].owned);
    EXPECT_EQ(atQuestion, (QStringList{"P0007-0001.jpg", "P0007-0002.jpg"}));
    EXPECT_EQ(Files(out.path()).size(), answer == QMessageBox::Ok ? 2 : 3);
    EXPECT_FALSE(frame::AbortRequest().load());
    messages.clear();
    capture::pageStore().pages.clear();
  }
}

TEST_F(SaveDisk, ASecondExportWhileOneRunsIsRefused) {
  AddPages({"1-0001.emf", "1-0002.emf", "1-0003.emf"});
  // The worker waits at its abort question, so the export surely runs when the other commands come.
  EscDuringTheFirstRender();
  bool refused = false;
  onMessage = [&](const output::MessageRequest &r) {
    if (!r.text.startsWith(QStringLiteral("Abort")))
      return 0;
    const size_t before = dialogs.size();
    Run(frame::ID_SAVE_HTML);
    Run(frame::ID_SAVE_DISK);
    Run(frame::ID_FORMAT);
    Run(frame::ID_SAVE_AS);
    refused = dialogs.size() == before;
    return int(QMessageBox::Ok);
  };
  dialogActions.push_back(Save(dir.path(), QStringLiteral("R"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_TRUE(refused);
  ASSERT_EQ(messages.size(), 5u);
  for (size_t i = 1; i < 5; ++i)
    EXPECT_TRUE(messages[i].text.startsWith(QStringLiteral("Files are being generated now."))) << i;
  EXPECT_EQ(Files(dir.path()).size(), 2);
}

TEST_F(SaveDisk, PagesRemovedDuringAnExportAreStillWritten) {
  AddPages({"8-0001.emf", "8-0002.emf", "8-0003.emf"});
  capture::pageStore().pages[2].rotation = 270;
  EscDuringTheFirstRender();
  onMessage = [&](const output::MessageRequest &) {
    capture::ClearPageList(*frame_); // what "Delete All" does to the page list
    return int(QMessageBox::Cancel);
  };
  dialogActions.push_back(Save(dir.path(), QStringLiteral("D"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_EQ(capture::pageStore().pageCount(), 0);
  EXPECT_EQ(Files(dir.path()), (QStringList{"D0008-0001.jpg", "D0008-0002.jpg", "D0008-0003.jpg"}));
  EXPECT_EQ(QImage(dir.filePath("D0008-0003.jpg")).size(), QSize(40, 79)) << "turned as it was at the start";
}

TEST_F(SaveDisk, ClosingDuringAnExportWaitsForItsEnd) {
  AddPages({"6-0001.emf", "6-0002.emf", "6-0003.emf"});
  EscDuringTheFirstRender();
  bool stillOpen = false;
  onMessage = [&](const output::MessageRequest &) {
    frame_->close();
    stillOpen = frame_->isVisible() && output::ExportRunning();
    return int(QMessageBox::Cancel);
  };
  dialogActions.push_back(Save(dir.path(), QStringLiteral("C"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  EXPECT_TRUE(stillOpen) << "the close waits for the export";
  EXPECT_EQ(Files(dir.path()).size(), 3) << "the page under way when the close came is finished";
  EXPECT_FALSE(frame_->isVisible()) << "and the frame closes once the export has ended";
}

TEST_F(SaveDisk, AWriteFailureIsReportedOnceWithPathAndReasonAndTheUserChooses) {
  AddPages({"4-0001.emf", "4-0002.emf", "4-0003.emf"});
  // A folder nobody may write in: a read-only folder, or for root, who may write in any folder of the disk, the
  // kernel's settings folder (it holds folders only, so the file dialog reads nothing in it).
  QString folder = dir.filePath(QStringLiteral("locked"));
  QDir().mkpath(folder);
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  if (::geteuid() == 0)
    folder = QStringLiteral("/proc/sys");
  answers = {QMessageBox::Yes, QMessageBox::No}; // go on after the first page, stop after the second
  dialogActions.push_back(Save(folder, QStringLiteral("F"), 3, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  ASSERT_EQ(messages.size(), 2u);
  const QString first = QDir(folder).filePath(QStringLiteral("F0004-0001.png"));
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("Cannot write\n") + first + QStringLiteral("\n")))
      << messages[0].text.toStdString();
  EXPECT_GT(messages[0].text.size(),
            QStringLiteral("Cannot write\n\n\n\nGo on with the next pages?").size() + first.size() + 3)
      << "the reason is given";
  EXPECT_TRUE(messages[1].text.contains(QStringLiteral("F0004-0002.png")));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex Message"));
  EXPECT_EQ(output::OutputFiles(), std::vector<std::string>(3)) << "nothing was written";
  EXPECT_TRUE(Files(folder).filter(QStringLiteral("F0004")).isEmpty()) << "no file, no temporary file";
  QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(SaveDisk, GoOnWithoutAskingListsTheOtherFailuresOnceAtTheEnd) {
  AddPages({"4-0001.emf", "4-0002.emf", "4-0003.emf"});
  // A name the file system refuses: longer than a file name may be.
  const QString name = QString(300, QLatin1Char('n'));
  answers = {QMessageBox::YesToAll};
  dialogActions.push_back(Save(dir.path(), name, 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_DISK));
  WaitForExport();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].text.contains(name + QStringLiteral("0004-0001.jpg")));
  EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral("2 more file(s) could not be written:")));
  EXPECT_TRUE(messages[1].text.contains(QStringLiteral("0004-0002.jpg")));
  EXPECT_TRUE(messages[1].text.contains(QStringLiteral("0004-0003.jpg")));
  EXPECT_FALSE(messages[1].text.contains(QStringLiteral("0004-0001.jpg")));
  EXPECT_TRUE(Files(dir.path()).isEmpty());
}

TEST_F(SaveDisk, SaveAsWritesTheChosenTypeAndSetsTheFlagsInMemoryOnly) {
  settings().TIF_Default = true;
  AddPages({"2-0003.emf"});
  // "picture.gif" confirmed under the JPG filter while GIF is the default: picture.jpg.
  settings().JPG_Default = false;
  settings().GIF_Default = true;
  ASSERT_TRUE(frame_->renderPage(0));
  dialogActions.push_back([this](QDialog &d) {
    auto &fd = dynamic_cast<QFileDialog &>(d);
    EXPECT_EQ(fd.objectName(), QStringLiteral("saveCurrentImageAs"));
    EXPECT_EQ(fd.nameFilters().size(), 4);
    EXPECT_EQ(output::ChosenFilter(fd), 2) << "GIF preselected";
    return Save(dir.path(), QStringLiteral("picture.gif"), 1)(d);
  });
  frame_->preview()->commandChosen(frame::ID_SAVE_AS);
  EXPECT_EQ(Files(dir.path()), QStringList{"picture.jpg"});
  EXPECT_EQ(Format(dir.filePath("picture.jpg")), QStringLiteral("JPEG"));
  EXPECT_TRUE(settings().JPG_Default);
  EXPECT_FALSE(settings().GIF_Default);
  EXPECT_TRUE(settings().TIF_Default) << "TIF's flag is not touched";
  EXPECT_EQ(RegGetInt("JPG_Default"), -1) << "nothing written";
  EXPECT_EQ(RegGetInt("GIF_Default"), -1);
  EXPECT_TRUE(QString::fromStdString(render::CurrentImageFilePath()).endsWith(QStringLiteral(".jpg")))
      << "the current image was rendered again in the new format";
  // An existing file of the name really written is asked about; No shows the dialog again.
  answers = {QMessageBox::No};
  dialogActions.push_back(Save(dir.path(), QStringLiteral("picture"), 1));
  dialogActions.push_back(Cancel());
  ASSERT_TRUE(Run(frame::ID_SAVE_AS));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, dir.filePath("picture.jpg") + QStringLiteral(" already exists. Replace?"));
  EXPECT_EQ(dialogs.size(), 3u);
}
