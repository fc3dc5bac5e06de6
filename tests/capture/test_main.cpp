// Test entry: a GUI application object (text drawing needs one; the platform is offscreen) and, for the tests that
// render pages, the image library.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#ifdef FOLVEX_CAPTURE_RENDERS
#include "render/image_library.h"
#include <QApplication> // the main frame is driven too
using App = QApplication;
#else
#include <QGuiApplication>
using App = QGuiApplication;
#endif

int main(int argc, char **argv) {
  // A test that mounts a small file system (as the superuser) does so in a mount namespace of this process, made
  // here while it has one thread: nothing stays mounted once it ends.
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0)
    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  App app(argc, argv);
#ifdef FOLVEX_CAPTURE_RENDERS
  render::InitializeImageLibrary(argc > 0 ? argv[0] : "");
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
