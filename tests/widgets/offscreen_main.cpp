// The main of the window's test programs: Qt offscreen, and a temporary configuration
// folder so that no test can touch the user's settings or ports.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "ui/main_window.h"

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  kelta::InitApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
