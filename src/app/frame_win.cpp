#include "app/frame_win.h"

#include "app/about_link.h"
#include "app/frame_paint.h"
#include "app/monitor_link.h"
#include "app/output_commands.h"
#include "capture/page_store.h"
#include "capture/spool_watcher.h"
#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "render/commands.h"
#include "render/rasteriser.h"
#include "render/resolution.h"
#include "settings/settings.h"
#include "view/page_strip.h"
#include "view/preview_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>
#include <QWheelEvent>
#include <cmath>
#include <optional>
#include <thread>

namespace {

// The render's progress control: a thin bar on the status line, updated from the render's thread through
// queued calls so the render never waits for the window.
class FrameProgress : public render::RenderProgress {
public:
  explicit FrameProgress(QProgressBar *bar) : bar_(bar) {}
  void setRange(int low, int high) override {
    QMetaObject::invokeMethod(
        bar_,
        [b = bar_, low, high] {
          if (b)
            b->setRange(low, high);
        },
        Qt::QueuedConnection);
  }
  void setPosition(int pos) override {
    QMetaObject::invokeMethod(
        bar_,
        [b = bar_, pos] {
          if (b)
            b->setValue(pos);
        },
        Qt::QueuedConnection);
  }

private:
  QPointer<QProgressBar> bar_;
};

// The progress control's place on the status line: left + 365, bottom - 19 .. right - 185, bottom - 8.
QRect ProgressRect(int cx, int cy) { return QRect(365, cy - 19, std::max(cx - 185 - 365, 0), 11); }

} // namespace

lvFrameWin::lvFrameWin(QWidget *parent) : QWidget(parent) {
  setWindowTitle(QString::fromLatin1(kFrameTitle));
  setObjectName(QStringLiteral("lvFrameWin"));
  setWindowIcon(frame::AppIcon());
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  preview_ = new view::PreviewWindow(this);
  strip_ = new view::PageStrip(this);
  for (int i = 0; i < frame::kButtonCount; ++i) {
    auto *b = new frame::FrameButton(i, this);
    buttons_[static_cast<size_t>(i)] = b;
    connect(b, &frame::FrameButton::hovered, this, &lvFrameWin::markButton);
    connect(b, &frame::FrameButton::pressed, this, &lvFrameWin::buttonPressed);
  }
  buttons_[3]->setLampSource(
      [](bool underMouse) { return frame::LampFor(capture::readinessState(), capture::blinkFlag(), underMouse); });
  connect(strip_, &view::PageStrip::mouseEntered, this, [this] { markButton(-1); });
  connect(preview_, &view::PreviewWindow::mouseEntered, this, [this] { markButton(-1); });
  strip_->setMenuBuilder(frame::BuildViewPopup);
  preview_->setMenuBuilder(frame::BuildViewPopup);
  connect(strip_, &view::PageStrip::commandChosen, this, &lvFrameWin::runCommand);
  connect(preview_, &view::PreviewWindow::commandChosen, this, &lvFrameWin::runCommand);
  connect(strip_, &view::PageStrip::previewLimitRequested, preview_, &view::PreviewWindow::limitScroll);
  connect(strip_, &view::PageStrip::pageChosen, this, [this] { update(); });
  strip_->setTickHandler([this] { capture::ScanTimerTick(*this); });
  strip_->setPageRenderer([this](int index) { renderPage(index); });
  installKeys();
  registerBuiltInCommands();
  notice_ = new QLabel(this);
  notice_->setFont(frame::StatusFont());
  QPalette colours = notice_->palette();
  colours.setColor(QPalette::WindowText, frame::Colour(frame::kNotReadyText));
  colours.setColor(QPalette::Window, frame::Colour(frame::kPanelFill));
  notice_->setPalette(colours);
  notice_->setAutoFillBackground(true);
  notice_->hide();
  // A settings write may fail on any thread; the notice is set on this one.
  setSettingsWriteHook([self = QPointer<lvFrameWin>(this)](const std::string &message) {
    QMetaObject::invokeMethod(
        self,
        [self, text = QString::fromStdString(message)] {
          if (self) {
            self->settingsNotice_ = text;
            self->showStatusNotice(self->captureNotice_);
          }
        },
        Qt::QueuedConnection);
  });
  resize(800, 600);
}

