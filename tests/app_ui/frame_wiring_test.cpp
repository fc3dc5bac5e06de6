// The live wiring of the main frame: the real frame offscreen, driven through its events, its scan timer, its capture
// and its commands, and checked by its state, what it repaints and the files it has the printer monitor write.
#include "app/frame_paint.h"
#include "app/startup.h"
#include "capture/spool_watcher.h"
#include "capture/spool_writer.h"
#include "frame_fixture.h"
#include "platform/paths.h"

#include <QPointer>
#include <QToolTip>
#include <QWheelEvent>
#include <qpa/qwindowsysteminterface.h>

namespace {

const QColor kViewBackground(224, 224, 248);

// Notes what a widget repaints.
class PaintLog : public QObject {
public:
  explicit PaintLog(QWidget *w) : w_(w) { w->installEventFilter(this); }
  QRegion painted;
  int paints = 0;
  void clear() {
    painted = QRegion();
    paints = 0;
  }
  // All of r was painted (QRegion::contains only asks for an overlap).
  bool covers(const QRect &r) const { return (QRegion(r) - painted).isEmpty(); }

protected:
  bool eventFilter(QObject *o, QEvent *e) override {
    if (o == w_ && e->type() == QEvent::Paint) {
      painted += static_cast<QPaintEvent *>(e)->region();
      ++paints;
    }
    return false;
  }

private:
  QPointer<QWidget> w_;
};

class FrameWiring : public FrameFixture {
protected:
  // A wheel turn over the frame at a client point; delta above 0 turns it away from the user.
  void Wheel(QPoint at, int delta) {
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(w.get(), &e);
  }
  // One timeout of the strip's scan timer, as the running program gets it.
  void OneScanTick() {
    const bool blink = capture::blinkFlag();
    w->strip()->armScanTimer(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture::blinkFlag() != blink; }, 5000));
    w->strip()->scanTimer().stop();
  }
  // The rectangle a status text covers.
  QRect TextRect(const frame::StatusText &t) {
    const QFontMetrics fm(frame::StatusFont());
    return QRect(t.at, QSize(fm.horizontalAdvance(t.text), fm.height()));
  }
  // Puts a job of n A4 pages into the spool folder.
  void QueueJob(int pages, const std::string &document) {
    const std::string spool = platform::ntSpoolFolder();
    QDir().mkpath(QString::fromStdString(spool));
    const std::vector<std::vector<uint8_t>> bytes(size_t(pages), rtest::blankPage(21000, 29700)->bytes());
    ASSERT_TRUE(capture::WriteSpoolJob(spool + capture::NextFreeJobName(spool) + ".SPL", bytes, document, true));
  }
  // Waits until the capture has no pass and no thumbnail left and the current page is shown.
  bool CaptureSettled() {
    return QTest::qWaitFor(
        [&] {
          return w->captureWorker()->idle() && !w->rendering() &&
                 capture::pageStore().viewState.load() == capture::kViewImageReady;
        },
        30000);
  }
};

} // namespace

TEST_F(FrameWiring, EndingStartsTheMonitorWithTheWordForThePages) {
  const FakeMonitor monitor;
  QTest::mousePress(w->button(5), Qt::LeftButton, {}, QPoint(5, 5)); // "Exit" with no page
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(monitor.callsAre("refresh\n")) << monitor.calls().toStdString();
  w = std::make_unique<lvFrameWin>();
  w->show();
  AddPages({{21000, 29700}});
  w->close();
  EXPECT_TRUE(monitor.callsAre("refresh\nrefresh_and_delete_all\n")) << monitor.calls().toStdString();
}

