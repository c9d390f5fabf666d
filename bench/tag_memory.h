// For the memory figures of long tag reading: the heap in use after the first polls and
// near the end.
#pragma once

#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "sim/sim_line.h"
#include "sim/write_hook.h"

namespace kelta::bench {

inline constexpr long kWarmUpPolls = 1000;
inline constexpr long kPolls = 100000;
inline constexpr std::size_t kGoalBytes = 64 * 1024;

// Bytes the program has taken from the heap and not given back (glibc's count).
inline std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The heap after the first kWarmUpPolls polls and after kPolls - 1, told each poll.
class HeapGrowth {
 public:
  // Counts the tag polls written to `device`, each told to `then` after the heap is read.
  // The line's own record of every frame would grow; it is not the program's, so it is
  // cleared at each poll.
  void Watch(WriteHook& device, SimLine& line, std::function<void(long)> then = {}) {
    device.on_write = [this, &line, then](std::string_view bytes) {
      if (!bytes.starts_with("A00F")) return;
      line.ClearLog();
      const long number = ++polls_;
      if (number == kWarmUpPolls + 1) after_warm_up_ = HeapInUse();
      if (number == kPolls) at_end_ = HeapInUse();
      if (then) then(number);
    };
  }
  void Report(const char* what, double real_s, std::uint64_t virtual_ms) const {
    const long long growth =
        static_cast<long long>(at_end_) - static_cast<long long>(after_warm_up_);
    std::printf(
        "%s: heap %zu B after %ld polls, then %+lld B over %ld polls (%.2f B a poll; goal under "
        "%zu B): %s; %.1f s real for %.1f h of reading\n",
        what, after_warm_up_, kWarmUpPolls, growth, kPolls - 1 - kWarmUpPolls,
        static_cast<double>(growth) / static_cast<double>(kPolls - 1 - kWarmUpPolls), kGoalBytes,
        at_end_ == 0                                  ? "not reached"
        : growth < static_cast<long long>(kGoalBytes) ? "met"
                                                      : "MISSED",
        real_s, static_cast<double>(virtual_ms) / 3.6e6);
  }

 private:
  long polls_ = 0;
  std::size_t after_warm_up_ = 0;
  std::size_t at_end_ = 0;
};

}  // namespace kelta::bench
