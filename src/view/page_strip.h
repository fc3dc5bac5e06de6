// The page strip: the thumbnails of the captured pages under one another with their labels, the red double frame
// around the current page, a thin vertical scroll bar, the page menu, and the scan timer of the capture side.
#pragma once

#include "view/strip_geometry.h"
#include "view/view_menus.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QScrollBar;

namespace view {

inline constexpr unsigned kViewBackground = 0xF8E0E0;  // RGB(224, 224, 248) as 0x00BBGGRR
inline constexpr unsigned kPlaceholderEdge = 0xB96D71; // the frame of a thumbnail still being made

class PageStrip : public QWidget {
  Q_OBJECT
public:
  explicit PageStrip(QWidget *parent = nullptr);

  // The client area: the window without its scroll bar.
  QRect clientRect() const;
  int scrollPosition() const { return scrollPos_; }
  void setScrollPosition(int pixels);
  QScrollBar *scrollBar() const { return bar_; }
  int scrollBarWidth() const;
  // One scroll request, as the scroll bar, the mouse wheel or the capture side sends it.
  void scroll(ScrollRequest request);
  // After a change of height: a position past the end of the list (the window grew) comes back to the end.
  void correctScrollPosition();
  // The maximum scroll position for the current pages and client height.
  int maxPosition() const;
  QPoint lastRightClickPoint() const { return lastRightClick_; }
  // The page under a client point, -1 for none.
  int pageAt(QPoint p) const;

  // The scan timer: every timeout calls the tick handler; arming again changes the interval.
  void armScanTimer(int milliseconds);
  QTimer &scanTimer() { return scanTimer_; }
  void setTickHandler(std::function<void()> tick) { tick_ = std::move(tick); }

  // Makes page `index` current and renders it (left click).
  void choosePage(int index);
  // The keys of the page list: Up and Page Up the previous page, Down and Page Down the next, Home the first, End the
  // last; the page is chosen as a click chooses it and scrolled into view. false for any other key (or no move).
  bool navigate(int key);
  // Scrolls so that page `index` with its label is in view.
  void showPage(int index);
  // Renders a page into the current image; the frame provides it (wait cursor, progress, view state).
  void setPageRenderer(std::function<void(int index)> renderer) { renderer_ = std::move(renderer); }
  // The page menu's items come from the window that holds the strip.
  void setMenuBuilder(MenuBuilder builder) { menuBuilder_ = std::move(builder); }

signals:
  void mouseEntered();        // clears the hover marks of the button column
  void pageChosen(int index); // after a left click rendered a page
  void commandChosen(int id); // an item of the page menu
  void previewLimitRequested(int maxH, int maxV);

protected:
  bool event(QEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void paintEvent(QPaintEvent *) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void resizeEvent(QResizeEvent *) override;

private:
  void onBarAction(int action);
  void applyPosition(int newPosition, bool repaintAll);
  // Moves to a pixel position and puts the scroll box where the strip's arithmetic has it.
  void moveTo(int position);

  QScrollBar *bar_;
  QTimer scanTimer_;
  int scrollPos_ = 0;
  QPoint lastRightClick_;
  bool pointing_ = false;
  std::function<void()> tick_;
  std::function<void(int)> renderer_;
  MenuBuilder menuBuilder_;
};

// Maps a scroll bar action (QAbstractSlider::SliderAction) to a scroll request.
ScrollRequest RequestForSliderAction(int action);

} // namespace view
