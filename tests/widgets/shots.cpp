// qm880-shots: renders the window in each language, offscreen, to PNG files.
//   qm880-shots [folder]     (default: docs)
// Writes screenshot-en.png, screenshot-gb.png and screenshot-big5.png.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>

#include "tests/widgets/window_fakes.h"
#include "ui/main_window.h"

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  kelta::InitApplication();
  const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));

  kelta::testing::NoPorts device;
  kelta::testing::StillClock clock;
  kelta::testing::RecordingTone tone;
  kelta::testing::MemoryStore store;
  kelta::TfrmModule window(kelta::WindowServices{device, clock, tone, store});
  window.show();
  const struct {
    const char* button;
    const char* file;
  } kShots[] = {{"btnEng", "screenshot-en.png"},
                {"btnGB", "screenshot-gb.png"},
                {"btnBIG5", "screenshot-big5.png"}};
  int failures = 0;
  for (const auto& shot : kShots) {
    window.findChild<QPushButton*>(shot.button)->click();
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(shot.file));
    if (window.grab().save(path, "PNG")) {
      std::printf("%s\n", qPrintable(path));
    } else {
      std::fprintf(stderr, "qm880-shots: cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
