#include "monitor/monitor_dialog.h"

#include "monitor/monitor_icons.h"
#include "platform/help_window.h"
#include "platform/session_end.h"
#include "platform/shell.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>

namespace monitor {
namespace {

constexpr int kSmallWindowHeight = 70; // the command modes' window, caption included

struct Column {
  const char *header;
  int width;
};

QTreeWidget *makeList(QWidget *parent, std::initializer_list<Column> columns, bool header, QColor background,
                      QColor text = Qt::black) {
  auto *list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setColumnCount(static_cast<int>(columns.size()));
  QStringList headers;
  int i = 0;
  for (const Column &c : columns) {
    headers << QString::fromLatin1(c.header);
    list->setColumnWidth(i++, c.width);
  }
  list->setHeaderLabels(headers);
  list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->header()->setStretchLastSection(false);
  list->setHeaderHidden(!header);
  QPalette pal = list->palette();
  pal.setColor(QPalette::Base, background);
  pal.setColor(QPalette::AlternateBase, background);
  pal.setColor(QPalette::Text, text);
  list->setPalette(pal);
  return list;
}

void setCells(QTreeWidgetItem *item, const std::vector<std::string> &cells) {
  for (int i = 0; i < static_cast<int>(cells.size()); ++i) {
    const QString t = QString::fromStdString(cells[i]);
    if (item->text(i) != t)
      item->setText(i, t);
  }
}

} // namespace

// ---- links ---------------------------------------------------------------------------------------------------

LinkLabel::LinkLabel(const QString &text, QString target, QWidget *parent)
    : QLabel(text, parent), target_(std::move(target)) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(14);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, QColor(20, 0, 255));
  setPalette(pal);
  setAutoFillBackground(false);
  setMouseTracking(true);
}

void LinkLabel::setHover(bool on) {
  QFont f = font();
  f.setUnderline(on);
  setFont(f);
  setCursor(on ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void LinkLabel::enterEvent(QEnterEvent *event) {
  setHover(true);
  QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent *event) {
  setHover(false);
  QLabel::leaveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit activated(target_);
  QLabel::mouseReleaseEvent(event);
}

// ---- dialog --------------------------------------------------------------------------------------------------

MonitorDialog::MonitorDialog(platform::Spooler &spooler, Mode mode, QWidget *parent)
    : QDialog(parent), mode_(mode), core_(spooler, mode,
                                          {[this](const Notice &n) {
                                             // From the worker: shown on the window thread, without waiting for it.
                                             QMetaObject::invokeMethod(
                                                 this, [this, n] { notify(n); }, Qt::QueuedConnection);
                                           },
                                           [this] { return confirm(); },
                                           {}}) {
  setWindowTitle(kMonitorTitle);
  setWindowIcon(appIcon());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  // Dialog units from the dialog's font: a quarter of the average character width, an eighth of its height.
  const QFontMetrics fm(font());
  baseX_ = std::max(
      1, (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2);
  baseY_ = std::max(1, fm.height());
  listImages_ = printerListImages();
  infoImages_ = infoImages();
  buildControls();

  small_ = mode != Mode::Work;
  const QRect full = du(0, 0, 439, 346);
  if (small_) {
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    setFixedSize(full.width(), std::max(du(0, 0, 0, 26).height(), kSmallWindowHeight - title));
  } else {
    setFixedSize(full.size());
  }
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), size());
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }

  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &MonitorDialog::refreshTick);
  close_.setSingleShot(true);
  connect(&close_, &QTimer::timeout, this, [this] {
    requestClose(); // as a close message
    refreshTick();
  });
  setToolTipsOfButtons();
}

MonitorDialog::~MonitorDialog() {
  stopTimers();
  if (pendingAnswer_) // a question still open takes its default
    pendingAnswer_->set_value(true), pendingAnswer_.reset();
  worker_.stop();
  record();
}

