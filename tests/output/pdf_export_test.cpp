// The PDF command through the frame: the resolution question, the inside format and its options, the temporary page
// images, the PDF checked by qpdf and pdfinfo, the output mode during and after a run, aborts and writer failures.
#include "output_support.h"

#include "app/prompts.h"
#include "output/format_sheet.h"
#include "platform/paths.h"
#include "render/resolution.h"
#include "render/resolution_dialog.h"
#include "test_env.h"

#include <QComboBox>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>

using namespace otest;

namespace {

QString Tool(const QString &program, const QStringList &args, int *status = nullptr) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(30000);
  if (status)
    *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

// Page sizes in points as pdfinfo reports them.
std::vector<QSizeF> PdfPageSizes(const QString &pdf) {
  const QString info = Tool(QStringLiteral("pdfinfo"), {"-f", "1", "-l", "999", pdf});
  std::vector<QSizeF> sizes;
  auto it = QRegularExpression(QStringLiteral("Page +\\d+ size: +([\\d.]+) x ([\\d.]+) pts")).globalMatch(info);
  while (it.hasNext()) {
    const auto m = it.next();
    sizes.emplace_back(m.captured(1).toDouble(), m.captured(2).toDouble());
  }
  return sizes;
}

// A page of 8 x 8 blocks of 64 colours, 200 x 200 device pixels.
emf::HENHMETAFILE SixtyFourColourPage() {
  emftest::EmfBuilder::Options o;
  o.frame = {0, 0, 2000, 2000};
  o.device = {200, 200};
  o.millimeters = {20, 20};
  emftest::EmfBuilder b(o);
  for (int i = 0; i < 64; ++i)
    b.fill((i % 8) * 25, (i / 8) * 25, (i % 8) * 25 + 24, (i / 8) * 25 + 24,
           emftest::EmfBuilder::rgb(uint8_t(i * 4), uint8_t(255 - i * 3), uint8_t((i % 8) * 32)));
  return b.metafile();
}

class PdfExport : public OutputTest {
protected:
  void SetUp() override {
    OutputTest::SetUp();
    work = QString::fromStdString(platform::workFolder());
    QDir(work).removeRecursively();
  }
  void TearDown() override {
    OutputTest::TearDown();
    testenv::refuseUnexpectedPrompts();
    render::setPageRotationSource([](int page) { return capture::pageStore().rotationOf(page); });
  }
  // Pages of their own sizes (hundredths of a millimetre); the first becomes current.
  void AddSizedPages(const std::vector<std::tuple<const char *, int, int>> &pages) {
    for (const auto &[name, w, h] : pages) {
      capture::PageRecord r;
      r.name = name;
      r.metafile = Page(w, h);
      r.thumbnail = QImage(10, 10, QImage::Format_RGB32);
      ASSERT_TRUE(capture::pageStore().pages.push_back(std::move(r)));
    }
    capture::pageStore().currentPage = 0;
    ASSERT_TRUE(frame_->renderPage(0));
  }
  // Esc is pressed during the first render of the export (the options sheets render the current page before).
  void EscDuringTheFirstRender() {
    auto calls = std::make_shared<std::atomic<int>>(0);
    render::setPageRotationSource([calls](int) {
      if (output::ExportRunning() && ++*calls == 1)
        frame::AbortRequest() = true;
      return 0.0;
    });
  }
  QString work;
};

} // namespace

