// Draws the pictures of the two Chinese language buttons: the red characters on a
// transparent ground, 34 x 16 pixels, and the same at twice the size (name@2x.png),
// which Qt picks on screens scaled by more than 100 % so that they stay sharp. Run once;
// its output is checked in under ui/resources/, so the buttons look the same whatever
// fonts a machine has.
//   qm880-language-pictures <folder>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

bool Draw(const QString& characters, const QString& path, int scale) {
  QImage picture(34 * scale, 16 * scale, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  QFont font;
  font.setFamilies({"WenQuanYi Micro Hei"});
  font.setPixelSize(15 * scale);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font);
  painter.setPen(QColor(255, 0, 0));
  painter.drawText(picture.rect(), Qt::AlignCenter, characters);
  painter.end();
  std::printf("%s: %s\n", qPrintable(path), qPrintable(QFontInfo(font).family()));
  return picture.save(path, "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: qm880-language-pictures <folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  for (int scale : {1, 2}) {
    const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
    if (!Draw(QStringLiteral("簡体"), folder + "/simplified" + suffix, scale) ||
        !Draw(QStringLiteral("繁體"), folder + "/traditional" + suffix, scale)) {
      return 1;
    }
  }
  return 0;
}
