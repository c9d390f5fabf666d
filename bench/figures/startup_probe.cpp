// Starts as qm880-config starts (app/main.cpp, in its order), up to its first painted
// window, then reports and ends: the program itself has no way to end on its own.
#include <QApplication>
#include <memory>

#include "bench/figures/first_paint.h"
#include "catalogue/catalogue.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "ui/main_window.h"

int main(int argc, char* argv[]) {
  kelta::Catalogue();
  QApplication app(argc, argv);
  kelta::InitApplication();
  const std::unique_ptr<kelta::SettingsStore> store = kelta::MakeSystemSettingsStore();
  kelta::TfrmModule frmModule(kelta::WindowServices{
      kelta::SystemSerialDevice(), kelta::SystemClock(), kelta::SystemTone(), *store});
  kelta::bench::FirstPaint first_paint(&frmModule);
  frmModule.show();
  first_paint.Wait();
  kelta::bench::ReportAndEnd();
}