TEST_F(PdfExport, ResolutionQuestionShowsTheTruncatedResolutionAndNoOpensTheDialog) {
  render::setDisplayResolution(96.7);
  settings().CheckN = 0; // the display resolution
  settings().ResCur = 150;
  AddPages({"1-0001.emf"});
  // No: the resolution dialog; choosing the user-defined 150 dpi there goes straight on to the file dialog.
  answers = {QMessageBox::No};
  int resolutionDialogs = 0;
  frame::PromptHooks hooks;
  hooks.dialog = [&resolutionDialogs](QDialog &d) {
    ++resolutionDialogs;
    auto &dlg = dynamic_cast<render::ResolutionDialog &>(d);
    dlg.radio(2)->click();
    dlg.accept();
    return dlg.result();
  };
  frame::setPromptHooks(hooks);
  dialogActions.push_back(Cancel());
  QTest::keyClick(frame_.get(), Qt::Key_P, Qt::ControlModifier);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Current resolution 96 dpi is too small for PDF.\nRecommended resolution "
                                             "is 100 to 300 dpi.\nContinue with current resolution?"));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex Message"));
  EXPECT_EQ(messages[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(resolutionDialogs, 1);
  EXPECT_EQ(settings().CheckN, 2);
  EXPECT_EQ(dialogs, std::vector<QString>{QStringLiteral("lvFileDlg")});

  // Exactly 100 dpi asks nothing.
  messages.clear();
  settings().ResCur = 100;
  dialogActions.push_back(Cancel());
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  EXPECT_TRUE(messages.empty());
}

TEST_F(PdfExport, ThreePagesGiveAThreePagePdfOfTheirImageSizes) {
  AddSizedPages({{"4-0001.emf", 2000, 1000}, {"4-0002.emf", 1000, 3000}, {"4-0003.emf", 2500, 2500}});
  RegSetUserString("PDF_Bitmp_Format", ""); // an empty inside format gives ".bmp"
  std::vector<int> modeWhenOpened;
  output::host().openDocument = [&](const QString &path) {
    opened.push_back(path);
    modeWhenOpened = {settings().KodMultipageFormat, RegGetInt("KodMultipageFormat")};
    return true;
  };
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Doc"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  WaitForExport();
  EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
  const QString pdf = dir.filePath(QStringLiteral("Doc.pdf"));
  EXPECT_EQ(Files(dir.path()), QStringList{"Doc.pdf"});
  EXPECT_EQ(opened, std::vector<QString>{pdf});
  EXPECT_EQ(modeWhenOpened, (std::vector<int>{1, 1})) << "output mode 1 during the run";
  EXPECT_EQ(settings().KodMultipageFormat, 0);
  EXPECT_EQ(RegGetInt("KodMultipageFormat"), 0);

  const QStringList images{"0004-0001.bmp", "0004-0002.bmp", "0004-0003.bmp"};
  EXPECT_EQ(Files(work).filter(QStringLiteral(".bmp")), images) << "the temporary images stay";
  int status = -1;
  const QString check = Tool(QStringLiteral("qpdf"), {"--check", pdf}, &status);
  EXPECT_EQ(status, 0) << check.toStdString();
  const auto sizes = PdfPageSizes(pdf);
  ASSERT_EQ(sizes.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const QSize px = QImage(work + images[i]).size();
    EXPECT_NEAR(sizes[size_t(i)].width(), px.width() * 72.0 / 100, 0.05) << "page " << i + 1;
    EXPECT_NEAR(sizes[size_t(i)].height(), px.height() * 72.0 / 100, 0.05) << "page " << i + 1;
  }
}

TEST_F(PdfExport, ChosenInsideFormatBecomesTheDefaultAndAnAbortLeavesNoPdf) {
  settings().JPG_Default = false;
  settings().BMP_Default = true;
  AddPages({"2-0001.emf", "2-0002.emf"});
  QString optionsPage;
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Doc"), 1, true));
  dialogActions.push_back([](QDialog &d) {
    auto *combo = dynamic_cast<output::lvImgOptionsFull &>(d).page(0)->findChild<QComboBox *>("insideFormat");
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    return int(QDialog::Accepted);
  });
  dialogActions.push_back([&optionsPage](QDialog &d) {
    optionsPage = dynamic_cast<output::lvImgOptionsFull &>(d).tabs()->tabText(0);
    return int(QDialog::Accepted);
  });
  EscDuringTheFirstRender();
  int modeAtTheQuestion = -1;
  onMessage = [&](const output::MessageRequest &r) {
    if (r.text.startsWith(QStringLiteral("Abort")))
      modeAtTheQuestion = RegGetInt("KodMultipageFormat");
    return int(QMessageBox::Ok);
  };
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  WaitForExport();
  EXPECT_EQ(RegGetUserString("PDF_Bitmp_Format").value_or(""), "JPG");
  EXPECT_EQ(RegGetInt("JPG_Default"), 1);
  EXPECT_EQ(RegGetInt("BMP_Default"), 0);
  EXPECT_EQ(optionsPage, QStringLiteral("JPG")) << "the options of the inside format";
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Abort File Generation Process?"));
  EXPECT_EQ(modeAtTheQuestion, 1);
  EXPECT_EQ(RegGetInt("KodMultipageFormat"), 0) << "after an abort too";
  EXPECT_EQ(settings().KodMultipageFormat, 0);
  EXPECT_TRUE(Files(dir.path()).isEmpty()) << "nothing half-written stays";
  EXPECT_TRUE(opened.empty());

  // The next run, not aborted, writes JPG page images.
  render::setPageRotationSource([](int) { return 0.0; });
  onMessage = nullptr;
  messages.clear();
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Doc"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  WaitForExport();
  EXPECT_EQ(Files(work).filter(QStringLiteral("0002-")), (QStringList{"0002-0001.JPG", "0002-0002.JPG"}));
  EXPECT_EQ(PdfPageSizes(dir.filePath(QStringLiteral("Doc.pdf"))).size(), 2u);
}

TEST_F(PdfExport, GifPagesOfFewColoursAreAllKept) {
  settings().KodAntialias = 0; // the blocks keep their own colours
  RegSetUserString("PDF_Bitmp_Format", "GIF");
  for (const char *name : {"9-0001.emf", "9-0002.emf"}) {
    capture::PageRecord r;
    r.name = name;
    r.metafile = SixtyFourColourPage();
    r.thumbnail = QImage(10, 10, QImage::Format_RGB32);
    ASSERT_TRUE(capture::pageStore().pages.push_back(std::move(r)));
  }
  capture::pageStore().currentPage = 0;
  ASSERT_TRUE(frame_->renderPage(0));
  dialogActions.push_back(Save(dir.path(), QStringLiteral("Colours"), 1, false));
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  WaitForExport();
  EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
  Magick::Image page(work.toStdString() + "0009-0001.GIF");
  EXPECT_EQ(page.magick(), "GIF");
  EXPECT_GE(page.totalColors(), 64u);
  EXPECT_LE(page.totalColors(), 128u) << "codes narrower than 8 bits";
  EXPECT_EQ(PdfPageSizes(dir.filePath(QStringLiteral("Colours.pdf"))).size(), 2u);
}

TEST_F(PdfExport, AFileThatCannotBeBegunEndsTheRunWithTheWritersReason) {
  AddPages({"3-0001.emf"});
  // The folder goes away between the dialog and the run (a removed stick): the document cannot be begun.
  const QString gone = dir.filePath(QStringLiteral("stick"));
  QDir().mkpath(gone);
  const auto save = Save(gone, QStringLiteral("Doc"), 1, false);
  dialogActions.push_back([save, gone](QDialog &d) {
    const int result = save(d);
    QDir(gone).removeRecursively();
    return result;
  });
  ASSERT_TRUE(Run(frame::ID_SAVE_PDF));
  WaitForExport();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.endsWith(QStringLiteral("\nError 000079"))) << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.contains(QStringLiteral("Doc.pdf")));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex Message"));
  EXPECT_FALSE(QFileInfo::exists(gone));
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(RegGetInt("KodMultipageFormat"), 0);
}
