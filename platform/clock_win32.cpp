// The system clock on Windows: the multimedia tick counter and Sleep.
#include "platform/clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace kelta {
namespace {

class WinClock final : public Clock {
 public:
  // Without a 1 ms timer period, Sleep(1) lasts a whole scheduler tick (about 15.6 ms),
  // which would stretch every pause after a written byte fifteen-fold.
  WinClock() { timeBeginPeriod(1); }
  ~WinClock() override { timeEndPeriod(1); }
  WinClock(const WinClock&) = delete;
  WinClock& operator=(const WinClock&) = delete;

  std::uint32_t Ticks() override { return timeGetTime(); }
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
  static WinClock clock;
  return clock;
}

}  // namespace kelta