lvFrameWin::~lvFrameWin() { setSettingsWriteHook(nullptr); }

// ---- layout and painting ----

void lvFrameWin::resizeEvent(QResizeEvent *) {
  applyLayout();
  placeNotice();
  rememberNormalRect();
}

void lvFrameWin::moveEvent(QMoveEvent *) { rememberNormalRect(); }

void lvFrameWin::changeEvent(QEvent *e) {
  if (e->type() == QEvent::WindowStateChange)
    rememberNormalRect();
  QWidget::changeEvent(e);
}

void lvFrameWin::rememberNormalRect() {
  if (!isMaximized() && !isMinimized() && !isFullScreen() && isVisible())
    normalRect_ = geometry(); // the client area on the screen; start-up restores it with setGeometry
}

void lvFrameWin::applyLayout() {
  const int cx = width(), cy = height();
  layout_ = frame::ComputeFrameLayout(cx, cy, strip_->scrollBarWidth());
  // The frame keeps its smallest sizes: 415 pixels high and, when narrow, 182 pixels wide outside.
  const QSize deco = frameGeometry().size() - size();
  if (!isMaximized() && !isFullScreen()) {
    if (layout_.enforceMinHeight || layout_.enforceNarrowWidth) {
      const int w = layout_.enforceNarrowWidth ? frame::kNarrowWidth - deco.width() : cx;
      // The smallest frame is 415 pixels high outside: a client of the 384 pixels the layout uses under a usual
      // title bar. The client is given those 384 directly, so no band is left over whatever the decoration.
      const int h = layout_.enforceMinHeight ? frame::kMinLayoutHeight : cy;
      if (w != cx || h != cy)
        QMetaObject::invokeMethod(
            this, [this, w, h] { resize(w, h); }, Qt::QueuedConnection);
    }
  }
  if (layout_.wide) {
    preview_->setGeometry(layout_.preview);
    preview_->setMask(frame::ButtonColumnMask(layout_.preview.width(), layout_.preview.height()));
    preview_->show();
    strip_->clearMask();
  } else {
    preview_->hide();
    strip_->setMask(frame::ButtonColumnMask(layout_.strip.width(), layout_.strip.height()));
  }
  strip_->setGeometry(layout_.strip);
  for (int i = 0; i < frame::kButtonCount; ++i) {
    buttons_[static_cast<size_t>(i)]->move(0, frame::ButtonTop(i));
    buttons_[static_cast<size_t>(i)]->raise();
  }
  // Let the strip correct its scroll position for the new height.
  strip_->correctScrollPosition();
  update();
}

std::optional<frame::StatusText> lvFrameWin::pageInfoText() const {
  const auto &store = capture::pageStore();
  // Nothing to tell before a page has been rendered.
  if (store.viewState.load() != capture::kViewImageReady || store.currentPage < 0 ||
      store.currentPage >= store.pageCount() || store.currentImageDisplay.isNull())
    return std::nullopt;
  frame::PageInfo info;
  info.currentPage = store.currentPage;
  info.pageCount = store.pageCount();
  info.fileKb = render::lastRenderRecord().fileKb;
  info.widthPx = store.currentImageDisplay.width();
  info.heightPx = store.currentImageDisplay.height();
  info.resolution = render::CurrentResolution();
  const Settings &s = settings();
  info.jpg = s.JPG_Default;
  info.gif = s.GIF_Default;
  info.png = s.PNG_Default;
  info.tif = s.TIF_Default;
  return frame::PageInfoPlacement(width(), height(), preview_->isVisibleTo(this), info);
}

std::optional<frame::StatusText> lvFrameWin::readinessText() const {
  const QFontMetrics fm(frame::StatusFont());
  return frame::ReadinessPlacement(width(), height(), preview_->isVisibleTo(this), capture::readinessState(),
                                   [&fm](const QString &t) { return fm.horizontalAdvance(t); });
}

