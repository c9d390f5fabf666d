// The window's frame on Windows: the system menu without Close.
#include <windows.h>

#include <QAccessible>
#include <QGuiApplication>
#include <QWidget>

#include "platform/window_frame.h"

namespace kelta {

void RemoveCloseCommand(QWidget& window) {
  if (QGuiApplication::platformName() != QLatin1String("windows")) return;
  const auto hwnd = reinterpret_cast<HWND>(window.winId());
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  if (menu == nullptr) return;
  // Close by its command, wherever it stands in the menu, then the separator it leaves
  // at the end.
  DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
  const int count = GetMenuItemCount(menu);
  if (count > 0 &&
      (GetMenuState(menu, static_cast<UINT>(count - 1), MF_BYPOSITION) & MF_SEPARATOR) != 0) {
    DeleteMenu(menu, static_cast<UINT>(count - 1), MF_BYPOSITION);
  }
  DrawMenuBar(hwnd);
}

// Qt's UI Automation bridge turns a value change that carries a text into a notification
// event, which Narrator and NVDA speak.
void AnnounceStatus(QWidget& line, const QString& text) {
  QAccessibleValueChangeEvent event(&line, text);
  QAccessible::updateAccessibility(&event);
}

}  // namespace kelta
