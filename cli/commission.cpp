#include "cli/commission.h"

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/as_built.h"
#include "cli/cli_view.h"
#include "cli/json_text.h"
#include "cli/line_trace.h"
#include "cli/profile.h"
#include "cli/quiet_parts.h"
#include "cli/tag_log.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/interrupt.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "reader/context.h"
#include "reader/operations.h"
#include "reader/outcome.h"
#include "settings/settings.h"

namespace kelta::cli {

namespace {

using nlohmann::json;

// A device that is none of COM1 to COM16 stands in as this port number, as for the other
// commands.
constexpr int kStandInPort = 255;
// Between two looks for a reader coming or going.
constexpr std::uint32_t kLookPauseMs = 500;

// The settings in the order they are given: the ID first, the outputs and the radio next,
// the port mode last, as after it the reader answers only in the new mode.
enum class Step { Id, Outputs, Rssi, Address, Frequency, Channel, PortMode };
constexpr Step kSteps[] = {Step::Id,        Step::Outputs, Step::Rssi,    Step::Address,
                           Step::Frequency, Step::Channel, Step::PortMode};

const char* StepName(Step step) {
  switch (step) {
    case Step::Id:
      return "set_id";
    case Step::Outputs:
      return "outputs";
    case Step::Rssi:
      return "rssi";
    case Step::Address:
      return "address";
    case Step::Frequency:
      return "frequency";
    case Step::Channel:
      return "channel";
    case Step::PortMode:
      break;
  }
  return "port_mode";
}

class TagCount final : public ReaderEvents {
 public:
  void TagPolled(const TagPoll& poll) override {
    if (poll.tag) {
      ++tags;
      if (first.empty()) first = ReplyDisplay(poll.chars);
    }
    if (poll.replied) ++replies;
    lost = lost || poll.port_lost;
  }
  int tags = 0;
  int replies = 0;
  bool lost = false;
  std::string first;
};

// One setting given to one reader.
struct Given {
  Step step;
  std::string value;    // as the record shows it
  std::string outcome;  // "done", "refused", "no answer", "not sent", "dry run"
};

// One reader's row.
struct Row {
  std::string time, serial, version, label, result, confirmed_id, tag_test;
  int id = 0;
  bool known = false;  // the record had given it this ID before
  std::vector<Given> settings;
};

void Print(std::FILE* file, const std::string& text) {
  std::fputs(text.c_str(), file);
  std::fputc('\n', file);
  std::fflush(file);
}

std::string TwoDigits(int id) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", id);
  return text;
}

class Commissioning final : public EventPump {
 public:
  Commissioning(const CliOptions& options, Profile profile, std::FILE* out, std::FILE* err,
                SerialDevice& device, Clock& clock)
      : options_(options),
        profile_(std::move(profile)),
        out_(out),
        err_(err),
        clock_(clock),
        record_(options.record),
        store_(MakeSystemSettingsStore()),
        port_(Traced(device), clock),
        link_(port_, clock, *this),
        ctx_{link_,
             clock,
             *this,
             options.beep ? SystemTone() : no_tone_,
             view_,
             settings_,
             CanStore() ? *store_ : static_cast<SettingsStore&>(no_store_)} {
    LoadSettings(*store_, settings_);
    if (options.language) settings_.LanguageIndex = *options.language;
    if (named_port_ > 0) settings_.ScanCommNo = named_port_;
    if (options.mode_index) {
      settings_.ScanBaudRateNo = *options.mode_index;
      settings_.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(*options.mode_index)];
    }
    ctx_.port_device = [this](int number) {
      return stand_in_ && number == kStandInPort ? PortDeviceName(number) : std::string();
    };
  }

  void ProcessMessages() override {
    if (on_pass_) on_pass_();
  }

  int Run();

 private:
  SerialDevice& Traced(SerialDevice& device) {
    if (!options_.device.empty()) {
      named_port_ = PortNumberOfDevice(options_.device);
      if (named_port_ <= 0) {
        SetPortDevice(kStandInPort, options_.device);
        named_port_ = kStandInPort;
        stand_in_ = true;
      }
    } else {
      named_port_ = options_.port.value_or(0);
    }
    if (!options_.trace) return device;
    trace_ = std::make_unique<LineTrace>(device, clock_, err_);
    return *trace_;
  }
  bool CanStoreAtAll() const { return !options_.no_store && !options_.dry_run; }
  bool CanStore() const { return CanStoreAtAll() && !stand_in_; }
  void Say(const std::string& text) const { Print(err_, "qm880ctl: commission: " + text); }
  std::string PlaceName() const;