TEST_F(FrameWiring, TheWheelScrollsTheStripAndThePreviewTheWayItTurns) {
  AddPages(std::vector<std::pair<int, int>>(10, {21000, 29700}));
  const QPoint overStrip(w->width() - 80, 200);
  Wheel(overStrip, -120); // toward the user: down
  EXPECT_EQ(w->strip()->scrollPosition(), 50);
  Wheel(overStrip, -120);
  EXPECT_EQ(w->strip()->scrollPosition(), 100);
  Wheel(overStrip, 120); // away: up by 100
  EXPECT_EQ(w->strip()->scrollPosition(), 0);
  // The current image (A4 at 100 dpi) is taller and wider than the preview: both bars show.
  ASSERT_TRUE(w->preview()->vBarShown());
  ASSERT_TRUE(w->preview()->hBarShown());
  Wheel(QPoint(300, 200), -120);
  EXPECT_EQ(w->preview()->vPosition(), 100);
  Wheel(QPoint(300, 200), 120);
  EXPECT_EQ(w->preview()->vPosition(), 0);
  Wheel(QPoint(300, w->height() - 10), -120); // the bottom band: sideways
  EXPECT_EQ(w->preview()->hPosition(), 100);
  EXPECT_EQ(w->strip()->scrollPosition(), 0);
}

TEST_F(FrameWiring, DeleteAllEmptiesTheListThePreviewAndTheStatusLine) {
  const FakeMonitor monitor;
  AddPages({{21000, 29700}, {21000, 29700}, {21000, 29700}});
  ASSERT_TRUE(w->pageInfoText());
  PaintLog frame(w.get());
  answer = QMessageBox::Yes;
  w->runCommand(frame::ID_DELETE_ALL);
  EXPECT_TRUE(monitor.callsAre("delete_all\n")) << monitor.calls().toStdString();
  const auto &store = capture::pageStore();
  EXPECT_EQ(store.pageCount(), 0);
  EXPECT_EQ(store.currentPage, -1);
  EXPECT_FALSE(w->pageInfoText());
  Settle();
  // The page information's zone was painted again (now empty), and the views show their background only.
  EXPECT_TRUE(frame.covers(w->statusZones().pageInfo));
  EXPECT_EQ(w->preview()->grab().toImage().pixelColor(300, 300), kViewBackground);
  EXPECT_EQ(w->strip()->grab().toImage().pixelColor(70, 80), kViewBackground);
  EXPECT_EQ(w->strip()->scrollPosition(), 0);
}

TEST_F(FrameWiring, EveryScanTickRepaintsTheLampAndOnlyTheReadinessText) {
  RegSetInt("lvKodEstPrinters", 0);
  AddPages({{21000, 29700}});
  capture::setReadinessState(0);
  const auto info = w->pageInfoText();
  ASSERT_TRUE(info);
  Settle();
  PaintLog frame(w.get()), lamp(w->button(3));
  for (int tick = 0; tick < 2; ++tick) {
    frame.clear();
    lamp.clear();
    OneScanTick();
    Settle();
    // The lamp blinks with the flag: the printer button was painted with the lamp picture of this tick.
    EXPECT_GE(lamp.paints, 1) << tick;
    const QImage button = w->button(3)->grab().toImage();
    const QImage picture = frame::LampPixmap(frame::LampFor(0, capture::blinkFlag(), false)).toImage();
    EXPECT_EQ(button.pixelColor(8, 4), picture.pixelColor(8, 4)) << tick;
    // At code 0 the readiness text is repainted on every tick: all of it, and nothing of the page information.
    const auto ready = w->readinessText();
    ASSERT_TRUE(ready);
    EXPECT_TRUE(frame.covers(TextRect(*ready))) << tick;
    EXPECT_FALSE(frame.painted.intersects(TextRect(*info))) << tick;
  }
  RegSetInt("lvKodEstPrinters", 1);
}

