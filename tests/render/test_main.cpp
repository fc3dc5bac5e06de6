// The rasteriser tests run with their own temporary folder and registry, and an offscreen GUI for fonts.
#include "render/image_library.h"

#include <QDir>
#include <QGuiApplication>
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
  QGuiApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
