#include "view/preview_window.h"

#include "capture/page_store.h"
#include "view/page_strip.h"
#include "view/view_paint.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace view {
namespace {

const QString kBarStyle =
    QStringLiteral("QScrollBar{background:#E0E0F8;border:none;margin:0;}"
                   "QScrollBar::handle{background:#B7A9D8;border-radius:4px;min-width:20px;min-height:20px;margin:2px;}"
                   "QScrollBar::handle:hover{background:#716DB9;}"
                   "QScrollBar::add-line,QScrollBar::sub-line{width:0;height:0;border:none;}"
                   "QScrollBar::add-page,QScrollBar::sub-page{background:none;}");

} // namespace

bool PreviewDrawsImage(int viewState, int pageCount) { return viewState == capture::kViewImageReady && pageCount > 0; }

PreviewWindow::PreviewWindow(QWidget *parent)
    : QWidget(parent), hBar_(new QScrollBar(Qt::Horizontal, this)), vBar_(new QScrollBar(Qt::Vertical, this)) {
  setObjectName(QStringLiteral("preview"));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  for (QScrollBar *b : {hBar_, vBar_}) {
    b->setRange(0, 20);
    b->setSingleStep(kPreviewLine);
    b->setStyleSheet(kBarStyle);
    b->hide();
  }
  hBar_->setObjectName(QStringLiteral("previewHBar"));
  vBar_->setObjectName(QStringLiteral("previewVBar"));
  connect(hBar_, &QScrollBar::actionTriggered, this, [this](int a) { onAction(Qt::Horizontal, a); });
  connect(vBar_, &QScrollBar::actionTriggered, this, [this](int a) { onAction(Qt::Vertical, a); });
}

QPoint PreviewWindow::imageOrigin(const QSize &image) const {
  return ImageOrigin(width(), height(), image.width(), image.height(), h_, v_);
}

void PreviewWindow::placeBars() {
  const int t = 12;
  hBar_->setGeometry(0, height() - t, bars_.clientW, t);
  vBar_->setGeometry(width() - t, 0, t, bars_.clientH);
}

void PreviewWindow::ShowImage(const QImage &image, QPainter *painter) {
  const PreviewBars b = ComputePreviewBars(width(), height(), image.width(), image.height());
  bars_ = b;
  if (!b.hShown)
    h_ = 0;
  if (!b.vShown)
    v_ = 0;
  {
    const QSignalBlocker bh(hBar_), bv(vBar_);
    hBar_->setRange(0, b.hShown ? b.hMax : 20);
    vBar_->setRange(0, b.vShown ? b.vMax : 20);
    hBar_->setPageStep(std::max(b.clientW, 1));
    vBar_->setPageStep(std::max(b.clientH, 1));
    hBar_->setValue(h_);
    vBar_->setValue(v_);
  }
  placeBars();
  hBar_->setVisible(b.hShown);
  vBar_->setVisible(b.vShown);
  if (!painter || image.isNull())
    return;
  painter->save();
  painter->setClipRect(QRect(0, 0, b.clientW, b.clientH), Qt::IntersectClip);
  painter->drawImage(imageOrigin(image.size()), image);
  painter->restore();
}

const QImage *PreviewWindow::shownImage() const {
  if (!transient_.isNull())
    return &transient_;
  const auto &store = capture::pageStore();
  return PreviewDrawsImage(store.viewState.load(), store.pageCount()) && !store.currentImageDisplay.isNull()
             ? &store.currentImageDisplay
             : nullptr;
}

void PreviewWindow::refreshBars() {
  const QImage *img = shownImage();
  ShowImage(img ? *img : QImage(), nullptr);
}

void PreviewWindow::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), view::Colour(kViewBackground));
  if (const QImage *img = shownImage()) {
    ShowImage(*img, &p);
    return;
  }
  // A render that gave no image says why in the image's place.
  const auto &store = capture::pageStore();
  if (transient_.isNull() && store.viewState.load() == capture::kViewImageReady && store.pageCount() > 0 &&
      !store.currentImageProblem.isEmpty()) {
    p.setFont(view::StatusFont());
    p.setPen(QColor(0xAF, 0, 0));
    p.drawText(rect().adjusted(50, 10, -10, -10), Qt::AlignCenter | Qt::TextWordWrap, store.currentImageProblem);
  }
}

void PreviewWindow::keyPressEvent(QKeyEvent *e) {
  switch (e->key()) {
  case Qt::Key_Up:
  case Qt::Key_Down:
  case Qt::Key_PageUp:
  case Qt::Key_PageDown:
  case Qt::Key_Home:
  case Qt::Key_End:
    if (e->modifiers() == Qt::NoModifier) {
      emit navigationKey(e->key());
      e->accept();
      return;
    }
    break;
  default:
    break;
  }
  QWidget::keyPressEvent(e);
}

void PreviewWindow::showTransientImage(const QImage &image) {
  QMetaObject::invokeMethod(
      this,
      [this, image] {
        transient_ = image;
        refreshBars();
        update();
      },
      Qt::QueuedConnection);
}

void PreviewWindow::resizeEvent(QResizeEvent *) { refreshBars(); }

void PreviewWindow::scroll(Qt::Orientation o, ScrollRequest request) {
  QScrollBar *bar = o == Qt::Horizontal ? hBar_ : vBar_;
  int &pos = o == Qt::Horizontal ? h_ : v_;
  const int maximum = bar->maximum();
  const int next = PreviewScroll(request, pos, maximum, bar->sliderPosition());
  {
    const QSignalBlocker block(bar);
    bar->setValue(next);
  }
  if (next == pos)
    return;
  const int delta = pos - next;
  pos = next;
  const QRect client(0, 0, bars_.clientW, bars_.clientH);
  if (o == Qt::Vertical && std::abs(delta) < client.height())
    QWidget::scroll(0, delta, client);
  else
    update();
}

void PreviewWindow::onAction(Qt::Orientation o, int action) {
  scroll(o, RequestForSliderAction(action));
  QScrollBar *bar = o == Qt::Horizontal ? hBar_ : vBar_;
  bar->setSliderPosition(bar->value());
}

void PreviewWindow::limitScroll(int maxH, int maxV) {
  h_ = std::max(0, std::min(h_, maxH));
  v_ = std::max(0, std::min(v_, maxV));
  refreshBars();
  update();
}

void PreviewWindow::mouseMoveEvent(QMouseEvent *e) {
  emit mouseEntered();
  QWidget::mouseMoveEvent(e);
}

void PreviewWindow::mousePressEvent(QMouseEvent *e) {
  if (e->button() == Qt::RightButton && capture::pageStore().pageCount() > 0) {
    QMenu menu(this);
    if (menuBuilder_) {
      ViewMenuState state;
      state.pageCount = capture::pageStore().pageCount();
      menuBuilder_(menu, ViewMenu::Preview, state);
    }
    if (QAction *chosen = menu.exec(e->globalPosition().toPoint()))
      if (const int id = MenuActionCommand(chosen))
        emit commandChosen(id);
  }
  QWidget::mousePressEvent(e);
}

} // namespace view
