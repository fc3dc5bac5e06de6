// Test entry: a GUI application object (text drawing needs one; the platform is offscreen) and, for the tests that
// render pages, the image library.
#include <QGuiApplication>
#include <gtest/gtest.h>

#ifdef FOLVEX_CAPTURE_RENDERS
#include "render/image_library.h"
#endif

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
#ifdef FOLVEX_CAPTURE_RENDERS
  render::InitializeImageLibrary(argc > 0 ? argv[0] : "");
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
