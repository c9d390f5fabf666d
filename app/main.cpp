// qm880-config: the catalogue, the application and its title, the window; an error that
// escapes start-up ends in the toolkit's error box.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "catalogue/catalogue.h"
#include "ui/main_window.h"

int main(int argc, char* argv[]) {
  // Built before anything else: every text of the window comes from it.
  kelta::Catalogue();
  QApplication app(argc, argv);
  try {
    kelta::InitApplication();
    const std::unique_ptr<kelta::SettingsStore> store = kelta::MakeSystemSettingsStore();
    kelta::TfrmModule frmModule(kelta::WindowServices{
        kelta::SystemSerialDevice(), kelta::SystemClock(), kelta::SystemTone(), *store});
    frmModule.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kelta::kApplicationTitle),
                          QString::fromLocal8Bit(error.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kelta::kApplicationTitle),
                          QStringLiteral("Unknown error"));
  }
  return 1;
}
