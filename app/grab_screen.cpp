// qm880-grab-screen <file.png>: saves the whole X screen, for the demo on a virtual
// display (where no screenshot program need be installed).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: qm880-grab-screen <file.png>\n");
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "qm880-grab-screen: cannot save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
