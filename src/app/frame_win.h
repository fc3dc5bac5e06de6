// The main frame: no menu bar; the preview window, the page strip and the button column as children; the
// status line with the page information and the readiness text; mouse-wheel routing and the key table.
// It is also the window side of the capture: repaints, the strip's scroll range and scan timer, messages.
#pragma once

#include "app/button_column.h"
#include "app/frame_commands.h"
#include "app/frame_layout.h"
#include "capture/capture_window.h"

#include <Magick++.h>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;

namespace capture {
class CaptureWorker;
}
namespace view {
class PageStrip;
class PreviewWindow;
} // namespace view

inline constexpr const char *kFrameTitle = "Tarvik Folvex! v.2.1";
inline constexpr const char *kMessageCaption = "Tarvik Folvex! Message";

class lvFrameWin : public QWidget, public capture::CaptureWindow {
  Q_OBJECT
public:
  explicit lvFrameWin(QWidget *parent = nullptr);
  ~lvFrameWin() override;

  view::PreviewWindow *preview() const { return preview_; }
  view::PageStrip *strip() const { return strip_; }
  frame::FrameButton *button(int i) const { return buttons_[static_cast<size_t>(i)]; }
  const frame::FrameLayout &layout() const { return layout_; }
  frame::CommandTable &commands() { return commands_; }

  // Runs a command through the command table (nothing happens for a command without an action).
  bool runCommand(int id);
  // The status line texts as the paint handler would draw them now.
  std::optional<frame::StatusText> pageInfoText() const;
  std::optional<frame::StatusText> readinessText() const;
  // Where the two status texts go; each is repainted in its own zone only.
  frame::StatusZones statusZones() const;

  // Renders page `index` into the current image with the wait cursor and the progress control; the window keeps
  // painting meanwhile and holds off the user's input, but for Esc, which stops the render (so does a close). View
  // state 1 during the render, 2 after it; a render that gives no image leaves the reason in place of the image
  // (preview and status line). True when an image was made.
  bool renderPage(int index);
  bool rendering() const { return rendering_; }
  // Renders the current page again after a setting changed (as renderPage); with no page there is no current page.
  void rerenderCurrentPage();
  // The page under the strip's last right-click point, -1 for none.
  int pageUnderRightClick() const;

  // Starts the initial capture pass on the capture worker.
  void startInitialCapture();
  // The capture worker (passes and thumbnails off the window thread); nothing once the program has ended.
  capture::CaptureWorker *captureWorker() const { return captureWorker_.get(); }
  // Hover marks of the button column.
  void markButton(int index); // -1 clears all

  // The end of the program: release the pages, close the printer monitor, start it to restore the printers,
  // save the placement. Runs once, from the close handler.
  void endOfProgram();
  // Keeps the normal (not maximised) rectangle known, as the window placement does.
  QRect normalRect() const { return normalRect_; }
  // The notice the status line shows now (a held-back print job, settings not saved); empty when none.
  QString statusNotice() const;

  // CaptureWindow
  QRect stripClientRect() override;
  void repaintStrip(bool erase) override;
  void repaintStripRect(const QRect &listRect, bool erase) override;
  void setStripScrollRange(int minimum, int maximum, bool redraw) override;
  void setStripScrollPos(int position, bool redraw) override;
  void setStripScrollOffset(int pixels) override;
  void scrollStripToEnd() override;
  void armScanTimer(int timerId, int milliseconds) override;
  void repaintPreview(bool erase) override;
  void renderCurrentPage() override;
  void repaintPageInfoArea() override;
  void repaintReadinessArea() override;
  void repaintPrinterButton() override;
  void showMessage(const QString &text) override;
  void showStatusNotice(const QString &text) override;
  bool displayMetrics(int &pixelsWide, double &millimetresWide) override;

signals:
  // The end of the program has run; the application ends with it.
  void ended();

protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void moveEvent(QMoveEvent *) override;
  void wheelEvent(QWheelEvent *e) override;
  void closeEvent(QCloseEvent *e) override;
  void changeEvent(QEvent *e) override;

private:
  void applyLayout();
  void buttonPressed(int index, const QPoint &globalPos);
  void openPopup(frame::Popup which, int buttonIndex, const QPoint &globalPos);
  void installKeys();
  void registerBuiltInCommands();
  void rememberNormalRect();
  void placeNotice();

  // The render with the wait cursor and the progress control, the window served meanwhile; nothing while another
  // render of the window runs. The picture for the screen and the file size are taken on the render's thread too.
  struct Rendered {
    std::optional<Magick::Image> image; // empty when the render did not run or threw
    QImage display;
    int fileKb = 0;
    QString error;        // the image library's complaint, if any
    QString failure;      // why the rasteriser gave no image, as it recorded it
    bool stopped = false; // Esc stopped the render
  };
  Rendered renderWithProgress(int index, int outputMode);

  // The page menu (page_commands.cpp).
  void registerPageCommands();
  void copyPageToClipboard();
  void savePageAsEmf();
  void deletePageUnderClick();
  void rotatePageUnderClick(bool right);
  void rotatePage(int index, double angle);
  void rotateAllPages(const std::function<double(double)> &newAngle);
  void imageNotSelected();
  void pageMessage(const QString &text);

  // The dialogs of the Options menu.
  void showResolutionDialog();
  void showHatchDialog();

  view::PreviewWindow *preview_;
  view::PageStrip *strip_;
  std::array<frame::FrameButton *, frame::kButtonCount> buttons_{};
  frame::FrameLayout layout_;
  frame::CommandTable commands_;
  std::unique_ptr<capture::CaptureWorker> captureWorker_;
  bool initialCaptureStarted_ = false;
  QRect normalRect_;
  bool rendering_ = false;
  bool currentRenderWaiting_ = false; // a newly captured current page waits for the running render to end
  bool closePending_ = false;
  bool ended_ = false;
  QLabel *notice_ = nullptr; // over the middle of the status line
  QString captureNotice_, settingsNotice_;
};
