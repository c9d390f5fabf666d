// Tag presence: a tag is present from its first read and goes when it has not been heard
// for the presence window. A lost reader holds its tags: they go a window after the
// reader is back without hearing them, or when reading ends.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelta::presence {

// Milliseconds on the caller's monotonic clock.
using Ms = std::int64_t;

// Why a tag went.
enum class Because {
  Silence,  // not heard for the window while the reader answered
  Resumed,  // not heard for the window after the reader came back
  End,      // reading ended while it was present
};
const char* BecauseName(Because because);  // "silence", "resumed", "end"

struct Event {
  bool came = true;  // false: went
  std::string tag;
  Ms time = 0;        // when it came (its first read) or went
  Ms last_heard = 0;  // went: its last read
  long reads = 0;     // went: the reads while present
  Because because = Because::Silence;
};

struct Counts {
  long came = 0;
  long went[3] = {0, 0, 0};  // by Because
  long present = 0;
};

class Tracker {
 public:
  explicit Tracker(Ms window) : window_(window) {}

  // A read of `tag` at `now`: the tags due to go first, then "came" when it was not present.
  std::vector<Event> Heard(const std::string& tag, Ms now);
  // The tags due to go by `now` (none while the reader is lost).
  std::vector<Event> Due(Ms now);
  // The reader was lost: its tags are held until it comes back.
  void ReaderLost();
  // It is back at `now`: each tag held goes a window from now unless heard.
  void ReaderBack(Ms now);
  // Reading ended at `now`: every tag still present goes.
  std::vector<Event> End(Ms now);

  Counts Totals() const;

 private:
  struct Present {
    Ms came;
    Ms last_heard;
    Ms due;  // when it goes unless heard
    long reads;
    Because because;
  };
  Event Went(const std::string& tag, const Present& p, Ms now, Because because);

  Ms window_;
  bool lost_ = false;
  long came_ = 0;
  long went_[3] = {0, 0, 0};
  std::unordered_map<std::string, Present> tags_;
};

}  // namespace kelta::presence
