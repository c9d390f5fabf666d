// The window's pictures: the picture read per scale answers as an icon of both pictures
// would, and the key the style's pictures are cached under is the toolkit's own.
#include "ui/pictures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPixmapCache>
#include <QTemporaryDir>
#include <utility>

namespace kelta {
namespace {

TEST(TwoScalePicture, AnswersAsAnIconOfBothPictures) {
  for (const char* name : {":/kelta/simplified", ":/kelta/traditional"}) {
    const QString base = QString::fromLatin1(name);
    QIcon both(ReadPng(base + QStringLiteral(".png")));
    QPixmap twice = ReadPng(base + QStringLiteral("@2x.png"));
    twice.setDevicePixelRatio(2);
    both.addPixmap(twice);
    const QIcon read_per_scale = TwoScalePicture(base);
    EXPECT_FALSE(read_per_scale.isNull());
    EXPECT_EQ(read_per_scale.actualSize(QSize(34, 16)), both.actualSize(QSize(34, 16)));
    for (qreal scale : {1.0, 1.25, 1.5, 2.0, 3.0}) {
      for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected}) {
        SCOPED_TRACE(testing::Message() << name << " at " << scale << " mode " << mode);
        const QPixmap got = read_per_scale.pixmap(QSize(34, 16), scale, mode);
        const QPixmap want = both.pixmap(QSize(34, 16), scale, mode);
        EXPECT_EQ(got.devicePixelRatio(), want.devicePixelRatio());
        EXPECT_TRUE(got.toImage() == want.toImage());
      }
    }
  }
}

// A picture found under the key is the one QPixmap(path) read and keeps, for a resource
// and for a file on disk alike.
TEST(PixmapCacheKey, IsTheKeyQPixmapKeepsAFileUnder) {
  QTemporaryDir folder;
  const QString on_disk = folder.filePath(QStringLiteral("frame.png"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(":/kelta/simplified.png"), on_disk));
  for (const QString& path :
       {QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"),
        on_disk}) {
    SCOPED_TRACE(path.toStdString());
    QPixmapCache::clear();
    const QPixmap loaded(path);
    ASSERT_FALSE(loaded.isNull());
    QPixmap found;
    ASSERT_TRUE(QPixmapCache::find(PixmapCacheKey(QFileInfo(path)), &found));
    EXPECT_EQ(found.cacheKey(), loaded.cacheKey());
  }
  QPixmapCache::clear();
  CacheStylePictures();
}

}  // namespace
}  // namespace kelta
