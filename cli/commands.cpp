#include "cli/commands.h"

#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/cli_view.h"
#include "cli/commission.h"
#include "cli/json_text.h"
#include "cli/line_trace.h"
#include "cli/quiet_parts.h"
#include "cli/reading_feed.h"
#include "cli/reconnect.h"
#include "cli/scan_every.h"
#include "cli/scan_report.h"
#include "cli/tag_log.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/device_identity.h"
#include "platform/interrupt.h"
#include "platform/port_info.h"
#include "platform/port_names.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "reader/context.h"
#include "reader/operations.h"
#include "reader/outcome.h"
#include "settings/settings.h"

namespace kelta::cli {

namespace {

using nlohmann::json;

// A device that is none of COM1 to COM16 stands in as this port number for the run; the
// stored settings, which name ports by number, cannot hold it.
constexpr int kStandInPort = 255;

constexpr int kMsgStartScan = 2;
constexpr int kMsgId = 4;
constexpr int kMsgBaudRate = 5;
constexpr int kMsgSerial = 19;
constexpr int kMsgVersion = 21;

// Thrown by the event pump when an interrupt comes during a command that cannot end early
// on its own, unless the command has begun to change the reader; the command then closes
// the port and ends.
struct Interrupt {};

// Notes when a settings command begins to change the reader: an interrupt that came
// before ends it there, one that comes later waits for the operation's end.
class ChangeWatch final : public ReaderEvents {
 public:
  explicit ChangeWatch(bool& changing) : changing_(changing) {}
  void ReaderChanging() override {
    if (Interrupted()) throw Interrupt{};
    changing_ = true;
  }

 private:
  bool& changing_;
};

void Print(std::FILE* file, const std::string& text) {
  std::fputs(text.c_str(), file);
  std::fputc('\n', file);
  std::fflush(file);
}

json HoldersJson(const std::vector<PortHolder>& holders) {
  json list = json::array();
  for (const PortHolder& h : holders) {
    list.push_back({{"pid", h.pid}, {"name", h.name}, {"exclusive", h.exclusive}});
  }
  return list;
}

json OpenErrorJson(const OpenError& error, const std::string& device) {
  return {{"kind", FailureName(error.kind)},
          {"code", error.code},
          {"text", error.text},
          {"explanation", OpenProblem(error, device)}};
}

// The reader operations' world for one run of the program.
class Session final : public EventPump {
 public:
  Session(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
          Clock& clock);

  void ProcessMessages() override;

  int Scan();
  int Info();
  int SettingsCommand();
  int ReadTags();
  // An interrupt cut the operation short between exchanges: closes the port it may have
  // left open and reports what was done so far.
  int CutShort();

 private:
  std::string Msg(int no) const { return Catalogue().Text(no, settings_.LanguageIndex); }
  // "COM3 (/dev/ttyS2)", or the device alone for one that stands in for a port.
  std::string PlaceName(int number) const;
  json PlaceJson() const;
  int ReportScan(const ScanResult& result, const ScanReport& report, bool walked);
  void Explain(const ScanReport& report, json& doc) const;
  int Finish(json doc, int code, const std::string& failure);
  int ExitCodeOf(const CommandResult& result) const;
  std::string FailureOf(const CommandResult& result) const;
  // Port `number` hung up or failed while in use.
  std::string LostProblem(int number) const;
  bool CanStore() const { return !options_.no_store && !stand_in_; }
  bool ReportStore(const SaveResult& saved, const std::string& stored_note, json& doc) const;

