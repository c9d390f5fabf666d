// The window's frame where the window flags say it all (X11, Wayland, offscreen).
#include "platform/window_frame.h"

namespace kelta {

void RemoveCloseCommand(QWidget&) {}

void AnnounceStatus(QWidget&, const QString&) {}

}  // namespace kelta
