// The main frame as a window: child placement per client size, the status texts, the button column and its
// popups, rendering the current page, the window side of the capture, the end of the program, the welcome screen.
#include "app/frame_commands.h"
#include "app/frame_win.h"
#include "app/welcome_dialog.h"
#include "capture/capture_worker.h"
#include "capture/page_store.h"
#include "capture/spool_watcher.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "render/image_library.h"
#include "settings/settings.h"
#include "view/page_strip.h"
#include "view/preview_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void RemoveValue(const char *name) {
  if (auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::All))
    key->remove(name);
}

void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
}

// Resizes the client area and lets the frame apply its own size rules.
void ResizeClient(lvFrameWin &w, int cx, int cy) {
  w.resize(cx, cy);
  Settle();
}

// Adds a page record with a thumbnail of the given size directly to the page list.
void AddPage(const std::string &name, int x, int y, int w, int h) {
  capture::PageRecord r;
  r.name = name;
  r.thumbnail = QImage(w, h, QImage::Format_RGB32);
  r.thumbnail.fill(Qt::white);
  r.thumbX = x;
  r.thumbY = y;
  r.thumbW = w;
  r.thumbH = h;
  ASSERT_TRUE(capture::pageStore().pages.push_back(std::move(r)));
}

void ResetStore() {
  auto &s = capture::pageStore();
  s.pages.clear();
  s.currentPage = -1;
  s.currentImageDisplay = QImage();
  s.viewState = capture::kViewNothing;
}

// Opens a popup by pressing a button and returns its items as (text, enabled, checked), including submenus.
struct Item {
  QString text;
  bool enabled;
  bool checked;
};
std::vector<Item> PopupItems(lvFrameWin &w, int button) {
  std::vector<Item> items;
  QTimer::singleShot(0, [&] {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
      return;
    for (QAction *a : menu->actions()) {
      if (a->isSeparator()) {
        items.push_back({QStringLiteral("-"), true, false});
      } else if (a->menu()) {
        for (QAction *sub : a->menu()->actions())
          items.push_back({sub->text(), sub->isEnabled(), sub->isChecked()});
      } else {
        items.push_back({a->text(), a->isEnabled(), a->isChecked()});
      }
    }
    menu->close();
  });
  QTest::mousePress(w.button(button), Qt::LeftButton, {}, QPoint(10, 10));
  return items;
}

const Item *Find(const std::vector<Item> &items, const QString &text) {
  for (const Item &i : items)
    if (i.text == text)
      return &i;
  return nullptr;
}

class FrameWindow : public ::testing::Test {
protected:
  void SetUp() override {
    ResetStore();
    capture::setReadinessState(1);
  }
  void TearDown() override { ResetStore(); }
};

} // namespace

TEST_F(FrameWindow, ChildrenFollowTheLayoutForSeveralClientSizes) {
  lvFrameWin w;
  w.show();
  for (QSize s : {QSize(800, 600), QSize(1200, 900), QSize(640, 480)}) {
    ResizeClient(w, s.width(), s.height());
    ASSERT_EQ(w.size(), s);
    EXPECT_TRUE(w.preview()->isVisible());
    EXPECT_EQ(w.preview()->geometry(), QRect(7, 7, s.width() - 180, s.height() - 39));
    EXPECT_EQ(w.strip()->geometry(), QRect(s.width() - 163, 7, 156, s.height() - 14));
    EXPECT_FALSE(w.preview()->mask().isEmpty());
    EXPECT_FALSE(w.preview()->mask().contains(QPoint(5, 40)));
  }
  for (int i = 0; i < frame::kButtonCount; ++i) {
    EXPECT_EQ(w.button(i)->geometry(), QRect(0, frame::ButtonTop(i), 43, 32)) << i;
    EXPECT_EQ(w.button(i)->toolTip(), frame::ButtonTooltip(i));
  }
}

TEST_F(FrameWindow, TheFrameKeepsItsSmallestSize) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 150, 300);
  EXPECT_EQ(w.size(), QSize(frame::kMinClientWidth, frame::kMinClientHeight));
  // The preview stays beside the button column, wider than the part the buttons cover.
  EXPECT_TRUE(w.preview()->isVisible());
  EXPECT_GT(w.preview()->width(), 200);
  EXPECT_EQ(w.strip()->height(), frame::kMinClientHeight - 14);
}