void MonitorDialog::setToolTipsOfButtons() {
  setAll_->setToolTip(QStringLiteral(
      "Makes \"not paused\" the normal setting of every printer of this computer and pauses the printers now, so "
      "that all of them are resumed when Folvex ends. It does not bring back earlier settings."));
  save_->setToolTip(QStringLiteral("Makes the selected printer's present state its normal setting, the one "
                                   "restored when Folvex ends."));
}

void MonitorDialog::record() {
  if (recorded_)
    return;
  recorded_ = true;
  recordPreparedSettings(mode_, view_.prepared);
}

void MonitorDialog::post(std::function<bool(MonitorCore &)> command) {
  ++pending_;
  worker_.post([this, command = std::move(command)] {
    const bool closeNow = command(core_);
    QMetaObject::invokeMethod(
        this, [this, v = core_.view(), closeNow]() mutable { showView(std::move(v), closeNow); }, Qt::QueuedConnection);
  });
}

void MonitorDialog::showView(MonitorView view, bool closeNow) {
  QElapsedTimer clock;
  clock.start();
  view_ = std::move(view);
  --pending_;
  syncAll();
  lastShowNs_ = clock.nsecsElapsed();
  if (closeNow) {
    commandBusy_ = false;
    closePending_ = false;
    done(QDialog::Accepted);
  }
}

