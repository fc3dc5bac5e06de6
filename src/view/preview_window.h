// The preview window: the current image at one screen pixel per image pixel, centred when smaller than the
// window, otherwise scrolled with thin scroll bars; its right-click menu.
#pragma once

#include "view/preview_geometry.h"
#include "view/view_menus.h"

#include <QImage>
#include <QWidget>

class QScrollBar;

namespace view {

class PreviewWindow : public QWidget {
  Q_OBJECT
public:
  explicit PreviewWindow(QWidget *parent = nullptr);

  // Sets up the scroll bars for an image of the given size; with a painter, also draws the image.
  void ShowImage(const QImage &image, QPainter *painter);
  bool hBarShown() const { return bars_.hShown; }
  bool vBarShown() const { return bars_.vShown; }
  int hPosition() const { return h_; }
  int vPosition() const { return v_; }
  QScrollBar *hBar() const { return hBar_; }
  QScrollBar *vBar() const { return vBar_; }
  const PreviewBars &bars() const { return bars_; }
  // The image's top-left corner in window coordinates for the current scroll positions.
  QPoint imageOrigin(const QSize &image) const;

  void scroll(Qt::Orientation o, ScrollRequest request);
  // After another page is chosen: h at most maxH, v at most maxV.
  void limitScroll(int maxH, int maxV);
  // Re-reads the current image's size and sets the bars up (no drawing).
  void refreshBars();
  // The right-click menu's items come from the window that holds the preview.
  void setMenuBuilder(MenuBuilder builder) { menuBuilder_ = std::move(builder); }
  // Shows another image in place of the current one (an export shows each page it writes); callable from any
  // thread. An empty image returns to the current image.
  void showTransientImage(const QImage &image);
  const QImage &transientImage() const { return transient_; }

signals:
  void mouseEntered();
  void commandChosen(int id);
  // A key of the page list (Up, Down, Page Up, Page Down, Home, End): the page strip moves to another page.
  void navigationKey(int key);

protected:
  void keyPressEvent(QKeyEvent *e) override;
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;

private:
  void placeBars();
  void onAction(Qt::Orientation o, int action);

  QScrollBar *hBar_;
  QScrollBar *vBar_;
  // The image drawn now: the transient one when set, else the current image when it is ready.
  const QImage *shownImage() const;

  PreviewBars bars_;
  int h_ = 0, v_ = 0;
  QImage transient_;
  MenuBuilder menuBuilder_;
};

// Whether the preview draws the current image: view state 2 and at least one page.
bool PreviewDrawsImage(int viewState, int pageCount);

} // namespace view