  // Waits for a reader to answer; false when the run is to end first.
  bool AwaitReader(ScanResult& found);
  // Probes the reader's place until it no longer answers with `serial`; false when the run
  // is to end first.
  bool AwaitDisconnect(const std::string& serial);
  // Sleeps in short steps; false when interrupted meanwhile.
  bool Pause(std::uint32_t ms);
  // The next ID of the list that no reader of the record holds; nullopt when used up.
  std::optional<ProfileId> NextId();
  std::string LabelOf(int id) const;

  void SetUp(Row& row, const std::string& serial);
  std::string Apply(Given& given, const std::string& serial, int id);
  void ReadBack(Row& row);
  void TagTest(Row& row);
  void Finish(Row& row);
  std::vector<std::string> Cells(const Row& row) const;

  const CliOptions& options_;
  Profile profile_;
  std::FILE* out_;
  std::FILE* err_;
  Clock& clock_;
  AsBuiltRecord record_;
  std::unique_ptr<SettingsStore> store_;
  NoStore no_store_;
  NoTone no_tone_;
  int named_port_ = 0;
  bool stand_in_ = false;
  std::unique_ptr<LineTrace> trace_;
  Settings settings_;
  SerialPort port_;
  ReaderLink link_;
  CliView view_;
  ReaderContext ctx_;
  std::function<void()> on_pass_;
  std::size_t next_id_ = 0;
  // Where the first reader answered: the later ones are looked for on that port, in its
  // mode and in the profile's.
  std::optional<Settings> home_;
  int rows_ = 0;
  int incomplete_ = 0;
  std::string record_error_;
};

std::string Commissioning::PlaceName() const {
  const std::string device = PortDeviceName(settings_.ScanCommNo);
  const std::string port = stand_in_ && settings_.ScanCommNo == kStandInPort
                               ? device
                               : "COM" + std::to_string(settings_.ScanCommNo) + " (" + device + ")";
  return port + ", " + settings_.ScanBaudRate;
}

bool Commissioning::Pause(std::uint32_t ms) {
  for (std::uint32_t slept = 0; slept < ms; slept += 50) {
    if (Interrupted()) return false;
    clock_.Sleep(50);
  }
  return !Interrupted();
}

bool Commissioning::AwaitReader(ScanResult& found) {
  view_.SetChecked(Ctl::chkLock, !options_.all_modes);
  for (;;) {
    if (Interrupted()) return false;
    if (!home_) {
      // The first reader: the stored place, then the walk, as scan looks for it.
      ScanScope scope;
      if (named_port_ > 0) scope.first_port = scope.last_port = named_port_;
      found = ScanReader(ctx_, scope);
      if (found.found && found.ready) return true;
    } else {
      // The next ones come to the same converter, fresh in the first one's mode or already
      // in the profile's; --all-modes tries every mode there.
      std::vector<int> modes = {home_->ScanBaudRateNo};
      if (profile_.port_mode && *profile_.port_mode != home_->ScanBaudRateNo)
        modes.push_back(*profile_.port_mode);
      for (int m = 0; options_.all_modes && m < static_cast<int>(kBaudRateTable.size()); ++m) {
        if (m != home_->ScanBaudRateNo && m != profile_.port_mode) modes.push_back(m);
      }
      for (const int mode : modes) {
        if (Interrupted()) return false;
        settings_.ScanCommNo = home_->ScanCommNo;
        settings_.ScanBaudRateNo = mode;
        settings_.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(mode)];
        ScanScope scope;
        scope.walk = false;
        found = ScanReader(ctx_, scope);
        if (found.found && found.ready) return true;
      }
    }
    if (!Pause(kLookPauseMs)) return false;
  }
}

