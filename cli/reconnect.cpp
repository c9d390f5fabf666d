#include "cli/reconnect.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "cli/quiet_parts.h"
#include "cli/scan_report.h"
#include "cli/tag_log.h"
#include "link/command_set.h"
#include "reader/outcome.h"
#include "reader/port_walk.h"
#include "settings/settings.h"

namespace kelta::cli {

namespace {

// How often a wait looks whether reading is to end.
constexpr std::uint32_t kPauseStepMs = 50;
constexpr int kModeCount = static_cast<int>(kBaudRateTable.size());

}  // namespace

Reconnector::Reconnector(ReaderContext& ctx, std::uint32_t silence_ms, std::string place,
                         std::string device, std::FILE* err,
                         std::function<void(const std::string&)> events, std::function<bool()> done)
    : ctx_(ctx),
      silence_ms_(silence_ms),
      place_(std::move(place)),
      device_(std::move(device)),
      err_(err),
      events_(std::move(events)),
      done_(std::move(done)) {}

bool Reconnector::ForGood(const OpenError& error) {
  // The device is there and says no: only a change of its rights or of the user's
  // groups mends that, and neither comes by waiting.
  return error.kind == OpenFailure::NoPermission;
}

std::string Reconnector::Problem(const OpenError& error) const {
  return OpenProblem(error, device_);
}

bool Reconnector::Start() {
  const ProbeResult probe = Probe(false);
  if (probe.heard == Heard::NoPort && ForGood(probe.error)) {
    Refuse(probe.error);
    return false;
  }
  if (probe.heard == Heard::Answered) serial_ = probe.serial;
  // Anything else is for the first round to meet, and the waits after it.
  mode_note_.clear();
  return true;
}

CommandResult Reconnector::Run(const std::function<CommandResult()>& read,
                               const std::function<bool(const CommandResult&)>& lost) {
  for (;;) {
    silent_ = false;
    last_reply_ = ctx_.clock.Ticks();
    CommandResult result = read();
    if (result.outcome == Outcome::NotReady) return result;
    std::string reason;
    nlohmann::json fields;
    std::string message;
    if (lost(result)) {
      reason = "lost";
      message = place_ + " was lost (converter removed, cable pulled, device gone); waiting for it";
    } else if (silent_) {
      reason = "silent";
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", silence_ms_ / 1000.0);
      message =
          "no reply at " + place_ + " for " + seconds + " s; port closed, waiting for the reader";
    } else if (!result.opened) {
      if (ForGood(result.open_error)) {
        Refuse(result.open_error);
        return result;
      }
      reason = "no-port";
      const std::string problem = Problem(result.open_error);
      fields["problem"] = {{"kind", FailureName(result.open_error.kind)}, {"text", problem}};
      message = place_ + " cannot be opened: " + problem + "; waiting for it";
      wait_told_ = FailureName(result.open_error.kind) + std::string(" ") + problem;
    } else {
      return result;
    }
    if (reason != "no-port") wait_told_.clear();
    // A loss right after the last one, with no tag poll answered between: told only when
    // the wait has grown since.
    const bool told = told_step_ != backoff_;
    if (told) {
      told_step_ = backoff_;
      fields["reason"] = reason;
      fields["retry_s"] = backoff_ / 1000;
      Tell("lost", fields, message);
    }
    if (!AwaitReader(reason == "silent", told)) {
      CommandResult ended;
      if (refusal_) {
        ended.outcome = Outcome::Failure;
        ended.open_error = *refusal_;
        return ended;
      }
      // Ended while waiting: a reading that ends as asked.
      ended.outcome = Outcome::Success;
      ended.opened = true;
      return ended;
    }
  }
}

bool Reconnector::Polled(const TagPoll& poll) {
  const std::uint32_t now = ctx_.clock.Ticks();
  if (poll.replied) {
    last_reply_ = now;
    // The reader is back for good: the next loss is told, and waited for from 1 s.
    backoff_ = kFirstBackoffMs;
    told_step_ = 0;
  }
  if (silence_ms_ > 0 && now - last_reply_ >= silence_ms_) silent_ = true;
  return silent_;
}

bool Reconnector::AwaitReader(bool tag_poll, bool told) {
  for (;;) {
    if (!Pause(backoff_)) return false;
    const ProbeResult probe = Probe(tag_poll);
    backoff_ = std::min(backoff_ * 2, kLastBackoffMs);
    if (probe.heard == Heard::Ended) return false;
    if (probe.heard == Heard::NoPort && ForGood(probe.error)) {
      Refuse(probe.error);
      return false;
    }
    if (probe.heard == Heard::Answered) {
      NoteSerial(probe.serial, told, tag_poll ? "silent" : "lost");
      return true;
    }
    TellWait(probe);
  }
}

void Reconnector::Refuse(const OpenError& error) {
  refusal_ = error;
  Tell("refused",
       {{"reason", FailureName(error.kind)},
        {"problem", {{"kind", FailureName(error.kind)}, {"text", Problem(error)}}}},
       place_ + " cannot be opened: " + Problem(error) + "; waiting cannot mend that");
}

void Reconnector::TellWait(const ProbeResult& probe) {
  std::string kind;
  std::string text;
  switch (probe.heard) {
    case Heard::NoPort:
      kind = FailureName(probe.error.kind);
      text = Problem(probe.error);
      break;
    case Heard::NoTagReply:
      kind = "no-tag-reply";
      text = "the reader answers \"A00B\" but not tag polls";
      break;
    default:
      kind = "no-reader";
      text = "it opens but no reader answers in any port mode";
      break;
  }
  if (wait_told_ == kind + " " + text) return;
  wait_told_ = kind + " " + text;
  Tell("waiting", {{"reason", kind}, {"problem", {{"kind", kind}, {"text", text}}}},
       place_ + ": " + text + "; waiting for it (next try in " + std::to_string(backoff_ / 1000) +
           " s)");
}

void Reconnector::NoteSerial(const std::string& serial, bool told, const std::string& reason) {
  wait_told_.clear();
  const std::string before = serial_;
  serial_ = serial;
  nlohmann::json fields = {
      {"reason", reason}, {"serial", ReplyDisplay(serial)}, {"mode", ctx_.settings.ScanBaudRate}};
  if (!mode_note_.empty()) fields["previous_mode"] = mode_note_;
  if (told || !mode_note_.empty()) {
    Tell("resumed", fields,
         place_ + " answers again" +
             (mode_note_.empty() ? "" : " in " + ctx_.settings.ScanBaudRate) + "; reading");
  }
  mode_note_.clear();
  if (!before.empty() && before != serial) {
    Tell("replaced", {{"previous_serial", ReplyDisplay(before)}, {"serial", ReplyDisplay(serial)}},
         "another reader answers at " + place_ + ": serial number " + ReplyDisplay(serial) +
             " where it was " + ReplyDisplay(before) + "; reading it");
  }
}

bool Reconnector::AskInfo(int mode, ProbeResult& result) {
  if (!ctx_.link.OpenPort(ctx_.settings.ScanCommNo,
                          kBaudRateTable[static_cast<std::size_t>(mode)])) {
    result.heard = Heard::NoPort;
    result.error = ctx_.link.Port().LastOpenError();
    return false;
  }
  for (int i = 0; i < kWalkTries; ++i) {
    ctx_.clock.Sleep(kTryPauseMs);
    if (ctx_.link.SendCommand(CmdReaderInfo()) &&
        ctx_.link.ReplyLength() == kReaderInfoReplyLength) {
      result.heard = Heard::Answered;
      result.serial = ctx_.link.ReplyChars(6, 13);
      return true;
    }
    if (ctx_.link.LastReplyWait().lost) break;
  }
  const bool gone = ctx_.link.Port().Lost();
  ctx_.link.ClosePort();
  if (gone) {
    result.heard = Heard::NoPort;
    result.error = {OpenFailure::NoDevice, 0, "hung up"};
  }
  return false;
}

Reconnector::ProbeResult Reconnector::Probe(bool tag_poll) {
  ProbeResult result;
  const int stored = std::clamp(ctx_.settings.ScanBaudRateNo, 0, kModeCount - 1);
  // The stored mode first, then the table in order, as scan --all-modes walks one port.
  bool found = AskInfo(stored, result);
  for (int mode = 0; !found && result.heard == Heard::NoReader && mode < kModeCount; ++mode) {
    if (mode == stored) continue;
    if (done_()) {
      result.heard = Heard::Ended;
      return result;
    }
    found = AskInfo(mode, result);
    if (found) TakeMode(mode);
  }
  if (!found) return result;
  if (tag_poll && !ctx_.link.SendCommand(CmdReadTag())) result.heard = Heard::NoTagReply;
  ctx_.link.ClosePort();
  return result;
}

void Reconnector::TakeMode(int mode) {
  Settings& s = ctx_.settings;
  mode_note_ = s.ScanBaudRate;
  s.ScanBaudRateNo = mode;
  s.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(mode)];
  const SaveResult saved = SaveScanSettings(ctx_.store, s);
  std::fprintf(err_, "qm880ctl: read-tags: the reader at %s answers in %s, not in %s; %s\n",
               place_.c_str(), s.ScanBaudRate.c_str(), mode_note_.c_str(),
               saved.stored ? "stored" : ("not stored: " + saved.error).c_str());
  std::fflush(err_);
}

bool Reconnector::Pause(std::uint32_t ms) {
  for (std::uint32_t slept = 0; slept < ms; slept += kPauseStepMs) {
    if (done_()) return false;
    ctx_.clock.Sleep(std::min(kPauseStepMs, ms - slept));
  }
  return !done_();
}

void Reconnector::Tell(const std::string& event, nlohmann::json fields,
                       const std::string& message) {
  std::fprintf(err_, "qm880ctl: read-tags: %s\n", message.c_str());
  std::fflush(err_);
  if (!events_) return;
  nlohmann::json line = {{"event", event},
                         {"time", IsoTime(std::chrono::system_clock::now())},
                         {"port", place_},
                         {"device", device_}};
  line.update(fields);
  events_(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace kelta::cli
