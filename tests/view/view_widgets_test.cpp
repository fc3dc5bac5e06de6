// The page strip and the preview as windows over the process-wide page store.
#include "app/frame_commands.h"
#include "capture/page_store.h"
#include "view/page_strip.h"
#include "view/preview_window.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QColor kBackground(224, 224, 248);

void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
}

void AddPage(const std::string &name, int x, int y, int w, int h, QColor fill = Qt::white) {
  capture::PageRecord r;
  r.name = name;
  r.thumbnail = QImage(w, h, QImage::Format_RGB32);
  r.thumbnail.fill(fill);
  r.thumbX = x;
  r.thumbY = y;
  r.thumbW = w;
  r.thumbH = h;
  ASSERT_TRUE(capture::pageStore().pages.push_back(std::move(r)));
}

class ViewWidgets : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    auto &s = capture::pageStore();
    s.pages.clear();
    s.currentPage = -1;
    s.currentImageDisplay = QImage();
    s.viewState = capture::kViewNothing;
  }
};

// Right-clicks w at p; returns the popup's items (text, enabled) or nothing when no menu opened.
std::optional<std::vector<std::pair<QString, bool>>> RightClickMenu(QWidget *w, QPoint p) {
  std::optional<std::vector<std::pair<QString, bool>>> items;
  QTimer::singleShot(0, [&] {
    if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
      items.emplace();
      for (QAction *a : menu->actions())
        if (!a->isSeparator())
          items->push_back({a->text(), a->isEnabled()});
      menu->close();
    }
  });
  QTest::mousePress(w, Qt::RightButton, {}, p);
  Settle();
  return items;
}

} // namespace

TEST_F(ViewWidgets, StripWithoutPagesShowsBackgroundAndOpensNoMenu) {
  view::PageStrip strip;
  strip.setMenuBuilder(frame::BuildViewPopup);
  strip.resize(156, 500);
  strip.show();
  Settle();
  const QImage img = strip.grab().toImage();
  EXPECT_EQ(img.pixelColor(70, 100), kBackground);
  EXPECT_FALSE(RightClickMenu(&strip, {70, 100}));
}

TEST_F(ViewWidgets, StripPaintsThumbnailsTheRedFrameAndLabels) {
  view::PageStrip strip;
  strip.setMenuBuilder(frame::BuildViewPopup);
  strip.resize(156, 500);
  strip.show();
  AddPage("12-0003.emf", 7, 20, 130, 92, Qt::white);
  AddPage("12-0004.emf", 7, 136, 130, 92, Qt::green);
  auto &store = capture::pageStore();
  store.currentPage = 1;
  store.viewState = capture::kViewNothing;
  Settle();
  // View state 0: nothing but the background.
  EXPECT_EQ(strip.grab().toImage().pixelColor(70, 60), kBackground);
  store.viewState = capture::kViewPages;
  strip.update();
  Settle();
  const QImage img = strip.grab().toImage();
  EXPECT_EQ(img.pixelColor(70, 60), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(70, 180), QColor(Qt::green));
  // The current page is framed twice in red, one and two pixels outside; the other page is not.
  EXPECT_EQ(img.pixelColor(6, 180), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(5, 180), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(4, 180), kBackground);
  EXPECT_EQ(img.pixelColor(6, 60), kBackground);
  // Some label ink lies in the band under each thumbnail.
  bool ink = false;
  for (int x = 0; x < 144 && !ink; ++x)
    for (int y = 112; y < 134 && !ink; ++y)
      ink = img.pixelColor(x, y) != kBackground;
  EXPECT_TRUE(ink);
}

