#include "app/startup.h"

#include "app/frame_win.h"
#include "app/monitor_link.h"
#include "app/welcome_dialog.h"
#include "capture/spool_extractor.h"
#include "capture/spool_watcher.h"
#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "render/image_library.h"
#include "settings/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

namespace frame {
namespace {

void ShowNonBlocking(const QString &text, QWidget *owner) {
  auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, owner);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

} // namespace

Running::Running() = default;
Running::~Running() = default;

void WatchForMonitor(int pollMs, int raiseMs) {
  auto *timer = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  auto foundAt = std::make_shared<qint64>(-1);
  clock->start();
  timer->setInterval(100);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, foundAt, pollMs, raiseMs] {
    const QString &title = app::kMonitorWindowTitle;
    const qint64 now = clock->elapsed();
    if (*foundAt < 0) {
      if (platform::findWindow(title))
        *foundAt = now;
      else if (now > pollMs)
        timer->deleteLater();
      return;
    }
    if (now - *foundAt > raiseMs) {
      timer->deleteLater();
      return;
    }
    platform::bringToFront(title);
  });
  timer->start();
}

std::unique_ptr<Running> StartFolvex(bool headless) {
  const QString title = QString::fromLatin1(kFrameTitle);
  auto run = std::make_unique<Running>();
  // 1. One copy only: a second start brings the first forward and ends.
  run->channel = std::make_unique<platform::WindowChannel>(title);
  if (!run->channel->listen()) {
    platform::bringToFront(title);
    return nullptr;
  }
  // 3. Settings.
  LoadSettings();
  // 4. Placement from the stored values and the size of a maximised window.
  const QScreen *screen = QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  StoredPlacement stored;
  stored.kodMainWinMax = settings().lvKodMainWinMax;
  stored.winBottom = RegGetInt("lvWinBottom");
  if (stored.winBottom >= 1) {
    stored.winTop = RegGetInt("lvWinTop");
    stored.winLeft = RegGetInt("lvWinLeft");
    stored.winRight = RegGetInt("lvWinRight");
  }
  const Placement place = StartPlacement(stored, avail.width(), avail.height());
  // 5. The frame.
  run->frame = std::make_unique<lvFrameWin>();
  lvFrameWin *fw = run->frame.get();
  fw->setGeometry(place.left, place.top, place.right - place.left, place.bottom - place.top);
  QObject::connect(run->channel.get(), &platform::WindowChannel::raiseRequested, fw, [fw] {
    if (fw->isMinimized())
      fw->showNormal();
    fw->raise();
    fw->activateWindow();
  });
  QObject::connect(run->channel.get(), &platform::WindowChannel::closeRequested, fw, &QWidget::close);
  // 7. The image library.
  render::InitializeImageLibrary(QCoreApplication::applicationFilePath().toStdString());
  // 8. Centre, show.
  if (ShouldCentre(place)) {
    const QRect g = fw->geometry();
    fw->setGeometry(QRect(avail.center() - QPoint(g.width() / 2, g.height() / 2), g.size()));
  }
  if (place.maximised)
    fw->showMaximized();
  else
    fw->show();
  // 9. Copies of earlier spool files.
  capture::DeleteSpoolCopies();
  // 10. The printer monitor prepares the printers.
  // A failed start is told without stopping start-up; the program runs on without the monitor.
  const bool started = app::startMonitor(QStringLiteral("set"));
  if (!started)
    ShowNonBlocking(QString::fromLatin1(kDamagedMessage), headless ? fw : nullptr);
  // 11. The initial capture pass.
  fw->startInitialCapture();
  // 12. Bring the printer monitor forward once it shows.
  if (started)
    WatchForMonitor();
  // 13. Readiness from the acceptability code.
  const int state = capture::ReadinessFromCode(RegGetInt("lvKodEstPrinters"));
  capture::setReadinessState(state);
  if (state == 0 || state == 2)
    fw->repaintReadinessArea();
  // 14. The welcome screen.
  ShowWelcomeScreen(fw, !headless);
  return run;
}

} // namespace frame
