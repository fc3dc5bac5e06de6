// Mail, "Send to...", the wallpaper and the emergency report through the frame's commands, with xdg-email handing
// every message to a recording mail program and gsettings writing into a private key file.
#include "output_support.h"

#include "diag/emergency_report.h"
#include "mail_recorder.h"
#include "output/mail_pages.h"
#include "output/set_wallpaper.h"
#include "platform/paths.h"

#include <QComboBox>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

using namespace otest;

namespace {

class Delivery : public OutputTest {
protected:
  void SetUp() override {
    OutputTest::SetUp();
    work = QString::fromStdString(platform::workFolder());
    QDir(work).removeRecursively();
  }
  // The mail format dialog's answer: the item (-1 leaves the selection) and the "Image Options" box.
  void ChooseMailFormat(int item, bool imageOptions, int *opened = nullptr) {
    dialogActions.push_back([=](QDialog &d) {
      auto &dlg = dynamic_cast<output::lvDlgSelectFormatForMail &>(d);
      if (opened)
        *opened = dlg.formatList()->currentIndex();
      if (item >= 0)
        dlg.formatList()->setCurrentIndex(item);
      dlg.imageOptionsBox()->setChecked(imageOptions);
      return int(QDialog::Accepted);
    });
  }
  QString InWork(const QString &name) const { return QFileInfo(work + name).canonicalFilePath(); }
  // The frames of a multipage file.
  static size_t Frames(const QString &path) {
    std::vector<Magick::Image> frames;
    try {
      Magick::readImages(&frames, path.toStdString());
    } catch (const std::exception &) {
    }
    return frames.size();
  }

  QString work;
  MailRecorder recorder{dir.path() + "/mail"};
};

} // namespace

TEST_F(Delivery, PngPagesGoAsOneMessageInPageOrderAndStay) {
  AddPages({"5-0001.emf", "5-0002.emf", "12-0001.emf"});
  int opened = -2;
  ChooseMailFormat(2, false, &opened);
  QTest::keyClick(frame_.get(), Qt::Key_M, Qt::ControlModifier);
  WaitForExport();
  EXPECT_EQ(opened, 0) << "a first mail preselects JPG";
  EXPECT_EQ(RegGetInt("KodEmailFormat"), 3);
  EXPECT_EQ(RegGetInt("PNG_Default"), 1);
  EXPECT_EQ(RegGetInt("SaveFile_Opt"), 0);
  const auto sent = recorder.messages();
  ASSERT_EQ(sent.size(), 1u);
  const QStringList files{InWork("Document0005-0001.png"), InWork("Document0005-0002.png"),
                          InWork("Document0012-0001.png")};
  EXPECT_EQ(sent[0].attachments, files);
  for (const QString &f : files)
    EXPECT_TRUE(QFileInfo::exists(f));
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(output::MailFlag().load());
}

TEST_F(Delivery, PdfMailAttachesDocumentPdfWithoutOpeningIt) {
  settings().JPG_Default = false;
  settings().BMP_Default = true;
  RegSetUserString("PDF_Bitmp_Format", "PNG");
  AddPages({"7-0001.emf", "7-0002.emf"});
  ChooseMailFormat(5, false);
  ASSERT_TRUE(Run(frame::ID_MAIL));
  WaitForExport();
  EXPECT_EQ(RegGetInt("PNG_Default"), 1) << "the stored inside format becomes the default without the options";
  const auto sent = recorder.messages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].attachments, QStringList{InWork("Document.pdf")});
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(QFileInfo::exists(work + "0007-0002.PNG"));
  EXPECT_EQ(RegGetInt("KodMultipageFormat"), 0);
}

TEST_F(Delivery, MultipageTiffAndGifHaveOneFramePerPage) {
  AddPages({"3-0001.emf", "3-0002.emf", "3-0003.emf"});
  RegSetInt("KodEmailFormat", 7);
  int opened = -2;
  ChooseMailFormat(-1, false, &opened);
  ASSERT_TRUE(Run(frame::ID_MAIL));
  WaitForExport();
  EXPECT_EQ(opened, -1) << "multipage TIFF has no item";
  RegSetInt("KodEmailFormat", 8);
  ChooseMailFormat(-1, false);
  ASSERT_TRUE(Run(frame::ID_MAIL));
  WaitForExport();
  EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
  const auto sent = recorder.messages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].attachments, QStringList{InWork("Document.tif")});
  EXPECT_EQ(sent[1].attachments, QStringList{InWork("Document.gif")});
  EXPECT_EQ(Frames(work + "Document.tif"), 3u);
  EXPECT_EQ(Frames(work + "Document.gif"), 3u);
  EXPECT_EQ(RegGetInt("KodMultipageFormat"), 0);
  EXPECT_EQ(RegGetInt("GIF_Default"), 1);
}

