// The main of every test that drives Qt objects: one application object, then
// the tests. Windows never need a real display.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Alarms raised by the windows under test never reach the desktop's notifications;
  // a test that wants them starts a bus of its own.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
