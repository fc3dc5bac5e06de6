// The rasteriser and dialog tests run with their own temporary folder and registry, offscreen.
#include "render/image_library.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  QTemporaryDir tmp;
  if (!tmp.isValid())
    return 2;
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  QDir().mkpath(tmp.path() + QStringLiteral("/registry"));
  qputenv("FOLVEX_REGISTRY_DIR", (tmp.path() + QStringLiteral("/registry")).toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv); // the dialogs need widgets
  render::InitializeImageLibrary(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
