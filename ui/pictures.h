// The window's pictures, read for as little work as the first paint allows: as PNG with
// the format given (a reader left to find the format loads every image plug-in to ask
// each of them), a picture for scaled screens only when such a screen asks for it, and
// the style's group-box frame read once by the window rather than by the style.
#pragma once

#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QStyle;

namespace kelta {

// A PNG picture from a file or the resources; null where it cannot be read.
QPixmap ReadPng(const QString& path);

// The key under which QPixmap(path) looks the picture file up in the pixmap cache.
QString PixmapCacheKey(const QFileInfo& file);

// Puts the pictures the style reads by file name into the pixmap cache, read as PNG, so
// that the style finds them there. Where the key should ever differ from the toolkit's,
// the style reads them itself, as without this.
void CacheStylePictures();

// A picture at 1x from "<name>.png" and at 2x from "<name>@2x.png": Qt paints the one that
// fits the scaling of the screen the window is on, also when it moves to another. Each
// file is read when first needed, so at 100 % the 2x file is never read.
QIcon TwoScalePicture(const QString& name);

// The toolkit's standard close picture, as the style gives it.
QIcon StandardClosePicture(const QStyle* style);

}  // namespace kelta
