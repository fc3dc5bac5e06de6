// The monitor dialog "Tarvik Quenby v.1.0": shows what MonitorCore holds and forwards the user's commands.
#pragma once

#include "monitor/monitor_core.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QTimer>

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

  // The dialog's initialisation (before it is shown): the command modes do their work here.
  MonitorCore::InitResult initialise();
  MonitorCore &core() { return core_; }
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

public slots:
  void refreshTick();
  void showHelpTopic();
  void raiseWindow();

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

  MonitorCore core_;
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
