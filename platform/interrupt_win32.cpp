#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"

namespace kelta {

namespace {

// The handler runs on a thread of its own that the system starts. A console handler does
// not break into a write or a wait the way a signal does, so nothing needs restarting.
std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      // The second one goes on to the system's handler, which ends the program at once.
      return g_interrupted.exchange(true) ? FALSE : TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CatchInterrupts() {
  g_interrupted = false;
  static const bool added = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
  static_cast<void>(added);
}

bool Interrupted() { return g_interrupted; }

}  // namespace kelta
