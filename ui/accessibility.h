// What a screen reader gets of the window: names for the controls that take the focus,
// the lamps as status objects, the message line as the window's status line, and nothing
// of the controls out of sight.
#pragma once

#include <QString>

#include "reader/view.h"

class QWidget;

namespace kelta {

// The interfaces of the window, its lamps and its message line, for the toolkit to use in
// place of its own; once, before the window is made.
void InstallAccessibleInterfaces();

// What a lamp shows, for its description.
enum class LampMeaning { Ready, Busy, Ok, Error, TagHeard, NoTag };

// The accessible name of `ctl` in `language` (0 English, 1 Simplified, 2 Traditional
// Chinese), empty where the control's own text serves.
QString AccessibleName(Ctl ctl, int language);
QString LampDescription(LampMeaning meaning, int language);

}  // namespace kelta