TEST_F(ViewWidgets, StripClickRendersThePageAndLimitsThePreview) {
  view::PageStrip strip;
  strip.setMenuBuilder(frame::BuildViewPopup);
  strip.resize(156, 500);
  strip.show();
  AddPage("1-0001.emf", 7, 20, 130, 92);
  AddPage("1-0002.emf", 7, 136, 100, 130);
  capture::pageStore().viewState = capture::kViewPages;
  std::vector<int> rendered;
  strip.setPageRenderer([&](int i) { rendered.push_back(i); });
  int limitH = -1, limitV = -1;
  QObject::connect(&strip, &view::PageStrip::previewLimitRequested, [&](int h, int v) {
    limitH = h;
    limitV = v;
  });
  QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(20, 140));
  EXPECT_EQ(rendered, std::vector<int>{1});
  EXPECT_EQ(capture::pageStore().currentPage, 1);
  EXPECT_EQ(limitH, 100);
  EXPECT_EQ(limitV, 130);
  // A click in the gap does nothing.
  QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(20, 120));
  EXPECT_EQ(rendered.size(), 1u);
  EXPECT_EQ(capture::pageStore().currentPage, 1);
}

TEST_F(ViewWidgets, StripMenuGreysThePageItemsOffAPage) {
  view::PageStrip strip;
  strip.setMenuBuilder(frame::BuildViewPopup);
  strip.resize(156, 500);
  strip.show();
  AddPage("1-0001.emf", 7, 20, 130, 92);
  capture::pageStore().viewState = capture::kViewPages;
  auto onPage = RightClickMenu(&strip, {50, 50});
  ASSERT_TRUE(onPage);
  ASSERT_EQ(onPage->size(), 9u);
  for (const auto &[text, enabled] : *onPage)
    EXPECT_TRUE(enabled) << text.toStdString();
  EXPECT_EQ(strip.lastRightClickPoint(), QPoint(50, 50));
  auto offPage = RightClickMenu(&strip, {50, 300});
  ASSERT_TRUE(offPage);
  for (const auto &[text, enabled] : *offPage) {
    const bool pageItem =
        text == "Copy to Clipboard (EMF)" || text == "Delete Image" || text == "Rotate Left" || text == "Rotate Right";
    EXPECT_EQ(enabled, !pageItem) << text.toStdString();
  }
}

TEST_F(ViewWidgets, StripScrollBarActionsUseTheStripArithmetic) {
  view::PageStrip strip;
  strip.setMenuBuilder(frame::BuildViewPopup);
  strip.resize(156, 400);
  strip.show();
  for (int i = 0; i < 10; ++i)
    AddPage("1-00" + std::to_string(10 + i) + ".emf", 7, 10 + i * 154, 130, 130);
  capture::pageStore().viewState = capture::kViewPages;
  strip.scrollBar()->setRange(0, 100);
  const int maxPos = strip.maxPosition();
  EXPECT_EQ(maxPos, 10 + 9 * 154 - 400 + 195);
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(strip.scrollPosition(), 50);
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(strip.scrollPosition(), 0);
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(strip.scrollPosition(), maxPos);
  EXPECT_EQ(strip.scrollBar()->value(), 100);
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(strip.scrollPosition(), maxPos); // at the maximum page down stays there
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(strip.scrollPosition(), maxPos - 300);
  // The hit test follows the scroll position.
  EXPECT_EQ(strip.pageAt(QPoint(50, 10 + 9 * 154 - strip.scrollPosition())), 9);
  // A taller window brings a position past the new end back to it; a shorter one keeps the position.
  strip.scrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  strip.resize(156, 900);
  strip.correctScrollPosition();
  EXPECT_EQ(strip.scrollPosition(), strip.maxPosition());
  const int kept = strip.scrollPosition();
  strip.resize(156, 300);
  strip.correctScrollPosition();
  EXPECT_EQ(strip.scrollPosition(), kept);
  strip.resize(156, 3000); // the whole list fits: back to the top
  strip.correctScrollPosition();
  EXPECT_EQ(strip.scrollPosition(), 0);
}

