// read-tags --reconnect: reading that survives a converter pulled out and put back, or a
// reader that falls silent. Each time, the port is closed, the loss is told (on standard
// error, and with --format jsonl as an event line among the tag lines), the device is
// waited for by the same path and probed, and reading starts again.
//
// The path is the one the run started with: the caller fixes the device the port names
// before the first round, so that a link removed meanwhile never sends a try to another
// device. A probe asks "A00B" in the stored mode, then in each of the twelve modes on that
// path (a reader back in another mode is found, and its mode stored), and after a silence
// also a tag poll: a reader that answers "A00B" but not tag polls is not taken as back.
// The waits grow from 1 s to 30 s and start short again only once a round has answered a
// tag poll; a loss that repeats without one is told once per step of the wait.
// An open refused for want of permission is not waited on: reading ends (Refusal()).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "platform/serial_device.h"
#include "reader/context.h"
#include "reader/results.h"

namespace kelta::cli {

// Waits between tries to get the reader back: 1 s, doubling to 30 s.
inline constexpr std::uint32_t kFirstBackoffMs = 1000;
inline constexpr std::uint32_t kLastBackoffMs = 30000;

class Reconnector {
 public:
  // `place` names the port in messages ("COM3 (/dev/serial/by-id/...)"), `device` is the
  // path it leads to; `events` writes the jsonl event lines (none without --format jsonl);
  // `done` tells when reading is to end (Ctrl+C, --seconds).
  Reconnector(ReaderContext& ctx, std::uint32_t silence_ms, std::string place, std::string device,
              std::FILE* err, std::function<void(const std::string&)> events,
              std::function<bool()> done);

  // Before the first round: the reader's serial number, and its mode where the stored one
  // no longer answers (walked on the one path and stored). False when the port is refused
  // for good (Refusal()).
  bool Start();

  // Reads in rounds: `read` runs one until it ends. A round that ended on a lost port, on
  // silence or without opening the port is followed by the wait for the reader and
  // another round; any other end ends reading with that round's result. A refusal ends it
  // too, as a round that did not open the port.
  CommandResult Run(const std::function<CommandResult()>& read,
                    const std::function<bool(const CommandResult&)>& lost);

  // Each poll of a round. True when the reader has been silent for the whole silence:
  // the round is then to be ended.
  bool Polled(const TagPoll& poll);

  // Why reading ended without waiting: an open refused in a way no wait mends.
  const std::optional<OpenError>& Refusal() const { return refusal_; }

 private:
  enum class Heard { Answered, NoPort, NoReader, NoTagReply, Ended };
  struct ProbeResult {
    Heard heard = Heard::NoReader;
    OpenError error;     // NoPort: why
    std::string serial;  // Answered: the reader's serial number, as it sent it
  };

  // Tries the reader until it answers; false when reading is to end first (or refused).
  bool AwaitReader(bool tag_poll, bool told);
  // The reader on the path: the stored mode, then the other eleven; with `tag_poll` it
  // must answer a tag poll too.
  ProbeResult Probe(bool tag_poll);
  bool AskInfo(int mode, ProbeResult& result);
  // A reader found in another mode than the stored one: kept and stored, and told.
  void TakeMode(int mode);
  // An open refused for good: reading is to end, and why is told.
  void Refuse(const OpenError& error);
  // The reason a probe failed, once per change.
  void TellWait(const ProbeResult& probe);
  void NoteSerial(const std::string& serial, bool told, const std::string& reason);
  // Sleeps `ms` in short steps; false when reading is to end meanwhile.
  bool Pause(std::uint32_t ms);
  // Every event line is made here: {"event", "time", "port", "device"} and `fields`.
  void Tell(const std::string& event, nlohmann::json fields, const std::string& message);
  static bool ForGood(const OpenError& error);
  std::string Problem(const OpenError& error) const;

  ReaderContext& ctx_;
  std::uint32_t silence_ms_;
  std::string place_;
  std::string device_;
  std::FILE* err_;
  std::function<void(const std::string&)> events_;
  std::function<bool()> done_;
  std::uint32_t last_reply_ = 0;
  bool silent_ = false;
  std::uint32_t backoff_ = kFirstBackoffMs;
  std::uint32_t told_step_ = 0;  // the wait step of the last loss told; 0 after a tag reply
  std::string wait_told_;        // the reason last told for a wait
  std::string serial_;           // the reader's serial number, once heard
  std::string mode_note_;        // a mode change found by the last probe, for `resumed`
  std::optional<OpenError> refusal_;
};

}  // namespace kelta::cli