  const CliOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
  Clock& clock_;
  std::unique_ptr<SettingsStore> store_;
  NoStore no_store_;
  Settings settings_;
  Settings loaded_;
  int named_port_;  // the port --port or --device name; 0: the stored one
  bool stand_in_;
  std::unique_ptr<LineTrace> trace_;
  SerialPort port_;
  ReaderLink link_;
  CliView view_;
  NoTone no_tone_;
  ReaderContext ctx_;
  // While tags are read: ends reading as the cancelling press does.
  std::function<void()> on_pass_;
  std::string last_progress_;
  ScanReport report_;
  bool changing_ = false;
  ChangeWatch change_watch_{changing_};
  bool system_device_;  // the system's own ports, not a line given in their place
  // Ports the walk passed over, each with the lower one that leads to the same device.
  std::map<int, int> same_device_;
};

// The port number --port or --device name, 0 when neither does. A device that is none of
// COM1 to COM16 is given the stand-in number.
int NamedPort(const CliOptions& options) {
  if (options.device.empty()) return options.port.value_or(0);
  if (const int number = PortNumberOfDevice(options.device); number > 0) return number;
  SetPortDevice(kStandInPort, options.device);
  return kStandInPort;
}

SerialDevice& Device(const CliOptions& options, SerialDevice& device, Clock& clock,
                     std::unique_ptr<LineTrace>& trace, std::FILE* err) {
  if (!options.trace) return device;
  trace = std::make_unique<LineTrace>(device, clock, err);
  return *trace;
}

Session::Session(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
                 Clock& clock)
    : options_(options),
      out_(out),
      err_(err),
      clock_(clock),
      store_(MakeSystemSettingsStore()),
      named_port_(NamedPort(options)),
      stand_in_(!options.device.empty() && named_port_ == kStandInPort),
      port_(Device(options, device, clock, trace_, err), clock),
      link_(port_, clock, *this),
      ctx_{link_,
           clock,
           *this,
           options.beep ? SystemTone() : no_tone_,
           view_,
           settings_,
           CanStore() ? *store_ : static_cast<SettingsStore&>(no_store_)} {
  system_device_ = &device == &SystemSerialDevice();
  LoadSettings(*store_, settings_);
  loaded_ = settings_;
  // Messages name a device given by --device by its path, not by the stand-in number.
  ctx_.port_device = [this](int number) {
    return stand_in_ && number == kStandInPort ? PortDeviceName(number) : std::string();
  };
  if (options.language) settings_.LanguageIndex = *options.language;
  if (named_port_ > 0) settings_.ScanCommNo = named_port_;
  if (options.mode_index) {
    settings_.ScanBaudRateNo = *options.mode_index;
    settings_.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(*options.mode_index)];
  }
  // A scan's progress as the window's message line shows it, for a person watching: each
  // text once it has been followed by another (the last is the outcome, reported apart).
  if (!options.json && (options.command == "scan" || options.command == "info")) {
    view_.on_message = [this](const std::string& text) {
      if (text == last_progress_) return;
      if (!last_progress_.empty()) Print(err_, last_progress_);
      last_progress_ = text;
    };
  }
}

void Session::ProcessMessages() {
  if (on_pass_) {
    on_pass_();
  } else if (Interrupted() && !changing_) {
    throw Interrupt{};
  }
}

std::string Session::PlaceName(int number) const {
  const std::string device = PortDeviceName(number);
  if (stand_in_ && number == kStandInPort) return device;
  return "COM" + std::to_string(number) + " (" + (device.empty() ? "no device" : device) + ")";
}

json Session::PlaceJson() const {
  json place = {{"device", PortDeviceName(settings_.ScanCommNo)},
                {"mode", settings_.ScanBaudRate},
                {"mode_index", settings_.ScanBaudRateNo}};
  place["port"] = stand_in_ ? json(nullptr) : json(settings_.ScanCommNo);
  return place;
}

std::string Session::LostProblem(int number) const {
  return PlaceName(number) +
         " was lost: the device hung up or went away (converter removed, cable pulled, "
         "device gone)";
}

int Session::Finish(json doc, int code, const std::string& failure) {
  std::string problem = failure;
  // An interrupt that came too late to cut the operation short: it ends the program now.
  // Reading ends on an interrupt as on --count, and keeps its code.
  if (Interrupted()) {
    doc["interrupted"] = true;
    // A failure it came to keeps its own code (5: not stored); only success turns to 130.
    if (options_.command != "read-tags" && code == kExitDone) {
      code = kExitInterrupted;
      const char* what = changing_
                             ? "interrupted once the command had gone out: it was completed first"
                             : "interrupted";
      problem += (problem.empty() ? "" : "; ") + std::string(what);
    }
  }
  if (options_.json) {
    doc["exit_code"] = code;
    if (!problem.empty()) doc["error"] = problem;
    Print(out_, JsonText(doc));
  } else if (!problem.empty()) {
    Print(err_, "qm880ctl: " + problem);
  }
  return code;
}

int Session::CutShort() {
  port_.ClosePort();
  json doc = {{"command", options_.command}, {"message", view_.Text(Ctl::pnMsg)}};
  if (options_.command == "scan" || options_.command == "info") {
    // As a finished scan's document, with the ports and modes tried so far.
    doc.update({{"found", false}, {"ready", false}, {"port_lost", false}});
    if (options_.json || options_.explain) Explain(report_, doc);
  } else {
    doc["accepted"] = false;
    if (settings_.ScanCommNo > 0) doc.update(PlaceJson());
  }
  return Finish(doc, kExitInterrupted, "interrupted; the port is closed");
}

void Session::Explain(const ScanReport& report, json& doc) const {
  json ports = json::array();
  for (const ScanReport::Port& p : report.Ports()) {
    json port = {{"port", stand_in_ && p.number == kStandInPort ? json(nullptr) : json(p.number)},
                 {"device", p.device},
                 {"opened", p.opened}};
    std::string line = PlaceName(p.number) + ": ";
    if (!p.opened) {
      port["error"] = OpenErrorJson(p.error, p.device);
      line += OpenProblem(p.error, p.device);
    } else {
      line += "opened";
    }
    if (!options_.json) Print(out_, line);
    json modes = json::array();
    for (const ScanReport::Mode& m : p.modes) {
      modes.push_back(
          {{"mode", m.mode}, {"tries", m.tries}, {"result", ScanReport::Name(m.heard)}});
      std::string text;
      switch (m.heard) {
        case ScanReport::Heard::Found:
          text = "found";
          break;
        case ScanReport::Heard::Silent:
          text = "silent";
          break;
        case ScanReport::Heard::Lost:
          text = "the port was lost (hung up or gone)";
          break;
        case ScanReport::Heard::WrongLength:
          text = "bytes heard but no valid reply (wrong length: " + std::to_string(m.reply_length) +
                 " bytes where the reader's are 16)";
          break;
        case ScanReport::Heard::BadChecksum:
          text = "bytes heard but no valid reply (wrong checksum)";
          break;
        case ScanReport::Heard::Unfinished:
          text = "bytes heard but no valid reply (a frame that never ended)";
          break;
        case ScanReport::Heard::NoFrame:
          text = "bytes heard but no valid reply (no reply frame in them)";
          break;
      }
      if (m.heard != ScanReport::Heard::Found && m.heard != ScanReport::Heard::Silent &&
          m.heard != ScanReport::Heard::Lost) {
        text += ": most likely another port mode or another device";
      }
      if (!options_.json) {
        char head[48];
        std::snprintf(head, sizeof head, "    %-13s %d %s  ", m.mode.c_str(), m.tries,
                      m.tries == 1 ? "try " : "tries");
        Print(out_, head + text);
      }
    }
    port["modes"] = modes;
    ports.push_back(port);
  }
  for (const auto& [number, first] : same_device_) {
    const bool walked =
        std::any_of(report.Ports().begin(), report.Ports().end(),
                    [first](const ScanReport::Port& p) { return p.number == first; });
    if (!walked) continue;
    ports.push_back({{"port", number},
                     {"device", PortDeviceName(number)},
                     {"opened", false},
                     {"same_device_as", first},
                     {"modes", json::array()}});
    if (!options_.json) {
      Print(out_, PlaceName(number) + ": the same device as COM" + std::to_string(first) +
                      "; walked there");
    }
  }
  doc["explain"] = ports;
  if (!HoldersKnown()) {
    doc["holders_known"] = false;
    if (!options_.json) Print(out_, std::string("holders unknown: ") + kHoldersUnknown);
  }
}

int Session::ReportScan(const ScanResult& result, const ScanReport& report, bool walked) {
  json doc = {{"command", options_.command},
              {"found", result.found},
              {"ready", result.ready},
              {"message", view_.Text(Ctl::pnMsg)}};
  if (options_.explain) Explain(report, doc);
  doc["port_lost"] = result.port_lost;
  const bool one_port = named_port_ > 0 || !walked;
  // The port went away under the operation: that, not the reader, is what to fix. A walk
  // passes a lost port over like one that did not open; it fails on the lost port only
  // when the reader had answered there.
  if (result.port_lost &&
      (result.found ? !result.ready && result.lost_port == result.port : one_port)) {
    return Finish(doc, kExitNoPort, view_.Text(Ctl::pnMsg) + ": " + LostProblem(result.lost_port));
  }
  if (!result.found) {
    // One port named and it never opened: the port is the problem, not the reader.
    if (one_port && !report.AnyOpened() && !report.Ports().empty()) {
      const ScanReport::Port& p = report.Ports().back();
      return Finish(doc, kExitNoPort,
                    view_.Text(Ctl::pnMsg) + ": " + PlaceName(p.number) +
                        " cannot be opened: " + OpenProblem(p.error, p.device));
    }
    std::string why = view_.Text(Ctl::pnMsg);
    if (!walked) {
      why += ": no reader answered at " + PlaceName(settings_.ScanCommNo) + " in " +
             settings_.ScanBaudRate + "; qm880ctl scan looks for it";
    } else if (!options_.explain) {
      why += "; qm880ctl scan --explain tells why";
    } else if (!options_.all_modes) {
      why += "; --all-modes tries the other port modes too";
    }
    return Finish(doc, kExitNoReader, why);
  }

  doc.update(PlaceJson());
  doc["serial"] = ReplyDisplay(result.serial);
  doc["id"] = ReplyDisplay(result.id);
  doc["version"] = result.ready ? json(ReplyDisplay(result.version)) : json(nullptr);
  // The walk's own save, where it made one.
  std::optional<SaveResult> saved;
  if (result.stored || !result.store_error.empty()) {
    saved = SaveResult{result.stored, result.store_error};
  }
  // Found at a place the options named rather than the stored one: the walk stores only
  // what it finds itself, so the place is stored here, as the next run needs it.
  const bool moved = settings_.ScanCommNo != loaded_.ScanCommNo ||
                     settings_.ScanBaudRate != loaded_.ScanBaudRate ||
                     settings_.ScanBaudRateNo != loaded_.ScanBaudRateNo;
  if (!saved && moved && CanStore() && options_.command == "scan") {
    saved = SaveScanSettings(*store_, settings_);
  }
  doc["stored"] = false;
  if (!options_.json) {
    Print(out_, view_.Text(Ctl::pnMsg));
    Print(out_, Msg(kMsgSerial) + " : " + ReplyDisplay(result.serial));
    Print(out_, Msg(kMsgId) + " : " + ReplyDisplay(result.id));
    if (result.ready) Print(out_, Msg(kMsgVersion) + " : " + ReplyDisplay(result.version));
    Print(out_, PlaceName(settings_.ScanCommNo) + ", " + Msg(kMsgBaudRate) + " : " +
                    settings_.ScanBaudRate);
  }
  const bool not_stored = CanStore() && saved &&
                          !ReportStore(*saved,
                                       "stored COM" + std::to_string(settings_.ScanCommNo) + ", " +
                                           settings_.ScanBaudRate + " as the reader's place",
                                       doc);
  if (!result.ready) {
    return Finish(doc, kExitRefused,
                  view_.Text(Ctl::pnMsg) + ": the reader answered but gave no firmware version");
  }
  return Finish(doc, not_stored ? kExitNotStored : kExitDone, {});
}

int Session::Scan() {
  // The window's lock box: ticked, the walk tries only the stored mode on each port.
  view_.SetChecked(Ctl::chkLock, !options_.all_modes);
  ctx_.events = &report_;
  ScanScope scope;
  if (named_port_ > 0) scope.first_port = scope.last_port = named_port_;
  // One port after another, as the window walks, stopping at the reader found: a port
  // beyond it gets no frame. Each device is walked once, under its lowest number.
  if (named_port_ == 0 && system_device_) {
    std::vector<int> ports;
    for (int port = scope.first_port; port <= scope.last_port; ++port) ports.push_back(port);
    same_device_ = SameDevicePorts(ports);
    for (const auto& [port, first] : same_device_) scope.passed_over.push_back(port);
  }
  const ScanResult result = ScanReader(ctx_, scope);
  ctx_.events = nullptr;
  return ReportScan(result, report_, true);
}

int Session::Info() {
  if (settings_.ScanCommNo <= 0) {
    return Finish({{"command", "info"}, {"found", false}, {"message", Msg(kMsgStartScan)}},
                  kExitNoReader,
                  Msg(kMsgStartScan) +
                      ": no reader place is stored; qm880ctl scan finds it, or "
                      "give --port or --device");
  }
  ctx_.events = &report_;
  ScanScope scope;
  scope.walk = false;
  const ScanResult result = ScanReader(ctx_, scope);
  ctx_.events = nullptr;
  return ReportScan(result, report_, false);
}

int Session::ExitCodeOf(const CommandResult& result) const {
  if (result.port_lost) return kExitNoPort;
  switch (result.outcome) {
    case Outcome::Success:
      return kExitDone;
    case Outcome::NotReady:
      return kExitNoReader;
    case Outcome::Failure:
      break;
  }
  if (!result.opened) return kExitNoPort;
  return result.reader_answered ? kExitRefused : kExitNoReader;
}

std::string Session::FailureOf(const CommandResult& result) const {
  const std::string message = view_.Text(Ctl::pnMsg);
  switch (ExitCodeOf(result)) {
    case kExitDone:
      return {};
    case kExitNoPort:
      if (result.port_lost) return message + ": " + LostProblem(settings_.ScanCommNo);
      return message + ": " + PlaceName(settings_.ScanCommNo) + " cannot be opened: " +
             OpenProblem(result.open_error, PortDeviceName(settings_.ScanCommNo));
    case kExitNoReader:
      if (result.outcome == Outcome::NotReady) {
        return message +
               ": no reader place is stored; qm880ctl scan finds it, or give --port or "
               "--device";
      }
      return message + ": no reader answered at " + PlaceName(settings_.ScanCommNo) + " in " +
             settings_.ScanBaudRate + "; qm880ctl scan looks for it";
    default:
      return message + ": the reader answered but did not accept the command";
  }
}

int Session::SettingsCommand() {
  const std::string& command = options_.command;
  ctx_.ReaderReady = settings_.ScanCommNo > 0;
  ctx_.events = &change_watch_;
  char two[8];
  std::snprintf(two, sizeof two, "%02d", options_.value);
  CommandResult result;
  if (command == "set-id") {
    view_.SetPosition(Ctl::sbID, options_.value);
    view_.SetText(Ctl::pnID, two);
    result = SetReaderId(ctx_);
  } else if (command == "set-baud") {
    view_.SetSelection(Ctl::cmbBaudRate, options_.baud_index);
    result = SetReaderBaudRate(ctx_);
  } else if (command == "set-output") {
    view_.SetSelection(Ctl::cmbRS485, options_.rs485_index);
    view_.SetSelection(Ctl::cmbWiegand, options_.wiegand_index);
    result = SetReaderMode(ctx_);
  } else if (command == "set-rssi") {
    view_.SetPosition(Ctl::sbRSSI, options_.value);
    result = SetRssiLevel(ctx_);
  } else if (command == "set-address") {
    view_.SetPosition(Ctl::sbAddr, options_.value);
    result = SetAddress(ctx_);
  } else if (command == "set-frequency") {
    view_.SetPosition(Ctl::sbFreq, options_.value);
    result = SetFrequency(ctx_);
  } else if (command == "set-channel") {
    view_.SetPosition(Ctl::sbChannel, options_.value);
    result = SetChannel(ctx_);
  } else if (command == "factory-default") {
    result = FactoryDefault(ctx_);
  } else {
    result = ResetReader(ctx_);
  }

  json doc = {{"command", command},
              {"accepted", result.outcome == Outcome::Success},
              {"message", view_.Text(Ctl::pnMsg)}};
  if (settings_.ScanCommNo > 0) doc.update(PlaceJson());
  int code = ExitCodeOf(result);
  doc["port_lost"] = result.port_lost;
  if (code == kExitNoPort && !result.port_lost)
    doc["open_error"] = OpenErrorJson(result.open_error, PortDeviceName(settings_.ScanCommNo));
  if (code == kExitDone && !options_.json) Print(out_, view_.Text(Ctl::pnMsg));
  // The window keeps an accepted mode in memory; a run of this program ends here, so the
  // next one would look for the reader in the old mode. Store it, and say so.
  if (code == kExitDone && command == "set-baud") {
    if (CanStore()) {
      if (!ReportStore(SaveScanSettings(*store_, settings_),
                       "stored " + settings_.ScanBaudRate + " as the reader's port mode", doc)) {
        code = kExitNotStored;
      }
    } else {
      doc["stored"] = false;
      if (!options_.json) {
        Print(err_, "qm880ctl: not stored: the next run needs --mode " + settings_.ScanBaudRate);
      }
    }
  }
  return Finish(doc, code, FailureOf(result));
}

// What became of a save: "stored" and "store_error" in the document; on standard error
// `stored_note`, or "not stored:" and the store's reason. True when it was stored.
bool Session::ReportStore(const SaveResult& saved, const std::string& stored_note,
                          json& doc) const {
  doc["stored"] = saved.stored;
  if (!saved.stored) doc["store_error"] = saved.error;
  if (!options_.json) {
    Print(err_, "qm880ctl: " + (saved.stored ? stored_note : "not stored: " + saved.error));
  }
  return saved.stored;
}

// read-tags --reconnect keeps trying the device the port led to when reading began: a
// link removed or changed meanwhile sends no try to another device (the built-in table's).
class PinnedDevice {
 public:
  explicit PinnedDevice(int number) : number_(number) {
    if (number_ <= 0 || PortDeviceOverride(number_)) {
      number_ = 0;
      return;
    }
    SetPortDevice(number_, PortDeviceName(number_));
  }
  ~PinnedDevice() {
    if (number_ > 0) SetPortDevice(number_, {});
  }
  PinnedDevice(const PinnedDevice&) = delete;
  PinnedDevice& operator=(const PinnedDevice&) = delete;

