#include <Magick++.h>
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  Magick::InitializeMagick(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
