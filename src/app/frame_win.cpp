#include "app/frame_win.h"

#include "app/about_link.h"
#include "app/frame_paint.h"
#include "app/monitor_link.h"
#include "app/output_commands.h"
#include "capture/capture_worker.h"
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
#include <QKeyEvent>
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
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

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

// While a page renders the window keeps painting, but the user's input to it is held off: a click or key could start
// another render or change the pages under the one running. Esc alone passes, as the request to stop the render
// between two bands (the window's close asks for the same and then waits for the render to end). Only the windows
// open when the render started are held: a message that opens meanwhile (an export that ended) takes its input, or
// the render could never end under it.
class RenderInputGate : public QObject {
public:
  explicit RenderInputGate(std::atomic<bool> &abort) : abort_(abort) {
    for (QWidget *top : QApplication::topLevelWidgets())
      if (top->isVisible()) {
        held_.emplace_back(top);
        heldWindows_.emplace_back(top->windowHandle());
      }
    qApp->installEventFilter(this);
  }
  ~RenderInputGate() override { qApp->removeEventFilter(this); }

protected:
  bool eventFilter(QObject *receiver, QEvent *e) override {
    switch (e->type()) {
    case QEvent::Shortcut:
      if (!holds(receiver))
        return false;
      if (static_cast<QShortcutEvent *>(e)->key() == QKeySequence(Qt::Key_Escape))
        abort_ = true;
      return true;
    case QEvent::KeyPress:
      if (!holds(receiver))
        return false;
      if (static_cast<QKeyEvent *>(e)->key() == Qt::Key_Escape)
        abort_ = true;
      return true;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
      return holds(receiver);
    default:
      return false;
    }
  }

private:
  // Whether the event goes to one of the held windows: the window itself, a widget in it, or a shortcut of it.
  bool holds(QObject *receiver) const {
    if (receiver->isWindowType())
      return std::find(heldWindows_.begin(), heldWindows_.end(), static_cast<QWindow *>(receiver)) !=
             heldWindows_.end();
    for (QObject *o = receiver; o; o = o->parent())
      if (o->isWidgetType())
        return std::find(held_.begin(), held_.end(), static_cast<QWidget *>(o)->window()) != held_.end();
    return false;
  }

  std::atomic<bool> &abort_;
  std::vector<QPointer<QWidget>> held_;
  std::vector<QPointer<QWindow>> heldWindows_;
};

// The progress control's place on the status line: left + 365, bottom - 19 .. right - 185, bottom - 8.
QRect ProgressRect(int cx, int cy) { return QRect(365, cy - 19, std::max(cx - 185 - 365, 0), 11); }

// Why a render of the page gave no image, in a few words for the preview and the status line: the image library's
// complaint, a size that cannot be drawn at this resolution and scale, else what the rasteriser recorded.
QString RenderProblem(const capture::PageRecord &page, double resolution, int scale, const QString &error,
                      const QString &failure) {
  if (!error.isEmpty())
    return QStringLiteral("Page not rendered: %1").arg(error.section(QLatin1Char('\n'), 0, 0).left(120));
  double w = 0, h = 0;
  if (page.source().frameSize(w, h)) {
    const emf::RECTL frame{0, 0, int32_t(std::clamp(w, -2e9, 2e9)), int32_t(std::clamp(h, -2e9, 2e9))};
    const render::PageSize size = render::OutputSize(frame, resolution, scale);
    if (size.cols < 1 || size.rows < 1)
      return QStringLiteral("Page not rendered: the page has no size");
    if (size.cols > render::kMaxOutputSide || size.rows > render::kMaxOutputSide ||
        size.cols * size.rows > render::kMaxOutputPixels)
      return QStringLiteral("Page not rendered: %1 x %2 pixels is too large; lower the resolution or the scale")
          .arg(size.cols)
          .arg(size.rows);
  } else if (page.source()) {
    return QStringLiteral("Page not rendered: the page has no size");
  }
  if (!failure.isEmpty())
    return QStringLiteral("Page not rendered: %1").arg(failure);
  return QStringLiteral("Page not rendered: not enough memory");
}

} // namespace

