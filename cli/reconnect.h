// read-tags --reconnect: reading that survives a converter pulled out and put back, or a
// reader that falls silent. Each time, the port is closed, the loss is told (on standard
// error, and with --format jsonl as an event line among the tag lines), the device is
// waited for by the same path and probed in the stored mode, and reading starts again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "reader/context.h"
#include "reader/results.h"

namespace kelta::cli {

// Waits between tries to get the reader back: 1 s, doubling to 30 s.
inline constexpr std::uint32_t kFirstBackoffMs = 1000;
inline constexpr std::uint32_t kLastBackoffMs = 30000;

class Reconnector {
 public:
  // `place` names the port in messages (as it is now: a link may point elsewhere later); `events`
  // writes the jsonl event lines (none without --format jsonl); `done` tells when reading is to end
  // (Ctrl+C, --seconds).
  Reconnector(ReaderContext& ctx, std::uint32_t silence_ms, std::function<std::string()> place,
              std::FILE* err, std::function<void(const std::string&)> events,
              std::function<bool()> done);

  // Reads in rounds: `read` runs one until it ends. A round that ended on a lost port, on
  // silence or without opening the port is followed by the wait for the reader and
  // another round; any other end ends reading with that round's result.
  CommandResult Run(const std::function<CommandResult()>& read,
                    const std::function<bool(const CommandResult&)>& lost);

  // Each poll of a round. True when the reader has been silent for the whole silence:
  // the round is then to be ended.
  bool Polled(const TagPoll& poll);

 private:
  // Tries the reader until it answers "A00B" in the stored mode; false when reading is to
  // end first.
  bool AwaitReader();
  bool Probe();
  // Sleeps `ms` in short steps; false when reading is to end meanwhile.
  bool Pause(std::uint32_t ms);
  void Tell(const std::string& event, const std::string& reason, const std::string& message);

  ReaderContext& ctx_;
  std::uint32_t silence_ms_;
  std::function<std::string()> place_;
  std::FILE* err_;
  std::function<void(const std::string&)> events_;
  std::function<bool()> done_;
  std::uint32_t last_reply_ = 0;
  bool silent_ = false;
};

}  // namespace kelta::cli
