// One QApplication for every window test in this binary; the offscreen platform when no
// other is chosen, so the tests run without a display.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle("Fusion");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
