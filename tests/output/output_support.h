// The output tests drive the real main frame: pages in the page store, the commands run through its command table,
// the dialogs and message boxes answered through the hooks of the output commands.
#pragma once

#include "app/frame_commands.h"
#include "app/frame_win.h"
#include "capture/page_store.h"
#include "output/export.h"
#include "output/format_options.h"
#include "output/messages.h"
#include "platform/registry.h"
#include "render/image_library.h"
#include "settings/settings.h"
#include "view/page_strip.h"

#include "../emf/emf_builder.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

// Readable values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os) {
  *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}
inline void PrintTo(const QSize &s, std::ostream *os) { *os << s.width() << 'x' << s.height(); }
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }

namespace otest {

// A page of w x h hundredths of a millimetre: white with a red block in its left half.
inline emf::HENHMETAFILE Page(int w, int h) {
  emftest::EmfBuilder::Options o;
  o.frame = {0, 0, w, h};
  o.device = {w / 10, h / 10};
  o.millimeters = {w / 100, h / 100};
  emftest::EmfBuilder b(o);
  b.fill(0, 0, w / 20 - 1, h / 10 - 1, emftest::EmfBuilder::rgb(255, 0, 0));
  return b.metafile();
}

struct Answered {
  QString text;
  QString caption;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  bool owned;
};

class OutputTest : public ::testing::Test {
protected:
  void SetUp() override {
    render::InitializeImageLibrary();
    settings() = Settings{};
    output::setSaveFileOpt(true);
    // Every test starts from a settings key without values.
    if (auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::All))
      while (auto v = key->enumerate(0))
        key->remove(v->name);
    frame_ = std::make_unique<lvFrameWin>();
    frame_->resize(900, 700);
    frame_->show();
    frame_->strip()->scanTimer().stop();
    output::host().openDocument = [this](const QString &path) {
      opened.push_back(path);
      return true;
    };
    output::setMessageHook([this](const output::MessageRequest &r) {
      messages.push_back({r.text, r.caption, r.icon, r.buttons, r.owner != nullptr});
      if (onMessage)
        if (const int a = onMessage(r))
          return a;
      if (!answers.empty()) {
        const int a = answers.front();
        answers.pop_front();
        return a;
      }
      return int(r.buttons & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Yes);
    });
    output::setDialogHook([this](QDialog &d) {
      dialogs.push_back(d.objectName());
      if (dialogActions.empty())
        return int(QDialog::Rejected);
      auto action = std::move(dialogActions.front());
      dialogActions.pop_front();
      return action(d);
    });
  }

  void TearDown() override {
    WaitForExport();
    output::setMessageHook(nullptr);
    output::setDialogHook(nullptr);
    auto &s = capture::pageStore();
    s.pages.clear();
    s.currentPage = -1;
    s.currentImage = Magick::Image();
    s.currentImageDisplay = QImage();
    s.viewState = capture::kViewNothing;
    frame_.reset();
  }

  // Adds pages with the given file names (all the same size) and makes the first one current, rendered.
  void AddPages(std::initializer_list<const char *> names, int w = 2000, int h = 1000) {
    for (const char *name : names) {
      capture::PageRecord r;
      r.name = name;
      r.metafile = Page(w, h);
      r.thumbnail = QImage(10, 10, QImage::Format_RGB32);
      ASSERT_TRUE(capture::pageStore().pages.push_back(std::move(r)));
    }
    capture::pageStore().currentPage = 0;
    ASSERT_TRUE(frame_->renderPage(0));
  }

  // A save dialog answer: folder and file name typed, filter (1-based) chosen, the options box set or left.
  static std::function<int(QDialog &)> Save(const QString &folder, const QString &file, int filter,
                                            std::optional<bool> invokeOptions = std::nullopt) {
    return [=](QDialog &d) {
      auto &fd = dynamic_cast<QFileDialog &>(d);
      if (filter > 0)
        fd.selectNameFilter(fd.nameFilters().at(filter - 1));
      if (invokeOptions)
        if (auto *box = fd.findChild<QCheckBox *>(QStringLiteral("invokeImageOptions")))
          box->setChecked(*invokeOptions);
      fd.setDirectory(folder);
      fd.selectFile(QDir(folder).filePath(file));
      return int(QDialog::Accepted);
    };
  }
  static std::function<int(QDialog &)> Cancel() {
    return [](QDialog &) { return int(QDialog::Rejected); };
  }

  bool Run(int command) { return frame_->runCommand(command); }

  static void WaitForExport() {
    ASSERT_TRUE(QTest::qWaitFor([] { return !output::ExportRunning(); }, 60000));
    QCoreApplication::processEvents();
  }

  static QStringList Files(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }

  std::unique_ptr<lvFrameWin> frame_;
  QTemporaryDir dir;
  std::vector<Answered> messages;
  std::deque<int> answers;
  std::function<int(const output::MessageRequest &)> onMessage;
  std::deque<std::function<int(QDialog &)>> dialogActions;
  std::vector<QString> dialogs;
  std::vector<QString> opened;
};

} // namespace otest