void lvFrameWin::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const int cx = width();
  p.fillRect(rect(), frame::Colour(frame::kFrameFill));
  frame::FrameRect(p, rect(), frame::Colour(frame::kFrameEdge));
  const frame::FramePaintPlan plan = frame::ComputePaintPlan(cx, layout_.layoutHeight, layout_);
  frame::DrawPanel(p, plan.stripPanel, frame::kPanelFill, frame::kFrameEdge, 0xFFFFFF);
  if (!preview_->isVisibleTo(this) || !plan.previewPanel)
    return;
  frame::DrawPanel(p, *plan.previewPanel, frame::kPanelFill, frame::kFrameEdge, 0xFFFFFF);
  frame::FrameRect(p, *plan.statusOuter, frame::Colour(frame::kFrameEdge));
  frame::FrameRect(p, *plan.statusInner, frame::Colour(frame::kStatusInnerEdge));
  p.fillRect(*plan.statusFill, frame::Colour(frame::kPanelFill));
  p.fillRect(*plan.statusBandOuter, frame::Colour(frame::kStatusOuterBand));
  p.fillRect(*plan.statusBandInner, frame::Colour(frame::kStatusInnerBand));
  p.setFont(frame::StatusFont());
  const QFontMetrics fm(p.font());
  const auto draw = [&](const frame::StatusText &t) {
    p.setPen(frame::Colour(t.warning ? frame::kNotReadyText : frame::kStatusText));
    p.drawText(t.at + QPoint(0, fm.ascent()), t.text);
  };
  if (const auto info = pageInfoText())
    draw(*info);
  if (const auto ready = readinessText())
    draw(*ready);
}

// ---- mouse ----

void lvFrameWin::wheelEvent(QWheelEvent *e) {
  const QPoint pt = mapFromGlobal(e->globalPosition().toPoint());
  const int delta = e->angleDelta().y();
  using frame::WheelTarget;
  switch (frame::RouteWheel(width(), height(), pt, delta, preview_->vBarShown(), preview_->hBarShown())) {
  case WheelTarget::StripLineUp:
    strip_->scroll(view::ScrollRequest::LineUp);
    break;
  case WheelTarget::StripLineDown:
    strip_->scroll(view::ScrollRequest::LineDown);
    break;
  case WheelTarget::PreviewLineUp:
    preview_->scroll(Qt::Vertical, view::ScrollRequest::LineUp);
    break;
  case WheelTarget::PreviewLineDown:
    preview_->scroll(Qt::Vertical, view::ScrollRequest::LineDown);
    break;
  case WheelTarget::PreviewLineLeft:
    preview_->scroll(Qt::Horizontal, view::ScrollRequest::LineUp);
    break;
  case WheelTarget::PreviewLineRight:
    preview_->scroll(Qt::Horizontal, view::ScrollRequest::LineDown);
    break;
  case WheelTarget::None:
    break;
  }
  e->accept();
}

void lvFrameWin::markButton(int index) {
  for (int i = 0; i < frame::kButtonCount; ++i)
    buttons_[static_cast<size_t>(i)]->setUnderMouse(i == index);
}

void lvFrameWin::buttonPressed(int index, const QPoint &globalPos) {
  using namespace frame;
  switch (index) {
  case 0:
    runCommand(ID_SAVE_DISK);
    break;
  case 1: {
    const auto &store = capture::pageStore();
    if (store.currentPage >= 0 && store.currentPage < store.pageCount())
      runCommand(ID_MAIL);
    break;
  }
  case 2:
    openPopup(Popup::Options, index, globalPos);
    break;
  case 3:
    openPopup(Popup::PrnSupprt, index, globalPos);
    break;
  case 4:
    openPopup(Popup::Help, index, globalPos);
    break;
  case 5:
    close();
    break;
  case 6:
    runCommand(ID_SAVE_PDF);
    break;
  case 7:
    runCommand(ID_SAVE_HTML);
    break;
  default:
    break;
  }
}