TEST_F(ViewWidgets, PreviewPaintsTheImageOnlyWhenReady) {
  view::PreviewWindow preview;
  preview.setMenuBuilder(frame::BuildViewPopup);
  preview.resize(600, 500);
  preview.show();
  auto &store = capture::pageStore();
  QImage page(250, 200, QImage::Format_RGB32);
  page.fill(Qt::blue);
  store.currentImageDisplay = page;
  AddPage("1-0001.emf", 7, 20, 130, 92);
  store.currentPage = 0;
  store.viewState = capture::kViewPages; // a render under way
  Settle();
  EXPECT_EQ(preview.grab().toImage().pixelColor(300, 250), kBackground);
  store.viewState = capture::kViewImageReady;
  preview.update();
  Settle();
  QImage img = preview.grab().toImage();
  EXPECT_EQ(img.pixelColor(300, 250), QColor(Qt::blue));
  EXPECT_EQ(img.pixelColor(175, 150), QColor(Qt::blue)); // centred: (600-250)/2, (500-200)/2
  EXPECT_EQ(img.pixelColor(174, 150), kBackground);
  EXPECT_FALSE(preview.hBarShown());
  EXPECT_FALSE(preview.vBarShown());
  // After every page is gone (Delete All) the image stays but is not drawn.
  store.pages.clear();
  store.currentPage = -1;
  preview.update();
  Settle();
  EXPECT_EQ(preview.grab().toImage().pixelColor(300, 250), kBackground);
  EXPECT_FALSE(RightClickMenu(&preview, {300, 250}));
  // An export's page is shown in place of the current image, also from another thread, until it is taken back.
  QImage exported(100, 100, QImage::Format_RGB32);
  exported.fill(Qt::yellow);
  std::thread([&] { preview.showTransientImage(exported); }).join();
  Settle();
  EXPECT_EQ(preview.grab().toImage().pixelColor(300, 250), QColor(Qt::yellow));
  preview.showTransientImage(QImage());
  Settle();
  EXPECT_EQ(preview.grab().toImage().pixelColor(300, 250), kBackground);
}

TEST_F(ViewWidgets, PreviewScrollsALargeImage) {
  view::PreviewWindow preview;
  preview.setMenuBuilder(frame::BuildViewPopup);
  preview.resize(600, 500);
  preview.show();
  auto &store = capture::pageStore();
  QImage page(1000, 1500, QImage::Format_RGB32);
  page.fill(Qt::darkCyan);
  store.currentImageDisplay = page;
  AddPage("1-0001.emf", 7, 20, 130, 92);
  store.currentPage = 0;
  store.viewState = capture::kViewImageReady;
  preview.refreshBars();
  Settle();
  EXPECT_TRUE(preview.hBarShown());
  EXPECT_TRUE(preview.vBarShown());
  EXPECT_EQ(preview.hBar()->maximum(), 1000 - 600 + 10);
  EXPECT_EQ(preview.vBar()->maximum(), 1500 - 488 + 10);
  preview.scroll(Qt::Vertical, view::ScrollRequest::LineDown);
  EXPECT_EQ(preview.vPosition(), 100);
  preview.scroll(Qt::Vertical, view::ScrollRequest::PageDown);
  EXPECT_EQ(preview.vPosition(), 1022);
  preview.scroll(Qt::Horizontal, view::ScrollRequest::LineDown);
  EXPECT_EQ(preview.hPosition(), 100);
  EXPECT_EQ(preview.imageOrigin(page.size()), QPoint(-100, -1022));
  // Choosing another page limits the positions to that page's thumbnail size.
  preview.limitScroll(90, 130);
  EXPECT_EQ(preview.hPosition(), 90);
  EXPECT_EQ(preview.vPosition(), 130);
  // The right-click menu offers the three image commands.
  const auto items = RightClickMenu(&preview, {300, 250});
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 3u);
  EXPECT_EQ((*items)[0].first, "Send to...");
  EXPECT_EQ((*items)[1].first, "Save as...");
  EXPECT_EQ((*items)[2].first, "Set to Wallpaper");
}
