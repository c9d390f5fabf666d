// The window's fonts. The layout names "MS Sans Serif" (the footer "Microsoft Sans
// Serif"); where the system lacks it, Liberation Sans, a sans-serif with close metrics,
// stands in at the same pixel height, and WenQuanYi Micro Hei draws the Chinese texts.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace kelta {

// The families a font of the window names: the first of the layout's family and its
// stand-in that is among the system's families, then the Chinese family. Where neither is
// there, all three, and the toolkit searches as it would.
QStringList WindowFontFamilies(const QString& layout_family, const QStringList& system_families);

// The three distinct fonts of the window, built once from the system's families, so that no
// control's font sets off a search for a family the system does not have.
struct WindowFonts {
  QFont window;  // 16 px bold: the window and what inherits its font
  QFont label;   // 13 px regular: the labels and the English button
  QFont footer;  // 11 px regular: the footer
};
WindowFonts MakeWindowFonts();

}  // namespace kelta