bool Commissioning::AwaitDisconnect(const std::string& serial) {
  for (;;) {
    if (!Pause(kLookPauseMs)) return false;
    bool same = false;
    if (link_.OpenPort(settings_.ScanCommNo, settings_.ScanBaudRate)) {
      clock_.Sleep(kTryPauseMs);
      same = link_.SendCommand(CmdReaderInfo()) && link_.ReplyLength() == kReaderInfoReplyLength &&
             link_.ReplyChars(6, 13) == serial;
      link_.ClosePort();
    }
    if (!same) return true;
  }
}

std::optional<ProfileId> Commissioning::NextId() {
  for (; next_id_ < profile_.ids.size(); ++next_id_) {
    if (!record_.Holds(profile_.ids[next_id_].id)) return profile_.ids[next_id_];
  }
  return std::nullopt;
}

std::string Commissioning::LabelOf(int id) const {
  for (const ProfileId& p : profile_.ids) {
    if (p.id == id) return p.label;
  }
  return {};
}

// Gives one setting through the window's own operation; the outcome as the record shows it.
std::string Commissioning::Apply(Given& given, const std::string& serial, int id) {
  std::string command;
  CommandResult result;
  switch (given.step) {
    case Step::Id:
      command = CmdSetReaderId(serial, ReplyBytes(TwoDigits(id)));
      view_.SetPosition(Ctl::sbID, id);
      view_.SetText(Ctl::pnID, TwoDigits(id));
      if (!options_.dry_run) result = SetReaderId(ctx_);
      break;
    case Step::Outputs:
      command = CmdSetOutputs(static_cast<Rs485Format>(*profile_.rs485),
                              static_cast<WiegandFormat>(*profile_.wiegand));
      view_.SetSelection(Ctl::cmbRS485, *profile_.rs485);
      view_.SetSelection(Ctl::cmbWiegand, *profile_.wiegand);
      if (!options_.dry_run) result = SetReaderMode(ctx_);
      break;
    case Step::Rssi:
      command = CmdSetRssi(static_cast<std::uint8_t>(*profile_.rssi));
      view_.SetPosition(Ctl::sbRSSI, *profile_.rssi);
      if (!options_.dry_run) result = SetRssiLevel(ctx_);
      break;
    case Step::Address:
      command = CmdSetRadio(RadioItem::Address, static_cast<std::uint8_t>(*profile_.address));
      view_.SetPosition(Ctl::sbAddr, *profile_.address);
      if (!options_.dry_run) result = SetAddress(ctx_);
      break;
    case Step::Frequency:
      command = CmdSetRadio(RadioItem::Frequency, static_cast<std::uint8_t>(*profile_.frequency));
      view_.SetPosition(Ctl::sbFreq, *profile_.frequency);
      if (!options_.dry_run) result = SetFrequency(ctx_);
      break;
    case Step::Channel:
      command = CmdSetRadio(RadioItem::Channel, static_cast<std::uint8_t>(*profile_.channel));
      view_.SetPosition(Ctl::sbChannel, *profile_.channel);
      if (!options_.dry_run) result = SetChannel(ctx_);
      break;
    case Step::PortMode:
      command = CmdSetBaudRate(RateCode(*profile_.port_mode));
      view_.SetSelection(Ctl::cmbBaudRate, *profile_.port_mode);
      if (!options_.dry_run) result = SetReaderBaudRate(ctx_);
      break;
  }
  if (options_.dry_run) {
    Say("  " + std::string(StepName(given.step)) + " " + given.value + ": would send " +
        ReplyDisplay(command));
    return "dry run";
  }
  // Done only on the reader's reply to the command itself.
  if (result.outcome == Outcome::Success) {
    // The new mode is stored, as set-baud stores it: the next run finds the reader there.
    if (given.step == Step::PortMode && CanStore()) {
      const SaveResult saved = SaveScanSettings(*store_, settings_);
      if (!saved.stored) Say("not stored: " + saved.error);
    }
    return "done";
  }
  if (result.reader_answered && !result.port_lost) return "refused";
  return "no answer";
}

