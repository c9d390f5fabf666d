// For the memory figures of long tag reading: a count of the tag polls that go out on the
// in-memory line, and the heap in use at two of them.
#pragma once

#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/serial_device.h"

namespace kelta::bench {

inline constexpr long kWarmUpPolls = 1000;
inline constexpr long kPolls = 100000;
inline constexpr std::size_t kGoalBytes = 64 * 1024;

// Bytes the program has taken from the heap and not given back (glibc's count).
inline std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Passes everything on to `line` and tells `on_poll` the number of each tag poll ("A00F")
// before it goes out.
class PollCounter final : public SerialDevice {
 public:
  explicit PollCounter(SerialDevice& line) : line_(line) {}
  std::function<void(long)> on_poll;

  PortHandleType Open(int number) override { return line_.Open(number); }
  bool GetTimeouts(PortHandleType h, CommTimeouts& t) override { return line_.GetTimeouts(h, t); }
  bool SetTimeouts(PortHandleType h, const CommTimeouts& t) override {
    return line_.SetTimeouts(h, t);
  }
  bool ApplyMode(PortHandleType h, std::string_view mode) override {
    return line_.ApplyMode(h, mode);
  }
  bool Purge(PortHandleType h) override { return line_.Purge(h); }
  bool Write(PortHandleType h, const std::uint8_t* data, int count) override {
    if (on_poll &&
        std::string_view(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count))
            .starts_with("A00F")) {
      on_poll(++polls_);
    }
    return line_.Write(h, data, count);
  }
  int Read(PortHandleType h, std::uint8_t* place) override { return line_.Read(h, place); }
  void Close(PortHandleType h) override { line_.Close(h); }
  OpenError LastOpenError() const override { return line_.LastOpenError(); }

 private:
  SerialDevice& line_;
  long polls_ = 0;
};

// The heap after the first kWarmUpPolls polls and after kPolls - 1, told each poll.
class HeapGrowth {
 public:
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