TEST_F(FrameWiring, ANewImageBringsThePreviewsScrollPositionsIntoIt) {
  AddPages({{21000, 29700}, {21000, 29700}, {5000, 5000}});
  auto *preview = w->preview();
  preview->scroll(Qt::Vertical, view::ScrollRequest::PageDown);
  preview->scroll(Qt::Horizontal, view::ScrollRequest::PageDown);
  ASSERT_GT(preview->vPosition(), 500);
  // Another page chosen in the strip: the positions are limited to its thumbnail's size.
  QTest::mouseClick(w->strip(), Qt::LeftButton, {}, OnPage(1));
  EXPECT_EQ(capture::pageStore().currentPage, 1);
  EXPECT_LE(preview->vPosition(), Page(1).thumbH);
  EXPECT_LE(preview->hPosition(), Page(1).thumbW);
  // A small page: it fits, so no bars and no scrolling, at once and as drawn.
  QTest::mouseClick(w->strip(), Qt::LeftButton, {}, OnPage(2));
  EXPECT_FALSE(preview->vBarShown());
  EXPECT_FALSE(preview->hBarShown());
  EXPECT_EQ(preview->vPosition(), 0);
  EXPECT_EQ(preview->hPosition(), 0);
  const QSize image = capture::pageStore().currentImageDisplay.size();
  EXPECT_EQ(preview->imageOrigin(image),
            QPoint((preview->width() - image.width()) / 2, (preview->height() - image.height()) / 2));
  // The same page made small by a setting (rendered again by a command): the bars go at once, before any paint.
  QTest::mouseClick(w->strip(), Qt::LeftButton, {}, OnPage(0));
  preview->scroll(Qt::Vertical, view::ScrollRequest::PageDown);
  ASSERT_TRUE(preview->vBarShown());
  settings().ResCur = 20;
  w->runCommand(frame::ID_AA_2);
  EXPECT_FALSE(preview->vBarShown());
  EXPECT_EQ(preview->vPosition(), 0);
}

TEST_F(FrameWiring, DuringARenderTheViewStateSaysSoAndNoOldImageIsShown) {
  AddPages({{21000, 29700}, {21000, 29700}});
  ASSERT_EQ(capture::pageStore().viewState.load(), capture::kViewImageReady);
  int stateDuring = -1;
  QColor previewDuring;
  bool infoDuring = true, infoRepainted = false, previewRepainted = false;
  PaintLog frame(w.get()), preview(w->preview());
  QTimer::singleShot(0, w.get(), [&] {
    // The repaints asked for as the render started.
    infoRepainted = QTest::qWaitFor([&] { return frame.covers(w->statusZones().pageInfo); }, 2000);
    previewRepainted = QTest::qWaitFor([&] { return preview.paints > 0; }, 2000);
    stateDuring = capture::pageStore().viewState.load();
    infoDuring = w->pageInfoText().has_value();
    previewDuring = w->preview()->grab().toImage().pixelColor(300, 300);
  });
  ASSERT_TRUE(w->renderPage(1));
  EXPECT_EQ(stateDuring, capture::kViewPages);
  // The old image and its description are gone from the screen, not only from what a paint would draw.
  EXPECT_FALSE(infoDuring);
  EXPECT_TRUE(infoRepainted);
  EXPECT_TRUE(previewRepainted);
  EXPECT_EQ(previewDuring, kViewBackground);
  EXPECT_EQ(capture::pageStore().viewState.load(), capture::kViewImageReady);
}

TEST_F(FrameWiring, EscAndTheWindowsCloseStopALongRenderWhileOtherInputWaits) {
  const FakeMonitor monitor;
  AddPages({{21000, 29700}, {21000, 29700}});
  settings().ResCur = 300;
  settings().KodAntialias = 10; // seconds of work
  // Input arrives as the window system queues it: a click on the other page, then Esc.
  QWindow *window = w->windowHandle();
  const QPoint onOther = w->strip()->mapTo(w.get(), OnPage(1));
  QTimer::singleShot(0, w.get(), [&] {
    QWindowSystemInterface::handleMouseEvent(window, onOther, w->mapToGlobal(onOther), Qt::LeftButton, Qt::LeftButton,
                                             QEvent::MouseButtonPress);
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  });
  EXPECT_FALSE(w->renderPage(0));
  const auto &store = capture::pageStore();
  EXPECT_EQ(store.currentPage, 0); // the click did not start another render
  EXPECT_EQ(store.currentImageProblem, QStringLiteral("Page not rendered: stopped with Esc"));
  // A message that opens during a render (an export that ended) takes its keys, so the render can end under it.
  int boxAnswer = -1;
  QTimer::singleShot(0, w.get(), [&] {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Export"), QStringLiteral("Done"), QMessageBox::Ok,
                    w.get());
    QTimer::singleShot(0, &box, [&] {
      QWindowSystemInterface::handleKeyEvent(box.windowHandle(), QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    });
    QTimer::singleShot(5000, &box, [&] { box.done(-2); }); // its keys were held off
    boxAnswer = box.exec();
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  });
  w->renderPage(0);
  EXPECT_EQ(boxAnswer, QMessageBox::Ok);
  // The window's close stops a render too, and the window ends once it has.
  QTimer::singleShot(0, w.get(), [&] { w->close(); });
  EXPECT_FALSE(w->renderPage(0));
  Settle();
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(monitor.callsAre("refresh_and_delete_all\n")) << monitor.calls().toStdString();
}

