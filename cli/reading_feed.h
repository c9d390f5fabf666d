// What read-tags makes of its reads beyond their lines: presence events, and publishing
// every read and event to an MQTT broker. It sees each read and each event as the JSON
// object that --format jsonl prints, whatever the format.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "platform/clock.h"
#include "presence/presence.h"
#include "publish/publisher.h"

namespace kelta {
struct ReaderContext;
}

namespace kelta::cli {

class ReadingFeed {
 public:
  // `print` writes an event line (set only with --format jsonl).
  ReadingFeed(const CliOptions& options, Clock& clock,
              std::function<void(const std::string&)> print);
  ~ReadingFeed();

  // Presence or publishing is on: the feed wants the reads and the reader's events.
  bool Active() const { return presence_.has_value() || !options_.gateway.mqtt.empty(); }
  // With --mqtt: asks the reader its serial number (with --reconnect until it answers or
  // `done`) and starts publishing. 0, or an exit code with `message`.
  int Start(ReaderContext& ctx, const std::function<bool()>& done, std::string& message);

  // A tag read, before its line; `shown` whether it gets one (--unique). False: no line.
  bool Read(const nlohmann::json& read, bool shown);
  // Each poll: the tags due to go.
  void Polled();
  // An event line of the reader (lost, resumed, replaced).
  void ReaderEvent(const std::string& line);
  // Reading is over: every tag present goes, and what can be published is.
  void End();
  // A publishing failure that can never succeed: its exit code (0: none).
  int Failed(std::string& message) const;

  // The summary's presence line (empty without presence) and its part of --json.
  std::string Summary() const;
  void AddTo(nlohmann::json& doc) const;

 private:
  presence::Ms Now();
  void Emit(const char* topic, const nlohmann::json& event);
  void Tell(const std::vector<presence::Event>& events);

  const CliOptions& options_;
  Clock& clock_;
  std::function<void(const std::string&)> print_;
  std::optional<presence::Tracker> presence_;
  std::unique_ptr<publish::Publisher> publisher_;
  std::uint32_t last_ticks_;
  presence::Ms ms_ = 0;
};

}  // namespace kelta::cli