void lvFrameWin::openPopup(frame::Popup which, int buttonIndex, const QPoint &globalPos) {
  frame::MenuState state;
  const Settings &s = settings();
  state.antialiasFactor = s.KodAntialias;
  state.sharpen = s.lvSharpen;
  state.dateStamp = s.lvIncludeDateTime;
  state.pageCount = capture::pageStore().pageCount();
  QMenu menu(buttons_[static_cast<size_t>(buttonIndex)]);
  menu.setObjectName(QStringLiteral("popup"));
  frame::BuildPopup(menu, which, state);
  if (QAction *chosen = menu.exec(globalPos))
    if (const int id = frame::ActionCommand(chosen))
      runCommand(id);
}

// ---- commands and keys ----

bool lvFrameWin::runCommand(int id) { return commands_.run(id); }

void lvFrameWin::installKeys() {
  using namespace frame;
  const std::pair<QKeySequence, int> keys[] = {
      {QKeySequence(Qt::Key_Escape), ID_ABORT},           {QKeySequence(Qt::CTRL | Qt::Key_0), ID_AA_10},
      {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_AA_15},     {QKeySequence(Qt::CTRL | Qt::Key_X), ID_AA_20},
      {QKeySequence(Qt::CTRL | Qt::Key_2), ID_AA_2},      {QKeySequence(Qt::CTRL | Qt::Key_3), ID_AA_3},
      {QKeySequence(Qt::CTRL | Qt::Key_5), ID_AA_5},      {QKeySequence(Qt::CTRL | Qt::Key_7), ID_AA_7},
      {QKeySequence(Qt::CTRL | Qt::Key_N), ID_AA_NONE},   {QKeySequence(Qt::Key_F1), ID_HELP},
      {QKeySequence(Qt::CTRL | Qt::Key_C), ID_FORMAT},    {QKeySequence(Qt::CTRL | Qt::Key_D), ID_RESOLUTION},
      {QKeySequence(Qt::CTRL | Qt::Key_S), ID_SAVE_DISK}, {QKeySequence(Qt::CTRL | Qt::Key_W), ID_SAVE_HTML},
      {QKeySequence(Qt::CTRL | Qt::Key_P), ID_SAVE_PDF},  {QKeySequence(Qt::CTRL | Qt::Key_M), ID_MAIL},
      {QKeySequence(Qt::CTRL | Qt::Key_H), ID_HATCH},
  };
  for (const auto &[seq, id] : keys) {
    auto *sc = new QShortcut(seq, this);
    sc->setContext(Qt::WindowShortcut);
    const int command = id;
    connect(sc, &QShortcut::activated, this, [this, command] {
      // Mail needs a current page; without one the key does nothing.
      if (command == frame::ID_MAIL) {
        const auto &store = capture::pageStore();
        if (store.currentPage < 0 || store.currentPage >= store.pageCount())
          return;
      }
      runCommand(command);
    });
  }
}

void lvFrameWin::registerBuiltInCommands() {
  using namespace frame;
  const auto rerender = [this] { rerenderCurrentPage(); };
  for (int id : {ID_AA_NONE, ID_AA_2, ID_AA_3, ID_AA_5, ID_AA_7, ID_AA_10, ID_AA_15, ID_AA_20})
    commands_.set(id, [id, rerender] { render::CommandAntialias(render::AntialiasFactorForCommand(id), rerender); });
  commands_.set(ID_SHARPEN, [rerender] { render::CommandToggleSharpen(rerender); });
  commands_.set(ID_DATE_STAMP, [rerender] { render::CommandToggleDateTimeStamp(rerender); });
  commands_.set(ID_RESOLUTION, [this] { showResolutionDialog(); });
  commands_.set(ID_HATCH, [this] { showHatchDialog(); });
  commands_.set(ID_ABORT, [] { AbortRequest() = true; });
  commands_.set(ID_HELP, [] { OpenHelp(QString()); });
  commands_.set(ID_ABOUT, [this] { app::showAbout(this); });
  commands_.set(ID_ONLINE, [] { platform::openDocument(QString::fromLatin1(kWebSiteUrl)); });
  commands_.set(ID_SUPPORT, [] { platform::openDocument(QString::fromLatin1(kSupportMailUrl)); });
  commands_.set(ID_MONITOR, [] { app::showPrinterMonitor(); });
  const auto cancelAll = [this] {
    if (!app::cancelAllDocuments())
      return;
    capture::ClearPageList(*this);
    update(); // the page information goes with the pages
  };
  commands_.set(ID_CLEAR_JOBS, cancelAll);
  commands_.set(ID_DELETE_ALL, cancelAll);
  registerPageCommands();
  app::RegisterOutputCommands(*this, commands_);
}

