// The real main frame for widget tests: made and shown, its prompts answered by the test, pages added as the capture
// adds them, its popups driven, and an installation folder whose printer monitor only notes its command words.
#pragma once

#include "app/frame_commands.h"
#include "app/frame_win.h"
#include "app/prompts.h"
#include "capture/capture_worker.h"
#include "capture/page_store.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/settings.h"
#include "test_env.h"
#include "test_support.h"
#include "view/page_strip.h"
#include "view/preview_window.h"

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

inline void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
}

inline QByteArray ReadFile(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void SetInstallPath(const QString &folder) {
  auto key = platform::RegKey::create(platform::Hive::LocalMachine, kSettingsKey, platform::RegAccess::All);
  ASSERT_TRUE(key);
  if (folder.isEmpty())
    key->remove("InstallPath");
  else
    ASSERT_TRUE(key->setString("InstallPath", folder.toStdString()));
}

// Chooses an item of the popup that `open` shows: path is the item's text, after the submenu's title for a
// submenu item. Returns whether the item was found (and enabled).
inline bool ChooseFromPopup(const std::function<void()> &open, const QStringList &path) {
  bool chosen = false;
  std::function<void(int)> pick = [&](int level) {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
      return;
    for (QAction *a : menu->actions()) {
      if (a->text() != path[level] || !a->isEnabled())
        continue;
      menu->setActiveAction(a);
      if (a->menu() && level + 1 < path.size()) {
        QTest::keyClick(menu, Qt::Key_Right);
        QTimer::singleShot(0, [&pick, level] { pick(level + 1); });
        return;
      }
      chosen = true;
      QTest::keyClick(menu, Qt::Key_Return);
      return;
    }
    menu->close();
    if (auto *parent = qobject_cast<QMenu *>(QApplication::activePopupWidget()))
      parent->close();
  };
  QTimer::singleShot(0, [&pick] { pick(0); });
  open();
  Settle();
  return chosen;
}

class FrameFixture : public ::testing::Test {
protected:
  void SetUp() override {
    savedSettings = settings();
    settings().KodAntialias = 0; // quick renders
    Reset();
    frame::PromptHooks h;
    h.message = [this](const frame::MessageRequest &r) {
      messages << r.caption + QLatin1Char('|') + r.text;
      return answer;
    };
    h.saveFileName = [this](const QString &, const QString &proposed, const QString &) {
      proposedPaths << proposed;
      return savePath;
    };
    h.dialog = [this](QDialog &d) {
      dialogs << d.objectName();
      return driveDialog ? driveDialog(d) : int(QDialog::Rejected);
    };
    frame::setPromptHooks(h);
    platform::setOpenDocumentHook([this](const QString &what) {
      opened << what;
      return true;
    });
    w = std::make_unique<lvFrameWin>();
    w->resize(900, 700);
    w->show();
    Settle();
  }
  void TearDown() override {
    w.reset();
    Reset();
    settings() = savedSettings;
    testenv::refuseUnexpectedPrompts();
  }
  static void Reset() {
    auto &s = capture::pageStore();
    s.pages.clear();
    s.currentPage = -1;
    s.currentImageDisplay = QImage();
    s.currentImageProblem.clear();
    s.viewState = capture::kViewNothing;
  }
  // Pages made as the capture makes them (thumbnail, place in the strip; the first becomes current and rendered).
  void AddPages(const std::vector<std::pair<int, int>> &framesHundredthsMm) {
    capture::PreparedPages batch;
    for (const auto &[fw, fh] : framesHundredthsMm) {
      capture::PreparedPage p;
      p.name = "7-000" + std::to_string(batch.pages.size() + 1) + ".emf";
      p.metafile = rtest::blankPage(fw, fh);
      p.thumbnail = capture::MakeThumbnail(p.metafile, -1, 0.0);
      batch.pages.push_back(std::move(p));
    }
    capture::pageStore().AppendPreparedPages(std::move(batch), *w);
    Settle();
  }
  const capture::PageRecord &Page(int i) { return capture::pageStore().pages[size_t(i)]; }
  QPoint OnPage(int i) { return QPoint(Page(i).thumbX + 5, Page(i).thumbY + 5 - w->strip()->scrollPosition()); }
  // Right-clicks the strip at p and chooses the page menu item.
  bool StripCommand(QPoint p, const QString &item) {
    return ChooseFromPopup([&] { QTest::mousePress(w->strip(), Qt::RightButton, {}, p); }, {item});
  }
  bool ButtonCommand(int button, const QStringList &path) {
    return ChooseFromPopup([&] { QTest::mousePress(w->button(button), Qt::LeftButton, {}, QPoint(10, 10)); }, path);
  }
  qint64 ImageKey() { return capture::pageStore().currentImageDisplay.cacheKey(); }

  std::unique_ptr<lvFrameWin> w;
  Settings savedSettings;
  QStringList messages, dialogs, opened, proposedPaths;
  QMessageBox::StandardButton answer = QMessageBox::No;
  QString savePath;
  std::function<int(QDialog &)> driveDialog;
};

// An installation folder whose "qvt" only notes its command words, one line per start, in calls.log.
class FakeMonitor {
public:
  FakeMonitor() {
    QDir(folder_).removeRecursively();
    QDir().mkpath(folder_);
    QFile script(folder_ + QStringLiteral("/qvt"));
    if (script.open(QIODevice::WriteOnly))
      script.write("#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/calls.log\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    SetInstallPath(folder_);
  }
  ~FakeMonitor() { SetInstallPath(QString()); }
  QByteArray calls() const { return ReadFile(folder_ + QStringLiteral("/calls.log")); }
  // Waits a little for the started scripts to have written exactly these lines.
  bool callsAre(const QByteArray &expected) const {
    return QTest::qWaitFor([&] { return calls() == expected; }, 5000);
  }

private:
  QString folder_ = testenv::folder(QStringLiteral("tmp")) + QStringLiteral("/install");
};

} // namespace
