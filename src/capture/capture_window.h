// What the capture side does to windows: the main frame (with its page strip, preview window, status line and
// printer button) implements this interface; headless tests implement it with a recording fake.
//
// Every method is called on the GUI thread only. Capture passes and thumbnails run on the capture worker, but it
// never calls these methods itself: it hands its results to the GUI thread, which applies them (capture_worker.h).
#pragma once

#include <QRect>
#include <QString>

namespace capture {

class CaptureWindow {
public:
  virtual ~CaptureWindow() = default;

  // --- page strip ---
  // The strip's client rectangle (left, top, width, height); thumbnails are centred on its width.
  virtual QRect stripClientRect() = 0;
  // Repaints the whole strip; erase = clear the background first.
  virtual void repaintStrip(bool erase) = 0;
  // Repaints a rectangle of the strip given in list coordinates (before subtracting the scroll position).
  virtual void repaintStripRect(const QRect &listRect, bool erase) = 0;
  // Sets the strip's vertical scroll bar range (in scroll bar units) and its box position.
  virtual void setStripScrollRange(int minimum, int maximum, bool redraw) = 0;
  virtual void setStripScrollPos(int position, bool redraw) = 0;
  // Sets the strip's content offset in pixels (0 = top of the list in view).
  virtual void setStripScrollOffset(int pixels) = 0;
  // A vertical scroll to the bottom (what a "bottom" scroll request does), so the newest pages come into view.
  virtual void scrollStripToEnd() = 0;
  // Arms the scan timer on the strip window (identifier 111, 500 ms). Every timeout of that timer must call
  // capture::ScanTimerTick(*this); a second call re-arms it with the new interval.
  virtual void armScanTimer(int timerId, int milliseconds) = 0;

  // --- preview window and status line of the main frame ---
  virtual void repaintPreview(bool erase) = 0;
  // The current page is a newly captured one: render it into the current image as a click on it would. The window
  // may do so after this call returns; the view state stays 1 until the image is ready.
  virtual void renderCurrentPage() = 0;
  // The page information of the status line (the page count or the current page changed).
  virtual void repaintPageInfoArea() = 0;
  // The readiness area of the status line (its text follows capture::readinessState()).
  virtual void repaintReadinessArea() = 0;
  // The printer button (its lamp follows capture::blinkFlag() and capture::readinessState()); no erase.
  virtual void repaintPrinterButton() = 0;

  // --- services ---
  // A message box with the application's title and an OK button (modal; returns when closed).
  virtual void showMessage(const QString &text) = 0;
  // A notice on the status line that stays until replaced; an empty text removes it. Used for conditions the user
  // should know of without being stopped (a full disk holding back a print job), each told once.
  virtual void showStatusNotice(const QString &text) { (void)text; }
  // The primary screen's width in pixels and in millimetres; false when unknown (the resolution stays 96).
  virtual bool displayMetrics(int &pixelsWide, double &millimetresWide) = 0;
};

} // namespace capture