TEST_F(Delivery, SendToKeepsTheAttachmentUntilTheNextStartAndReportsAFailure) {
  settings().JPG_Default = false;
  settings().GIF_Default = true;
  AddPages({"5-0001.emf", "5-0002.emf", "5-0003.emf"});
  capture::pageStore().currentPage = 2;
  ASSERT_TRUE(frame_->renderPage(2));
  ASSERT_TRUE(Run(frame::ID_SEND_TO));
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.messages().size() == 1; }, 15000));
  const QString file = InWork("Document0003.gif");
  EXPECT_EQ(recorder.messages()[0].attachments, QStringList{file});
  QTest::qWait(300);
  EXPECT_TRUE(QFileInfo::exists(file)) << "the mail program reads it later";
  EXPECT_EQ(QImage(file).size(), capture::pageStore().currentImageDisplay.size());

  // The next start removes it; the pages a mail run wrote stay.
  QFile(work + "Document0003-0001.gif").open(QIODevice::WriteOnly);
  frame_ = std::make_unique<lvFrameWin>();
  EXPECT_FALSE(QFileInfo::exists(work + "Document0003.gif"));
  EXPECT_TRUE(QFileInfo::exists(work + "Document0003-0001.gif"));

  // No mail program set up.
  recorder.unregister();
  ASSERT_TRUE(Run(frame::ID_SEND_TO));
  ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() == 1; }, 15000));
  EXPECT_EQ(messages[0].text, QStringLiteral("Unable to send the message\nError 000776"));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex! Mailer Message"));
}

TEST_F(Delivery, AListTooLongForOneMessageGoesIntoSeveralAndTheUserIsTold) {
  QDir().mkpath(work);
  std::vector<std::string> files;
  for (int i = 0; i < 700; ++i) {
    const QString path = work + QStringLiteral("Document%1-").arg(i, 4, 10, QLatin1Char('0')) + QString(180, 'x');
    QFile(path).open(QIODevice::WriteOnly);
    files.push_back(path.toStdString());
  }
  output::MailAllFiles(files);
  // The notice can come before the mail program has taken the second message: it is started, not waited for.
  ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() == 1 && recorder.messages().size() >= 2; }, 30000));
  QTest::qWait(300);
  const auto sent = recorder.messages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].attachments.size() + sent[1].attachments.size(), 700);
  EXPECT_EQ(sent[1].attachments.back(), QFileInfo(QString::fromStdString(files.back())).canonicalFilePath());
  EXPECT_TRUE(messages[0].text.contains(QStringLiteral("2 messages"))) << messages[0].text.toStdString();
}

TEST_F(Delivery, WallpaperAndEmergencyReportCommands) {
  AddPages({"1-0001.emf"});
  // The desktop's schemas are found where the system keeps them; the key goes into a file of the test's own.
  const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
  qunsetenv("XDG_DATA_DIRS");
  qputenv("GSETTINGS_BACKEND", "keyfile");
  qputenv("XDG_CURRENT_DESKTOP", "GNOME");
  ASSERT_TRUE(Run(frame::ID_WALLPAPER));
  qunsetenv("GSETTINGS_BACKEND");
  qunsetenv("XDG_CURRENT_DESKTOP");
  qputenv("XDG_DATA_DIRS", dataDirs);
  EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
  const QString file = QString::fromStdString(output::WallpaperFilePath());
  EXPECT_EQ(QImage(file).size(), capture::pageStore().currentImageDisplay.size());
  QFile keyfile(qEnvironmentVariable("XDG_CONFIG_HOME") + "/glib-2.0/settings/keyfile");
  ASSERT_TRUE(keyfile.open(QIODevice::ReadOnly));
  EXPECT_TRUE(keyfile.readAll().contains(("picture-uri='" + QUrl::fromLocalFile(file).toString() + "'").toUtf8()));

  QString question;
  diag::setReportHooks({[&question](const QString &text, const QString &) {
                          question = text;
                          return true;
                        },
                        [](const QString &text, const QString &) { ADD_FAILURE() << text.toStdString(); }});
  ASSERT_TRUE(Run(frame::ID_EMERGENCY));
  diag::setReportHooks({});
  const QString folder = QString::fromStdString(platform::appDataFolder());
  EXPECT_EQ(question, "File 'Report.log' was saved to '" + folder + "'\nSend it to Tarvik Support?");
  const auto sent = recorder.messages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, QStringLiteral("support@tarvik.example"));
  EXPECT_EQ(sent[0].attachments, QStringList{QFileInfo(folder + "/Report.log").canonicalFilePath()});
}
