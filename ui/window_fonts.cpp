#include "ui/window_fonts.h"

#include <QFontDatabase>

#include "ui/layout.h"

namespace kelta {
namespace {

const QString kStandIn = QStringLiteral("Liberation Sans");
const QString kChinese = QStringLiteral("WenQuanYi Micro Hei");

QFont SansFont(const QStringList& families, int pixels, bool bold) {
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace

QStringList WindowFontFamilies(const QString& layout_family, const QStringList& system_families) {
  for (const QString& family : {layout_family, kStandIn}) {
    // The toolkit, too, matches family names without regard to case.
    if (system_families.contains(family, Qt::CaseInsensitive)) return {family, kChinese};
  }
  return {layout_family, kStandIn, kChinese};
}

WindowFonts MakeWindowFonts() {
  const QStringList present = QFontDatabase::families();
  const QStringList ms_sans = WindowFontFamilies(QStringLiteral("MS Sans Serif"), present);
  return {SansFont(ms_sans, kWindowFontPx, true), SansFont(ms_sans, kLabelFontPx, false),
          SansFont(WindowFontFamilies(QStringLiteral("Microsoft Sans Serif"), present),
                   kFooterFontPx, false)};
}

}  // namespace kelta
