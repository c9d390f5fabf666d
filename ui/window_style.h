// The window's style: Fusion, one look on every system, with its push-button bevel drawn
// for less work. Fusion renders a bevel afresh for every distinct size, antialiasing the
// outlines of three rounded rectangles and filling a gradient, and a window whose buttons
// are nearly all of different widths pays for that on every button of its first paint.
// Along a bevel's width nothing changes between its rounded ends (the gradient runs top
// to bottom, the outlines run straight), so this style has Fusion render the bevel at a
// narrow width of the same height and widens it by repeating a column of the middle:
// the same pixels as Fusion's own rendering at the full width.
#pragma once

#include <QPalette>
#include <QProxyStyle>
#include <QtGlobal>
#include <map>
#include <tuple>

namespace kelta {

class WindowStyle : public QProxyStyle {
 public:
  WindowStyle();

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

 private:
  // Fusion keeps a rendered bevel under its palette's identity, and draws it in three of
  // the palette's colours (button, window, highlight): buttons whose palettes differ only
  // elsewhere share one narrow rendering through the one palette kept for those colours.
  const QPalette& BevelPalette(const QPalette& palette) const;

  using BevelColours = std::tuple<bool, quint64, quint64, quint64>;
  mutable std::map<BevelColours, QPalette> bevel_palettes_;
};

}  // namespace kelta
