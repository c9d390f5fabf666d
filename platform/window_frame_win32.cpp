// The window's frame on Windows: the system menu without Close.
#include <windows.h>

#include <QGuiApplication>
#include <QWidget>

#include "platform/window_frame.h"

namespace kelta {

void RemoveCloseCommand(QWidget& window) {
  if (QGuiApplication::platformName() != QLatin1String("windows")) return;
  const auto hwnd = reinterpret_cast<HWND>(window.winId());
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  if (menu == nullptr) return;
  // In the system menu of a fixed-size window Close is the last entry.
  const int count = GetMenuItemCount(menu);
  if (count <= 0) return;
  RemoveMenu(menu, static_cast<UINT>(count - 1), MF_BYPOSITION);
  DrawMenuBar(hwnd);
}

}  // namespace kelta