void Commissioning::SetUp(Row& row, const std::string& serial) {
  const Profile& p = profile_;
  row.settings.push_back({Step::Id, TwoDigits(row.id), {}});
  if (p.wiegand) row.settings.push_back({Step::Outputs, OutputText(*p.wiegand, *p.rs485), {}});
  if (p.rssi) row.settings.push_back({Step::Rssi, std::to_string(*p.rssi), {}});
  if (p.address) row.settings.push_back({Step::Address, std::to_string(*p.address), {}});
  if (p.frequency) row.settings.push_back({Step::Frequency, std::to_string(*p.frequency), {}});
  if (p.channel) row.settings.push_back({Step::Channel, std::to_string(*p.channel), {}});
  if (p.port_mode) {
    row.settings.push_back(
        {Step::PortMode, kBaudRateTable[static_cast<std::size_t>(*p.port_mode)], {}});
  }
  bool gone = false;
  for (Given& given : row.settings) {
    // A reader that no longer answers, or Ctrl+C: nothing more is sent to it.
    if (gone || Interrupted()) {
      given.outcome = "not sent";
      continue;
    }
    given.outcome = Apply(given, serial, row.id);
    gone = given.outcome == "no answer";
    if (!options_.dry_run)
      Say("  " + std::string(StepName(given.step)) + " " + given.value + ": " + given.outcome);
  }
}

void Commissioning::ReadBack(Row& row) {
  if (Interrupted()) {
    row.confirmed_id = "not read";
    return;
  }
  ScanScope scope;
  scope.walk = false;
  const ScanResult back = ScanReader(ctx_, scope);
  if (!back.found) {
    row.confirmed_id = "no answer";
  } else if (ReplyDisplay(back.serial) != row.serial) {
    row.confirmed_id = "another reader (" + ReplyDisplay(back.serial) + ")";
  } else {
    row.confirmed_id = ReplyDisplay(back.id);
  }
}

void Commissioning::TagTest(Row& row) {
  if (options_.tag_test <= 0 || options_.dry_run) {
    row.tag_test = "skipped";
    return;
  }
  if (!ctx_.ReaderReady || Interrupted()) {
    row.tag_test = "not run";
    return;
  }
  TagCount count;
  const std::uint32_t start = clock_.Ticks();
  const auto limit = static_cast<std::uint32_t>(options_.tag_test * 1000.0);
  bool cancelled = false;
  on_pass_ = [&] {
    if (cancelled || !ctx_.TagReadActive) return;
    if (Interrupted() || count.lost || clock_.Ticks() - start >= limit) {
      cancelled = true;
      ReadCard(ctx_);  // the cancelling press, nested as the window's comes
    }
  };
  ctx_.events = &count;
  const CommandResult result = ReadCard(ctx_);
  ctx_.events = nullptr;
  on_pass_ = nullptr;
  if (result.outcome != Outcome::Success || count.replies == 0) {
    row.tag_test = "no answer";
  } else if (count.tags == 0) {
    row.tag_test = "no tag heard";
  } else {
    row.tag_test = "heard " + count.first + " (" + std::to_string(count.tags) + " tag replies)";
  }
}

std::vector<std::string> Commissioning::Cells(const Row& row) const {
  std::vector<std::string> cells = {row.time,          row.serial, row.version,
                                    TwoDigits(row.id), row.label,  row.result};
  for (const Step step : kSteps) {
    std::string cell;
    for (const Given& g : row.settings) {
      if (g.step == step) cell = g.value + " " + g.outcome;
    }
    cells.push_back(cell);
  }
  cells.insert(cells.end(), {row.confirmed_id, row.tag_test, options_.note});
  return cells;
}

void Commissioning::Finish(Row& row) {
  std::vector<std::string> took, failed;
  for (const Given& g : row.settings) {
    (g.outcome == "done" ? took : failed).push_back(StepName(g.step));
  }
  const auto joined = [](const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
  };
  const bool confirmed = row.confirmed_id == TwoDigits(row.id);
  if (options_.dry_run) {
    row.result = "dry run";
  } else if (failed.empty() && confirmed) {
    row.result = "done";
  } else if (took.empty()) {
    row.result = "failed";
  } else {
    row.result = "partial";
  }
  ++rows_;
  if (row.result != "done" && !options_.dry_run) ++incomplete_;

  const std::vector<std::string> cells = Cells(row);
  if (!options_.dry_run) record_error_ = record_.Append(cells, row.serial, row.id);
  if (options_.json) {
    json doc = json::object();
    const auto& columns = AsBuiltRecord::Columns();
    for (std::size_t i = 0; i < columns.size(); ++i) doc[columns[i]] = cells[i];
    doc["id"] = row.id;
    doc["known"] = row.known;
    doc["took"] = took;
    doc["recorded"] = !options_.dry_run && record_error_.empty();
    Print(out_, JsonText(doc));
  } else {
    std::string line = row.serial + "  ID " + TwoDigits(row.id);
    if (!row.label.empty()) line += " \"" + row.label + "\"";
    line += "  " + row.result;
    if (row.result == "partial") line += " (took " + joined(took) + "; not " + joined(failed) + ")";
    if (!confirmed && !options_.dry_run) line += "; ID read back: " + row.confirmed_id;
    line += "; tag test: " + row.tag_test;
    Print(out_, line);
  }
  std::fputc('\a', err_);  // the terminal bell: the operator need not watch the screen
  std::fflush(err_);
}

