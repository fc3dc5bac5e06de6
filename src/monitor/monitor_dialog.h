// The monitor dialog "Tarvik Quenby v.1.0": shows what MonitorCore holds and forwards the user's commands.
// MonitorCore runs on a worker thread (every request to the print server is made there); the dialog posts the
// user's commands and the timer ticks to it and shows the copy of the core's state that each of them sends back.
#pragma once

#include "monitor/monitor_core.h"
#include "monitor/serial_worker.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <future>

class QPushButton;
class QTreeWidget;
class QGroupBox;

namespace monitor {

inline const QString kMonitorTitle = QStringLiteral("Tarvik Quenby v.1.0");
// The maker's web site and support address shown in the two links.
inline const QString kWebSite = QStringLiteral("www.tarvik.example");
inline const QString kSupportMail = QStringLiteral("support@tarvik.example");

// A link text: hand cursor and underline while the pointer is over it, opens its target when clicked.
class LinkLabel : public QLabel {
  Q_OBJECT
public:
  LinkLabel(const QString &text, QString target, QWidget *parent);
  const QString &target() const { return target_; }
  bool hovered() const { return font().underline(); }

signals:
  void activated(const QString &target);

protected:
  void enterEvent(QEnterEvent *event) override;
  void leaveEvent(QEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

private:
  void setHover(bool on);
  QString target_;
};

class MonitorDialog : public QDialog {
  Q_OBJECT
public:
  MonitorDialog(platform::Spooler &spooler, Mode mode, QWidget *parent = nullptr);
  ~MonitorDialog() override;

  // The dialog's initialisation: starts the core's initialisation on the worker and returns at once. When it is
  // done, the timers start, and a command mode that has done its work closes the dialog (finished() is emitted);
  // a mode that stays open shows the window.
  void initialise();
  // What the dialog shows now: the core's state as the worker last sent it.
  const MonitorView &view() const { return view_; }
  Mode mode() const { return mode_; }
  // Tests and benchmarks: lets the window thread run until every posted command is done and shown.
  bool waitForWorker(int ms);
  // The command mode's work is under way (the dialog closes when it is done, not before).
  bool commandBusy() const { return commandBusy_; }
  // How long the window thread took to show the last state the worker sent (benchmarks).
  qint64 lastShowNs() const { return lastShowNs_; }
  bool isSmall() const { return small_; }
  // The help page the "Help" button shows now.
  QString helpTopic() const;

  // Test access to the controls.
  QTreeWidget *printersList() const { return printers_; }
  QTreeWidget *jobList() const { return jobs_; }
  QTreeWidget *infoList() const { return info_; }
  QTreeWidget *selectedPrinterBox() const { return selPrinter_; }
  QTreeWidget *selectedJobBox() const { return selJob_; }
  QPushButton *button(int id) const;
  LinkLabel *webLink() const { return web_; }
  LinkLabel *mailLink() const { return mail_; }
  QTimer &refreshTimer() { return refresh_; }
  QTimer &closeTimer() { return close_; }

  // Hooks for tests: replace the message boxes and the question.
  void setNotifier(std::function<void(const Notice &)> f) { notifier_ = std::move(f); }
  void setQuestion(std::function<bool()> f) { question_ = std::move(f); }
  void setLinkOpener(std::function<void(const QString &)> f) { opener_ = std::move(f); }

  // The end without a display or a person: answers an open question with Yes, waits up to waitMs for the
  // command's work and records the prepared settings. For a program whose window system went away.
  void endUnattended(int waitMs);

public slots:
  void refreshTick();
  void showHelpTopic();
  void raiseWindow();
  // A close message (from Folvex, the close timer or a signal): closes now, or, while a command mode's work is
  // under way, as soon as it is done.
  void requestClose();

protected:
  void closeEvent(QCloseEvent *event) override;
  void done(int result) override;

private:
  QRect du(int x, int y, int w, int h) const;
  void buildControls();
  void syncAll();
  void syncPrinters();
  void syncJobs();
  void syncBoxes();
  void syncButtons();
  void stopTimers();
  void notify(const Notice &n);
  bool confirm();
  void ask(std::shared_ptr<std::promise<bool>> answer);
  void post(std::function<bool(MonitorCore &)> command);
  void showView(MonitorView view, bool closeNow);
  void setToolTipsOfButtons();
  void record();

  Mode mode_;
  MonitorCore core_; // used on the worker thread only
  SerialWorker worker_;
  MonitorView view_;
  std::atomic<int> pending_{0};
  bool commandBusy_ = false;
  qint64 lastShowNs_ = 0;
  bool closePending_ = false;
  QPointer<QWidget> questionBox_;
  std::shared_ptr<std::promise<bool>> pendingAnswer_;
  std::vector<QPointer<QWidget>> openNotices_;
  bool small_ = false;
  int baseX_ = 6;
  int baseY_ = 13;
  QTreeWidget *info_ = nullptr;
  QTreeWidget *printers_ = nullptr;
  QTreeWidget *jobs_ = nullptr;
  QTreeWidget *selPrinter_ = nullptr;
  QTreeWidget *selJob_ = nullptr;
  QPushButton *help_ = nullptr, *cancel_ = nullptr, *setPause_ = nullptr, *cancelCurrent_ = nullptr,
              *cancelAll_ = nullptr, *resume_ = nullptr, *save_ = nullptr, *exit_ = nullptr, *setAll_ = nullptr;
  LinkLabel *web_ = nullptr;
  LinkLabel *mail_ = nullptr;
  QTimer refresh_;
  QTimer close_;
  std::vector<QPixmap> listImages_;
  std::vector<QPixmap> infoImages_;
  std::function<void(const Notice &)> notifier_;
  std::function<bool()> question_;
  std::function<void(const QString &)> opener_;
  bool recorded_ = false;
};

} // namespace monitor
