// Ctrl+C and the system's request to end (SIGINT, SIGTERM; a console's Ctrl+C, Ctrl+Break
// and close), caught so that a program can end its work cleanly, port closed, instead of
// dying in the middle of it.
#pragma once

namespace kelta {

// From now on the first interrupt only sets the flag (cleared here); a second one ends the
// program at once, as if nothing had caught it. A write to a closed pipe no longer ends the
// process either: it fails, and the program sees that.
void CatchInterrupts();

// True once an interrupt has come.
bool Interrupted();

}  // namespace kelta
