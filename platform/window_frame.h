// The frame of the program's window where the window system has more to it than the
// toolkit's window flags.
#pragma once

class QString;
class QWidget;

namespace kelta {

// Takes the close command away from a top-level window that is already created: on
// Windows the last entry of its system menu (Close) is removed, so neither the title bar,
// Alt+F4 nor the task bar can close it. Elsewhere the window flags and the window's
// refused close event do that, and this does nothing. Windows only acts on windows of
// its own window system (not, say, on Qt's offscreen windows of the tests).
void RemoveCloseCommand(QWidget& window);

// Has a screen reader announce `text`, the new text of the status line `line`. The line
// raises its name change itself, which is what AT-SPI readers present for a status bar;
// UI Automation readers speak only a notification, which this raises on Windows.
void AnnounceStatus(QWidget& line, const QString& text);

}  // namespace kelta