TEST_F(FrameWindow, ReadinessTextFollowsStateAndWidth) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 700, 500);
  capture::setReadinessState(0);
  auto t = w.readinessText();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->text, "System not ready. No acceptable printers!");
  EXPECT_TRUE(t->warning);
  capture::setReadinessState(2);
  EXPECT_EQ(w.readinessText()->text, "System ready. Partly acceptable printers exist.");
  ResizeClient(w, 630, 500);
  EXPECT_FALSE(w.readinessText());
}

TEST_F(FrameWindow, PageInformationOnlyForARenderedCurrentPage) {
  render::InitializeImageLibrary();
  lvFrameWin w;
  w.show();
  ResizeClient(w, 800, 600);
  EXPECT_FALSE(w.pageInfoText()); // nothing captured
  AddPage("1-0001.emf", 10, 10, 100, 130);
  AddPage("1-0002.emf", 10, 164, 100, 130);
  auto &store = capture::pageStore();
  store.currentPage = 1;
  store.viewState = capture::kViewPages;
  EXPECT_FALSE(w.pageInfoText()); // a render is under way
  ASSERT_TRUE(w.renderPage(1));   // a page without a metafile renders the 250 x 200 notice
  EXPECT_EQ(store.viewState.load(), capture::kViewImageReady);
  const auto info = w.pageInfoText();
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->text.startsWith(QStringLiteral("2(2): "))) << info->text.toStdString();
  EXPECT_TRUE(info->text.contains(QStringLiteral("250x200 pixels"))) << info->text.toStdString();
  EXPECT_EQ(info->at, QPoint(20, 600 - 21));
  const Settings saved = settings();
  settings().JPG_Default = false;
  settings().PNG_Default = true;
  EXPECT_TRUE(w.pageInfoText()->text.endsWith(QStringLiteral(" dpi, PNG"))) << w.pageInfoText()->text.toStdString();
  settings() = saved;
  // The preview's bars were set up for the image and nothing is left of the progress control.
  EXPECT_EQ(w.findChild<QWidget *>(QStringLiteral("progress9991")), nullptr);
}

TEST_F(FrameWindow, RenderKeepsTheWindowServedWithWaitCursorAndProgress) {
  render::InitializeImageLibrary();
  lvFrameWin w;
  w.show();
  ResizeClient(w, 900, 600);
  AddPage("1-0001.emf", 10, 10, 100, 130);
  bool ranDuringRender = false;
  QRect progressPlace;
  Qt::CursorShape cursor = Qt::ArrowCursor;
  // Queued before the render starts, so it runs in the event loop the window keeps during the render.
  QTimer::singleShot(0, &w, [&] {
    ranDuringRender = w.rendering();
    if (auto *bar = w.findChild<QWidget *>(QStringLiteral("progress9991")))
      progressPlace = bar->geometry();
    if (QApplication::overrideCursor())
      cursor = QApplication::overrideCursor()->shape();
  });
  ASSERT_TRUE(w.renderPage(0));
  EXPECT_TRUE(ranDuringRender);
  EXPECT_EQ(progressPlace, QRect(365, 600 - 19, 900 - 185 - 365, 11));
  EXPECT_EQ(cursor, Qt::WaitCursor);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(w.rendering());
}

TEST_F(FrameWindow, ButtonHoverMarksAreExclusiveAndClearedByTheViews) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 800, 600);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w)); // a display server shows it only now
  // Under a display server the pointer really moves, and its events take a moment.
  const auto moveTo = [](QWidget *target, QPoint p) {
    QTest::mouseMove(target, p);
    QTest::qWait(100);
  };
  moveTo(w.button(2), QPoint(5, 5));
  for (int i = 0; i < frame::kButtonCount; ++i)
    EXPECT_EQ(w.button(i)->underMouse(), i == 2) << i;
  moveTo(w.button(6), QPoint(5, 5));
  EXPECT_FALSE(w.button(2)->underMouse());
  EXPECT_TRUE(w.button(6)->underMouse());
  moveTo(w.strip(), QPoint(60, 60));
  for (int i = 0; i < frame::kButtonCount; ++i)
    EXPECT_FALSE(w.button(i)->underMouse()) << i;
  w.markButton(3);
  moveTo(w.preview(), QPoint(300, 300));
  EXPECT_FALSE(w.button(3)->underMouse());
}

