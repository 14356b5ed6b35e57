// One QApplication for all the widget tests of a test program (the window, the user files,
// the settings with the window); the offscreen platform when no other is chosen, so the
// tests run without a display.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle("Fusion");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