TEST_F(FrameWiring, ARenderWithoutImageSaysWhyInThePreviewAndTheStatusLine) {
  AddPages({{21000, 29700}});
  settings().ScaleCur = 100000; // far beyond what can be drawn
  EXPECT_FALSE(w->renderPage(0));
  const auto &store = capture::pageStore();
  EXPECT_EQ(store.viewState.load(), capture::kViewImageReady);
  EXPECT_TRUE(store.currentImageProblem.contains(QStringLiteral("too large")))
      << store.currentImageProblem.toStdString();
  ASSERT_TRUE(w->pageInfoText());
  EXPECT_TRUE(w->pageInfoText()->text.startsWith(QStringLiteral("1(1): Page not rendered")))
      << w->pageInfoText()->text.toStdString();
  // The reason is written in the preview (ink of the status colour on the background).
  Settle();
  const QImage shown = w->preview()->grab().toImage();
  bool ink = false;
  for (int y = 0; y < shown.height() && !ink; y += 2)
    for (int x = 0; x < shown.width() && !ink; x += 2)
      ink = shown.pixelColor(x, y).red() > 120 && shown.pixelColor(x, y).blue() < 100;
  EXPECT_TRUE(ink);
  settings().ScaleCur = 100;
  EXPECT_TRUE(w->renderPage(0));
  EXPECT_TRUE(store.currentImageProblem.isEmpty());
}

TEST_F(FrameWiring, TheStatusLineFollowsEveryJobDeleteAndClear) {
  const FakeMonitor monitor;
  QueueJob(3, "First job");
  w->startInitialCapture();
  ASSERT_TRUE(CaptureSettled());
  ASSERT_TRUE(w->pageInfoText());
  EXPECT_TRUE(w->pageInfoText()->text.startsWith(QStringLiteral("1(3): "))) << w->pageInfoText()->text.toStdString();
  // The second and third jobs come through the scan timer; the page information is repainted with the new count.
  PaintLog frame(w.get());
  for (const auto &[pages, total, expected] : {std::tuple{8, 11, "1(11): "}, std::tuple{2, 13, "1(13): "}}) {
    frame.clear();
    QueueJob(pages, "More");
    ASSERT_TRUE(QTest::qWaitFor([&, total = total] { return capture::pageStore().pageCount() == total; }, 30000));
    ASSERT_TRUE(CaptureSettled());
    EXPECT_TRUE(w->pageInfoText()->text.startsWith(QLatin1String(expected))) << w->pageInfoText()->text.toStdString();
    Settle();
    EXPECT_TRUE(frame.covers(TextRect(*w->pageInfoText())));
  }
  w->strip()->scanTimer().stop();
  // A page deleted: the count follows.
  ASSERT_TRUE(StripCommand(OnPage(0), QStringLiteral("Delete Image")));
  EXPECT_TRUE(w->pageInfoText()->text.startsWith(QStringLiteral("1(12): "))) << w->pageInfoText()->text.toStdString();
  // The tooltip of a thumbnail names the job's document, the page and its size.
  w->strip()->showPage(3);
  QHelpEvent help(QEvent::ToolTip, OnPage(3), w->strip()->mapToGlobal(OnPage(3)));
  QApplication::sendEvent(w->strip(), &help);
  EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("More"))) << QToolTip::text().toStdString();
  EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Page 2, 210 x 297 mm"))) << QToolTip::text().toStdString();
  QToolTip::hideText();
  answer = QMessageBox::Yes;
  w->runCommand(frame::ID_CLEAR_JOBS);
  EXPECT_FALSE(w->pageInfoText());
  QDir spool(QString::fromStdString(platform::ntSpoolFolder()));
  for (const QString &job : spool.entryList({"*.SPL", "*.SHD"}, QDir::Files))
    spool.remove(job);
}

