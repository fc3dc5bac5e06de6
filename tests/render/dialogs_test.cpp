// The resolution dialog and the hatch dialog as the user works them: arrows, typing, radio buttons, colour swatches,
// the preview, and what OK and Cancel leave in the settings and the hive.
#include "render/hatch_dialog.h"
#include "render/resolution_dialog.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

using F = render::ResolutionModel;

void Type(QLineEdit *edit, const QString &text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// The six number fields: resolution, width and height in mm, in pixels, scale.
std::string Fields(const render::ResolutionDialog &d) {
  QStringList out;
  for (auto f : {F::UserRes, F::WidthMm, F::HeightMm, F::WidthPx, F::HeightPx, F::Scale})
    out << d.edit(f)->text();
  return out.join(QLatin1Char(' ')).toStdString();
}

} // namespace

TEST(ResolutionDialog, ArrowsKeepTheFieldsInStep) {
  render::ResolutionDialog d({2, 100.0, 100}, 96, 210, 297);
  EXPECT_EQ(d.displayEdit()->text(), "96");
  EXPECT_EQ(d.printerEdit()->text(), "300");
  EXPECT_TRUE(d.radio(2)->isChecked());
  EXPECT_TRUE(d.edit(F::UserRes)->isEnabled());
  EXPECT_EQ(Fields(d), "100 210 297 827 1170 100");
  // One more pixel of width: 828 / (210 mm in inches) = 100.15 dpi, and the height follows: 1172.
  d.arrows(F::WidthPx)->upButton()->click();
  EXPECT_NEAR(d.working().resolution, 100.15, 0.005);
  EXPECT_EQ(Fields(d), "100 210 297 828 1172 100");
  // The scale's arrow: the millimetres and then the pixels follow the new scale.
  d.arrows(F::Scale)->downButton()->click();
  EXPECT_EQ(d.working().scale, 99);
  EXPECT_EQ(Fields(d), "100 208 295 821 1164 99");
  // The width's millimetres: the scale comes from them (ceil(209 x 100 / 210) = 100), and the Up key works the arrow.
  d.edit(F::WidthMm)->setFocus();
  QTest::keyClick(d.edit(F::WidthMm), Qt::Key_Up);
  EXPECT_EQ(d.working().scale, 100);
  EXPECT_EQ(Fields(d), "100 209 297 825 1172 100");
  EXPECT_EQ(d.working().choice, 2);
}

TEST(ResolutionDialog, TypingChangesOnlyItsOwnValueWithinLimits) {
  render::ResolutionDialog d({2, 100.0, 100}, 96, 210, 297);
  d.show();
  Type(d.edit(F::WidthMm), QStringLiteral("105"));
  EXPECT_EQ(d.working().scale, 50);
  EXPECT_EQ(Fields(d), "100 105 297 827 1170 100") << "the rest waits for an arrow";
  Type(d.edit(F::UserRes), QStringLiteral("0"));
  EXPECT_EQ(d.working().resolution, 1.0);
  Type(d.edit(F::UserRes), QStringLiteral("400"));
  EXPECT_EQ(d.working().resolution, 300.0);
  Type(d.edit(F::Scale), QStringLiteral("999"));
  EXPECT_EQ(d.working().scale, 300);
  // An empty millimetre field keeps the resolution a typed pixel count would divide by it.
  Type(d.edit(F::WidthMm), QString());
  Type(d.edit(F::WidthPx), QStringLiteral("500"));
  EXPECT_EQ(d.working().resolution, 300.0);
}

