#include "view/page_strip.h"

#include "capture/page_store.h"
#include "view/page_operations.h"
#include "view/view_paint.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <cmath>

namespace view {

ScrollRequest RequestForSliderAction(int action) {
  switch (action) {
  case QAbstractSlider::SliderSingleStepAdd:
    return ScrollRequest::LineDown;
  case QAbstractSlider::SliderSingleStepSub:
    return ScrollRequest::LineUp;
  case QAbstractSlider::SliderPageStepAdd:
    return ScrollRequest::PageDown;
  case QAbstractSlider::SliderPageStepSub:
    return ScrollRequest::PageUp;
  case QAbstractSlider::SliderToMinimum:
    return ScrollRequest::Top;
  case QAbstractSlider::SliderToMaximum:
    return ScrollRequest::Bottom;
  case QAbstractSlider::SliderMove:
    return ScrollRequest::ThumbTrack;
  default:
    return ScrollRequest::EndScroll;
  }
}

PageStrip::PageStrip(QWidget *parent) : QWidget(parent), bar_(new QScrollBar(Qt::Vertical, this)) {
  setObjectName(QStringLiteral("pageStrip"));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  bar_->setObjectName(QStringLiteral("stripScrollBar"));
  bar_->setRange(0, capture::kEmptyScrollRange);
  bar_->setSingleStep(1);
  bar_->setPageStep(10);
  bar_->setFixedWidth(12);
  bar_->setStyleSheet(
      QStringLiteral("QScrollBar:vertical{background:#E0E0F8;width:12px;margin:0;border:none;}"
                     "QScrollBar::handle:vertical{background:#B7A9D8;min-height:20px;border-radius:4px;margin:1px 2px;}"
                     "QScrollBar::handle:vertical:hover{background:#716DB9;}"
                     "QScrollBar::add-line,QScrollBar::sub-line{height:0;border:none;}"
                     "QScrollBar::add-page,QScrollBar::sub-page{background:none;}"));
  connect(bar_, &QScrollBar::actionTriggered, this, &PageStrip::onBarAction);
  connect(&scanTimer_, &QTimer::timeout, this, [this] {
    if (tick_)
      tick_();
  });
}

QRect PageStrip::clientRect() const { return QRect(0, 0, std::max(width() - scrollBarWidth(), 0), height()); }

int PageStrip::scrollBarWidth() const { return bar_->isVisibleTo(this) ? bar_->width() : 0; }

void PageStrip::resizeEvent(QResizeEvent *) { bar_->setGeometry(width() - bar_->width(), 0, bar_->width(), height()); }

int PageStrip::maxPosition() const {
  const auto &pages = capture::pageStore().pages;
  if (pages.empty())
    return 0;
  const auto &last = pages.back();
  return LastPageMaxPosition(ThumbRect{last.thumbX, last.thumbY, last.thumbW, last.thumbH}, height());
}

int PageStrip::pageAt(QPoint p) const {
  // Straight over the page list: a mouse move must not copy every rectangle of a long list.
  const auto &pages = capture::pageStore().pages;
  const size_t n = pages.size();
  for (size_t i = 0; i < n; ++i) {
    const auto &pg = pages[i];
    if (ThumbHit(ThumbRect{pg.thumbX, pg.thumbY, pg.thumbW, pg.thumbH}, scrollPos_, p))
      return static_cast<int>(i);
  }
  return -1;
}

void PageStrip::setScrollPosition(int pixels) {
  scrollPos_ = std::max(pixels, 0);
  update();
}

void PageStrip::onBarAction(int action) {
  scroll(RequestForSliderAction(action));
  // The bar would move its box by its own rule after this signal; keep it where the strip's arithmetic put it.
  bar_->setSliderPosition(bar_->value());
}

void PageStrip::scroll(ScrollRequest request) {
  const int maxPos = maxPosition();
  const double ratio = StripRatio(maxPos, bar_->minimum(), bar_->maximum());
  const StripScrollResult r = StripScroll(request, scrollPos_, maxPos, ratio, bar_->sliderPosition());
  {
    const QSignalBlocker block(bar_);
    bar_->setValue(r.boxPosition);
  }
  applyPosition(r.position, r.repaintAll);
}

void PageStrip::correctScrollPosition() {
  const int limit = std::max(maxPosition(), 0);
  if (scrollPos_ <= limit)
    return;
  const double ratio = StripRatio(maxPosition(), bar_->minimum(), bar_->maximum());
  {
    const QSignalBlocker block(bar_);
    bar_->setValue(ratio > 0.0 ? static_cast<int>(std::ceil(limit / ratio - 1e-9)) : 0);
  }
  applyPosition(limit, true);
}

void PageStrip::applyPosition(int newPosition, bool repaintAll) {
  const int delta = scrollPos_ - newPosition;
  scrollPos_ = newPosition;
  if (delta == 0 && !repaintAll)
    return;
  const QRect client = clientRect();
  if (repaintAll || std::abs(delta) >= client.height()) {
    update(client);
  } else {
    QWidget::scroll(0, delta, client);
  }
}

void PageStrip::moveTo(int position) {
  const double ratio = StripRatio(maxPosition(), bar_->minimum(), bar_->maximum());
  {
    const QSignalBlocker block(bar_);
    bar_->setValue(ratio > 0.0 ? static_cast<int>(std::ceil(std::max(position, 0) / ratio - 1e-9)) : 0);
  }
  applyPosition(std::max(position, 0), false);
}

void PageStrip::showPage(int index) {
  const auto &pages = capture::pageStore().pages;
  if (index < 0 || size_t(index) >= pages.size())
    return;
  const auto &pg = pages[size_t(index)];
  const int target = PositionShowing(ThumbRect{pg.thumbX, pg.thumbY, pg.thumbW, pg.thumbH}, scrollPos_, height());
  if (target != scrollPos_)
    moveTo(target);
}

bool PageStrip::navigate(int key) {
  const auto &store = capture::pageStore();
  const int count = store.pageCount();
  if (count == 0)
    return false;
  const int current = store.currentPage;
  int target = -1;
  switch (key) {
  case Qt::Key_Up:
  case Qt::Key_PageUp:
    target = current < 0 ? 0 : std::max(current - 1, 0);
    break;
  case Qt::Key_Down:
  case Qt::Key_PageDown:
    target = current < 0 ? 0 : std::min(current + 1, count - 1);
    break;
  case Qt::Key_Home:
    target = 0;
    break;
  case Qt::Key_End:
    target = count - 1;
    break;
  default:
    return false;
  }
  if (target == current)
    return true; // at the end of the list already
  choosePage(target);
  showPage(target);
  return true;
}

void PageStrip::keyPressEvent(QKeyEvent *e) {
  if (e->modifiers() == Qt::NoModifier && navigate(e->key()))
    e->accept();
  else
    QWidget::keyPressEvent(e);
}

bool PageStrip::event(QEvent *e) {
  if (e->type() == QEvent::ToolTip) {
    auto *help = static_cast<QHelpEvent *>(e);
    const int i = pageAt(help->pos());
    if (i < 0) {
      QToolTip::hideText();
      e->ignore();
      return true;
    }
    const auto &pg = capture::pageStore().pages[size_t(i)];
    QToolTip::showText(help->globalPos(), PageToolTip(pg), this,
                       ThumbOnScreen(ThumbRect{pg.thumbX, pg.thumbY, pg.thumbW, pg.thumbH}, scrollPos_));
    return true;
  }
  return QWidget::event(e);
}

void PageStrip::armScanTimer(int milliseconds) { scanTimer_.start(milliseconds); }

void PageStrip::paintEvent(QPaintEvent *e) {
  QPainter p(this);
  p.setClipRect(e->rect());
  p.fillRect(clientRect(), view::Colour(kViewBackground));
  const auto &store = capture::pageStore();
  if (store.viewState.load() <= capture::kViewNothing || store.pages.empty())
    return;
  p.setFont(view::StatusFont());
  p.setPen(QColor(0, 0, 175));
  const int cw = clientRect().width();
  const QRect visible = e->rect();
  for (size_t i = 0; i < store.pages.size(); ++i) {
    const auto &pg = store.pages[i];
    const ThumbRect tr{pg.thumbX, pg.thumbY, pg.thumbW, pg.thumbH};
    const QRect screen = ThumbOnScreen(tr, scrollPos_);
    const QRect label = LabelBand(tr, scrollPos_, cw);
    if (!screen.adjusted(-2, -2, 2, 2).united(label).intersects(visible))
      continue;
    if (!pg.thumbnail.isNull()) {
      p.drawImage(screen.topLeft(), pg.thumbnail);
    } else {
      // Its thumbnail is still being made: a placeholder frame of its size.
      p.fillRect(screen, Qt::white);
      view::FrameRect(p, screen, view::Colour(kPlaceholderEdge));
    }
    if (static_cast<int>(i) == store.currentPage) {
      view::FrameRect(p, screen.adjusted(-1, -1, 1, 1), Qt::red);
      view::FrameRect(p, screen.adjusted(-2, -2, 2, 2), Qt::red);
    }
    p.drawText(label, Qt::AlignCenter | Qt::TextSingleLine, StripLabel(QString::fromStdString(pg.name)));
  }
}

void PageStrip::mouseMoveEvent(QMouseEvent *e) {
  emit mouseEntered();
  const bool onPage = pageAt(e->position().toPoint()) >= 0;
  if (onPage != pointing_) {
    pointing_ = onPage;
    setCursor(onPage ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }
  QWidget::mouseMoveEvent(e);
}

void PageStrip::choosePage(int index) {
  auto &store = capture::pageStore();
  if (index < 0 || index >= store.pageCount())
    return;
  store.currentPage = index;
  if (renderer_)
    renderer_(index);
  update();
  const auto &pg = store.pages[size_t(index)];
  emit previewLimitRequested(pg.thumbW, pg.thumbH);
  emit pageChosen(index);
}

void PageStrip::mousePressEvent(QMouseEvent *e) {
  const QPoint pt = e->position().toPoint();
  if (e->button() == Qt::LeftButton) {
    const int hit = pageAt(pt);
    if (hit >= 0) {
      choosePage(hit);
      pointing_ = true;
      setCursor(Qt::PointingHandCursor);
    }
  } else if (e->button() == Qt::RightButton) {
    const auto &store = capture::pageStore();
    if (store.pages.empty())
      return;
    lastRightClick_ = pt;
    ViewMenuState state;
    state.pageCount = store.pageCount();
    state.pageUnderPoint = pageAt(pt) >= 0;
    QMenu menu(this);
    if (menuBuilder_)
      menuBuilder_(menu, ViewMenu::Strip, state);
    if (QAction *chosen = menu.exec(e->globalPosition().toPoint()))
      if (const int id = MenuActionCommand(chosen))
        emit commandChosen(id);
  }
  QWidget::mousePressEvent(e);
}

} // namespace view
