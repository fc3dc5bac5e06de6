// Wallpaper and multipage files: each test brings its own folders; the image library reads the project's policy.
#include "render/image_library.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  render::InitializeImageLibrary(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
