// The button column of the main frame: eight 43 x 32 picture buttons with tooltips, a hover picture, and the
// readiness lamp over the printer button.
#pragma once

#include "app/frame_layout.h"

#include <QIcon>
#include <QPixmap>
#include <QWidget>
#include <functional>

namespace frame {

// Pictures of the buttons and the lamp, loaded once from the resources.
QPixmap ButtonPicture(int index, bool underMouse);
QPixmap LampPixmap(LampPicture which);
// The program's icon.
QIcon AppIcon();

class FrameButton : public QWidget {
  Q_OBJECT
public:
  FrameButton(int index, QWidget *parent);
  int index() const { return index_; }
  bool underMouse() const { return underMouse_; }
  void setUnderMouse(bool on);
  // The lamp of the printer button reads the readiness state and the blink flag through this.
  void setLampSource(std::function<LampPicture(bool underMouse)> source) { lamp_ = std::move(source); }
  QSize sizeHint() const override { return {kButtonWidth, kButtonHeight}; }

signals:
  void hovered(int index);                          // the mouse moved over this button
  void pressed(int index, const QPoint &globalPos); // left button down

protected:
  void paintEvent(QPaintEvent *) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;

private:
  int index_;
  bool underMouse_ = false;
  std::function<LampPicture(bool)> lamp_;
};

} // namespace frame
