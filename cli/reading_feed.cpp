#include "cli/reading_feed.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "cli/json_text.h"
#include "cli/reconnect.h"
#include "cli/tag_log.h"
#include "link/command_set.h"
#include "reader/context.h"
#include "reader/outcome.h"

namespace kelta::cli {

namespace {

// What the program waits at the end for the broker to take what is left.
constexpr unsigned kFinishGraceMs = 5000;

// The reader's serial number from a reader-information reply, as sent; nullopt when it did
// not answer or the port did not open (`opened`).
std::optional<std::string> AskSerial(ReaderContext& ctx, bool& opened) {
  const Settings& s = ctx.settings;
  opened = ctx.link.OpenPort(s.ScanCommNo, s.ScanBaudRate);
  if (!opened) return std::nullopt;
  ctx.clock.Sleep(kTryPauseMs);
  std::optional<std::string> serial;
  if (ctx.link.SendCommand(CmdReaderInfo()) && ctx.link.ReplyLength() == kReaderInfoReplyLength) {
    serial = ctx.link.ReplyChars(6, 13);
  }
  ctx.link.ClosePort();
  return serial;
}

int ExitCode(publish::Failure failure) {
  switch (failure) {
    case publish::Failure::None:
      return kExitDone;
    case publish::Failure::Refused:
      return kExitBrokerRefused;
    case publish::Failure::Certificate:
      return kExitBrokerCertificate;
    case publish::Failure::UnknownHost:
      return kExitBrokerUnknown;
    case publish::Failure::Store:
      return kExitOutbox;
    case publish::Failure::Usage:
    case publish::Failure::Unavailable:
      break;
  }
  return kExitUsage;
}

}  // namespace

ReadingFeed::ReadingFeed(const CliOptions& options, Clock& clock,
                         std::function<void(const std::string&)> print)
    : options_(options), clock_(clock), print_(std::move(print)), last_ticks_(clock.Ticks()) {
  const GatewayOptions& g = options.gateway;
  if (g.presence || g.only_presence || !g.mqtt.empty()) {
    presence_.emplace(static_cast<presence::Ms>(g.presence_s * 1000.0));
  }
}

ReadingFeed::~ReadingFeed() = default;

presence::Ms ReadingFeed::Now() {
  const std::uint32_t now = clock_.Ticks();
  ms_ += now - last_ticks_;  // in 64 bits: the clock's milliseconds wrap after 49.7 days
  last_ticks_ = now;
  return ms_;
}

int ReadingFeed::Start(ReaderContext& ctx, const std::function<bool()>& done,
                       std::string& message) {
  const GatewayOptions& g = options_.gateway;
  if (g.mqtt.empty()) return kExitDone;
  if (message = publish::Unavailable(); !message.empty()) return kExitUsage;
  // No place to read at: reading itself says so.
  if (!ctx.ReaderReady) return kExitDone;
  std::optional<std::string> serial;
  std::uint32_t backoff = kFirstBackoffMs;
  bool port_opened = false;
  while (!(serial = AskSerial(ctx, port_opened)) && options_.reconnect && !done()) {
    for (std::uint32_t slept = 0; slept < backoff && !done(); slept += 50) ctx.clock.Sleep(50);
    backoff = std::min(backoff * 2, kLastBackoffMs);
  }
  // A port that does not open, or reading ended meanwhile: reading itself says so.
  if (!serial) {
    if (!port_opened || (done() && options_.reconnect)) return kExitDone;
    message = "--mqtt: no reader answered to tell its serial number (the topics are named by it)";
    return kExitNoReader;
  }
  publish::Options o;
  o.url = g.mqtt;
  o.ca_file = g.ca_file;
  o.cert_file = g.cert_file;
  o.key_file = g.key_file;
  o.password_file = g.password_file;
  o.allow_plain_password = g.plain_password;
  o.queue = g.queue;
  o.rate = g.rate;
  if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"))
    o.credentials_dir = credentials;
  publish::Opened opened = publish::Open(o, ReplyDisplay(*serial));
  if (opened.failure != publish::Failure::None) {
    message = opened.message;
    return ExitCode(opened.failure);
  }
  publisher_ = std::move(opened.publisher);
  return kExitDone;
}

void ReadingFeed::Emit(const char* topic, const nlohmann::json& event) {
  // On disk before it is shown: a line printed is never one the broker misses.
  const std::string line = JsonText(event);
  if (publisher_) publisher_->Publish(topic, line);
  if (print_) print_(line);
}

void ReadingFeed::Tell(const std::vector<presence::Event>& events) {
  const presence::Ms now = ms_;
  const auto wall = [&](presence::Ms at) {
    return IsoTime(std::chrono::system_clock::now() - std::chrono::milliseconds(now - at));
  };
  for (const presence::Event& e : events) {
    nlohmann::json j = {
        {"event", e.came ? "came" : "went"}, {"tag", e.tag}, {"time", wall(e.time)}};
    if (!e.came) {
      j["last_heard"] = wall(e.last_heard);
      j["reads"] = e.reads;
      j["reason"] = presence::BecauseName(e.because);
    }
    Emit(publish::kTopicPresence, j);
  }
}

bool ReadingFeed::Read(const nlohmann::json& read, bool shown) {
  if (presence_) Tell(presence_->Heard(read["tag"].get<std::string>(), Now()));
  if (options_.gateway.only_presence || !shown) return false;
  if (publisher_) publisher_->Publish(publish::kTopicTags, JsonText(read));
  return true;
}

void ReadingFeed::Polled() {
  if (presence_) Tell(presence_->Due(Now()));
}

void ReadingFeed::ReaderEvent(const std::string& line) {
  const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
  const std::string kind = event.is_object() ? event.value("event", "") : "";
  if (presence_ && kind == "lost") {
    Tell(presence_->Due(Now()));
    presence_->ReaderLost();
  }
  if (presence_ && (kind == "resumed" || kind == "replaced")) presence_->ReaderBack(Now());
  if (publisher_) publisher_->Publish(publish::kTopicEvents, line);
  if (print_) print_(line);
}

void ReadingFeed::End() {
  if (presence_) {
    Tell(presence_->End(Now()));
  }
  if (publisher_) publisher_->Finish(kFinishGraceMs);
}

int ReadingFeed::Failed(std::string& message) const {
  if (!publisher_) return kExitDone;
  return ExitCode(publisher_->Failed(message));
}

std::string ReadingFeed::Summary() const {
  if (!presence_) return {};
  const presence::Counts c = presence_->Totals();
  char text[160];
  std::snprintf(text, sizeof text,
                "presence: came %ld, went %ld (after %g s unheard), %ld (unheard once the reader "
                "was back), %ld (at the end)",
                c.came, c.went[0], options_.gateway.presence_s, c.went[1], c.went[2]);
  return text;
}

void ReadingFeed::AddTo(nlohmann::json& doc) const {
  if (!presence_) return;
  const presence::Counts c = presence_->Totals();
  doc["presence"] = {
      {"seconds", options_.gateway.presence_s},
      {"came", c.came},
      {"went", {{"silence", c.went[0]}, {"resumed", c.went[1]}, {"end", c.went[2]}}}};
}

}  // namespace kelta::cli