TEST(ResolutionDialog, RadioButtonsSetTheResolution) {
  render::ResolutionDialog d({2, 150.0, 100}, 96, 210, 297);
  d.radio(0)->click();
  EXPECT_EQ(d.working().choice, 0);
  EXPECT_EQ(d.working().resolution, 96.0);
  EXPECT_FALSE(d.edit(F::UserRes)->isEnabled());
  EXPECT_FALSE(d.arrows(F::UserRes)->isEnabled());
  EXPECT_EQ(d.edit(F::WidthPx)->text(), "794"); // ceil(210 mm x 96 dpi)
  d.radio(1)->click();
  EXPECT_EQ(d.working().resolution, 300.0);
  EXPECT_EQ(d.edit(F::WidthPx)->text(), "2481");
  // User-defined takes the number in its field again; a pixel count switches to it as well.
  d.radio(2)->click();
  EXPECT_EQ(d.working().resolution, 150.0);
  d.radio(0)->click();
  d.arrows(F::HeightPx)->upButton()->click();
  EXPECT_EQ(d.working().choice, 2);
  EXPECT_TRUE(d.radio(2)->isChecked());
  EXPECT_TRUE(d.edit(F::UserRes)->isEnabled());
}

TEST(ResolutionDialog, WithoutAPageSizeTheSizeFieldsStayDisabled) {
  render::ResolutionDialog d({1, 100.0, 80}, 96, 0, 0);
  EXPECT_TRUE(d.radio(1)->isChecked());
  EXPECT_FALSE(d.edit(F::UserRes)->isEnabled());
  for (auto f : {F::WidthMm, F::HeightMm, F::WidthPx, F::HeightPx}) {
    EXPECT_FALSE(d.edit(f)->isEnabled());
    EXPECT_TRUE(d.edit(f)->text().isEmpty());
  }
  d.arrows(F::Scale)->upButton()->click();
  d.radio(2)->click();
  EXPECT_EQ(d.working().scale, 81);
  EXPECT_EQ(d.working().resolution, 100.0);
}

// ---- hatch ----

namespace {
class HatchDialog : public ::testing::Test {
protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    settings() = Settings{};
    for (const char *v : {"lvBkGrHathStyle", "lvHatchColor", "lvCurBkGrColor", "lvHatchWidth", "lvHatchDepress",
                          "lvHatchAngle", "lvHatchLnHor", "lvHatchLnVert"})
      RegSetInt(v, -1); // reads as missing
  }
};
} // namespace

TEST_F(HatchDialog, BackgroundOffGreysTheLineSettings) {
  render::lvSetHatchDlg d;
  d.show();
  int chooserCalls = 0;
  d.setColorChooser([&](const QColor &) {
    ++chooserCalls;
    return std::optional<QColor>(Qt::red);
  });
  EXPECT_FALSE(d.showBackgroundBox()->isChecked());
  for (QWidget *c : std::initializer_list<QWidget *>{d.horizontalBox(), d.verticalBox(), d.widthSpin(), d.spacingSpin(),
                                                     d.angleSpin()})
    EXPECT_FALSE(c->isEnabled());
  QTest::mouseClick(&d, Qt::LeftButton, {}, render::lvSetHatchDlg::kBackgroundSwatch.center());
  EXPECT_EQ(chooserCalls, 0);
  // On: the line grid, the controls, and the swatches that answer clicks with the pointing hand.
  d.showBackgroundBox()->click();
  EXPECT_EQ(d.working().style, 4);
  EXPECT_TRUE(d.widthSpin()->isEnabled());
  // (A display server delivers the moves a little later.)
  QTest::mouseMove(&d, render::lvSetHatchDlg::kHatchSwatch.center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.cursor().shape() == Qt::PointingHandCursor; }, 2000));
  QTest::mouseMove(&d, QPoint(120, 58)); // between the swatch labels and the check boxes
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.cursor().shape() != Qt::PointingHandCursor; }, 2000));
  QTest::mouseClick(&d, Qt::LeftButton, {}, render::lvSetHatchDlg::kBackgroundSwatch.center());
  EXPECT_EQ(chooserCalls, 1);
  EXPECT_EQ(d.working().backgroundColor, 0x0000FFu);
  const QImage shown = d.grab().toImage();
  EXPECT_EQ(shown.pixelColor(render::lvSetHatchDlg::kBackgroundSwatch.center()), QColor(Qt::red));
  EXPECT_EQ(shown.pixelColor(render::lvSetHatchDlg::kPreview.topLeft()), QColor(0, 0, 255)); // the blue frame
  // Cancel in the colour chooser: back to the stored colour.
  d.setColorChooser([](const QColor &) { return std::optional<QColor>(); });
  QTest::mouseClick(&d, Qt::LeftButton, {}, render::lvSetHatchDlg::kBackgroundSwatch.center());
  EXPECT_EQ(d.working().backgroundColor, settings().lvCurBkGrColor);
}

