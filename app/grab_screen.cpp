// qm880-grab-screen <file.png> [X Y WIDTH HEIGHT]: saves the whole X screen, or the
// rectangle given, for the demo and the Windows program's test on a virtual display
// (where no screenshot program need be installed).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  if (argc != 2 && argc != 6) {
    std::fprintf(stderr, "usage: qm880-grab-screen <file.png> [X Y WIDTH HEIGHT]\n");
    return 2;
  }
  int box[4] = {0, 0, -1, -1};
  for (int i = 0; argc == 6 && i < 4; ++i) box[i] = std::atoi(argv[2 + i]);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || !screen->grabWindow(0, box[0], box[1], box[2], box[3])
                                .save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "qm880-grab-screen: cannot save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
