// qm880-config: the catalogue, the application and its title, the window; an error that
// escapes start-up ends in the toolkit's error box. --help and --version print and exit.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>
#include <string_view>

#include "catalogue/catalogue.h"
#include "kelta/version.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "ui/main_window.h"

namespace {

constexpr const char* kUsage =
    "Usage: qm880-config [--help | --version] [Qt options]\n"
    "\n"
    "Sets up a KELTA QM880-4R active-tag reader attached to a serial port (RS232, or\n"
    "RS485 through a converter), in one window: Scan Reader finds it on COM1 to COM16\n"
    "and shows its serial number, reader ID and firmware version; the other buttons\n"
    "change its ID, baud rate, Wiegand and RS485 output formats and RSSI level, restore\n"
    "its factory settings, reset it and read tag IDs continuously. The texts come in\n"
    "English, Simplified and Traditional Chinese. Every action is a button of the\n"
    "window; Exit is the only way out.\n"
    "\n"
    "Options:\n"
    "  --help              show this text and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "The options of the Qt toolkit work too, for example:\n"
    "  -platform NAME      the window system: xcb, wayland or offscreen\n"
    "  -display DISPLAY    the X display to open (default $DISPLAY)\n";

// The two options of its own, answered before the toolkit needs a display.
bool AnsweredOption(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      kelta::AttachParentConsole();
      std::fputs(kUsage, stdout);
      return true;
    }
    if (option == "--version") {
      kelta::AttachParentConsole();
      std::printf("qm880-config %.*s\n", static_cast<int>(kelta::kVersion.size()),
                  kelta::kVersion.data());
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AnsweredOption(argc, argv)) {
    return 0;
  }
  // The application object first, so that an error box can be shown at all.
  QApplication app(argc, argv);
  try {
    // Built before anything else runs: every text of the window comes from it.
    kelta::Catalogue();
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