TEST_F(FrameWindow, PrinterPopupGreysClearJobsWithoutPages) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 800, 600);
  auto items = PopupItems(w, 3);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].text, "Diagnostic printers for Folvex!");
  EXPECT_TRUE(items[0].enabled);
  EXPECT_EQ(items[2].text, "Clear all printer jobs");
  EXPECT_FALSE(items[2].enabled);
  AddPage("1-0001.emf", 10, 10, 100, 130);
  items = PopupItems(w, 3);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[2].enabled);
}

TEST_F(FrameWindow, OptionsPopupChecksTheCurrentSettings) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 800, 600);
  Settings &s = settings();
  const Settings saved = s;
  s.KodAntialias = 7;
  s.lvSharpen = true;
  s.lvIncludeDateTime = false;
  auto items = PopupItems(w, 2);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].text, "Image Resolution and &Dimension...  (Ctrl+D)");
  ASSERT_TRUE(Find(items, "&7x     (Ctrl+7)"));
  EXPECT_TRUE(Find(items, "&7x     (Ctrl+7)")->checked);
  EXPECT_FALSE(Find(items, "&5x     (Ctrl+5)")->checked);
  EXPECT_TRUE(Find(items, "Sharpen")->checked);
  EXPECT_FALSE(Find(items, "Date and Time stamp")->checked);
  // An unlisted factor checks no antialiasing item; factors above 19 check 20x, below 1 "None".
  s.KodAntialias = 4;
  items = PopupItems(w, 2);
  int checkedFactors = 0;
  for (const Item &i : items)
    if (i.checked && i.text != "Sharpen")
      ++checkedFactors;
  EXPECT_EQ(checkedFactors, 0);
  s.KodAntialias = 25;
  EXPECT_TRUE(Find(PopupItems(w, 2), "20&x   (Ctrl+X)")->checked);
  s.KodAntialias = 0;
  EXPECT_TRUE(Find(PopupItems(w, 2), "&None (Ctrl+N)")->checked);
  // The help popup lists its items in order.
  items = PopupItems(w, 4);
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].text, "Help             (F1)");
  EXPECT_EQ(items[6].text, "Emergency report");
  s = saved;
}

