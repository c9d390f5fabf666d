// Starts as qm880-config starts, up to its first painted window, then ends: prints the
// wall-clock moment of that paint (for the caller, who knows when it started the process)
// and the process's peak resident memory. With "bare", a toolkit window of the same size
// and nothing in it: the floor both figures are measured against.
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "catalogue/catalogue.h"
#include "ui/layout.h"
#include "ui/main_window.h"

namespace {

long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void Report() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::printf("painted_ns %lld\npeak_kb %ld\n",
              static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, PeakResidentKb());
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool bare = argc > 1 && std::strcmp(argv[1], "bare") == 0;
  if (bare) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(kelta::kClientWidth, kelta::kClientHeight);
    window.show();
    QApplication::processEvents();
    window.grab();
    Report();
    return 0;
  }
  // As app/main.cpp, in its order.
  kelta::Catalogue();
  QApplication app(argc, argv);
  kelta::InitApplication();
  const std::unique_ptr<kelta::SettingsStore> store = kelta::MakeSystemSettingsStore();
  kelta::TfrmModule frmModule(kelta::WindowServices{kelta::SystemSerialDevice(),
                                                    kelta::SystemClock(),
                                                    kelta::SystemTone(), *store});
  frmModule.show();
  QApplication::processEvents();
  frmModule.grab();
  Report();
  return 0;
}
