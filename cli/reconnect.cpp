#include "cli/reconnect.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "cli/tag_log.h"
#include "link/command_set.h"
#include "reader/outcome.h"

namespace kelta::cli {

namespace {

// How often a wait looks whether reading is to end.
constexpr std::uint32_t kPauseStepMs = 50;

}  // namespace

Reconnector::Reconnector(ReaderContext& ctx, std::uint32_t silence_ms,
                         std::function<std::string()> place, std::FILE* err,
                         std::function<void(const std::string&)> events, std::function<bool()> done)
    : ctx_(ctx),
      silence_ms_(silence_ms),
      place_(std::move(place)),
      err_(err),
      events_(std::move(events)),
      done_(std::move(done)) {}

CommandResult Reconnector::Run(const std::function<CommandResult()>& read,
                               const std::function<bool(const CommandResult&)>& lost) {
  for (;;) {
    silent_ = false;
    last_reply_ = ctx_.clock.Ticks();
    CommandResult result = read();
    if (result.outcome == Outcome::NotReady) return result;
    std::string reason;
    if (lost(result)) {
      reason = "lost";
      Tell("lost", reason,
           place_() + " was lost (converter removed, cable pulled, device gone); waiting for it");
    } else if (silent_) {
      reason = "silent";
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", silence_ms_ / 1000.0);
      Tell("lost", reason,
           "no reply at " + place_() + " for " + seconds +
               " s; port closed, waiting for the reader");
    } else if (!result.opened) {
      reason = "no-port";
      Tell("lost", reason, place_() + " cannot be opened; waiting for it");
    } else {
      return result;
    }
    if (!AwaitReader()) {
      // Ended while waiting: a reading that ends as asked.
      CommandResult ended;
      ended.outcome = Outcome::Success;
      ended.opened = true;
      return ended;
    }
    Tell("resumed", reason, place_() + " answers again; reading");
  }
}

bool Reconnector::Polled(const TagPoll& poll) {
  const std::uint32_t now = ctx_.clock.Ticks();
  if (poll.replied) last_reply_ = now;
  if (silence_ms_ > 0 && now - last_reply_ >= silence_ms_) silent_ = true;
  return silent_;
}

bool Reconnector::AwaitReader() {
  std::uint32_t backoff = kFirstBackoffMs;
  for (;;) {
    if (!Pause(backoff)) return false;
    if (Probe()) return true;
    backoff = std::min(backoff * 2, kLastBackoffMs);
  }
}

bool Reconnector::Probe() {
  const Settings& s = ctx_.settings;
  if (!ctx_.link.OpenPort(s.ScanCommNo, s.ScanBaudRate)) return false;
  ctx_.clock.Sleep(kTryPauseMs);
  const bool answered =
      ctx_.link.SendCommand(CmdReaderInfo()) && ctx_.link.ReplyLength() == kReaderInfoReplyLength;
  ctx_.link.ClosePort();
  return answered;
}

bool Reconnector::Pause(std::uint32_t ms) {
  for (std::uint32_t slept = 0; slept < ms; slept += kPauseStepMs) {
    if (done_()) return false;
    ctx_.clock.Sleep(std::min(kPauseStepMs, ms - slept));
  }
  return !done_();
}

void Reconnector::Tell(const std::string& event, const std::string& reason,
                       const std::string& message) {
  std::fprintf(err_, "qm880ctl: read-tags: %s\n", message.c_str());
  std::fflush(err_);
  if (events_) {
    events_(nlohmann::json{{"event", event},
                           {"time", IsoTime(std::chrono::system_clock::now())},
                           {"reason", reason},
                           {"port", place_()}}
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
}

}  // namespace kelta::cli