int Commissioning::Run() {
  if (const std::string error = record_.Load(); !error.empty()) {
    Print(err_, "qm880ctl: commission: " + options_.record + " " + error);
    return kExitUsage;
  }
  if (options_.dry_run) Say("dry run: nothing but the identity probe is sent, nothing recorded");
  for (;;) {
    const std::optional<ProfileId> next = NextId();
    if (!next) {
      Say("the list of IDs is used up");
      break;
    }
    Say(rows_ == 0 ? "waiting for a reader (Ctrl+C ends the run)"
                   : "waiting for the next reader, for ID " + TwoDigits(next->id));
    ScanResult found;
    if (!AwaitReader(found)) break;
    if (!home_) home_ = settings_;
    Row row;
    row.serial = ReplyDisplay(found.serial);
    row.version = ReplyDisplay(found.version);
    row.time = IsoTime(std::chrono::system_clock::now());
    const int known = record_.IdOf(row.serial);
    row.known = known > 0 && !options_.again;
    row.id = row.known ? known : next->id;
    row.label = row.known ? LabelOf(known) : next->label;
    if (!row.known && !options_.dry_run) ++next_id_;
    Say(row.serial + ", ID " + ReplyDisplay(found.id) + ", " + row.version + " at " + PlaceName() +
        ": " + (row.known ? "in the record with ID " : "giving it ID ") + TwoDigits(row.id) +
        (row.label.empty() ? "" : " \"" + row.label + "\""));
    SetUp(row, found.serial);
    if (options_.dry_run) {
      row.confirmed_id = ReplyDisplay(found.id);
      row.tag_test = "skipped";
    } else {
      ReadBack(row);
      TagTest(row);
    }
    Finish(row);
    if (!record_error_.empty()) {
      Print(err_, "qm880ctl: commission: the record " + options_.record +
                      " cannot be written: " + record_error_ + "; the run ends");
      return kExitNotStored;
    }
    if (options_.dry_run) {
      Say("dry run: one reader shown");
      break;
    }
    if (!NextId()) continue;  // the list is used up: no need to wait for the next reader
    Say("disconnect the reader (" + row.serial + "), then connect the next one");
    if (!AwaitDisconnect(row.serial)) break;
  }
  if (Interrupted()) Say("ended by Ctrl+C");
  Say(std::to_string(rows_) + (rows_ == 1 ? " reader" : " readers") + ", " +
      std::to_string(incomplete_) + " not done" +
      (options_.dry_run ? "" : "; record: " + options_.record));
  return incomplete_ > 0 ? kExitRefused : kExitDone;
}

}  // namespace

int Commission(const CliOptions& options, std::FILE* out, std::FILE* err) {
  return Commission(options, out, err, SystemSerialDevice(), SystemClock());
}

int Commission(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
               Clock& clock) {
  // The whole profile is checked before any port is opened.
  std::string error;
  std::optional<Profile> profile = ReadProfile(options.profile, error);
  if (!profile) {
    Print(err, "qm880ctl: commission: " + error + "; nothing was sent");
    if (options.json) {
      Print(out,
            JsonText({{"command", "commission"}, {"error", error}, {"exit_code", kExitUsage}}));
    }
    return kExitUsage;
  }
  Commissioning run(options, std::move(*profile), out, err, device, clock);
  return run.Run();
}

}  // namespace kelta::cli
