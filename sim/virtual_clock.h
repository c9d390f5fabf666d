// A clock that moves only when told: sleeps and idle reads advance it, so a whole port
// walk runs in real milliseconds and its timings can be asserted exactly.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace kelta {

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::uint32_t start = 0) : now_(start) {}
  std::uint32_t Ticks() override { return now_; }
  void Sleep(std::uint32_t ms) override {
    slept_total_ += ms;
    Advance(ms);
  }
  void Advance(std::uint32_t ms) { now_ += ms; }  // wraps modulo 2^32 like timeGetTime
  std::uint64_t SleptMs() const { return slept_total_; }

 private:
  std::uint32_t now_;
  std::uint64_t slept_total_ = 0;
};

}  // namespace kelta
