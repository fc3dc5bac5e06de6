// The image format options: the sheets as the "Image Format and Quality..." command and the save commands show
// them, what a confirmed sheet stores and in which order, and the default format.
#include "output_support.h"

#include "output/format_options.h"
#include "output/format_sheet.h"
#include "platform/help_window.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTextBrowser>

using namespace otest;
using output::lvImgOptionsFull;

namespace {

// Every value of the settings key, in the order first written.
std::vector<std::string> StoredOrder() {
  std::vector<std::string> names;
  if (auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::Read))
    for (size_t i = 0; auto v = key->enumerate(i); ++i)
      names.push_back(v->name);
  return names;
}

template <class T> T *Child(QWidget *page, const char *name) { return page->findChild<T *>(QLatin1String(name)); }

class FormatSheet : public OutputTest {
protected:
  void SetUp() override {
    OutputTest::SetUp();
    AddPages({"1-0001.emf"});
    const auto rerender = output::host().rerender;
    output::host().rerender = [this, rerender] {
      ++rerenders;
      rerender();
    };
  }
  // Runs the format command with a hook that looks at the sheet and answers it.
  void WithSheet(const std::function<int(lvImgOptionsFull &)> &look) {
    dialogActions.push_back([look](QDialog &d) { return look(dynamic_cast<lvImgOptionsFull &>(d)); });
    ASSERT_TRUE(Run(frame::ID_FORMAT));
    ASSERT_TRUE(dialogActions.empty()) << "no sheet was shown";
  }
  int rerenders = 0;
};

} // namespace

TEST_F(FormatSheet, FirstOpenShowsSixPagesOnJpgWithTheStoredValues) {
  WithSheet([](lvImgOptionsFull &sheet) {
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Image Options"));
    QStringList tabs;
    for (int i = 0; i < sheet.tabs()->count(); ++i)
      tabs << sheet.tabs()->tabText(i);
    EXPECT_EQ(tabs.join(','), QStringLiteral("JPG,GIF,PNG,BMP,TIF,Multipaged PDF"));
    EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
    QWidget *jpg = sheet.page(0);
    EXPECT_EQ(Child<QSlider>(jpg, "slider")->value(), 90);
    EXPECT_EQ(Child<QLineEdit>(jpg, "number")->text(), QStringLiteral("90"));
    EXPECT_TRUE(Child<QCheckBox>(jpg, "progressive")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(jpg, "grayscale")->isChecked());
    QCheckBox *setDefault = Child<QCheckBox>(jpg, "setAsDefault");
    EXPECT_TRUE(setDefault->isChecked());
    EXPECT_TRUE(setDefault->isHidden());
    EXPECT_EQ(Child<QSlider>(sheet.page(1), "slider")->minimum(), 2);
    EXPECT_EQ(Child<QSlider>(sheet.page(1), "slider")->maximum(), 256);
    return int(QDialog::Rejected);
  });
  EXPECT_TRUE(StoredOrder().empty()) << "a cancelled sheet stores nothing";
  EXPECT_EQ(rerenders, 0);
}

TEST_F(FormatSheet, OkWritesEveryValueInOrderAndRerenders) {
  settings().GIF_Interlace = false;
  settings().PNG_Interlace = false;
  WithSheet([](lvImgOptionsFull &sheet) {
    Child<QSlider>(sheet.page(0), "slider")->setValue(75);
    EXPECT_EQ(Child<QLineEdit>(sheet.page(0), "number")->text(), QStringLiteral("75"));
    // A box of a page that was never opened keeps its stored value.
    Child<QCheckBox>(sheet.page(1), "interlace")->setChecked(true);
    return int(QDialog::Accepted);
  });
  const std::vector<std::string> expected = {
      "JPG_Gray",          "JPG_Progress",  "JPG_Quality",       "GIF_Colors",  "GIF_IndexGray", "GIF_Delay",
      "GIF_Dither",        "GIF_Interlace", "PNG_TrueIndexGray", "PNG_Colors",  "PNG_Interlace", "PNG_Dither",
      "TIF_TrueIndexGray", "TIF_Colors",    "TIF_Lzw",           "TIF_Default", "BMP_Default",   "PNG_Default",
      "GIF_Default",       "JPG_Default",   "PDF_Bitmp_Format"};
  EXPECT_EQ(StoredOrder(), expected);
  EXPECT_EQ(RegGetInt("JPG_Quality"), 75);
  EXPECT_EQ(settings().JPG_Quality, 75);
  EXPECT_EQ(RegGetInt("GIF_Interlace"), 0);
  EXPECT_EQ(RegGetInt("PNG_Interlace"), 0);
  EXPECT_EQ(RegGetInt("GIF_Delay"), 100);
  EXPECT_EQ(RegGetInt("JPG_Default"), 1);
  EXPECT_EQ(RegGetInt("TIF_Default"), 0);
  EXPECT_EQ(rerenders, 1);
}

