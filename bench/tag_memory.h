// For the memory figures of long tag reading: the heap in use after the first polls and
// near the end.
#pragma once

#include <malloc.h>

#include <cstdint>
#include <cstdio>

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
  // Told the number of each tag poll before it goes out.
  void Poll(long number) {
    if (number == kWarmUpPolls + 1) after_warm_up_ = HeapInUse();
    if (number == kPolls) at_end_ = HeapInUse();
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
  std::size_t after_warm_up_ = 0;
  std::size_t at_end_ = 0;
};

}  // namespace kelta::bench
