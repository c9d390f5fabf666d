#include "cli/scan_every.h"

#include <algorithm>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/line_trace.h"
#include "cli/scan_report.h"
#include "link/command_set.h"
#include "link/serial_port.h"
#include "platform/device_identity.h"
#include "platform/interrupt.h"
#include "platform/port_info.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "reader/outcome.h"
#include "settings/settings.h"

namespace kelta::cli {

namespace {

using nlohmann::json;

// Devices that are none of COM1 to COM16 stand in as numbers counting down from here.
constexpr int kFirstStandIn = 255;

class SystemLink final : public OwnLink {
 public:
  SystemLink(EventPump& pump, bool trace, std::FILE* err)
      : device_(NewSystemSerialDevice()),
        trace_(trace ? std::make_unique<LineTrace>(*device_, SystemClock(), err, true) : nullptr),
        port_(trace_ ? static_cast<SerialDevice&>(*trace_) : *device_, SystemClock()),
        link_(port_, SystemClock(), pump) {}
  ~SystemLink() override { port_.ClosePort(); }
  SystemLink(const SystemLink&) = delete;
  SystemLink& operator=(const SystemLink&) = delete;

  ReaderLink& Link() override { return link_; }
  Clock& LinkClock() override { return SystemClock(); }

 private:
  std::unique_ptr<SerialDevice> device_;
  std::unique_ptr<LineTrace> trace_;
  SerialPort port_;
  ReaderLink link_;
};

struct EveryInterrupted {};

// Called from every port's thread; Interrupted() only reads a flag.
class InterruptPump final : public EventPump {
 public:
  void ProcessMessages() override {
    if (Interrupted()) throw EveryInterrupted{};
  }
};

void Print(std::FILE* file, const std::string& text) {
  std::fputs(text.c_str(), file);
  std::fputc('\n', file);
  std::fflush(file);
}

// What --explain says for a port where no reader answered: why it did not open, or what
// each mode heard.
json Explanation(const PortFinding& finding, std::string& line) {
  ScanReport report;
  ReplaySteps(finding, report);
  json explain = {{"opened", report.AnyOpened()}};
  if (report.Ports().empty()) {
    line = "not walked";
    return explain;
  }
  const ScanReport::Port& p = report.Ports().front();
  if (!p.opened) {
    line = OpenProblem(p.error, p.device);
    explain["error"] = line;
    return explain;
  }
  json modes = json::array();
  line = "opened;";
  for (const ScanReport::Mode& m : p.modes) {
    modes.push_back({{"mode", m.mode}, {"tries", m.tries}, {"result", ScanReport::Name(m.heard)}});
    line += " " + m.mode + " " + ScanReport::Name(m.heard) + ",";
  }
  line.pop_back();
  if (finding.cut_short) line += " (cut short)";
  explain["modes"] = modes;
  return explain;
}

std::string Column(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text + "  ";
}

}  // namespace

std::unique_ptr<OwnLink> SystemLinks::MakeLink(int /*port*/) {
  return std::make_unique<SystemLink>(pump_, trace_, err_);
}

int ScanEvery(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const std::unique_ptr<SettingsStore> store = MakeSystemSettingsStore();
  Settings settings;
  LoadSettings(*store, settings);
  if (options.mode_index) settings.ScanBaudRateNo = *options.mode_index;

  std::vector<int> ports;
  for (int port = 1; port <= 16; ++port) ports.push_back(port);
  int stand_in = kFirstStandIn;
  std::vector<int> stand_ins;
  for (const std::string& device : options.devices) {
    if (PortNumberOfDevice(device) > 0) continue;  // walked as its COM number already
    SetPortDevice(stand_in, device);
    stand_ins.push_back(stand_in);
    ports.push_back(stand_in--);
  }
  const auto is_stand_in = [&](int port) {
    return std::find(stand_ins.begin(), stand_ins.end(), port) != stand_ins.end();
  };
  // Each device once, under the first name that leads to it.
  const std::map<int, int> same = SameDevicePorts(ports);
  WalkPlan plan;
  plan.versions = true;
  for (const int port : ports) {
    if (!same.contains(port)) plan.ports.push_back(port);
  }
  if (options.all_modes) {
    for (int m = 0; m < static_cast<int>(kBaudRateTable.size()); ++m) plan.modes.push_back(m);
  } else {
    const int stored = settings.ScanBaudRateNo;
    plan.modes = {stored >= 0 && stored < static_cast<int>(kBaudRateTable.size())
                      ? stored
                      : kDefaultModeIndex};
  }

  InterruptPump pump;
  SystemLinks links(pump, options.trace, err);
  std::exception_ptr error;
  const std::vector<PortFinding> findings = WalkPortsAtOnce(links, plan, &error);
  std::string failure;
  int failed_code = kExitDone;
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const EveryInterrupted&) {
      failure = "interrupted; the ports are closed";
      failed_code = kExitInterrupted;
    } catch (const std::exception& e) {
      failure = std::string("the walk could not go on: ") + e.what() +
                "; the ports walked so far are closed";
      failed_code = kExitInternal;
    }
  }

  // A place is stored only from a walk that ended.
  const PortFinding* only = error ? nullptr : OnlyFound(findings);
  const bool store_it = only != nullptr && !options.no_store && !is_stand_in(only->port);
  SaveResult saved;
  if (store_it) {
    settings.ScanCommNo = only->port;
    settings.ScanBaudRateNo = only->mode_index;
    settings.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(only->mode_index)];
    saved = SaveScanSettings(*store, settings);
  }

  json list = json::array();
  int found = 0;
  if (!options.json) {
    Print(out, Column("PORT", 6) + Column("DEVICE", 24) + Column("MODE", 13) + Column("SERIAL", 8) +
                   Column("ID", 2) + "VERSION");
  }
  const auto port_name = [&](int port) {
    return is_stand_in(port) ? std::string("-") : "COM" + std::to_string(port);
  };
  for (const PortFinding& f : findings) {
    if (!f.found && !options.explain) continue;
    const std::string device = PortDeviceName(f.port);
    const std::string port = port_name(f.port);
    json entry = {{"port", is_stand_in(f.port) ? json(nullptr) : json(f.port)},
                  {"device", device},
                  {"found", f.found}};
    if (f.found) {
      ++found;
      const std::string& mode = kBaudRateTable[static_cast<std::size_t>(f.mode_index)];
      entry.update({{"mode", mode},
                    {"mode_index", f.mode_index},
                    {"serial", ReplyDisplay(f.serial)},
                    {"id", ReplyDisplay(f.id)},
                    {"version", f.ready ? json(ReplyDisplay(f.version)) : json(nullptr)},
                    {"stored", store_it && &f == only && saved.stored}});
      if (store_it && &f == only && !saved.stored) entry["store_error"] = saved.error;
      if (!options.json) {
        Print(out, Column(port, 6) + Column(device, 24) + Column(mode, 13) +
                       Column(ReplyDisplay(f.serial), 8) + Column(ReplyDisplay(f.id), 2) +
                       (f.ready ? ReplyDisplay(f.version) : "-"));
      }
    } else {
      std::string line;
      entry["explain"] = Explanation(f, line);
      if (!options.json) Print(out, Column(port, 6) + Column(device, 24) + line);
    }
    list.push_back(entry);
  }
  if (options.explain) {
    for (const auto& [port, first] : same) {
      const std::string line = "the same device as " + port_name(first) + "; walked there";
      list.push_back({{"port", is_stand_in(port) ? json(nullptr) : json(port)},
                      {"device", PortDeviceName(port)},
                      {"found", false},
                      {"same_device_as", first},
                      {"explain", {{"opened", false}}}});
      if (!options.json)
        Print(out, Column(port_name(port), 6) + Column(PortDeviceName(port), 24) + line);
    }
    if (!HoldersKnown()) {
      // Only on standard error: the list keeps its shape.
      Print(err, "qm880ctl: holders unknown: " + std::string(kHoldersUnknown));
    }
  }
  if (options.json) Print(out, list.dump(-1, ' ', false, json::error_handler_t::replace));

  if (error) {
    Print(err, "qm880ctl: " + failure);
    return failed_code;
  }
  if (found == 0) {
    Print(err, "qm880ctl: no reader answered on any port" +
                   std::string(options.explain ? "" : "; --explain tells why port by port"));
    return kExitNoReader;
  }
  if (store_it) {
    if (!options.json) {
      Print(err, "qm880ctl: " + (saved.stored ? "stored COM" + std::to_string(only->port) + ", " +
                                                    settings.ScanBaudRate + " as the reader's place"
                                              : "not stored: " + saved.error));
    }
    if (!saved.stored) return kExitNotStored;
  } else if (only == nullptr && !options.json) {
    Print(err, "qm880ctl: " + std::to_string(found) +
                   " readers found; nothing stored (a place is stored only when one reader "
                   "answers)");
  }
  return kExitDone;
}

}  // namespace kelta::cli
