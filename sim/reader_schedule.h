// Readers connected one after another to the same line, as an installer plugs reader after
// reader into one converter: each is unplugged once it has answered a number of reader-
// information probes in a row (the utility looking whether it is still there), the line
// stays empty for a gap, then the next reader of the schedule is connected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/reader_model.h"

namespace kelta {

struct PluggedReader {
  ReaderSettings settings;
  std::string refuse;  // command letters it does not take (ReaderFaults::refuse)
};

class ReaderSchedule {
 public:
  ReaderSchedule(std::vector<PluggedReader> next, int unplug_after, std::uint32_t gap_ms)
      : next_(std::move(next)), unplug_after_(unplug_after), gap_ms_(gap_ms) {}

  // Before a byte is heard at `now`: whether a reader is on the line. Connects the next
  // reader of the schedule to `reader` once the gap has passed; `note` then tells it.
  bool Present(ReaderModel& reader, std::uint32_t now, std::string& note);
  // A frame the reader on the line heard; unplugs it after its `unplug_after`-th answered
  // "A00B" in a row (`note` tells it).
  void Heard(const FrameRecord& frame, std::uint32_t now, std::string& note);

 private:
  std::vector<PluggedReader> next_;
  std::size_t connected_ = 0;  // of next_, connected so far
  int unplug_after_;
  std::uint32_t gap_ms_;
  int probes_in_a_row_ = 0;
  bool unplugged_ = false;
  std::uint32_t unplugged_at_ = 0;
};

}  // namespace kelta