lvFrameWin::lvFrameWin(QWidget *parent) : QWidget(parent) {
  setWindowTitle(QString::fromLatin1(kFrameTitle));
  setObjectName(QStringLiteral("lvFrameWin"));
  setWindowIcon(frame::AppIcon());
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setMinimumSize(frame::kMinClientWidth, frame::kMinClientHeight);
  // Tooltips (the buttons', the pages') show whenever the mouse rests, also while the frame is not the active window:
  // a desktop that has not given it the focus, a message box open beside it.
  setAttribute(Qt::WA_AlwaysShowToolTips);
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
  connect(preview_, &view::PreviewWindow::navigationKey, strip_, &view::PageStrip::navigate);
  strip_->setTickHandler([this] { capture::ScanTimerTick(*this); });
  strip_->setPageRenderer([this](int index) { renderPage(index); });
  captureWorker_ = std::make_unique<capture::CaptureWorker>(*this, this);
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
  // A window manager keeps the frame at least at its smallest size. Without one (or when something resizes the
  // window behind its back) the frame lays itself out at that size and takes it back.
  const QSize laidOut = size().expandedTo(minimumSize());
  if (laidOut != size() && !isMaximized() && !isFullScreen())
    QMetaObject::invokeMethod(
        this, [this] { resize(size().expandedTo(minimumSize())); }, Qt::QueuedConnection);
  layout_ = frame::ComputeFrameLayout(laidOut.width(), laidOut.height());
  preview_->setGeometry(layout_.preview);
  preview_->setMask(frame::ButtonColumnMask(layout_.preview.width(), layout_.preview.height()));
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
      store.currentPage >= store.pageCount() ||
      (store.currentImageDisplay.isNull() && store.currentImageProblem.isEmpty()))
    return std::nullopt;
  frame::PageInfo info;
  info.currentPage = store.currentPage;
  info.pageCount = store.pageCount();
  info.fileKb = store.currentImageKb;
  info.widthPx = store.currentImageDisplay.width();
  info.heightPx = store.currentImageDisplay.height();
  info.resolution = render::CurrentResolution();
  info.problem = store.currentImageProblem;
  const Settings &s = settings();
  info.jpg = s.JPG_Default;
  info.gif = s.GIF_Default;
  info.png = s.PNG_Default;
  info.tif = s.TIF_Default;
  return frame::PageInfoPlacement(width(), height(), info, QFontMetrics(frame::StatusFont()));
}

std::optional<frame::StatusText> lvFrameWin::readinessText() const {
  const QFontMetrics fm(frame::StatusFont());
  return frame::ReadinessPlacement(width(), height(), capture::readinessState(),
                                   [&fm](const QString &t) { return fm.horizontalAdvance(t); });
}

frame::StatusZones lvFrameWin::statusZones() const {
  const QFontMetrics fm(frame::StatusFont());
  return frame::ComputeStatusZones(width(), height(), [&fm](const QString &t) { return fm.horizontalAdvance(t); });
}

void lvFrameWin::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const int cx = width();
  p.fillRect(rect(), frame::Colour(frame::kFrameFill));
  frame::FrameRect(p, rect(), frame::Colour(frame::kFrameEdge));
  const frame::FramePaintPlan plan = frame::ComputePaintPlan(cx, height(), layout_);
  frame::DrawPanel(p, plan.stripPanel, frame::kPanelFill, frame::kFrameEdge, 0xFFFFFF);
  frame::DrawPanel(p, plan.previewPanel, frame::kPanelFill, frame::kFrameEdge, 0xFFFFFF);
  frame::FrameRect(p, plan.statusOuter, frame::Colour(frame::kFrameEdge));
  frame::FrameRect(p, plan.statusInner, frame::Colour(frame::kStatusInnerEdge));
  p.fillRect(plan.statusFill, frame::Colour(frame::kPanelFill));
  p.fillRect(plan.statusBandOuter, frame::Colour(frame::kStatusOuterBand));
  p.fillRect(plan.statusBandInner, frame::Colour(frame::kStatusInnerBand));
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
    if (captureWorker_)
      captureWorker_->dropThumbnails();
    capture::ClearPageList(*this);
    repaintPageInfoArea(); // the page information goes with the pages
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
  // Neither the old image nor its description stays on show while the page renders.
  store.viewState = capture::kViewPages;
  preview_->update();
  repaintPageInfoArea();
  if (index == store.currentPage)
    currentRenderWaiting_ = false; // this render is the one a newly captured current page waits for
  Rendered r = renderWithProgress(index, settings().KodMultipageFormat);
  bool ok = false;
  if (r.image && r.image->isValid() && !r.display.isNull()) {
    store.setCurrentImage(*r.image, std::move(r.display), r.fileKb);
    ok = true;
  } else {
    // The page stays current; its place tells why there is no image.
    if (r.stopped)
      store.setCurrentImageProblem(QStringLiteral("Page not rendered: stopped with Esc"));
    else if (index < store.pageCount())
      store.setCurrentImageProblem(RenderProblem(store.pages[size_t(index)], render::CurrentResolution(),
                                                 settings().ScaleCur, r.error, r.failure));
    if (!r.error.isEmpty())
      showMessage(r.error);
  }
  store.viewState = capture::kViewImageReady;
  preview_->refreshBars();
  preview_->update();
  repaintPageInfoArea();
  return ok;
}

