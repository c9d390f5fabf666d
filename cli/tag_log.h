// read-tags' output: one line per tag reply as it comes (text, CSV or JSON lines),
// flushed at once, and the summary of the whole reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "reader/results.h"

namespace kelta::cli {

using WallTime = std::chrono::system_clock::time_point;

// ISO 8601 in local time with milliseconds and the offset: 2025-03-01T14:05:09.042+01:00.
std::string IsoTime(WallTime time);

class TagLog {
 public:
  // Lines go to `out` as they come; with `lines` false they are only kept (for --json).
  TagLog(TagFormat format, bool unique, bool lines, std::FILE* out);

  // Notes one poll heard at `time`. False when its line could not be written (the
  // program reading the output has gone).
  bool Poll(const TagPoll& poll, WallTime time);
  // Lines written (or kept) so far.
  long Lines() const { return static_cast<long>(reads_.size()); }
  long Polls() const { return polls_; }
  long Replies() const { return replies_; }

  std::string Summary() const;
  nlohmann::json Json() const;

 private:
  struct Read {
    WallTime time;
    std::string tag;  // the eight characters as text
    std::uint32_t value;
  };
  struct Heard {
    std::string tag;
    std::uint32_t value;
    long count;
    WallTime first;
    WallTime last;
  };

  std::string Line(const Read& read) const;

  TagFormat format_;
  bool unique_;
  bool lines_;
  std::FILE* out_;
  long polls_ = 0;
  long replies_ = 0;
  long tags_ = 0;
  std::vector<Read> reads_;
  std::vector<Heard> heard_;  // in the order first heard
};

}  // namespace kelta::cli
