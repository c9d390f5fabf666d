// read-tags' output: one line per tag reply as it comes (text, CSV or JSON lines),
// flushed at once, and the summary of the whole reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <list>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/cli_options.h"
#include "reader/results.h"

namespace kelta::cli {

using WallTime = std::chrono::system_clock::time_point;

// ISO 8601 in local time with milliseconds and the offset: 2025-03-01T14:05:09.042+01:00.
std::string IsoTime(WallTime time);

// Holds what the summary needs, one entry per different tag for the kHeardLimit tags heard
// last (an older one is let go, and counted), however long reading goes on; the reads
// themselves only where they go into one document at the end.
inline constexpr std::size_t kHeardLimit = 1000;

class TagLog {
 public:
  // Lines go to `out` as they come; with `lines` false (--json) they are kept instead,
  // every one of them until the end.
  TagLog(TagFormat format, bool unique, bool lines, std::FILE* out);

  // Notes one poll heard at `time`. False when its line could not be written (the
  // program reading the output has gone).
  bool Poll(const TagPoll& poll, WallTime time);
  // Told of each tag read as the JSON object of its jsonl line, and whether it gets a
  // line (--unique); false keeps its line out.
  std::function<bool(const nlohmann::json& read, bool shown)> on_read;
  // Lines written (or kept) so far.
  long Lines() const { return lines_count_; }
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
  long lines_count_ = 0;
  std::vector<Read> reads_;  // kept only without lines
  std::list<Heard> heard_;   // the one heard longest ago first
  std::unordered_map<std::string, std::list<Heard>::iterator> heard_at_;
  long let_go_ = 0;  // tags no longer in heard_
  // heard_ in the order first heard, for the summary.
  std::vector<const Heard*> ByFirstHeard() const;
};

}  // namespace kelta::cli
