// Test runner with a GUI application object: text drawing needs the font database.
#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
