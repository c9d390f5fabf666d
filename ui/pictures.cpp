#include "ui/pictures.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <utility>

namespace kelta {
namespace {

// The frame Fusion draws every group box with, asked for by file name alone.
const QString kGroupBoxFrame =
    QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");

// Reads each of its two pictures when first asked for one at its scale, and then answers
// as an icon of that picture (1x) or of both (2x and between) would: an icon made of both
// gives the 1x picture at 1x, so the answers are the same as those of such an icon.
class TwoScaleEngine final : public QIconEngine {
 public:
  explicit TwoScaleEngine(QString name) : name_(std::move(name)) {}

  QIconEngine* clone() const override { return new TwoScaleEngine(*this); }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return At1x().pixmap(size, 1.0, mode, state);
  }
  // size is in device pixels; QIcon asks here for screens scaled above 1.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    if (scale <= 1.0) return pixmap(size, mode, state);
    return AtBoth().pixmap(size / scale, scale, mode, state);
  }
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const QPaintDevice* device = painter->device();
    const qreal scale = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
    painter->drawPixmap(rect, scaledPixmap(rect.size() * scale, mode, state, scale));
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return At1x().actualSize(size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return AtBoth().availableSizes(mode, state);
  }
  bool isNull() override { return At1x().isNull(); }

 private:
  const QIcon& At1x() {
    if (at_1x_.isNull()) at_1x_ = QIcon(ReadPng(name_ + QStringLiteral(".png")));
    return at_1x_;
  }
  const QIcon& AtBoth() {
    if (at_both_.isNull()) {
      at_both_ = At1x();
      QPixmap twice = ReadPng(name_ + QStringLiteral("@2x.png"));
      twice.setDevicePixelRatio(2);
      at_both_.addPixmap(twice);
    }
    return at_both_;
  }

  QString name_;
  QIcon at_1x_;
  QIcon at_both_;
};

}  // namespace

QPixmap ReadPng(const QString& path) {
  QImageReader reader(path, "png");
  reader.setAutoDetectImageFormat(false);
  return QPixmap::fromImage(reader.read());
}

// QPixmap(path) keys a file by its absolute path, its time and size and the kind of
// pixmap, each number written as the hexadecimal digits of its bytes in memory order,
// the low half of each byte first.
QString PixmapCacheKey(const QFileInfo& file) {
  QString key = QStringLiteral("qt_pixmap") + file.absoluteFilePath();
  auto append = [&key](auto value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof value; ++i) {
      key += QLatin1Char("0123456789abcdef"[bytes[i] & 0xf]);
      key += QLatin1Char("0123456789abcdef"[bytes[i] >> 4]);
    }
  };
  append(static_cast<quint32>(file.lastModified().toSecsSinceEpoch()));
  append(static_cast<quint64>(file.size()));
  append(static_cast<quint32>(0));  // a pixmap, not a bitmap
  return key;
}

void CacheStylePictures() {
  const QPixmap frame = ReadPng(kGroupBoxFrame);
  if (!frame.isNull()) QPixmapCache::insert(PixmapCacheKey(QFileInfo(kGroupBoxFrame)), frame);
}

QIcon TwoScalePicture(const QString& name) { return QIcon(new TwoScaleEngine(name)); }

// Where the desktop names an icon theme, the style looks there first, so it is asked;
// elsewhere (no theme, or only the bare fallback theme, which has no close picture and
// many folders to search for it) it would give its own picture, read here directly at
// the sizes a button of this window can show.
QIcon StandardClosePicture(const QStyle* style) {
  const QString theme = QIcon::themeName();
  if (theme.isEmpty() || theme == QLatin1String("hicolor")) {
    QIcon icon;
    for (int size : {16, 32}) {
      const QPixmap picture = ReadPng(
          QStringLiteral(":/qt-project.org/styles/commonstyle/images/standardbutton-close-%1.png")
              .arg(size));
      if (!picture.isNull()) icon.addPixmap(picture);
    }
    if (!icon.isNull()) return icon;
  }
  return style->standardIcon(QStyle::SP_DialogCloseButton);
}

}  // namespace kelta
