// main() of the window tests: one QApplication for the whole test program.
// The tests run offscreen (CTest sets QT_QPA_PLATFORM); listing the tests at
// build time runs this program too, so offscreen is also the fallback here.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
