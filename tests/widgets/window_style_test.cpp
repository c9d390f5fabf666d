// The window's style draws every push-button bevel with the very pixels Fusion draws, for
// the sizes, states and colours a button or a drop-down list can have. The suite runs once
// at the screen's own scale and once at twice it (QT_SCALE_FACTOR=2).
#include "ui/window_style.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <memory>

namespace kelta {
namespace {

TEST(WindowStyle, DrawsBevelsAsFusionDoes) {
  if (qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("2")) {
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
  }
  const WindowStyle window_style;
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette tinted = fusion->standardPalette();
  tinted.setColor(QPalette::Button, QColor(0x60, 0x90, 0xd0));
  tinted.setColor(QPalette::Highlight, QColor(0xe0, 0x30, 0x30));
  // Palettes that share the bevel's colours with one above, or all but one of them.
  QPalette tinted_text = tinted;
  tinted_text.setColor(QPalette::ButtonText, Qt::red);
  QPalette dark_window = fusion->standardPalette();
  dark_window.setColor(QPalette::Window, QColor(0x40, 0x40, 0x48));
  QPalette inactive = tinted;
  inactive.setCurrentColorGroup(QPalette::Inactive);
  inactive.setColor(QPalette::Inactive, QPalette::Button, QColor(0x90, 0x90, 0x20));
  using Button = QStyleOptionButton;
  const struct {
    const char* name;
    QStyle::State state;
    Button::ButtonFeatures features;
  } kStates[] = {
      {"raised", QStyle::State_Enabled | QStyle::State_Raised, Button::None},
      {"under the mouse", QStyle::State_Enabled | QStyle::State_MouseOver, Button::None},
      {"pressed", QStyle::State_Enabled | QStyle::State_Sunken, Button::None},
      {"checked", QStyle::State_Enabled | QStyle::State_On, Button::None},
      {"keyboard focus",
       QStyle::State_Enabled | QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange,
       Button::None},
      {"default", QStyle::State_Enabled, Button::DefaultButton},
      {"disabled", QStyle::State_None, Button::None},
      {"flat, pressed", QStyle::State_Enabled | QStyle::State_Sunken, Button::Flat},
  };
  const qreal ratio = qApp->devicePixelRatio();
  for (const QPalette& palette :
       {fusion->standardPalette(), tinted, tinted_text, dark_window, inactive}) {
    for (const auto& s : kStates) {
      // Both sides of the narrow width, the window's buttons and lists, and a tall one.
      for (int width : {3, 17, 18, 19, 24, 89, 161, 345}) {
        for (int height : {1, 16, 24, 28, 43, 65, 120}) {
          SCOPED_TRACE(testing::Message() << s.name << ", " << width << " x " << height << ", "
                                          << palette.color(QPalette::Button).name().toStdString());
          Button option;
          option.state = s.state;
          option.features = s.features;
          option.palette = palette;
          option.rect = QRect(0, 0, width, height);
          auto drawn_by = [&](const QStyle& style) {
            QImage image(QSize(width + 6, height + 6) * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(QColor(0x30, 0x70, 0x50));
            QPainter painter(&image);
            painter.translate(3, 2);
            style.drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter);
            return image;
          };
          EXPECT_TRUE(drawn_by(window_style) == drawn_by(*fusion));
        }
      }
    }
  }
}

}  // namespace
}  // namespace kelta
