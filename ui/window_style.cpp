#include "ui/window_style.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <cmath>

namespace kelta {
namespace {

// Each end of the narrow rendering kept as drawn, in logical pixels: wider than the
// rounded corners and the inner outline together.
constexpr int kEnd = 8;
constexpr int kNarrowWidth = 2 * kEnd + 1;

// Fusion draws a bevel through its pixmap cache, at the application's pixel ratio, only
// for a painter without rotation or shear; elsewhere it draws straight on the painter,
// and so does this style.
bool DrawnThroughCache(const QPainter& painter) {
  const int type = painter.deviceTransform().type() | painter.worldTransform().type();
  return type <= QTransform::TxTranslate || painter.deviceTransform().type() == QTransform::TxScale;
}

// `narrow` widened to `width` logical pixels by repeating its middle column; `scale`
// device pixels to a logical one.
QImage Widen(const QImage& narrow, int width, int scale) {
  QImage wide(width * scale, narrow.height(), QImage::Format_ARGB32_Premultiplied);
  wide.setDevicePixelRatio(narrow.devicePixelRatio());
  const int end = kEnd * scale;
  const int right_from = narrow.width() - end;
  const int right_to = wide.width() - end;
  for (int y = 0; y < narrow.height(); ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(narrow.constScanLine(y));
    auto* out = reinterpret_cast<QRgb*>(wide.scanLine(y));
    std::copy(in, in + end, out);
    std::fill(out + end, out + right_to, in[end]);
    std::copy(in + right_from, in + narrow.width(), out + right_to);
  }
  return wide;
}

}  // namespace

WindowStyle::WindowStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void WindowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
  const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
  const qreal ratio = qApp->devicePixelRatio();
  // A flat button draws no bevel; at a fractional pixel ratio the ends fall on different
  // fractions of a device pixel at every width, so nothing can be repeated.
  if (element != PE_PanelButtonCommand || button == nullptr ||
      (button->features & QStyleOptionButton::Flat) || option->rect.width() <= kNarrowWidth ||
      option->rect.height() <= 0 || ratio != std::floor(ratio) || !DrawnThroughCache(*painter)) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  const int scale = static_cast<int>(ratio);
  QStyleOptionButton narrow_option = *button;
  narrow_option.rect = QRect(0, 0, kNarrowWidth, option->rect.height());
  narrow_option.palette = BevelPalette(button->palette);
  QImage narrow(narrow_option.rect.size() * scale, QImage::Format_ARGB32_Premultiplied);
  narrow.setDevicePixelRatio(ratio);
  narrow.fill(Qt::transparent);
  {
    QPainter narrow_painter(&narrow);
    // Fusion keeps the narrow rendering in its pixmap cache, so a repaint renders nothing.
    baseStyle()->drawPrimitive(element, &narrow_option, &narrow_painter, widget);
  }
  // Drawn as Fusion draws its own rendering: a pixmap at the control's corner.
  painter->drawPixmap(option->rect.topLeft(),
                      QPixmap::fromImage(Widen(narrow, option->rect.width(), scale)));
}

const QPalette& WindowStyle::BevelPalette(const QPalette& palette) const {
  const QBrush& window = palette.window();
  // The colours of the palette's current group, the ones Fusion reads.
  const BevelColours colours{window.style() == Qt::TexturePattern, window.color().rgba64(),
                             palette.button().color().rgba64(),
                             palette.highlight().color().rgba64()};
  return bevel_palettes_.try_emplace(colours, palette).first->second;
}

}  // namespace kelta
