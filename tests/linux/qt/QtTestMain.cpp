// The Qt window tests need one QApplication for the whole run. Without a
// display they draw offscreen, also when the test list is being collected.
#include <gtest/gtest.h>

#include <QtWidgets/QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