// ---- rendering ----

bool lvFrameWin::renderPage(int index) {
  auto &store = capture::pageStore();
  if (rendering_ || index < 0 || index >= store.pageCount())
    return false;
  store.viewState = capture::kViewPages;
  preview_->update();
  QString error;
  const std::optional<Magick::Image> result = renderWithProgress(index, settings().KodMultipageFormat, error);
  bool ok = false;
  if (result && result->isValid()) {
    store.setCurrentImage(*result);
    store.viewState = capture::kViewImageReady;
    ok = true;
  } else if (!error.isEmpty()) {
    showMessage(error);
  }
  preview_->refreshBars();
  preview_->update();
  update();
  return ok;
}

std::optional<Magick::Image> lvFrameWin::renderWithProgress(int index, int outputMode, QString &error) {
  auto &store = capture::pageStore();
  if (rendering_ || index < 0 || index >= store.pageCount())
    return std::nullopt;
  rendering_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto *bar = new QProgressBar(this);
  bar->setObjectName(QStringLiteral("progress9991"));
  bar->setTextVisible(false);
  bar->setGeometry(ProgressRect(width(), height()));
  bar->setStyleSheet(QStringLiteral("QProgressBar{border:1px solid #716DB9;background:#F8E0E0;}"
                                    "QProgressBar::chunk{background:#716DB9;}"));
  bar->show();
  FrameProgress progress(bar);
  const render::PageSource page = store.pages[static_cast<size_t>(index)].source();
  const double resolution = render::CurrentResolution();
  // The scan timer waits while a page renders, so no capture pass changes the page list under the render.
  const bool timerWasActive = strip_->scanTimer().isActive();
  const int interval = strip_->scanTimer().interval();
  strip_->scanTimer().stop();

  std::optional<Magick::Image> result;
  QEventLoop loop;
  frame::AbortRequest() = false; // Esc stops this render between bands
  std::thread worker([&] {
    try {
      render::RenderOptions options;
      options.outputMode = outputMode;
      options.progress = &progress;
      options.abort = &frame::AbortRequest();
      result = render::RenderPage(resolution, page, index, options);
    } catch (const std::exception &e) {
      error = QString::fromLocal8Bit(e.what());
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // The window keeps painting (and the progress control moving) while the page renders.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  delete bar;
  QApplication::restoreOverrideCursor();
  if (timerWasActive)
    strip_->scanTimer().start(interval);
  rendering_ = false;
  if (closePending_)
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  return result;
}

void lvFrameWin::rerenderCurrentPage() {
  auto &store = capture::pageStore();
  if (store.pageCount() == 0 || store.currentPage < 0) {
    store.currentPage = -1;
    return;
  }
  if (store.currentPage >= store.pageCount())
    store.currentPage = store.pageCount() - 1;
  renderPage(store.currentPage);
  strip_->update();
}

// ---- capture side ----

void lvFrameWin::startInitialCapture() {
  if (!initialCapture_)
    initialCapture_ = std::make_unique<capture::InitialCapture>(*this, strip_);
}

QRect lvFrameWin::stripClientRect() { return strip_->clientRect(); }

void lvFrameWin::repaintStrip(bool) { strip_->update(); }

void lvFrameWin::repaintStripRect(const QRect &listRect, bool) {
  strip_->update(listRect.translated(0, -strip_->scrollPosition()));
}

void lvFrameWin::setStripScrollRange(int minimum, int maximum, bool) {
  const QSignalBlocker block(strip_->scrollBar());
  strip_->scrollBar()->setRange(minimum, maximum);
}

void lvFrameWin::setStripScrollPos(int position, bool) {
  const QSignalBlocker block(strip_->scrollBar());
  strip_->scrollBar()->setValue(position);
}

void lvFrameWin::setStripScrollOffset(int pixels) { strip_->setScrollPosition(pixels); }

void lvFrameWin::scrollStripToEnd() { strip_->scroll(view::ScrollRequest::Bottom); }

void lvFrameWin::armScanTimer(int, int milliseconds) { strip_->armScanTimer(milliseconds); }

void lvFrameWin::repaintPreview(bool) {
  preview_->refreshBars();
  preview_->update();
}

void lvFrameWin::repaintPageInfoArea() { update(frame::PageInfoArea(width(), height())); }

void lvFrameWin::repaintReadinessArea() { update(frame::TickReadinessArea(width(), height())); }

void lvFrameWin::repaintStartupReadiness() { update(frame::StartupReadinessArea(width(), height())); }

void lvFrameWin::repaintPrinterButton() { buttons_[3]->update(); }

void lvFrameWin::showMessage(const QString &text) {
  // A message of the capture side must not stop the capture: it is shown without blocking.
  auto *box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kFrameTitle), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

void lvFrameWin::showStatusNotice(const QString &text) {
  captureNotice_ = text;
  notice_->setToolTip(statusNotice());
  notice_->setVisible(!statusNotice().isEmpty());
  placeNotice();
}

QString lvFrameWin::statusNotice() const {
  if (settingsNotice_.isEmpty() || captureNotice_.isEmpty())
    return settingsNotice_ + captureNotice_;
  return settingsNotice_ + QStringLiteral("  ") + captureNotice_;
}

// After the page information, over the readiness text (which shows again once the notice is over) and over an
// export's progress; a longer notice is cut, its tool tip holds all of it.
void lvFrameWin::placeNotice() {
  if (!notice_)
    return;
  int left = 340; // where the page information usually ends
  if (const auto info = pageInfoText())
    left = std::max(left, info->at.x() + QFontMetrics(frame::StatusFont()).horizontalAdvance(info->text) + 12);
  const int right = width() - 172;
  notice_->setGeometry(QRect(left, height() - 24, std::max(right - left, 0), 19));
  notice_->setText(QFontMetrics(notice_->font()).elidedText(statusNotice(), Qt::ElideRight, notice_->width()));
  notice_->raise();
}

bool lvFrameWin::displayMetrics(int &pixelsWide, double &millimetresWide) {
  const QScreen *s = QGuiApplication::primaryScreen();
  if (!s || s->physicalSize().width() <= 0)
    return false;
  pixelsWide = s->geometry().width();
  millimetresWide = s->physicalSize().width();
  return true;
}

double lvFrameWin::currentResolution() { return render::CurrentResolution(); }

// ---- the end ----

void lvFrameWin::closeEvent(QCloseEvent *e) {
  if (rendering_) {
    // Close once the page under way has rendered.
    closePending_ = true;
    e->ignore();
    return;
  }
  endOfProgram();
  e->accept();
}

void lvFrameWin::endOfProgram() {
  if (ended_)
    return;
  ended_ = true;
  strip_->scanTimer().stop();
  // Stops the first capture pass between two pages and waits for it a bounded time.
  initialCapture_.reset();
  rememberNormalRect();
  const auto placement = frame::EndPlacementValues(isMaximized(), normalRect_);
  // The window goes at once; closing the printer monitor may take a few seconds.
  hide();
  const int pageCount = capture::pageStore().pageCount();
  capture::ReleasePages();
  // Close the printer monitor (a bounded number of rounds) and start it again to restore the printers.
  app::closeMonitorAtExit(pageCount > 0);
  for (const auto &[name, value] : placement)
    RegSetInt(name, value);
  emit ended();
}