TEST_F(FrameWiring, KeysMoveThroughThePagesAndKeepTheCurrentOneInView) {
  AddPages(std::vector<std::pair<int, int>>(8, {21000, 29700}));
  auto &store = capture::pageStore();
  w->strip()->setFocus();
  QTest::keyClick(w->strip(), Qt::Key_Down);
  EXPECT_EQ(store.currentPage, 1);
  QTest::keyClick(w->strip(), Qt::Key_PageDown);
  EXPECT_EQ(store.currentPage, 2);
  QTest::keyClick(w->strip(), Qt::Key_End);
  EXPECT_EQ(store.currentPage, 7);
  EXPECT_EQ(store.viewState.load(), capture::kViewImageReady);
  // The last page is in view, with its label.
  const auto &last = Page(7);
  EXPECT_LE(last.thumbY + last.thumbH + view::kStripLabelHeight - w->strip()->scrollPosition(), w->strip()->height());
  EXPECT_GE(last.thumbY - w->strip()->scrollPosition(), 0);
  QTest::keyClick(w->strip(), Qt::Key_Down); // at the end: stays
  EXPECT_EQ(store.currentPage, 7);
  // The preview takes the same keys.
  QTest::keyClick(w->preview(), Qt::Key_Up);
  EXPECT_EQ(store.currentPage, 6);
  QTest::keyClick(w->preview(), Qt::Key_Home);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(w->strip()->scrollPosition(), 0);
  EXPECT_TRUE(w->pageInfoText()->text.startsWith(QStringLiteral("1(8): ")));
}

TEST(StartUp, StartsTheMonitorWithSetOrSaysTheInstallationIsDamaged) {
  frame::PromptHooks none;
  frame::setPromptHooks(none);
  {
    const FakeMonitor monitor;
    RegSetInt("lvStartHelpCheck", 1);
    auto running = frame::StartFolvex(true);
    ASSERT_TRUE(running);
    EXPECT_TRUE(running->frame->isVisible());
    EXPECT_TRUE(monitor.callsAre("set\n")) << monitor.calls().toStdString();
    running->frame->close();
    EXPECT_TRUE(monitor.callsAre("set\nrefresh\n")) << monitor.calls().toStdString();
  }
  // Without the monitor's program: the message, and the program runs on.
  auto running = frame::StartFolvex(true);
  ASSERT_TRUE(running);
  Settle();
  bool told = false;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
      told = told || box->text() == QString::fromLatin1(frame::kDamagedMessage);
  EXPECT_TRUE(told);
  running->frame->close();
  Settle();
  testenv::refuseUnexpectedPrompts();
}

TEST_F(FrameWiring, ButtonsShowTheirTooltipsOnHoverAlsoWhenAnotherWindowIsActive) {
  // A desktop that has not given the frame the focus, or a message box beside it: the frame is not the active window.
  QWidget other;
  other.setGeometry(w->geometry().right() + 20, w->geometry().top(), 60, 60); // beside the frame, not over it
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &other; }, 2000));
  // Earlier presses of other tests left no button down (a mouse moved with a button held shows no tip).
  QTest::mouseRelease(w->preview(), Qt::LeftButton, {}, QPoint(300, 300));
  QTest::mouseRelease(w->preview(), Qt::RightButton, {}, QPoint(300, 300));
  for (int i : {0, 3, 7}) {
    QTest::mouseMove(w->button(i), QPoint(20, 16));
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 3000)) << i;
    EXPECT_EQ(QToolTip::text(), frame::ButtonTooltip(i));
    QTest::mouseMove(w->preview(), QPoint(300, 300));
    QToolTip::hideText();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
  }
}
