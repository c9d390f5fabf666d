// Time and the message loop, injected so that tests can run on a virtual clock.
#pragma once

#include <cstdint>

namespace kelta {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some start, wrapping around at 2^32 (timeGetTime).
  virtual std::uint32_t Ticks() = 0;
  // Pauses the thread for at least `ms` milliseconds.
  virtual void Sleep(std::uint32_t ms) = 0;
};

// The system's monotonic millisecond clock.
Clock& SystemClock();

// One pass of the window's message loop: handles every waiting message, then returns.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessMessages() = 0;
};

// A message loop with nothing in it, for programs and tests without a window.
class NoEventPump final : public EventPump {
 public:
  void ProcessMessages() override {}
};

}  // namespace kelta