lvFrameWin::Rendered lvFrameWin::renderWithProgress(int index, int outputMode) {
  auto &store = capture::pageStore();
  Rendered r;
  if (rendering_ || index < 0 || index >= store.pageCount())
    return r;
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
  // The scan timer waits while a page renders, and no thumbnail starts: the page the user waits for goes first.
  const bool timerWasActive = strip_->scanTimer().isActive();
  const int interval = strip_->scanTimer().interval();
  strip_->scanTimer().stop();
  if (captureWorker_)
    captureWorker_->holdThumbnails(true);

  QEventLoop loop;
  frame::AbortRequest() = false; // Esc stops this render between bands
  std::thread worker([&] {
    try {
      render::RenderOptions options;
      options.outputMode = outputMode;
      options.progress = &progress;
      options.abort = &frame::AbortRequest();
      r.image = render::RenderPage(resolution, page, index, options);
      const render::RenderRecord record = render::lastRenderRecord();
      r.fileKb = record.fileKb;
      r.failure = QString::fromStdString(record.failure);
      if (r.image->isValid())
        r.display = capture::BitmapFromImage(*r.image);
    } catch (const std::exception &e) {
      r.image.reset();
      r.error = QString::fromLocal8Bit(e.what());
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // The window keeps painting (and the progress control moving) while the page renders.
  {
    const RenderInputGate gate(frame::AbortRequest());
    loop.exec();
  }
  worker.join();
  r.stopped = frame::AbortRequest().load() && !(r.image && r.image->isValid());
  delete bar;
  QApplication::restoreOverrideCursor();
  if (captureWorker_)
    captureWorker_->holdThumbnails(false);
  if (timerWasActive)
    strip_->scanTimer().start(interval);
  rendering_ = false;
  if (closePending_)
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  else if (currentRenderWaiting_)
    renderCurrentPage();
  return r;
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
  if (initialCaptureStarted_ || !captureWorker_)
    return;
  initialCaptureStarted_ = true;
  captureWorker_->startInitialPass();
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

void lvFrameWin::renderCurrentPage() {
  // Not inside the capture's own call: the render keeps the window served through an event loop of its own.
  currentRenderWaiting_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (rendering_ || !currentRenderWaiting_)
          return; // the running render asks again when it ends
        currentRenderWaiting_ = false;
        rerenderCurrentPage();
      },
      Qt::QueuedConnection);
}

void lvFrameWin::repaintPageInfoArea() { update(statusZones().pageInfo); }

void lvFrameWin::repaintReadinessArea() {
  if (const auto zone = statusZones().readiness)
    update(*zone);
}

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

// ---- the end ----

void lvFrameWin::closeEvent(QCloseEvent *e) {
  if (rendering_) {
    // The render under way stops at its next band; the window closes when it has.
    frame::AbortRequest() = true;
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
  // The capture stops between two page files (the files it has not loaded stay for the next run); it is waited for
  // a bounded time.
  captureWorker_.reset();
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