TEST_F(FrameWindow, CommandsWithoutAnActionDoNothing) {
  lvFrameWin w;
  EXPECT_FALSE(w.runCommand(0)); // no command has the id 0
  frame::AbortRequest() = false;
  EXPECT_TRUE(w.runCommand(frame::ID_ABORT));
  EXPECT_TRUE(frame::AbortRequest().load());
  frame::AbortRequest() = false;
  int calls = 0;
  w.commands().set(frame::ID_SAVE_DISK, [&] { ++calls; });
  w.show();
  ResizeClient(w, 800, 600);
  QTest::mousePress(w.button(0), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(calls, 1);
  // The mail button needs a current page.
  int mails = 0;
  w.commands().set(frame::ID_MAIL, [&] { ++mails; });
  QTest::mousePress(w.button(1), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(mails, 0);
  AddPage("1-0001.emf", 10, 10, 100, 130);
  capture::pageStore().currentPage = 0;
  QTest::mousePress(w.button(1), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(mails, 1);
}

TEST_F(FrameWindow, CaptureSideDrivesTheStrip) {
  lvFrameWin w;
  w.show();
  ResizeClient(w, 800, 600);
  capture::CaptureWindow &cw = w;
  cw.setStripScrollRange(0, 70, false);
  EXPECT_EQ(w.strip()->scrollBar()->maximum(), 70);
  cw.armScanTimer(capture::kScanTimerId, capture::kScanTimerInterval);
  EXPECT_TRUE(w.strip()->scanTimer().isActive());
  EXPECT_EQ(w.strip()->scanTimer().interval(), 500);
  EXPECT_EQ(cw.stripClientRect(), QRect(0, 0, 144, 586));
  // Seven pages of 130 pixels: the end of the list is in reach of "bottom".
  for (int i = 0; i < 7; ++i)
    AddPage("1-000" + std::to_string(i + 1) + ".emf", 7, 10 + i * 154, 130, 130);
  capture::pageStore().viewState = capture::kViewPages;
  cw.scrollStripToEnd();
  EXPECT_EQ(w.strip()->scrollPosition(), static_cast<int>(10 + 6 * 154 - 586 + 1.5 * 130));
  EXPECT_EQ(w.strip()->scrollBar()->value(), 70);
  cw.setStripScrollOffset(0);
  EXPECT_EQ(w.strip()->scrollPosition(), 0);
  w.strip()->scanTimer().stop();
}

TEST_F(FrameWindow, InitialCaptureFillsTheStripAndShowsTheFirstPage) {
  const QString job = QStringLiteral(FOLVEX_TEST_DATA "/../../resources/sample-job/00001");
  if (!QFile::exists(job + ".SPL"))
    GTEST_SKIP() << "the sample print job is missing: " << job.toStdString();
  render::InitializeImageLibrary();
  const QString spool = QString::fromStdString(platform::ntSpoolFolder());
  ASSERT_TRUE(QFile::copy(job + ".SPL", spool + "00001.SPL"));
  ASSERT_TRUE(QFile::copy(job + ".SHD", spool + "00001.SHD"));
  lvFrameWin w;
  w.show();
  ResizeClient(w, 900, 700);
  w.startInitialCapture();
  auto &store = capture::pageStore();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return w.strip()->scanTimer().isActive() && w.captureWorker()->idle() &&
               store.viewState.load() == capture::kViewImageReady;
      },
      60000));
  EXPECT_EQ(w.strip()->scanTimer().interval(), capture::kScanTimerInterval);
  ASSERT_EQ(store.pageCount(), 3);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(store.viewState.load(), capture::kViewImageReady);
  EXPECT_EQ(w.strip()->scrollBar()->maximum(), 30);
  EXPECT_EQ(w.strip()->scrollPosition(), 0); // the first pass does not scroll
  // The thumbnails lie centred in the strip's client area, one under the other.
  const int clientW = w.strip()->clientRect().width();
  for (int i = 0; i < 3; ++i) {
    const auto &p = store.pages[static_cast<size_t>(i)];
    EXPECT_EQ(p.thumbX, (clientW - p.thumbW) / 2) << i;
    EXPECT_EQ(w.strip()->pageAt(QPoint(p.thumbX + 1, p.thumbY + 1)), i);
  }
  // The preview shows the rendered first page and the status line tells about it.
  Settle();
  const QImage shown = w.preview()->grab().toImage();
  const QPoint origin = w.preview()->imageOrigin(store.currentImageDisplay.size());
  const QPoint probe(std::max(origin.x(), 0) + 60, std::max(origin.y(), 0) + 60);
  EXPECT_EQ(shown.pixel(probe), store.currentImageDisplay.pixel(probe - origin));
  ASSERT_TRUE(w.pageInfoText());
  EXPECT_TRUE(w.pageInfoText()->text.startsWith(QStringLiteral("1(3): ")));
  // A click on the third thumbnail makes it current and renders it.
  const auto &third = store.pages[2];
  QTest::mouseClick(w.strip(), Qt::LeftButton, {}, QPoint(third.thumbX + 5, third.thumbY + 5));
  EXPECT_EQ(store.currentPage, 2);
  EXPECT_EQ(store.viewState.load(), capture::kViewImageReady);
  EXPECT_TRUE(w.pageInfoText()->text.startsWith(QStringLiteral("3(3): ")));
  w.strip()->scanTimer().stop();
  QFile::remove(spool + "00001.SPL");
  QFile::remove(spool + "00001.SHD");
}

TEST_F(FrameWindow, EndOfProgramStoresTheNormalRectangle) {
  RemoveValue("lvKodMainWinMax");
  lvFrameWin w;
  w.setGeometry(40, 50, 700, 500);
  w.show();
  Settle();
  QTest::mousePress(w.button(5), Qt::LeftButton, {}, QPoint(5, 5)); // Exit
  Settle();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(RegGetInt("lvKodMainWinMax"), 0);
  EXPECT_EQ(RegGetInt("lvWinLeft"), 40);
  EXPECT_EQ(RegGetInt("lvWinTop"), 50);
  EXPECT_EQ(RegGetInt("lvWinRight"), 740);
  EXPECT_EQ(RegGetInt("lvWinBottom"), 550);
}

