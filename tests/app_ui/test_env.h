// Every test program of the main window runs with its own registry, temporary, runtime and data folders.
#pragma once

#include "app/prompts.h"
#include "platform/shell.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testenv {

// The folder all of this run's private folders live in.
inline QTemporaryDir &root() {
  static QTemporaryDir dir;
  return dir;
}

inline QString folder(const QString &name) { return root().filePath(name); }

// Points FOLVEX_REGISTRY_DIR, TMPDIR, XDG_RUNTIME_DIR and XDG_DATA_HOME at fresh folders of this run.
inline void usePrivateFolders() {
  for (const char *name : {"reg", "tmp", "run", "data"})
    QDir().mkpath(folder(QLatin1String(name)));
  QFile::setPermissions(folder("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  // A machine hive of our own without "InstallPath": no test starts the printer monitor of the build.
  QFile machine(folder("reg") + "/machine.reg");
  if (machine.open(QIODevice::WriteOnly))
    machine.write("Windows Registry Editor Version 5.00\n");
  machine.close();
  qputenv("FOLVEX_REGISTRY_DIR", folder("reg").toLocal8Bit());
  qputenv("TMPDIR", folder("tmp").toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", folder("run").toLocal8Bit());
  qputenv("XDG_DATA_HOME", folder("data").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", folder("data").toLocal8Bit());
}

// No test waits for a user: a prompt no test asked for fails the test and is answered No / Cancel, and nothing is
// handed to the desktop.
inline void refuseUnexpectedPrompts() {
  frame::PromptHooks h;
  h.message = [](const frame::MessageRequest &r) {
    ADD_FAILURE() << "unexpected message box: " << r.text.toStdString();
    return QMessageBox::No;
  };
  h.saveFileName = [](const QString &caption, const QString &, const QString &) {
    ADD_FAILURE() << "unexpected save question: " << caption.toStdString();
    return QString();
  };
  h.dialog = [](QDialog &d) {
    ADD_FAILURE() << "unexpected dialog: " << d.objectName().toStdString();
    return 0;
  };
  frame::setPromptHooks(h);
  platform::setOpenDocumentHook([](const QString &) { return true; });
}

} // namespace testenv

// A test main with a QApplication (widgets need one) and the private folders.
#define FOLVEX_WIDGET_TEST_MAIN                                                                                        \
  int main(int argc, char **argv) {                                                                                    \
    /* offscreen, unless a run under a real display server asks for its platform (FOLVEX_TEST_PLATFORM=xcb) */         \
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("FOLVEX_TEST_PLATFORM") ? QByteArray("offscreen")           \
                                                                                   : qgetenv("FOLVEX_TEST_PLATFORM")); \
    testenv::usePrivateFolders();                                                                                      \
    QApplication app(argc, argv);                                                                                      \
    testenv::refuseUnexpectedPrompts();                                                                                \
    ::testing::InitGoogleTest(&argc, argv);                                                                            \
    const int result = RUN_ALL_TESTS();                                                                                \
    testenv::root().remove();                                                                                          \
    return result;                                                                                                     \
  }