 private:
  int number_;
};

class TagEvents final : public ReaderEvents {
 public:
  explicit TagEvents(std::function<void(const TagPoll&)> on_poll) : on_poll_(std::move(on_poll)) {}
  void TagPolled(const TagPoll& poll) override { on_poll_(poll); }

 private:
  std::function<void(const TagPoll&)> on_poll_;
};

int Session::ReadTags() {
  ctx_.ReaderReady = settings_.ScanCommNo > 0;
  TagLog log(options_.format, options_.unique, !options_.json, out_);
  const bool jsonl = options_.format == TagFormat::Jsonl && !options_.json;
  ReadingFeed feed(options_, clock_, jsonl ? [this](const std::string& line) { Print(out_, line); }
                                           : std::function<void(const std::string&)>());
  log.on_read = [&feed](const json& read, bool shown) { return feed.Read(read, shown); };
  bool cancelled = false;
  // The cancelling press, made as the window's arrives: nested, from inside the loop.
  const auto cancel = [&] {
    if (cancelled || !ctx_.TagReadActive) return;
    cancelled = true;
    ReadCard(ctx_);
  };
  // --seconds counts from the press that starts reading, in 64 bits: the clock's
  // milliseconds wrap after 49.7 days, --seconds goes beyond that.
  std::uint32_t last_ticks = clock_.Ticks();
  std::uint64_t elapsed_ms = 0;
  const auto limit_ms =
      options_.seconds ? static_cast<std::uint64_t>(*options_.seconds * 1000.0) : 0u;
  const auto done = [&] {
    const std::uint32_t now = clock_.Ticks();
    elapsed_ms += now - last_ticks;
    last_ticks = now;
    std::string publishing;
    return Interrupted() || (options_.seconds && elapsed_ms >= limit_ms) ||
           feed.Failed(publishing) != kExitDone;
  };
  if (std::string problem; const int code = feed.Start(ctx_, done, problem)) {
    return Finish({{"command", "read-tags"}}, code, problem);
  }
  on_pass_ = [&] {
    if (done()) cancel();
  };
  std::optional<Reconnector> reconnector;
  const PinnedDevice pinned(options_.reconnect ? settings_.ScanCommNo : 0);
  if (options_.reconnect) {
    std::function<void(const std::string&)> events;
    if (jsonl || feed.Active()) events = [&feed](const std::string& line) { feed.ReaderEvent(line); };
    reconnector.emplace(ctx_, static_cast<std::uint32_t>(options_.silence * 1000.0),
                        PlaceName(settings_.ScanCommNo), PortDeviceName(settings_.ScanCommNo),
                        err_, events, done);
  }
  TagEvents events([&](const TagPoll& poll) {
    const bool written = log.Poll(poll, std::chrono::system_clock::now());
    // A lost port ends reading at once: no poll can be answered any more.
    if (!written || poll.port_lost || (options_.count && log.Lines() >= *options_.count)) {
      cancel();
    }
    if (reconnector && reconnector->Polled(poll)) cancel();
    feed.Polled();
  });
  ctx_.events = &events;
  const auto read_round = [&] {
    cancelled = false;
    return ReadCard(ctx_);
  };
  CommandResult result;
  if (!reconnector) {
    result = ReadCard(ctx_);
  } else if (!ctx_.ReaderReady || reconnector->Start()) {
    result = reconnector->Run(read_round, [](const CommandResult& r) { return r.port_lost; });
  } else {
    result.outcome = Outcome::Failure;
    result.open_error = *reconnector->Refusal();
  }
  ctx_.events = nullptr;
  on_pass_ = nullptr;
  feed.End();
  std::string publishing;
  if (const int failed = feed.Failed(publishing)) {
    return Finish({{"command", "read-tags"}}, failed, publishing);
  }

  json doc = {{"command", "read-tags"}};
  int code = ExitCodeOf(result);
  if (settings_.ScanCommNo > 0) doc.update(PlaceJson());
  if (code == kExitDone || result.port_lost) {
    std::string summary = log.Summary() + feed.Summary();
    if (summary.back() == '\n') summary.pop_back();  // Print ends the line
    Print(err_, "qm880ctl: read-tags: " + summary);
    doc.update(log.Json());
    feed.AddTo(doc);
    doc["port_lost"] = result.port_lost;
    std::string failure;
    if (result.port_lost) {
      failure = LostProblem(settings_.ScanCommNo);
    } else if (log.Polls() > 0 && log.Replies() == 0 && !options_.reconnect) {
      code = kExitNoReader;
      failure = "no reader answered at " + PlaceName(settings_.ScanCommNo) + " in " +
                settings_.ScanBaudRate + "; qm880ctl scan looks for it";
    }
    return Finish(doc, code, failure);
  }
  // The operation writes the reason to the message line: "Open COM : 3 Error", or "Start
  // Scan Reader!".
  if (code == kExitNoPort) {
    doc["open_error"] = OpenErrorJson(result.open_error, PortDeviceName(settings_.ScanCommNo));
  }
  doc["message"] = view_.Text(Ctl::pnMsg);
  if (reconnector && reconnector->Refusal()) {
    return Finish(doc, kExitNoAccess,
                  FailureOf(result) + "; --reconnect does not wait for that");
  }
  return Finish(doc, code, FailureOf(result));
}

int Ports(const CliOptions& options, std::FILE* out) {
  std::vector<PortInfo> ports;
  if (!options.device.empty()) {
    ports.push_back(DescribeDevice(options.device));
  } else if (options.port) {
    ports = DescribePorts({*options.port});
  } else {
    ports = DescribePorts(KnownPortNumbers());
  }
  json list = json::array();
  for (const PortInfo& p : ports) {
    json port = {{"port", p.number > 0 ? json(p.number) : json(nullptr)},
                 {"device", p.device},
                 {"linked", p.linked},
                 {"exists", p.exists},
                 {"accessible", p.accessible},
                 {"busy", p.busy},
                 {"group", p.group},
                 {"holders", HoldersJson(p.holders)},
                 {"holders_known", p.holders_known}};
    if (!p.target.empty()) port["target"] = p.target;
    if (!p.friendly_name.empty()) port["friendly_name"] = p.friendly_name;
    port["usb"] = nullptr;
    if (p.usb) {
      port["usb"] = {{"vendor_id", p.usb->vendor_id}, {"product_id", p.usb->product_id},
                     {"serial", p.usb->serial},       {"manufacturer", p.usb->manufacturer},
                     {"product", p.usb->product},     {"by_id", p.usb->by_id}};
      port["usb"]["driver"] = p.usb->driver;
      port["usb"]["latency_timer_ms"] =
          p.usb->latency_timer_ms >= 0 ? json(p.usb->latency_timer_ms) : json(nullptr);
    }
    list.push_back(port);
    if (options.json) continue;

    std::string state;
    if (!p.exists) {
      state = "missing";
    } else if (p.busy) {
      state = "busy";
    } else if (!p.accessible) {
      state = "no access" + (p.group.empty() ? "" : " (group " + p.group + ")");
    } else {
      state = "free";
    }
    std::string line = (p.number > 0 ? "COM" + std::to_string(p.number) : std::string("-"));
    line.resize(7, ' ');
    std::string device = p.device.empty() ? std::string("-") : p.device;
    if (p.linked) device += " (linked)";
    line += device + "  " + state;
    if (!p.holders.empty()) line += "; open in " + HoldersText(p.holders);
    if (!p.friendly_name.empty()) line += "; " + p.friendly_name;
    if (!p.target.empty()) line += "; " + p.target;
    if (p.usb) {
      line += "; USB " + p.usb->vendor_id + ":" + p.usb->product_id;
      if (!p.usb->product.empty()) line += " " + p.usb->product;
      if (!p.usb->serial.empty()) line += " serial " + p.usb->serial;
      if (!p.usb->by_id.empty()) line += " " + p.usb->by_id;
      if (!p.usb->driver.empty()) line += ", driver " + p.usb->driver;
      if (p.usb->latency_timer_ms >= 0) {
        line += ", latency timer " + std::to_string(p.usb->latency_timer_ms) + " ms";
      }
    }
    Print(out, line);
  }
  if (options.json) Print(out, JsonText({{"command", "ports"}, {"ports", list}, {"exit_code", 0}}));
  return kExitDone;
}

}  // namespace

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  return RunCommand(options, out, err, SystemSerialDevice(), SystemClock());
}

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
               Clock& clock) {
  if (options.command == "ports") return Ports(options, out);
  CatchInterrupts();
  // Who else has a port open is read once for the whole command.
  const HolderScope holders;
  if (options.command == "scan" && options.every) return ScanEvery(options, out, err);
  if (options.command == "commission") return Commission(options, out, err, device, clock);
  Session session(options, out, err, device, clock);
  try {
    if (options.command == "scan") return session.Scan();
    if (options.command == "info") return session.Info();
    if (options.command == "read-tags") return session.ReadTags();
    return session.SettingsCommand();
  } catch (const Interrupt&) {
    return session.CutShort();
  }
}

}  // namespace kelta::cli