TEST_F(FrameWindow, EndingMaximisedKeepsTheStoredRectangle) {
  RegSetInt("lvWinLeft", 11);
  RegSetInt("lvWinTop", 22);
  RegSetInt("lvWinRight", 611);
  RegSetInt("lvWinBottom", 522);
  lvFrameWin w;
  w.showMaximized();
  Settle();
  ASSERT_TRUE(w.isMaximized());
  w.close();
  EXPECT_EQ(RegGetInt("lvKodMainWinMax"), 1);
  EXPECT_EQ(RegGetInt("lvWinLeft"), 11);
  EXPECT_EQ(RegGetInt("lvWinTop"), 22);
  EXPECT_EQ(RegGetInt("lvWinRight"), 611);
  EXPECT_EQ(RegGetInt("lvWinBottom"), 522);
  RemoveValue("lvKodMainWinMax");
}

TEST(WelcomeScreen, CheckBoxStoresTheChoiceOnOk) {
  RemoveValue("lvStartHelpCheck");
  frame::WelcomeDialog *dlg = frame::ShowWelcomeScreen(nullptr, false);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(dlg->windowTitle(), "Welcome");
  EXPECT_EQ(dlg->dontShowBox()->text(), "Don't show this Welcome Screen at startup");
  EXPECT_EQ(dlg->helpButton()->text(), "Help");
  // OK without the tick stores 0 and the screen comes again.
  dlg->okButton()->click();
  EXPECT_EQ(RegGetInt("lvStartHelpCheck"), 0);
  dlg = frame::ShowWelcomeScreen(nullptr, false);
  ASSERT_NE(dlg, nullptr);
  dlg->dontShowBox()->setChecked(true);
  dlg->okButton()->click();
  EXPECT_EQ(RegGetInt("lvStartHelpCheck"), 1);
  EXPECT_EQ(frame::ShowWelcomeScreen(nullptr, false), nullptr);
  RemoveValue("lvStartHelpCheck");
}

TEST(WelcomeScreen, PaintsThePanelAndTheTexts) {
  frame::WelcomeDialog dlg;
  dlg.show();
  Settle();
  const QImage img = dlg.grab().toImage();
  const QRect panel = dlg.panelRect();
  EXPECT_EQ(panel, QRect(15, 15, dlg.width() - 30, dlg.height() - 65));
  EXPECT_EQ(img.pixelColor(5, 5), QColor(0xCF, 0xCF, 0xF5));                               // frame colour outside
  EXPECT_EQ(img.pixelColor(panel.topLeft()), QColor(0x71, 0x6D, 0xB9));                    // edge
  EXPECT_EQ(img.pixelColor(panel.topLeft() + QPoint(1, 1)), QColor(Qt::white));            // inner edge
  EXPECT_EQ(img.pixelColor(panel.bottomRight() - QPoint(3, 3)), QColor(0xE0, 0xE0, 0xF8)); // panel fill
  // Title ink in the first text line and body ink further down.
  // Text is antialiased: count pixels near the colour (within 60 per channel).
  const auto inkIn = [&](int top, int bottom, QColor c) {
    for (int y = top; y < bottom; ++y)
      for (int x = panel.left() + 2; x < panel.right() - 2; ++x) {
        const QColor p = img.pixelColor(x, y);
        if (std::abs(p.red() - c.red()) < 60 && std::abs(p.green() - c.green()) < 60 &&
            std::abs(p.blue() - c.blue()) < 60)
          return true;
      }
    return false;
  };
  EXPECT_TRUE(inkIn(panel.top() + 2, panel.top() + 20, QColor(0xFF, 0x00, 0xAF)));
  EXPECT_TRUE(inkIn(panel.top() + 25, panel.bottom(), QColor(0x00, 0x00, 0xAF)));
  EXPECT_FALSE(
      inkIn(panel.top() + 25, panel.bottom(), QColor(0xFF, 0x00, 0xAF))); // the body is not in the title colour
}

TEST(WelcomeScreen, ClosingOtherwiseStoresNothing) {
  RemoveValue("lvStartHelpCheck");
  frame::WelcomeDialog *dlg = frame::ShowWelcomeScreen(nullptr, false);
  ASSERT_NE(dlg, nullptr);
  dlg->dontShowBox()->setChecked(true);
  dlg->reject(); // the close box
  EXPECT_EQ(RegGetInt("lvStartHelpCheck"), -1);
  EXPECT_EQ(frame::WelcomeParagraphs().size(), 7);
  for (const QString &p : frame::WelcomeParagraphs())
    EXPECT_TRUE(p.startsWith(QStringLiteral("   "))) << p.toStdString();
  EXPECT_TRUE(frame::WelcomeBody().contains(QStringLiteral("formats.\n\n   Tarvik")));
  Settle();
}