TEST_F(HatchDialog, PreviewDrawsTheWorkingValues) {
  render::lvSetHatchDlg d;
  d.show();
  d.showBackgroundBox()->click();
  const QImage grid = d.previewImage();
  ASSERT_EQ(grid.size(), render::lvSetHatchDlg::kPreview.size());
  const QColor green(128, 255, 128), lines(62, 62, 168);
  // Both families: some whole rows and some whole columns are lines.
  const auto lineRows = [&](const QImage &img, bool rows) {
    int n = 0;
    const int outer = rows ? img.height() : img.width(), inner = rows ? img.width() : img.height();
    for (int a = 0; a < outer; ++a) {
      bool all = true;
      for (int b = 0; b < inner && all; ++b)
        all = img.pixelColor(rows ? b : a, rows ? a : b) == lines;
      n += all;
    }
    return n;
  };
  EXPECT_GT(lineRows(grid, true), 10);
  EXPECT_GT(lineRows(grid, false), 10);
  d.verticalBox()->click();
  EXPECT_FALSE(d.working().linesVertical);
  EXPECT_EQ(lineRows(d.previewImage(), false), 0);
  EXPECT_GT(lineRows(d.previewImage(), true), 10);
  // Nothing of the grid spills over the preview's edge.
  const QImage shown = d.grab().toImage();
  const QColor beside = shown.pixelColor(render::lvSetHatchDlg::kPreview.left() - 1, 60);
  EXPECT_NE(beside, lines);
  EXPECT_NE(beside, green);
}

TEST_F(HatchDialog, OkWritesOnlyTheChangedValues) {
  {
    render::lvSetHatchDlg d;
    d.showBackgroundBox()->click();
    d.setColorChooser([](const QColor &) { return std::optional<QColor>(QColor(10, 20, 30)); });
    QTest::mouseClick(&d, Qt::LeftButton, {}, render::lvSetHatchDlg::kHatchSwatch.center());
    d.widthSpin()->setValue(3);
    d.widthSpin()->setValue(0); // back to the stored width
    d.accept();
  }
  EXPECT_EQ(RegGetInt("lvBkGrHathStyle"), 4);
  EXPECT_EQ(RegGetInt("lvHatchColor"), 0x1E140A);
  for (const char *v :
       {"lvCurBkGrColor", "lvHatchWidth", "lvHatchDepress", "lvHatchAngle", "lvHatchLnHor", "lvHatchLnVert"})
    EXPECT_EQ(RegGetInt(v), -1) << v;
  EXPECT_EQ(settings().lvBkGrHathStyle, 4);
  EXPECT_EQ(settings().lvHatchColor, 0x1E140Au);
  // Cancel keeps everything.
  {
    render::lvSetHatchDlg d;
    d.angleSpin()->setValue(45);
    d.showBackgroundBox()->click();
    d.reject();
  }
  EXPECT_EQ(RegGetInt("lvBkGrHathStyle"), 4);
  EXPECT_EQ(RegGetInt("lvHatchAngle"), -1);
  EXPECT_EQ(settings().lvHatchAngle, 0);
}

TEST_F(HatchDialog, ShowingTheBackgroundAgainChoosesTheLineGrid) {
  RegSetInt("lvBkGrHathStyle", 1);  // waves, stored
  settings().lvBkGrHathStyle = 100; // the dialog reads the style from the hive
  render::lvSetHatchDlg d;
  EXPECT_TRUE(d.showBackgroundBox()->isChecked());
  EXPECT_EQ(d.working().style, 1);
  d.showBackgroundBox()->click();
  d.showBackgroundBox()->click();
  d.accept();
  EXPECT_EQ(RegGetInt("lvBkGrHathStyle"), 4);
}