TEST_F(FormatSheet, PngTrueColourDisablesSliderAndDitherAndKeepsTheCount) {
  settings().PNG_TrueIndexGray = 1;
  settings().PNG_Colors = 16;
  settings().PNG_Default = true;
  settings().JPG_Default = false;
  WithSheet([](lvImgOptionsFull &sheet) {
    EXPECT_EQ(sheet.tabs()->currentIndex(), 2) << "the PNG page of the default format";
    QWidget *png = sheet.page(2);
    EXPECT_TRUE(Child<QSlider>(png, "slider")->isEnabled());
    Child<QRadioButton>(png, "trueColor")->click();
    EXPECT_FALSE(Child<QSlider>(png, "slider")->isEnabled());
    EXPECT_FALSE(Child<QCheckBox>(png, "dither")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(png, "number")->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(png, "number")->text(), QStringLiteral("16"));
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(RegGetInt("PNG_TrueIndexGray"), 0);
  EXPECT_EQ(RegGetInt("PNG_Colors"), 16);
  EXPECT_EQ(RegGetInt("PNG_Default"), 1);
}

TEST_F(FormatSheet, TifBlackAndWhiteDisablesSliderAndNumberAndClampsTheCount) {
  settings().TIF_Colors = 999;
  WithSheet([](lvImgOptionsFull &sheet) {
    sheet.tabs()->setCurrentIndex(4);
    QWidget *tif = sheet.page(4);
    EXPECT_FALSE(Child<QSlider>(tif, "slider")->isEnabled()) << "true colour";
    Child<QRadioButton>(tif, "indexed")->click();
    EXPECT_TRUE(Child<QSlider>(tif, "slider")->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(tif, "number")->text(), QStringLiteral("256"));
    Child<QRadioButton>(tif, "blackWhite")->click();
    EXPECT_FALSE(Child<QSlider>(tif, "slider")->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(tif, "number")->isEnabled());
    Child<QCheckBox>(tif, "lzw")->click();
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(RegGetInt("TIF_TrueIndexGray"), 3);
  EXPECT_EQ(RegGetInt("TIF_Colors"), 256);
  EXPECT_EQ(RegGetInt("TIF_Lzw"), 0);
}

TEST_F(FormatSheet, TheLastSetFlagChoosesThePageAndOkKeepsOneDefault) {
  settings().JPG_Default = false;
  settings().TIF_Default = true;
  settings().GIF_Default = true;
  WithSheet([](lvImgOptionsFull &sheet) {
    EXPECT_EQ(sheet.tabs()->currentIndex(), 1);
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(RegGetInt("GIF_Default"), 1);
  EXPECT_EQ(RegGetInt("TIF_Default"), 0);
  EXPECT_FALSE(settings().TIF_Default);
}

TEST_F(FormatSheet, DefaultFormatSheetShowsOnlyThatPageAndNothingForBmp) {
  settings().JPG_Default = false;
  settings().BMP_Default = true;
  output::ShowDefaultFormatOptions(frame_.get(), output::host().rerender);
  EXPECT_TRUE(dialogs.empty()) << "BMP has no options";

  settings().BMP_Default = false;
  settings().GIF_Default = true;
  dialogActions.push_back([](QDialog &d) {
    auto &sheet = dynamic_cast<lvImgOptionsFull &>(d);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Image Format Options"));
    EXPECT_EQ(sheet.tabs()->count(), 1);
    EXPECT_EQ(sheet.tabs()->tabText(0), QStringLiteral("GIF"));
    Child<QRadioButton>(sheet.page(0), "grayscale")->click();
    return int(QDialog::Accepted);
  });
  output::ShowDefaultFormatOptions(frame_.get(), output::host().rerender);
  const std::vector<std::string> gifOnly = {"GIF_Colors", "GIF_IndexGray", "GIF_Delay", "GIF_Dither", "GIF_Interlace"};
  EXPECT_EQ(StoredOrder(), gifOnly);
  EXPECT_EQ(settings().GIF_IndexGray, 1);
  EXPECT_EQ(rerenders, 1);
}

TEST_F(FormatSheet, PdfPageShowsShortOrUnknownStoredFormatsAsTheRulesSay) {
  const auto shown = [this](const char *stored) {
    RegSetUserString("PDF_Bitmp_Format", stored);
    QString text;
    dialogActions.push_back([&text](QDialog &d) {
      auto &sheet = dynamic_cast<lvImgOptionsFull &>(d);
      text = Child<QComboBox>(sheet.page(0), "insideFormat")->currentText();
      return int(QDialog::Rejected);
    });
    output::ShowPdfInsideFormat(frame_.get(), 2);
    return text;
  };
  EXPECT_EQ(shown(""), QStringLiteral("BMP"));
  EXPECT_EQ(shown("J"), QStringLiteral("BMP"));
  EXPECT_EQ(shown("png"), QStringLiteral("PNG"));
  EXPECT_EQ(shown("TIFF"), QString()) << "no item begins with it";

  output::ShowPdfInsideFormat(frame_.get(), 1);
  EXPECT_EQ(dialogs.size(), 4u) << "a sheet without the PDF page shows nothing";
  dialogActions.push_back([](QDialog &d) {
    auto *combo = Child<QComboBox>(dynamic_cast<lvImgOptionsFull &>(d).page(0), "insideFormat");
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    return int(QDialog::Accepted);
  });
  output::ShowPdfInsideFormat(frame_.get(), 2);
  EXPECT_EQ(RegGetUserString("PDF_Bitmp_Format").value_or("?"), "JPG");
  // Confirming the full sheet without opening the PDF page keeps the stored inside format.
  WithSheet([](lvImgOptionsFull &) { return int(QDialog::Accepted); });
  EXPECT_EQ(RegGetUserString("PDF_Bitmp_Format").value_or("?"), "JPG");
}

TEST_F(FormatSheet, SetDefaultFormatWritesTheFlagsOnlyForAnotherValidCode) {
  output::SetDefaultFormat(1, output::host().rerender);
  output::SetDefaultFormat(0, output::host().rerender);
  output::SetDefaultFormat(6, output::host().rerender);
  EXPECT_TRUE(StoredOrder().empty());
  EXPECT_EQ(rerenders, 0);
  output::SetDefaultFormat(3, output::host().rerender);
  const std::vector<std::string> flags = {"JPG_Default", "GIF_Default", "PNG_Default", "BMP_Default", "TIF_Default"};
  EXPECT_EQ(StoredOrder(), flags);
  EXPECT_EQ(RegGetInt("PNG_Default"), 1);
  EXPECT_EQ(RegGetInt("JPG_Default"), 0);
  EXPECT_EQ(rerenders, 1);
  EXPECT_TRUE(QString::fromStdString(render::CurrentImageFilePath()).endsWith(QStringLiteral("~CurImg.png")));
}

TEST_F(FormatSheet, HelpOpensTheOptionsPage) {
  QTemporaryDir install;
  QDir().mkpath(install.filePath(QStringLiteral("Lumdoc")));
  QFile page(install.filePath(QStringLiteral("Lumdoc/options.htm")));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.write("<html><body>options</body></html>");
  page.close();
  auto machine =
      platform::RegKey::create(platform::Hive::LocalMachine, "Software\\Tarvik\\Folvex2", platform::RegAccess::All);
  ASSERT_TRUE(machine);
  ASSERT_TRUE(machine->setString("InstallPath", install.path().toStdString()));
  QUrl source;
  WithSheet([&source](lvImgOptionsFull &sheet) {
    for (QPushButton *b : sheet.findChildren<QPushButton *>())
      if (b->text().contains(QStringLiteral("Help")))
        b->click();
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *browser = w->findChild<QTextBrowser *>(); browser && w->isVisible())
        source = browser->source();
    return int(QDialog::Rejected);
  });
  machine->remove("InstallPath");
  EXPECT_TRUE(source.toLocalFile().endsWith(QStringLiteral("/Lumdoc/options.htm"))) << source.toString().toStdString();
}