bool MonitorDialog::waitForWorker(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (pending_.load() > 0 && clock.elapsed() < ms) {
    worker_.waitIdle(10);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  QCoreApplication::processEvents();
  return pending_.load() == 0;
}

QRect MonitorDialog::du(int x, int y, int w, int h) const {
  return QRect(x * baseX_ / 4, y * baseY_ / 8, w * baseX_ / 4, h * baseY_ / 8);
}

QPushButton *MonitorDialog::button(int id) const {
  switch (id) {
  case 1005:
    return help_;
  case 2:
    return cancel_;
  case 1024:
    return setPause_;
  case 1012:
    return cancelCurrent_;
  case 1002:
    return cancelAll_;
  case 1027:
    return resume_;
  case 1028:
    return save_;
  case 1:
    return exit_;
  case 1033:
    return setAll_;
  default:
    return nullptr;
  }
}

void MonitorDialog::buildControls() {
  auto place = [this](QWidget *w, int x, int y, int cx, int cy) { w->setGeometry(du(x, y, cx, cy)); };
  auto label = [&](const char *text, int x, int y, int cx, int cy) {
    auto *l = new QLabel(QString::fromLatin1(text), this);
    place(l, x, y, cx, cy);
    return l;
  };
  auto pushButton = [&](const char *text, int x, int y, int cx, int cy, bool enabled) {
    auto *b = new QPushButton(QString::fromLatin1(text), this);
    b->setAutoDefault(false);
    place(b, x, y, cx, cy);
    b->setEnabled(enabled);
    return b;
  };

  info_ = makeList(this, {{"Info", 800}}, false, Qt::black, QColor(0, 255, 0));
  info_->setIconSize(QSize(16, 16));
  info_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  info_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  info_->setSelectionMode(QAbstractItemView::NoSelection);
  info_->setFocusPolicy(Qt::NoFocus);
  place(info_, 7, 7, 371, 14);
  help_ = pushButton("Help", 382, 7, 50, 14, true);

  label("Existing printers", 7, 29, 82, 8);
  printers_ = makeList(
      this,
      {{"Printer Name", 240}, {"Documents", 75}, {"Status", 75}, {"Port", 114}, {"Datatype", 65}, {"Response", 65}},
      true, QColor(192, 255, 192));
  printers_->setIconSize(QSize(12, 12));
  place(printers_, 7, 38, 425, 93);
  cancel_ = pushButton("Cancel", 159, 134, 50, 14, true);
  cancel_->hide();
  label("Selected printer jobs", 7, 140, 156, 8);
  jobs_ = makeList(this,
                   {{"Document Name", 182},
                    {"Status", 65},
                    {"Owner", 118},
                    {"Pages", 42},
                    {"Submitted", 113},
                    {"Port", 52},
                    {"Datatype", 62}},
                   true, QColor(192, 192, 255));
  place(jobs_, 7, 150, 425, 93);
  label("Selected Printer", 7, 247, 87, 8);
  selPrinter_ = makeList(this, {{"Printer", 300}}, false, QColor(192, 255, 192));
  selPrinter_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  selPrinter_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  place(selPrinter_, 7, 256, 194, 13);
  label("Selected Job", 225, 247, 165, 8);
  selJob_ = makeList(this, {{"Job", 175}, {"Submitted", 150}}, false, QColor(192, 192, 255));
  selJob_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  selJob_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  place(selJob_, 225, 256, 207, 13);
  setPause_ = pushButton("Set to Pause", 7, 274, 46, 14, false);
  cancelCurrent_ = pushButton("Cancel Current Document", 225, 274, 86, 14, false);
  cancelAll_ = pushButton("Cancel All Documents", 341, 274, 91, 14, false);
  resume_ = pushButton("Resume", 7, 290, 46, 14, false);
  save_ = pushButton("Save Setting", 7, 306, 46, 14, false);
  auto *group = new QGroupBox(this);
  place(group, 225, 309, 207, 30);
  label("Other products of Tarvik Software:", 230, 317, 114, 8);
  web_ = new LinkLabel(kWebSite, QStringLiteral("https://") + kWebSite, this);
  place(web_, 344, 317, 84, 8);
  label("Free support line:", 230, 327, 60, 8);
  mail_ = new LinkLabel(kSupportMail, QStringLiteral("mailto:") + kSupportMail, this);
  place(mail_, 322, 327, 106, 8);
  // The link texts are drawn with a larger font than their boxes: let them grow to the left and down.
  for (LinkLabel *l : {web_, mail_}) {
    const QRect g = l->geometry();
    const int w = std::max(g.width(), l->sizeHint().width());
    l->setGeometry(g.right() - w + 1, g.top() - 2, w, std::max(g.height(), l->sizeHint().height()));
  }
  exit_ = pushButton("Exit", 151, 325, 50, 14, true);
  exit_->setDefault(true);
  setAll_ = pushButton("Set all to default", 7, 325, 70, 14, true);

  connect(help_, &QPushButton::clicked, this, &MonitorDialog::showHelpTopic);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(exit_, &QPushButton::clicked, this, &QDialog::accept);
  connect(printers_, &QTreeWidget::clicked, this, [this] {
    std::vector<int> rows;
    for (const QModelIndex &i : printers_->selectionModel()->selectedRows())
      rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    post([rows](MonitorCore &core) {
      core.clickPrinterRows(rows);
      return false;
    });
  });
  connect(jobs_, &QTreeWidget::clicked, this, [this] {
    std::vector<int> rows;
    for (const QModelIndex &i : jobs_->selectionModel()->selectedRows())
      rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    post([rows](MonitorCore &core) {
      core.clickJobRows(rows);
      return false;
    });
  });
  auto command = [this](QPushButton *b, void (MonitorCore::*f)()) {
    connect(b, &QPushButton::clicked, this, [this, f] {
      post([f](MonitorCore &core) {
        (core.*f)();
        return false;
      });
    });
  };
  command(setPause_, &MonitorCore::setToPause);
  command(resume_, &MonitorCore::resume);
  command(save_, &MonitorCore::saveSetting);
  command(setAll_, &MonitorCore::setAllToDefault);
  command(cancelCurrent_, &MonitorCore::cancelCurrentDocument);
  connect(cancelAll_, &QPushButton::clicked, this, [this] {
    const QModelIndex focus = printers_->currentIndex();
    const int row = focus.isValid() ? focus.row() : view_.selectedRow;
    post([row](MonitorCore &core) {
      core.cancelAllDocuments(row);
      return false;
    });
  });
  for (LinkLabel *l : {web_, mail_})
    connect(l, &LinkLabel::activated, this, [this](const QString &target) {
      if (opener_)
        opener_(target);
      else
        platform::openDocument(target);
    });
}

void MonitorDialog::initialise() {
  commandBusy_ = mode_ != Mode::Work && mode_ != Mode::None;
  ++pending_;
  worker_.post([this] {
    const MonitorCore::InitResult r = core_.initialise();
    QMetaObject::invokeMethod(
        this,
        [this, v = core_.view(), r]() mutable {
          view_ = std::move(v);
          --pending_;
          syncAll();
          commandBusy_ = false;
          if (r.closeNow) {
            done(QDialog::Accepted);
            return;
          }
          if (r.closeTimerMs > 0)
            close_.start(r.closeTimerMs);
          refresh_.start();
          if (closePending_) {
            done(QDialog::Accepted);
            return;
          }
          if (!isVisible())
            QDialog::show();
        },
        Qt::QueuedConnection);
  });
}

void MonitorDialog::refreshTick() {
  if (pending_.load() > 2)
    return; // the server is slow: the ticks do not pile up behind it
  post([](MonitorCore &core) { return core.refreshTick(); });
}

void MonitorDialog::requestClose() {
  if (platform::unattended() && pendingAnswer_) {
    // Nobody will answer: the question takes its default, Yes.
    pendingAnswer_->set_value(true);
    pendingAnswer_.reset();
    if (questionBox_)
      questionBox_->close();
  }
  if (commandBusy_) {
    closePending_ = true;
    return;
  }
  close();
}

void MonitorDialog::endUnattended(int waitMs) {
  if (pendingAnswer_)
    pendingAnswer_->set_value(true), pendingAnswer_.reset();
  if (commandBusy_)
    worker_.waitIdle(waitMs);
  record();
}

QString MonitorDialog::helpTopic() const {
  const int h = isVisible() ? frameGeometry().height() : height();
  return platform::helpTopicPath(h >= 100 ? QStringLiteral("quenby.htm") : QStringLiteral("createimage.htm#noprint"));
}

void MonitorDialog::showHelpTopic() { platform::showHelp(helpTopic(), this); }

void MonitorDialog::raiseWindow() {
  showNormal();
  raise();
  activateWindow();
}

void MonitorDialog::stopTimers() {
  refresh_.stop();
  close_.stop();
}

void MonitorDialog::closeEvent(QCloseEvent *event) {
  if (commandBusy_) { // the command's work ends first
    closePending_ = true;
    event->ignore();
    return;
  }
  stopTimers();
  QDialog::closeEvent(event);
}

void MonitorDialog::done(int result) {
  stopTimers();
  // The prepared settings are recorded from what the dialog shows now, without asking the server again: a hung
  // server does not hold the end.
  record();
  for (const QPointer<QWidget> &box : openNotices_)
    if (box)
      box->close();
  QDialog::done(result);
}

void MonitorDialog::notify(const Notice &n) {
  if (notifier_) {
    notifier_(n);
    return;
  }
  // The message goes to the error output as well, for a run without a person watching.
  qWarning("%s", qPrintable(n.text));
  if (platform::unattended())
    return;
  // Not modal and never the same text twice at once: messages of a failing server do not pile up.
  std::erase_if(openNotices_, [](const QPointer<QWidget> &w) { return w.isNull(); });
  for (const QPointer<QWidget> &w : openNotices_)
    if (auto *box = qobject_cast<QMessageBox *>(w.data()); box && box->text() == n.text)
      return;
  auto *box =
      new QMessageBox(QMessageBox::NoIcon, n.caption, n.text, QMessageBox::Ok, n.ownedByDialog ? this : nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
  openNotices_.emplace_back(box);
}

bool MonitorDialog::confirm() {
  // On the worker thread: the question is shown on the window thread, whose loop keeps running meanwhile.
  if (platform::unattended())
    return true;
  auto answer = std::make_shared<std::promise<bool>>();
  std::future<bool> result = answer->get_future();
  QMetaObject::invokeMethod(
      this, [this, answer] { ask(answer); }, Qt::QueuedConnection);
  return result.get();
}

void MonitorDialog::ask(std::shared_ptr<std::promise<bool>> answer) {
  if (question_ || platform::unattended()) {
    answer->set_value(platform::unattended() || question_());
    return;
  }
  pendingAnswer_ = answer;
  auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("Tarvik Quenby (Folvex!) message"),
                              QStringLiteral("Do you want to cancel all documents for all printers?"),
                              QMessageBox::Yes | QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  box->setDefaultButton(QMessageBox::Yes);
  connect(box, &QMessageBox::finished, this, [this, box, answer] {
    if (pendingAnswer_ == answer) {
      answer->set_value(box->clickedButton() == box->button(QMessageBox::Yes));
      pendingAnswer_.reset();
    }
  });
  questionBox_ = box;
  box->open();
}

// ---- showing the core's state --------------------------------------------------------------------------------

void MonitorDialog::syncAll() {
  if (view_.infoShown) {
    if (info_->topLevelItemCount() == 0)
      info_->addTopLevelItem(new QTreeWidgetItem(info_));
    QTreeWidgetItem *item = info_->topLevelItem(0);
    item->setText(0, view_.infoText);
    const int img = view_.infoImage;
    if (img >= 0 && img < static_cast<int>(infoImages_.size()))
      item->setIcon(0, QIcon(infoImages_[img]));
  }
  syncPrinters();
  syncJobs();
  syncBoxes();
  syncButtons();
}

void MonitorDialog::syncPrinters() {
  const auto &rows = view_.rows;
  if (printers_->topLevelItemCount() != static_cast<int>(rows.size())) {
    printers_->clear();
    for (size_t i = 0; i < rows.size(); ++i)
      printers_->addTopLevelItem(new QTreeWidgetItem(printers_));
  }
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const PrinterRow &r = rows[i];
    QTreeWidgetItem *item = printers_->topLevelItem(i);
    setCells(item, {r.name, r.documents, r.status, r.port, r.datatype, r.response});
    if (item->data(0, Qt::UserRole).toInt() != r.itemData || item->icon(0).isNull()) {
      item->setData(0, Qt::UserRole, r.itemData);
      if (r.image >= 0 && r.image < static_cast<int>(listImages_.size()))
        item->setIcon(0, QIcon(listImages_[r.image]));
    }
  }
}

void MonitorDialog::syncJobs() {
  const auto &jobs = view_.jobs;
  if (jobs_->topLevelItemCount() != static_cast<int>(jobs.size())) {
    jobs_->clear();
    for (size_t i = 0; i < jobs.size(); ++i)
      jobs_->addTopLevelItem(new QTreeWidgetItem(jobs_));
  }
  for (int i = 0; i < static_cast<int>(jobs.size()); ++i) {
    const JobRecord &j = jobs[i];
    setCells(jobs_->topLevelItem(i), {j.document, j.status, j.owner, j.pages, j.submitted, j.port, j.datatype});
  }
}

void MonitorDialog::syncBoxes() {
  const auto &box = view_.selectedPrinterBox;
  if (box.empty()) {
    selPrinter_->clear();
  } else {
    if (selPrinter_->topLevelItemCount() != 1) {
      selPrinter_->clear();
      selPrinter_->addTopLevelItem(new QTreeWidgetItem(selPrinter_));
    }
    setCells(selPrinter_->topLevelItem(0), {box.front()});
  }
  const auto &job = view_.selectedJobBox;
  if (!job) {
    selJob_->clear();
  } else {
    if (selJob_->topLevelItemCount() != 1) {
      selJob_->clear();
      selJob_->addTopLevelItem(new QTreeWidgetItem(selJob_));
    }
    setCells(selJob_->topLevelItem(0), {job->first, job->second});
  }
}

void MonitorDialog::syncButtons() {
  const Buttons &b = view_.buttons;
  setPause_->setEnabled(b.setToPause);
  resume_->setEnabled(b.resume);
  save_->setEnabled(b.saveSetting);
  cancelCurrent_->setEnabled(b.cancelCurrent);
  cancelAll_->setEnabled(b.cancelAll);
}

} // namespace monitor
